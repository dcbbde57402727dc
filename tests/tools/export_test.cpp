// `kestrel read`: the counts the simulated units hold reach every export
// at their channels, and every N42 document keeps the schema's rules.
#include <algorithm>

#include "sim/spectrum_model.h"
#include "tools/chain_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

struct Case { const char* name; int mcb, det; std::uint32_t first, count, channels; std::uint64_t liveMs; };

class KestrelExport : public ToolTest, public ::testing::WithParamInterface<Case> {};

TEST_P(KestrelExport, WritesTheUnitsCountsAtTheirChannels) {
    const Case& c = GetParam();
    std::string csvPath = windir_ / "s.csv", n42Path = windir_ / "s.n42", pngPath = windir_ / "s.png";
    ASSERT_EQ(Run({"read", std::to_string(c.mcb), std::to_string(c.det), "--start", std::to_string(c.first), "--count",
                   std::to_string(c.count), "--csv", csvPath, "--n42", n42Path, "--png", pngPath}).exitCode, 0) << last_;
    // A stopped input holds the model's counts after its counting time,
    // within the data mask.
    sim::SpectrumModel model(c.channels, c.det - 1);
    std::vector<std::uint64_t> expected, counts, calibration;
    for (std::uint32_t ch = c.first; ch < c.first + c.count; ++ch)
        expected.push_back(std::min<std::uint64_t>(model.counts(ch, c.liveMs), kDataMask));
    std::string csv = kestrel_test::ReadText(csvPath);
    EXPECT_EQ(csv.substr(csv.find("channel,counts")), CsvRows(c.first, expected));

    pugi::xml_document n42;
    ASSERT_TRUE(n42.load_file(n42Path.c_str()));
    EXPECT_EQ(N42Breaches(n42), std::vector<std::string>{});
    pugi::xml_node root = n42.document_element(), measurement = root.child("RadMeasurement");
    ASSERT_TRUE(ParseNumbers(measurement.child("Spectrum").child_value("ChannelData"), &counts));
    EXPECT_EQ(counts, expected);
    // The offset calibration puts the first value at its channel.
    ASSERT_TRUE(ParseNumbers(root.child("EnergyCalibration").child_value("CoefficientValues"), &calibration));
    EXPECT_EQ(calibration, (std::vector<std::uint64_t>{c.first, 1, 0}));
    // No start and no stop known: the durations are not measured, and a
    // Remark says so.
    EXPECT_FALSE(measurement.child("StartDateTime"));
    EXPECT_TRUE(measurement.child("Remark")) << kestrel_test::ReadText(n42Path);
    std::string id = root.child("RadDetectorInformation").attribute("id").value();
    EXPECT_TRUE(id.find(std::to_string(c.mcb)) != std::string::npos && id.find(std::to_string(c.det)) != std::string::npos) << id;
    EXPECT_TRUE(HasPngSignature(pngPath));
}

INSTANTIATE_TEST_SUITE_P(
    Reads, KestrelExport,
    ::testing::Values(Case{"WholeSegment", 9, 2, 0, kSegmentChannels, kSegmentChannels, kSegmentLiveMs[1]},
                      Case{"AcrossChunks", 9, 1, 900, 1100, kSegmentChannels, kSegmentLiveMs[0]},  // two chunk ends
                      Case{"Device", 12, 3, 16000, 384, kDeviceChannels, kDevice3LiveMs}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Valid UTF-8 stays as typed; other 8-bit bytes are Latin-1, controls "?".
TEST_F(KestrelExport, KeepsUtf8AndMapsOnlyOtherBytes) {
    chain_ = WriteChain(windir_ / "text.conf", "[unit 9]\nversion = 0919-005\nfeatures = 0x00100000\n[unit 9 detector 1]\n"
                                               "app.@DESC = D\xC3\xA9tecteur \xC2\xB5 \xE6\x8E\xA2 Caf\xE9 \xC3\x01\n");
    std::string path = windir_ / "d.n42";
    ToolRun run = Run({"read", "9", "1", "--count", "4", "--n42", path, "--json"});
    pugi::xml_document n42;
    ASSERT_TRUE(run.exitCode == 0 && n42.load_file(path.c_str())) << last_;
    std::string text = n42.document_element().child("RadDetectorInformation").child_value("RadDetectorDescription");
    EXPECT_EQ(text.rfind("D\xC3\xA9tecteur \xC2\xB5 \xE6\x8E\xA2 Caf\xC3\xA9 \xC3\x83?", 0), 0u) << text;
    EXPECT_NE(run.out.find("\"D\xC3\xA9tecteur \xC2\xB5 \xE6\x8E\xA2 Caf\xC3\xA9 \xC3\x83?\""), std::string::npos) << run.out;
}

}  // namespace
}  // namespace kestrel_tool_test
