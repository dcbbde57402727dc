#include "kestrel/export_csv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kestrel/exit_codes.h"
#include "kestrel/time_text.h"
#include "kestrel/utf8_text.h"

namespace kestrel_tool {

void WriteCsv(const Spectrum& spectrum, const std::string& path) {
    bool toStdout = path == "-";
    std::FILE* out = toStdout ? stdout : std::fopen(path.c_str(), "w");
    if (out == nullptr)
        throw ToolError(kExitUsage, "cannot write " + path + ": " + std::strerror(errno));
    // The metadata first, as comment lines most CSV readers can skip.
    const AcquisitionTimes& times = spectrum.times;
    std::fprintf(out, "# detector: %s: %s\n", spectrum.Name().c_str(),
                 Utf8Text(spectrum.description).c_str());
    std::fprintf(out, "# start: %s\n",
                 times.start ? UtcTimeText(times.start).c_str() : "unknown");
    std::fprintf(out, "# real time: %s%s\n", times.RealText().c_str(),
                 times.realKnown && times.active ? " (still counting)" : "");
    std::fprintf(out, "# live time: %s\n", kLiveTimeUnreported);
    std::fprintf(out, "# first channel: %u\n", spectrum.start);
    std::fprintf(out, "channel,counts\n");
    for (std::size_t i = 0; i < spectrum.words.size(); ++i)
        std::fprintf(out, "%llu,%u\n", static_cast<unsigned long long>(spectrum.start + i),
                     spectrum.Counts(i));
    bool ok = std::fflush(out) == 0 && !std::ferror(out);
    int error = errno;
    if (!toStdout) ok = std::fclose(out) == 0 && ok;
    if (!ok) throw ToolError(kExitUsage, "cannot write " + path + ": " + std::strerror(error));
}

}  // namespace kestrel_tool
