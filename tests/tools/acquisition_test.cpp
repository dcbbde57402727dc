// start, stop, clear and wait against the driver service of the Windows
// directory, which keeps the chain between runs as real units do.
#include "tools/tool_run.h"

#ifdef KESTREL_PORTD_PROGRAM

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "posix/portd_process.h"
#include "sim/spectrum_model.h"
#include "tools/chain_files.h"

namespace kestrel_tool_test {
namespace {

using Json = nlohmann::json;
using KestrelAcquisition = ToolTest;

TEST_F(KestrelAcquisition, StartWaitStopAndClearThroughTheService) {
    kestrel_test::PortdProcess service({"--windir", windir_.path(), "--config", chain_}, windir_ / "portd.log");
    ASSERT_TRUE(service.WaitServing(windir_ / "dev/TarnDev")) << service.Log();
    auto times = [&](const char* det) { return Json::parse(Run({"list", "9", det, "--json"}, false).out)[0]["detectors"][0]["times"]; };

    // `wait` lasts until another run stops the input, and says what it waits for.
    ASSERT_EQ(Run({"start", "9", "1"}, false).exitCode, 0) << last_;
    EXPECT_EQ(times("1")["active"], true);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        RunTool({"--windir", windir_.path(), "stop", "9", "1"}, {}, windir_.path());
    });
    auto begin = std::chrono::steady_clock::now();
    ToolRun waited = Run({"wait", "9", "1"}, false);
    stopper.join();
    EXPECT_TRUE(waited.exitCode == 0 && waited.err.find("waiting for MCB 9 detector 1 to stop") != std::string::npos) << last_;
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1200));
    EXPECT_EQ(times("1")["active"], false);

    // A timed run on a cleared spectrum: its real time is what the unit's
    // clock says between start and stop, in the list and in the file.
    ASSERT_EQ(Run({"start", "9", "2", "--clear", "--seconds", "1"}, false).exitCode, 0) << last_;
    Json real = times("2")["real_s"];
    ASSERT_TRUE(real.is_number()) << real;
    EXPECT_TRUE(real >= 1 && real <= 2) << real;
    std::string n42Path = windir_ / "run.n42";
    ToolRun read = Run({"read", "9", "2", "--n42", n42Path, "--json", "--quiet"}, false);
    ASSERT_TRUE(read.exitCode == 0 && read.err.empty()) << last_;
    sim::SpectrumModel model(kSegmentChannels, 1);
    std::uint64_t bound = 0, total = Json::parse(read.out)["total"];  // a second or two, not the 250 s it held
    for (std::uint32_t c = 0; c < kSegmentChannels; ++c) bound += model.counts(c, 3000);
    EXPECT_TRUE(total > 0 && total < bound) << total;
    pugi::xml_document n42;
    ASSERT_TRUE(n42.load_file(n42Path.c_str()));
    EXPECT_EQ(N42Breaches(n42), std::vector<std::string>{});
    pugi::xml_node measurement = n42.document_element().child("RadMeasurement");
    EXPECT_TRUE(measurement.child("StartDateTime"));
    EXPECT_EQ(measurement.child_value("RealTimeDuration"), "PT" + real.dump() + "S");

    ASSERT_EQ(Run({"clear", "9", "2"}, false).exitCode, 0) << last_;
    EXPECT_EQ(Json::parse(Run({"read", "9", "2", "--json"}, false).out)["total"], 0) << last_;
}

}  // namespace
}  // namespace kestrel_tool_test

#endif  // KESTREL_PORTD_PROGRAM
