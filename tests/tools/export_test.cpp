// `kestrel read`: the counts the simulated units hold reach every export at their channels, with the times
// the units and kestrel's records give, and every N42 document keeps the schema.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "sim/spectrum_model.h"
#include "tools/chain_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

// `realTime`: given with --real-time (device 3's stop was never recorded); `real` the seconds every
// export must state.
struct Case { const char* name; int mcb, det; std::uint32_t first, count, channels; std::uint64_t liveMs; const char* realTime; int real; };

class KestrelExport : public ToolTest, public ::testing::WithParamInterface<Case> {};

TEST_P(KestrelExport, WritesTheUnitsCountsAtTheirChannels) {
    const Case& c = GetParam();
    std::string csvPath = windir_ / "s.csv", n42Path = windir_ / "s.n42", pngPath = windir_ / "s.png";
    std::vector<std::string> args{"read", std::to_string(c.mcb), std::to_string(c.det), "--start", std::to_string(c.first), "--count",
                                  std::to_string(c.count), "--csv", csvPath, "--n42", n42Path, "--png", pngPath};
    if (*c.realTime) args.insert(args.end(), {"--real-time", c.realTime});
    ASSERT_EQ(Run(args).exitCode, 0) << last_;
    // A stopped input holds the model's counts after its counting time, within the data mask.
    sim::SpectrumModel model(c.channels, c.det - 1);
    std::vector<std::uint64_t> expected, counts, calibration;
    for (std::uint32_t ch = c.first; ch < c.first + c.count; ++ch)
        expected.push_back(std::min<std::uint64_t>(model.counts(ch, c.liveMs), kDataMask));
    std::string csv = kestrel_test::ReadText(csvPath), real = std::to_string(c.real) + " s";
    EXPECT_EQ(csv.substr(csv.find("channel,counts")), CsvRows(c.first, expected));
    EXPECT_NE(csv.find("# real time: " + real + (*c.realTime ? " (given with --real-time)" : "") + "\n# live time: " + real +
                       " (equal to the real time"), std::string::npos) << csv.substr(0, csv.find("channel,"));

    EXPECT_EQ(N42SchemaErrors(n42Path), "");
    pugi::xml_document n42;
    ASSERT_TRUE(n42.load_file(n42Path.c_str()));
    pugi::xml_node root = n42.document_element(), measurement = root.child("RadMeasurement");
    ASSERT_TRUE(ParseNumbers(measurement.child("Spectrum").child_value("ChannelData"), &counts));
    EXPECT_EQ(counts, expected);
    // The offset calibration puts the first value at its channel; the durations are the real time (the
    // live time taken equal to it, as a Remark says), the start the unit's.
    ASSERT_TRUE(ParseNumbers(root.child("EnergyCalibration").child_value("CoefficientValues"), &calibration));
    EXPECT_EQ(calibration, (std::vector<std::uint64_t>{c.first, 1, 0}));
    std::string duration = "PT" + std::to_string(c.real) + "S", remarks;
    for (pugi::xml_node remark : measurement.children("Remark")) remarks += remark.child_value();
    EXPECT_EQ(measurement.child_value("RealTimeDuration") + std::string(" ") + measurement.child("Spectrum").child_value("LiveTimeDuration") +
                  " " + measurement.child_value("StartDateTime"), duration + " " + duration + " 2001-09-08T23:00:00Z");
    EXPECT_EQ(remarks.find("--real-time") != std::string::npos, *c.realTime != '\0') << remarks;
    EXPECT_NE(remarks.find("no dead time known"), std::string::npos) << remarks;
    std::string id = root.child("RadDetectorInformation").attribute("id").value();
    EXPECT_EQ(id, "MCB" + std::to_string(c.mcb) + "-Detector" + std::to_string(c.det));
    EXPECT_TRUE(HasPngSignature(pngPath));
}

INSTANTIATE_TEST_SUITE_P(
    Reads, KestrelExport,
    ::testing::Values(Case{"WholeSegment", 9, 2, 0, kSegmentChannels, kSegmentChannels, kSegmentLiveMs[1], "", 250},
                      Case{"AcrossChunks", 9, 1, 900, 1100, kSegmentChannels, kSegmentLiveMs[0], "", 100},  // two chunk ends
                      Case{"DeviceGivenItsRealTime", 12, 3, 16000, 384, kDeviceChannels, kDevice3LiveMs, "50", 50}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Texts written by hand into the INI file: valid UTF-8 stays as typed; other 8-bit bytes are Latin-1;
// control characters (a terminal escape among them) become "?" in every output, the terminal's too.
TEST_F(KestrelExport, KeepsUtf8AndMapsOnlyOtherBytes) {
    kestrel_test::WriteText(windir_ / "HVNACC32.INI", "[M12S03]\n@DESC=D\xC3\xA9tecteur \xC2\xB5 \xE6\x8E\xA2 Caf\xE9 \xC3\x01\x1B]0;owned\x07\x9B""2J\n");
    const std::string mapped = "D\xC3\xA9tecteur \xC2\xB5 \xE6\x8E\xA2 Caf\xC3\xA9 \xC3\x83??]0;owned??2J";
    std::string path = windir_ / "d.n42";
    ToolRun run = Run({"read", "12", "3", "--count", "4", "--n42", path, "--json", "--real-time", "9"});
    pugi::xml_document n42;
    ASSERT_TRUE(run.exitCode == 0 && n42.load_file(path.c_str())) << last_;
    EXPECT_EQ(n42.document_element().child("RadDetectorInformation").child_value("RadDetectorDescription"), mapped + " (identifier 1203)");
    EXPECT_EQ(nlohmann::json::parse(run.out)["description"], mapped);
    ToolRun list = Run({"list", "12", "3"});
    EXPECT_NE(list.out.find("detector 3: " + mapped + "\n"), std::string::npos) << last_;
}

}  // namespace
}  // namespace kestrel_tool_test
