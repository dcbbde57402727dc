#include "kestrel/plot_png.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <plplot.h>

#include "kestrel/console.h"
#include "kestrel/exit_codes.h"

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

int Draw(const Spectrum& spectrum, const std::string& path) {
    plsexit(&OnPlplotError);
    if (!HasDevice(kDevice)) return kNoDevice;

    std::size_t n = spectrum.words.size();
    std::vector<PLFLT> x(n), y(n);
    double top = 1;
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = static_cast<PLFLT>(spectrum.start + i);
        y[i] = static_cast<PLFLT>(spectrum.Counts(i));
        top = std::max(top, y[i]);
    }
    plsdev(kDevice);
    plsfnam(path.c_str());
    plsetopt("geometry", "1000x600");
    plscolbg(255, 255, 255);  // white page
    plinit();
    plscol0(1, 0, 0, 0);     // black frame and labels
    plscol0(9, 0, 70, 200);  // blue spectrum
    plcol0(1);
    PLFLT first = x.empty() ? 0 : x.front();
    PLFLT last = x.empty() ? 1 : std::max(x.back(), first + 1);
    plenv(first, last, 0, top * 1.05, 0, 0);
    std::string title = "MCB " + std::to_string(spectrum.mcb) + " detector " +
                        std::to_string(spectrum.det) + ": " + spectrum.description;
    pllab("channel", "counts", title.c_str());
    plcol0(9);  // blue
    if (n > 0) plline(static_cast<PLINT>(n), x.data(), y.data());
    plend();
    return 0;
}

}  // namespace

void PlotPng(const Spectrum& spectrum, const std::string& path) {
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
    if (child == 0) ::_exit(Draw(spectrum, path));

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
