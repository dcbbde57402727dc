// The cross-process mutex that every operation holds: the native platform's
// named mutex (process-shared, robust, recursive) against a bare
// process-shared pthread mutex, uncontended and with 2 and 8 threads.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "bench/calibration.h"
#include "platform/platform.h"

namespace {

// Set when a wait, release or set-up failed: --strict fails the program.
bool g_failed = false;

void Fail(benchmark::State& state, const char* why) {
    g_failed = true;
    state.SkipWithError(why);
}

platform::MutexHandle NativeMutex() {
    static platform::MutexHandle mutex = [] {
        const std::string name = "KestrelBench" + std::to_string(static_cast<long>(getpid()));
        return platform::NativeOs().MutexCreate(name.c_str());
    }();
    return mutex;
}

// A plain process-shared mutex in shared memory: the least a cross-process
// lock can cost.
pthread_mutex_t* BareMutex() {
    static pthread_mutex_t* mutex = [] {
        void* memory = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                            -1, 0);
        if (memory == MAP_FAILED) return static_cast<pthread_mutex_t*>(nullptr);
        auto* m = static_cast<pthread_mutex_t*>(memory);
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
        const bool built = pthread_mutex_init(m, &attributes) == 0;
        pthread_mutexattr_destroy(&attributes);
        return built ? m : nullptr;
    }();
    return mutex;
}

// `depth` nested acquisitions and their releases: 1 is one hold; 2 is what
// a detector operation does, its own hold and the validity check inside it.
void NativeHolds(benchmark::State& state, int depth) {
    platform::Os& os = platform::NativeOs();
    platform::MutexHandle mutex = NativeMutex();
    if (!mutex) {
        Fail(state, "the native mutex could not be created");
        return;
    }
    bool ok = true;
    for (auto _ : state) {
        for (int i = 0; i < depth; ++i) ok = os.MutexWait(mutex) == platform::WaitResult::Acquired && ok;
        for (int i = 0; i < depth; ++i) ok = os.MutexRelease(mutex) && ok;
    }
    if (!ok) Fail(state, "a wait or release failed");
    state.SetItemsProcessed(state.iterations());
}

void Native(benchmark::State& state) { NativeHolds(state, 1); }
void NativeOperation(benchmark::State& state) { NativeHolds(state, 2); }

void Bare(benchmark::State& state) {
    pthread_mutex_t* mutex = BareMutex();
    if (!mutex) {
        Fail(state, "the pthread mutex could not be created");
        return;
    }
    bool ok = true;
    for (auto _ : state) {
        ok = pthread_mutex_lock(mutex) == 0 && ok;
        ok = pthread_mutex_unlock(mutex) == 0 && ok;
    }
    if (!ok) Fail(state, "a lock or unlock failed");
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(Native)->Name("mutex/native")->Threads(1)->Threads(2)->Threads(8)->UseRealTime();
BENCHMARK(NativeOperation)->Name("mutex/native_operation")->Threads(1)->Threads(2)->Threads(8)->UseRealTime();
BENCHMARK(Bare)->Name("mutex/bare_pshared")->Threads(1)->Threads(2)->Threads(8)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    bool strict = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) != "--strict") continue;
        for (int j = i; j < argc; ++j) argv[j] = argv[j + 1];
        --argc;
        strict = true;
        break;
    }
    bench::UsePrivateWindowsDirectory();  // before the native platform's first use
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return strict && g_failed ? 1 : 0;
}
