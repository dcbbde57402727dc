#include "kestrel/export_csv.h"

#include <cstdio>

#include "kestrel/output_file.h"

namespace kestrel_tool {

void WriteCsv(const Spectrum& spectrum, const std::string& path) {
    OutputFile file(path);
    std::FILE* out = file.get();
    std::fprintf(out, "channel,counts\n");
    for (std::size_t i = 0; i < spectrum.words.size(); ++i)
        std::fprintf(out, "%llu,%u\n", static_cast<unsigned long long>(spectrum.start + i),
                     spectrum.Counts(i));
    file.Close();
}

}  // namespace kestrel_tool
