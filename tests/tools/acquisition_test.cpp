// start, stop, clear and wait against the driver service of the Windows
// directory, which keeps the chain between runs as real units do.
#include <gtest/gtest.h>

#ifdef KESTREL_PORTD_PROGRAM

#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "posix/portd_process.h"
#include "sim/spectrum_model.h"
#include "tools/chain_files.h"
#include "tools/export_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

class KestrelAcquisition : public ToolTest {
protected:
    void SetUp() override { ASSERT_TRUE(service_.WaitServing(windir_ / "dev/TarnDev")) << service_.Log(); }
    nlohmann::json Times(const std::string& det) {
        return nlohmann::json::parse(Run({"list", "9", det, "--json"}, false).out)[0]["detectors"][0]["times"];
    }
    kestrel_test::PortdProcess service_{{"--windir", windir_.path(), "--config", chain_}, windir_ / "portd.log"};
};

TEST_F(KestrelAcquisition, ATimedRunRecordsItsRealTime) {
    ToolRun started = Run({"start", "9", "2", "--clear", "--seconds", "1"}, false);
    ASSERT_EQ(started.exitCode, 0) << last_;
    EXPECT_NE(started.err.find("count for 1.0 s"), std::string::npos) << last_;  // says what it waits for
    nlohmann::json times = Times("2");
    EXPECT_EQ(times["active"], false) << times;
    ASSERT_TRUE(times["real_s"].is_number()) << times;
    EXPECT_GE(times["real_s"].get<int>(), 1);
    EXPECT_LE(times["real_s"].get<int>(), 2);

    std::string n42Path = windir_ / "run.n42";
    ToolRun read = Run({"read", "9", "2", "--n42", n42Path, "--json", "--quiet"}, false);
    ASSERT_EQ(read.exitCode, 0) << last_;
    // Cleared, then a second or two of counts, not the 250 s it held.
    sim::SpectrumModel model(kSegmentChannels, 1);
    std::uint64_t bound = 0, total = nlohmann::json::parse(read.out)["total"];
    for (std::uint32_t c = 0; c < kSegmentChannels; ++c) bound += model.counts(c, 3000);
    EXPECT_GT(total, 0u);
    EXPECT_LT(total, bound) << read.out;
    EXPECT_EQ(read.err, "");
    pugi::xml_document n42;
    ASSERT_TRUE(n42.load_file(n42Path.c_str()));
    EXPECT_EQ(N42Breaches(n42), std::vector<std::string>{});
    pugi::xml_node measurement = n42.document_element().child("RadMeasurement");
    EXPECT_TRUE(measurement.child("StartDateTime"));
    EXPECT_EQ(measurement.child_value("RealTimeDuration"), "PT" + std::to_string(times["real_s"].get<int>()) + "S");

    ASSERT_EQ(Run({"clear", "9", "2"}, false).exitCode, 0) << last_;
    EXPECT_EQ(nlohmann::json::parse(Run({"read", "9", "2", "--json"}, false).out)["total"], 0) << last_;
}

TEST_F(KestrelAcquisition, WaitEndsWhenAnotherRunStopsTheInput) {
    ASSERT_EQ(Run({"start", "9", "1"}, false).exitCode, 0) << last_;
    EXPECT_EQ(Times("1")["active"], true);
    kestrel_test::TempDir otherScratch;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        RunTool({"--windir", windir_.path(), "stop", "9", "1"}, {}, otherScratch.path());
    });
    auto begin = std::chrono::steady_clock::now();
    ToolRun waited = Run({"wait", "9", "1"}, false);
    stopper.join();
    EXPECT_EQ(waited.exitCode, 0) << last_;
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1200));
    EXPECT_NE(waited.err.find("waiting for MCB 9 detector 1 to stop"), std::string::npos) << last_;
    EXPECT_EQ(Times("1")["active"], false);
}

}  // namespace
}  // namespace kestrel_tool_test

#endif  // KESTREL_PORTD_PROGRAM
