#include "tools/export_files.h"

#include <cstdlib>
#include <sstream>

#include <pugixml.hpp>

#include "posix/temp_dir.h"

namespace kestrel_tool_test {
namespace {

bool Number(const std::string& text, std::uint64_t* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

CsvSpectrum ParseCsv(const std::string& text) {
    CsvSpectrum csv;
    std::istringstream lines(text);
    std::getline(lines, csv.header);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t comma = line.find(',');
        std::uint64_t channel = 0, counts = 0;
        if (comma == std::string::npos || !Number(line.substr(0, comma), &channel) ||
            !Number(line.substr(comma + 1), &counts)) {
            csv.problem = "bad row: '" + line + "'";
            return csv;
        }
        csv.channels.push_back(channel);
        csv.counts.push_back(counts);
    }
    return csv;
}

N42Spectrum ParseN42(const std::string& path) {
    N42Spectrum n42;
    pugi::xml_document document;
    pugi::xml_parse_result parsed = document.load_file(path.c_str());
    if (!parsed) {
        n42.problem = std::string("not well-formed XML: ") + parsed.description();
        return n42;
    }
    pugi::xml_node root = document.document_element();
    n42.root = root.name();
    n42.description = root.child("RadDetectorInformation").child("RadDetectorDescription").text().get();
    pugi::xml_node data =
        root.child("RadMeasurement").child("Spectrum").child("ChannelData");
    if (!data) {
        n42.problem = "no RadMeasurement/Spectrum/ChannelData";
        return n42;
    }
    std::istringstream words(data.text().get());
    std::string word;
    while (words >> word) {
        std::uint64_t value = 0;
        if (!Number(word, &value)) {
            n42.problem = "bad channel value '" + word + "'";
            return n42;
        }
        n42.counts.push_back(value);
    }
    return n42;
}

bool HasPngSignature(const std::string& path) {
    static const std::string kSignature("\x89PNG\r\n\x1a\n", 8);
    return kestrel_test::ReadText(path).compare(0, kSignature.size(), kSignature) == 0;
}

}  // namespace kestrel_tool_test
