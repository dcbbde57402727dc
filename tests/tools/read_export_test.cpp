// `kestrel read`: the counts that reach the exported files are the ones
// the simulated units hold, whatever the format, run or unit kind.
#include <gtest/gtest.h>

#include <algorithm>

#include "posix/temp_dir.h"
#include "sim/spectrum_model.h"
#include "tools/chain_files.h"
#include "tools/export_files.h"
#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {

using kestrel_test::ReadText;
using kestrel_test::TempDir;

// What a stopped input holds: the model's counts after its counting time,
// within the data mask.
std::vector<std::uint64_t> Expected(std::uint32_t channels, int input, std::uint64_t liveMs,
                                    std::uint32_t first, std::uint32_t count) {
    sim::SpectrumModel model(channels, input);
    std::vector<std::uint64_t> counts;
    for (std::uint32_t c = first; c < first + count; ++c)
        counts.push_back(std::min<std::uint64_t>(model.counts(c, liveMs), kDataMask));
    return counts;
}

class KestrelRead : public ::testing::Test {
protected:
    ToolRun Run(const std::vector<std::string>& args) {
        std::vector<std::string> all{"--sim", config_};
        all.insert(all.end(), args.begin(), args.end());
        ToolRun run = RunTool(all, {windir_.path(), "", {}}, scratch_.path());
        last_ = Describe(all, run);
        return run;
    }

    TempDir scratch_;
    TempDir windir_;
    std::string config_ = WriteChain(windir_ / "chain.conf", kStoppedChain);
    std::string last_;
};

TEST_F(KestrelRead, ExportsTheSameSpectrumAsCsvN42AndPng) {
    std::string csvPath = windir_ / "s.csv", n42Path = windir_ / "s.n42", pngPath = windir_ / "s.png";
    ToolRun run = Run({"read", "9", "2", "--csv", csvPath, "--n42", n42Path, "--png", pngPath});
    ASSERT_EQ(run.exitCode, 0) << last_;
    std::vector<std::uint64_t> expected =
        Expected(kSegmentChannels, 1, kSegmentLiveMs[1], 0, kSegmentChannels);

    CsvSpectrum csv = ParseCsv(ReadText(csvPath));
    ASSERT_EQ(csv.problem, "");
    EXPECT_EQ(csv.header, "channel,counts");
    ASSERT_EQ(csv.counts.size(), kSegmentChannels);
    for (std::uint32_t i = 0; i < kSegmentChannels; ++i) ASSERT_EQ(csv.channels[i], i);
    EXPECT_EQ(csv.counts, expected);

    N42Spectrum n42 = ParseN42(n42Path);
    ASSERT_EQ(n42.problem, "");
    EXPECT_EQ(n42.root, "RadInstrumentData");
    EXPECT_EQ(n42.counts, expected);

    EXPECT_TRUE(HasPngSignature(pngPath));
    for (const std::string& path : {csvPath, n42Path, pngPath})
        EXPECT_NE(run.out.find("wrote " + path), std::string::npos) << last_;
}

TEST_F(KestrelRead, ReadsARunAcrossChunksFromTheRequestedChannel) {
    // 1100 channels from 900: two chunk boundaries of the tool's reads.
    ToolRun run = Run({"read", "9", "1", "--start", "900", "--count", "1100"});
    ASSERT_EQ(run.exitCode, 0) << last_;
    CsvSpectrum csv = ParseCsv(run.out);  // no file: CSV on standard output
    ASSERT_EQ(csv.problem, "");
    ASSERT_EQ(csv.counts.size(), 1100u);
    EXPECT_EQ(csv.channels.front(), 900u);
    EXPECT_EQ(csv.channels.back(), 1999u);
    EXPECT_EQ(csv.counts, Expected(kSegmentChannels, 0, kSegmentLiveMs[0], 900, 1100));

    // "--csv -" beside a file: standard output is still nothing but the CSV.
    std::string n42Path = windir_ / "beside.n42";
    ToolRun both = Run({"read", "9", "1", "--start", "900", "--count", "1100", "--csv", "-", "--n42", n42Path});
    ASSERT_EQ(both.exitCode, 0) << last_;
    CsvSpectrum piped = ParseCsv(both.out);
    ASSERT_EQ(piped.problem, "") << both.out;
    EXPECT_EQ(piped.counts, csv.counts);
    EXPECT_NE(both.err.find("wrote " + n42Path), std::string::npos) << both.err;
}

// A description stored as 8-bit Windows text reaches the UTF-8 document as
// the characters it stands for; a control character, which XML cannot
// hold, as "?".
TEST_F(KestrelRead, TheN42DocumentCarriesEightBitTextAsUtf8) {
    std::string config = WriteChain(windir_ / "latin1.conf",
                                    "[unit 9]\nversion = 0919-005\nfeatures = 0x00100000\n"
                                    "[unit 9 detector 1]\napp.@DESC = Caf\xE9 \x01x\n");
    std::string path = windir_ / "d.n42";
    std::vector<std::string> args{"--sim", config, "read", "9", "1", "--count", "4", "--n42", path};
    ToolRun run = RunTool(args, {windir_.path(), "", {}}, scratch_.path());
    ASSERT_EQ(run.exitCode, 0) << Describe(args, run);
    N42Spectrum n42 = ParseN42(path);
    ASSERT_EQ(n42.problem, "");
    EXPECT_EQ(n42.description.rfind("Caf\xC3\xA9 ?x (identifier ", 0), 0u) << n42.description;
    EXPECT_EQ(ReadText(path).find('\xE9'), std::string::npos) << "a Latin-1 byte left in the UTF-8 document";
}

TEST_F(KestrelRead, ReadsADeviceOfAFourDeviceUnit) {
    std::string n42Path = windir_ / "d3.n42";
    ToolRun run = Run({"read", "12", "3", "--n42", n42Path});
    ASSERT_EQ(run.exitCode, 0) << last_;
    N42Spectrum n42 = ParseN42(n42Path);
    ASSERT_EQ(n42.problem, "");
    EXPECT_EQ(n42.counts, Expected(kDeviceChannels, 2, kDevice3LiveMs, 0, kDeviceChannels));
}

TEST_F(KestrelRead, ShowsProgressOnRequestAndNotOtherwise) {
    ToolRun quiet = Run({"read", "9", "1", "--csv", windir_ / "q.csv"});
    ASSERT_EQ(quiet.exitCode, 0) << last_;
    EXPECT_EQ(quiet.err.find("2048/2048"), std::string::npos) << last_;
    ToolRun shown = Run({"--progress", "read", "9", "1", "--csv", windir_ / "p.csv"});
    ASSERT_EQ(shown.exitCode, 0) << last_;
    EXPECT_NE(shown.err.find("2048/2048"), std::string::npos) << last_;
}

}  // namespace
}  // namespace kestrel_tool_test
