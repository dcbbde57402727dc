#include "kestrel/export_csv.h"

#include <cstdio>

#include "kestrel/output_file.h"
#include "kestrel/time_text.h"
#include "kestrel/utf8_text.h"

namespace kestrel_tool {

void WriteCsv(const Spectrum& spectrum, const std::string& path) {
    OutputFile file(path);
    std::FILE* out = file.get();
    // The metadata first, as comment lines most CSV readers can skip.
    const AcquisitionTimes& times = spectrum.times;
    std::fprintf(out, "# detector: %s: %s\n", spectrum.Name().c_str(),
                 Utf8Text(spectrum.description).c_str());
    std::fprintf(out, "# start: %s\n",
                 times.start ? UtcTimeText(times.start).c_str()
                             : times.neverStarted ? "none (never started)" : "unknown");
    std::fprintf(out, "# real time: %s%s\n", times.RealText().c_str(),
                 times.realKnown && times.active ? " (still counting)" : "");
    std::fprintf(out, "# live time: %s\n", times.LiveText().c_str());
    std::fprintf(out, "# first channel: %u\n", spectrum.start);
    std::fprintf(out, "channel,counts\n");
    for (std::size_t i = 0; i < spectrum.words.size(); ++i)
        std::fprintf(out, "%llu,%u\n", static_cast<unsigned long long>(spectrum.start + i),
                     spectrum.Counts(i));
    file.Close();
}

}  // namespace kestrel_tool
