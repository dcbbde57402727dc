#include "bench/calibration.h"

#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMemcpyBudgetSeconds = 0.02;

struct PrivateDirectory {
    std::filesystem::path path;
    ~PrivateDirectory() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

PrivateDirectory g_directory;

}  // namespace

void UsePrivateWindowsDirectory() {
    if (!g_directory.path.empty()) return;
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-bench-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) return;  // the platform then uses its default directory
    g_directory.path = name.data();
    setenv("WINDIR", name.data(), 1);
}

double NowSeconds(Timing timing) {
    if (timing == Timing::Wall) return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double MemcpySeconds(std::size_t bytes) {
    static std::map<std::size_t, double> measured;
    auto found = measured.find(bytes);
    if (found != measured.end()) return found->second;
    std::vector<unsigned char> from(bytes, 0x5A), to(bytes, 0);
    std::size_t copies = 0;
    // CPU time, as the operations it is set against are timed on the fake clock.
    const double start = NowSeconds(Timing::ThreadCpu);
    double elapsed = 0;
    do {
        for (int i = 0; i < 64; ++i, ++copies) {
            std::memcpy(to.data(), from.data(), bytes);
            benchmark::DoNotOptimize(to.data());
            benchmark::ClobberMemory();
        }
        elapsed = NowSeconds(Timing::ThreadCpu) - start;
    } while (elapsed < kMemcpyBudgetSeconds);
    return measured[bytes] = elapsed / static_cast<double>(copies);
}

}  // namespace bench
