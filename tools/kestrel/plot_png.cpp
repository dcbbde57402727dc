#include "kestrel/plot_png.h"

#include <fcntl.h>
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
#include "kestrel/tool_error.h"
#include "kestrel/output_file.h"
#include "kestrel/time_text.h"
#include "kestrel/utf8_text.h"

namespace kestrel_tool {
namespace {

constexpr const char* kDevice = "pngcairo";
constexpr int kPlotFailed = 1;
constexpr int kNoDevice = 2;

// PLplot ends the process on a fatal error. It only ever runs in a child
// process, so that ending is the child's alone.
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

// One line of UTF-8; PLplot takes '#' as the start of an escape.
std::string PlotText(const std::string& text) {
    std::string out;
    for (char c : TerminalText(text)) out += c == '#' ? std::string("##") : std::string(1, c);
    return out;
}

// Writes `text` centred above the frame, `disp` character heights
// up, at `height` (relative to the default); a text too long for the page
// is split in two lines at a blank, or set smaller. PLplot cannot measure
// a text: a character of the cairo devices' sans font is taken as 0.75 of
// its height wide.
void Heading(PLFLT disp, PLFLT height, const std::string& text) {
    plschr(0, height);
    PLFLT base, current, left, right, bottom, top;
    plgchr(&base, &current);
    plgspa(&left, &right, &bottom, &top);
    std::size_t characters = 0;
    for (unsigned char c : text) characters += (c & 0xC0) != 0x80;
    PLFLT fit = 0.96 * (right - left) / (0.75 * current * static_cast<PLFLT>(characters));
    std::size_t blank = text.find(' ', text.size() / 2);
    if (fit < 0.7 && blank != std::string::npos) {
        Heading(disp + 1.3, height, text.substr(0, blank));
        Heading(disp, height, text.substr(blank + 1));
        return;
    }
    PLFLT scale = std::min<PLFLT>(1, fit);
    plschr(0, height * scale);
    plmtex("t", disp / scale, 0.5, 0.5, text.c_str());  // in the characters' own heights
}

// Plain numbers on both axes (PLplot would write "x10^4" beside them); on a
// log axis the value is the power of ten.
void Label(PLINT axis, PLFLT value, PLCHAR_NC_VECTOR label, PLINT length, PLPointer logY) {
    if (axis == PL_Y_AXIS && logY != nullptr) value = std::pow(10.0, value);
    std::snprintf(label, static_cast<std::size_t>(length), "%.0f", value);
}

std::string Title(const Spectrum& spectrum) {
    const AcquisitionTimes& times = spectrum.times;
    std::string text = "total " + std::to_string(spectrum.Total()) + " counts,  real time " +
                       (times.realKnown ? times.RealText() : "unknown") +
                       (times.realKnown && times.active ? ",  still counting" : "") +
                       ",  live time " + (times.realKnown ? "= real time (no dead time known)" : "unknown");
    if (spectrum.times.start != 0) text += ",  start " + LocalTimeText(spectrum.times.start);
    return text;
}

// Draws into `out`, which PLplot closes.
int Draw(const Spectrum& spectrum, std::FILE* out, bool logScale) {
    plsexit(&OnPlplotError);
    if (!HasDevice(kDevice)) return kNoDevice;

    // The log scale starts at one count, where an empty channel sits.
    auto height = [&](std::uint32_t counts) {
        if (!logScale) return static_cast<PLFLT>(counts);
        return std::log10(counts ? static_cast<PLFLT>(counts) : 1.0);
    };
    std::size_t n = spectrum.words.size();
    std::vector<PLFLT> x(n), y(n);
    double top = logScale ? 1 : 10;
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = static_cast<PLFLT>(spectrum.start + i);
        y[i] = height(spectrum.Counts(i));
        top = std::max(top, y[i]);
    }
    PLFLT bottom = 0;
    top = logScale ? top + 0.2 : top * 1.05;
    PLFLT first = x.empty() ? 0 : x.front();
    PLFLT last = x.empty() ? 1 : std::max(x.back(), first + 1);

    plsdev(kDevice);
    plsfile(out);
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
    Heading(3.1, 0.85, PlotText(spectrum.Name() + ": " + spectrum.description));
    Heading(1.8, 0.7, PlotText(Title(spectrum)));
    if (!spectrum.RoiRuns().empty()) {
        plcol0(11);
        plschr(0, 0.7);
        plmtex("t", -1.5, 0.99, 1.0, "ROIs shaded");  // inside the frame, clear of its ticks
        plcol0(1);
    }
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
    RequireExportPath("--png", path, false);
    OutputFile file(path);
    // PLplot ends the process on a fatal error, and its writes go
    // unchecked: it draws in a child, into a pipe, and this process writes
    // the file.
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        throw ToolError(kExitEnvironment, std::string("cannot plot: ") + std::strerror(errno));
    std::fflush(stdout);
    std::fflush(Messages());
    pid_t child = ::fork();
    if (child < 0)
        throw ToolError(kExitEnvironment, std::string("cannot plot: ") + std::strerror(errno));
    if (child == 0) {
        ::close(pipe[0]);
        std::FILE* out = ::fdopen(pipe[1], "wb");
        ::_exit(out != nullptr ? Draw(spectrum, out, logScale) : kPlotFailed);
    }
    ::close(pipe[1]);
    char buffer[65536];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        // A failed write is the file's to report, below.
        if (got < 0 || std::fwrite(buffer, 1, static_cast<std::size_t>(got), file.get()) !=
                           static_cast<std::size_t>(got))
            break;
    }
    ::close(pipe[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNoDevice)
        throw ToolError(kExitEnvironment, std::string("PLplot has no \"") + kDevice +
                                              "\" device (install plplot-driver-cairo)");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw ToolError(kExitEnvironment, "plotting " + path + " failed");
    file.Close();  // a write that failed above fails here, with its reason
}

}  // namespace kestrel_tool
