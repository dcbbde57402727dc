// Reading back what the tool exported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel_tool_test {

struct CsvSpectrum {
    std::string header;
    std::vector<std::uint64_t> channels;
    std::vector<std::uint64_t> counts;
    std::string problem;  // empty when every row was "channel,counts"
};

CsvSpectrum ParseCsv(const std::string& text);

struct N42Spectrum {
    std::string problem;  // empty when the document parsed as expected
    std::string root;
    std::string description;  // RadDetectorInformation/RadDetectorDescription, as UTF-8
    std::vector<std::uint64_t> counts;
};

// The ChannelData of the document's (first) Spectrum.
N42Spectrum ParseN42(const std::string& path);

// True when the file starts with the eight bytes of a PNG signature.
bool HasPngSignature(const std::string& path);

}  // namespace kestrel_tool_test
