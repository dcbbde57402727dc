#include "kestrel/plot_png.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include <plplot.h>

#include "kestrel/console.h"
#include "kestrel/exit_codes.h"
#include "kestrel/time_text.h"

namespace kestrel_tool {
namespace {

constexpr const char* kDevice = "pngcairo";
constexpr int kPlotFailed = 1;
constexpr int kNoDevice = 2;

// PLplot ends the process on a fatal error. It only ever runs in the child
// below, so that ending is the child's alone.
int OnPlplotError(PLCHAR_VECTOR message) {
    std::fprintf(Messages(), "kestrel: plotting failed: %s\n", message ? message : "");
    std::fflush(Messages());
    ::_exit(kPlotFailed);
}

bool HasDevice(const char* wanted) {
    // Size the list generously; PLplot fills at most this many entries.
    int count = 64;
    std::vector<PLCHAR_VECTOR> menu(static_cast<std::size_t>(count));
    std::vector<PLCHAR_VECTOR> names(static_cast<std::size_t>(count));
    PLCHAR_VECTOR* menuList = menu.data();
    PLCHAR_VECTOR* nameList = names.data();
    plgDevs(&menuList, &nameList, &count);
    for (int i = 0; i < count; ++i)
        if (names[i] != nullptr && std::strcmp(names[i], wanted) == 0) return true;
    return false;
}

// PLplot takes '#' as the start of an escape.
std::string PlotText(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '#' ? std::string("##") : std::string(1, c);
    return out;
}

// Plain numbers on both axes (PLplot would write "x10^4" beside them); on a
// log axis the value is the power of ten.
void Label(PLINT axis, PLFLT value, PLCHAR_NC_VECTOR label, PLINT length, PLPointer logY) {
    if (axis == PL_Y_AXIS && logY != nullptr) value = std::pow(10.0, value);
    std::snprintf(label, static_cast<std::size_t>(length), value < 1 && value > 0 ? "%.1f" : "%.0f",
                  value);
}

std::string Title(const Spectrum& spectrum) {
    const AcquisitionTimes& times = spectrum.times;
    std::string text = "total " + std::to_string(spectrum.Total()) + " counts,  real time " +
                       (times.realKnown ? times.RealText() : "unknown") +
                       (times.realKnown && times.active ? " (counting)" : "") +
                       ",  live time not reported";
    if (spectrum.times.start != 0) text += ",  start " + LocalTimeText(spectrum.times.start);
    return text;
}

int Draw(const Spectrum& spectrum, const std::string& path, bool logScale) {
    plsexit(&OnPlplotError);
    if (!HasDevice(kDevice)) return kNoDevice;

    // On the log scale an empty channel sits below one count.
    auto height = [&](std::uint32_t counts) {
        if (!logScale) return static_cast<PLFLT>(counts);
        return std::log10(counts ? static_cast<PLFLT>(counts) : 0.5);
    };
    std::size_t n = spectrum.words.size();
    std::vector<PLFLT> x(n), y(n);
    double top = logScale ? 1 : 10;
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = static_cast<PLFLT>(spectrum.start + i);
        y[i] = height(spectrum.Counts(i));
        top = std::max(top, y[i]);
    }
    PLFLT bottom = logScale ? std::log10(0.5) : 0;
    top = logScale ? top + 0.2 : top * 1.05;
    PLFLT first = x.empty() ? 0 : x.front();
    PLFLT last = x.empty() ? 1 : std::max(x.back(), first + 1);

    plsdev(kDevice);
    plsfnam(path.c_str());
    plsetopt("geometry", "1200x700");
    plscolbg(255, 255, 255);  // white page
    plinit();
    plscol0(1, 0, 0, 0);        // black frame and labels
    plscol0(9, 0, 70, 200);     // blue spectrum
    plscol0(10, 255, 215, 160);  // ROI shade
    plscol0(11, 200, 60, 0);     // ROI counts
    pladv(0);
    plschr(0, 0.85);
    plvpor(0.08, 0.97, 0.12, 0.85);
    plwind(first, last, bottom, top);
    plcol0(10);
    for (const auto& run : spectrum.RoiRuns()) {
        PLFLT xs[4] = {run.first - 0.5, run.second + 0.5, run.second + 0.5, run.first - 0.5};
        PLFLT ys[4] = {bottom, bottom, top, top};
        for (PLFLT& v : xs) v = std::min(std::max(v, first), last);
        plfill(4, xs, ys);
    }
    plcol0(1);
    plslabelfunc(&Label, logScale ? const_cast<char*>("log") : nullptr);
    plbox("bcnsto", 0, 0, logScale ? "bcnstvlo" : "bcnstvo", 0, 0);
    std::string heading = spectrum.Name() + ": " + spectrum.description;
    plmtex("t", 3.2, 0.5, 0.5, PlotText(heading).c_str());
    plschr(0, 0.7);
    plmtex("t", 1.8, 0.5, 0.5, PlotText(Title(spectrum)).c_str());
    if (!spectrum.RoiRuns().empty()) plmtex("t", 0.4, 1.0, 1.0, "ROIs shaded");
    plschr(0, 0.85);
    plmtex("b", 3.0, 0.5, 0.5, "channel");
    plmtex("l", 5.0, 0.5, 0.5, logScale ? "counts (log scale)" : "counts");
    plcol0(9);
    if (n > 0) plline(static_cast<PLINT>(n), x.data(), y.data());
    plcol0(11);
    for (const auto& run : spectrum.RoiRuns()) {
        std::size_t from = run.first - spectrum.start;
        plline(static_cast<PLINT>(run.second - run.first + 1), x.data() + from, y.data() + from);
    }
    plend();
    return 0;
}

}  // namespace

void PlotPng(const Spectrum& spectrum, const std::string& path, bool logScale) {
    // Found out here, where the reason can still be given.
    std::FILE* probe = std::fopen(path.c_str(), "wb");
    if (probe == nullptr)
        throw ToolError(kExitUsage, "cannot write " + path + ": " + std::strerror(errno));
    std::fclose(probe);

    std::fflush(stdout);
    std::fflush(Messages());
    pid_t child = ::fork();
    if (child < 0)
        throw ToolError(kExitEnvironment, std::string("cannot plot: ") + std::strerror(errno));
    if (child == 0) ::_exit(Draw(spectrum, path, logScale));

    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
    std::remove(path.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNoDevice)
        throw ToolError(kExitEnvironment, std::string("PLplot has no \"") + kDevice +
                                              "\" device (install plplot-driver-cairo)");
    throw ToolError(kExitEnvironment, "plotting " + path + " failed");
}

}  // namespace kestrel_tool
