// The add-in's operations on the simulated chain, each against its floor:
// on the fake clock the same requests replayed with no add-in around them,
// on the real clock the pauses and requests the operation cannot avoid.
// Before the benchmarks, the exact request counts are checked against the
// model (--strict: a mismatch fails the program).
#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "addin/process_state.h"
#include "bench/calibration.h"
#include "bench/compare.h"
#include "bench/count_check.h"
#include "bench/model.h"
#include "bench/replay.h"
#include "bench/worlds.h"
#include "platform/platform.h"
#include "support/rig.h"

namespace bench {
namespace {

double Micros(double seconds) { return seconds * 1e6; }

// Set when an operation failed in a benchmark: --strict fails the program.
bool g_failed = false;

void Fail(benchmark::State& state, const char* why) {
    g_failed = true;
    state.SkipWithError(why);
}

struct Loop {
    bool ok = true;
    double seconds = 0;   // per run
    double requests = 0;  // per run, over the whole loop
};

// Runs the op in the benchmark loop.
Loop Measure(benchmark::State& state, World world, OpRunner& run, Timing timing) {
    Loop loop;
    std::size_t runs = 0;
    const std::uint64_t requests = world.os.driverRequests;
    const double start = NowSeconds(timing);
    for (auto _ : state) {
        loop.ok = run() && loop.ok;
        if (++runs % kHousekeepEvery == 0) Housekeep(world);
    }
    const double count = static_cast<double>(runs ? runs : 1);
    loop.seconds = (NowSeconds(timing) - start) / count;
    loop.requests = static_cast<double>(world.os.driverRequests - requests) / count;
    if (!loop.ok) Fail(state, "the operation failed in the loop");
    return loop;
}

// Sets up a world and captures one run; false (benchmark skipped) on failure.
bool Start(benchmark::State& state, World world, Op op, Protocol protocol, OpRunner& run, Capture* capture) {
    if (!Prepare(world, op, protocol)) {
        Fail(state, "set-up failed: the enumeration did not find the chain");
        return false;
    }
    *capture = CaptureOne(world, run);
    if (!capture->ok) {
        Fail(state, "the operation failed");
        return false;
    }
    Housekeep(world);
    return true;
}

// Requests per run over the whole loop, and what the model says.
void CountCounters(benchmark::State& state, double requests, const Capture& capture, Op op, Protocol protocol) {
    const model::Cost expected = model::Operation(op, MakeChain(Info(op).chain));
    state.counters["requests"] = requests;
    state.counters["model"] = static_cast<double>(expected.For(protocol));
    state.counters["pauses"] = static_cast<double>(capture.pauses);
}

void FakeClock(benchmark::State& state, Op op, Protocol protocol) {
    fake::Rig rig;
    World world = Of(rig);
    OpRunner run(world, op);
    Capture capture;
    if (!Start(state, world, op, protocol, run, &capture)) return;
    // CPU time of this thread: nothing sleeps on the fake clock, and the
    // work is what is compared.
    const Loop loop = Measure(state, world, run, Timing::ThreadCpu);
    if (!loop.ok) return;
    Replay replay(world.chain, capture.log);
    const std::intptr_t handle = Process().hPortDriver;
    const Comparison compared =
        Compare(world, Timing::ThreadCpu, static_cast<std::size_t>(state.iterations()), loop.seconds,
                {[&] { run(); }, [&] { replay.Run(); }, [&] { replay.RunThroughOs(world.os, handle); }});
    const double best = compared.seconds[0], floor = compared.seconds[1], throughOs = compared.seconds[2];
    CountCounters(state, loop.requests, capture, op, protocol);
    state.counters["mutex_acq"] = static_cast<double>(capture.mutexAcquisitions);
    state.counters["best_us"] = Micros(best);
    state.counters["floor_us"] = Micros(floor);
    state.counters["vs_floor"] = best / floor;
    state.counters["vs_os_floor"] = best / throughOs;
    if (op == Op::GetData) {
        state.counters["channels_per_s"] = kGetChannels / best;
        state.counters["vs_memcpy"] = best / MemcpySeconds(4 * kGetChannels);
    }
}

void RealClock(benchmark::State& state, Op op, Protocol protocol) {
    RealWorld real;
    World world = Of(real);
    OpRunner run(world, op);
    Capture capture;
    if (!Start(state, world, op, protocol, run, &capture)) return;
    const Loop loop = Measure(state, world, run, Timing::Wall);
    if (!loop.ok) return;
    // The unavoidable: the op's pauses as real Sleep(1)s, and its requests
    // as the simulator takes them with nothing around them.
    Replay replay(world.chain, capture.log);
    platform::Os& native = platform::NativeOs();
    const Comparison compared =
        Compare(world, Timing::Wall, static_cast<std::size_t>(state.iterations()), loop.seconds,
                {[&] { run(); }, [&] { replay.Run(); },
                 [&] {
                     for (std::uint64_t i = 0; i < capture.pauses; ++i) native.SleepMs(1);
                 }});
    const double best = compared.seconds[0], requests = compared.seconds[1], pauses = compared.seconds[2];
    const double floor = requests + pauses;
    CountCounters(state, loop.requests, capture, op, protocol);
    state.counters["best_us"] = Micros(best);
    state.counters["floor_us"] = Micros(floor);
    state.counters["vs_floor"] = best / floor;
    if (capture.pauses) state.counters["sleep1_us"] = Micros(pauses / static_cast<double>(capture.pauses));
    state.counters["request_ns"] = requests * 1e9 / static_cast<double>(capture.requests ? capture.requests : 1);
    if (op == Op::GetData) state.counters["channels_per_s"] = kGetChannels / best;
}

// Open through the end of InitDetectors, in CPU time of this thread as on
// the fake clock nothing sleeps; Close and upkeep are not timed.
void Startup(benchmark::State& state, Op op, Protocol protocol) {
    fake::Rig rig;
    World world = Of(rig);
    OpRunner run(world, op);
    Capture capture;
    if (!Start(state, world, op, protocol, run, &capture)) return;
    const std::uint64_t requests = world.os.driverRequests;
    for (auto _ : state) {
        const double start = NowSeconds(Timing::ThreadCpu);
        world.addin.Open();
        state.SetIterationTime(NowSeconds(Timing::ThreadCpu) - start);
        world.addin.Close();
        Housekeep(world);
    }
    const double runs = static_cast<double>(state.iterations() ? state.iterations() : 1);
    CountCounters(state, static_cast<double>(world.os.driverRequests - requests) / runs, capture, op, protocol);
}

void Memcpy(benchmark::State& state) {
    const std::size_t bytes = 4 * kGetChannels;
    std::vector<unsigned char> from(bytes, 0x5A), to(bytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.counters["channels_per_s"] = benchmark::Counter(kGetChannels, benchmark::Counter::kIsIterationInvariantRate);
}

void RegisterAll() {
    for (const OpInfo& info : Operations()) {
        for (Protocol protocol : kProtocols) {
            const std::string suffix = std::string(info.id) + "/" + ProtocolName(protocol);
            if (info.startup) {
                benchmark::RegisterBenchmark(("startup/" + suffix).c_str(), Startup, info.op, protocol)
                    ->UseManualTime()
                    ->Unit(benchmark::kMicrosecond);
                continue;
            }
            benchmark::RegisterBenchmark(("fake/" + suffix).c_str(), FakeClock, info.op, protocol)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("real/" + suffix).c_str(), RealClock, info.op, protocol)
                ->UseRealTime()
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::RegisterBenchmark("memcpy/65536", Memcpy)->Unit(benchmark::kMicrosecond);
}

// Removes a flag of this program from the command line; true when given.
bool TakeFlag(int* argc, char** argv, const char* flag) {
    for (int i = 1; i < *argc; ++i) {
        if (std::strcmp(argv[i], flag) != 0) continue;
        for (int j = i; j < *argc; ++j) argv[j] = argv[j + 1];
        --*argc;
        return true;
    }
    return false;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
    const bool strict = bench::TakeFlag(&argc, argv, "--strict");
    const bool countsOnly = bench::TakeFlag(&argc, argv, "--counts_only");
    bench::UsePrivateWindowsDirectory();
    const int mismatches = bench::CheckCounts(std::cout);
    if (!countsOnly) {
        bench::RegisterAll();
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    if (bench::g_failed) std::cout << "FAILED: an operation failed in a benchmark (see its error above)\n";
    if (mismatches > 0)
        std::cout << "MISMATCH: " << mismatches << " request count(s) differ from the model (table above)\n";
    return strict && (mismatches > 0 || bench::g_failed) ? 1 : 0;
}
