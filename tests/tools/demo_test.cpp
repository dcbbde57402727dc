// `kestrel demo` as the README has users run it: no arguments, in an
// empty directory, on a machine with nothing set up.
#include <sys/stat.h>

#include <algorithm>
#include <pugixml.hpp>
#include <regex>

#include "tools/tool_run.h"

namespace kestrel_tool_test {
namespace {


// The simulated system's directory the demo names, if it still exists.
std::string WindirLeft(const std::string& out) {
    std::smatch line;
    struct stat info;
    if (!std::regex_search(out, line, std::regex(R"(windows directory\s+(\S+))"))) return "(not named)";
    return ::stat(line[1].str().c_str(), &info) == 0 ? line[1].str() : "";
}

TEST(KestrelDemo, RunsInAnEmptyDirectoryAndLeavesValidExports) {
    kestrel_test::TempDir scratch, work, windir;  // the windir is given but unused: the demo makes its own
    ToolRun run = RunTool({"demo"}, {windir.path(), work.path(), {}}, scratch.path());
    ASSERT_EQ(run.exitCode, 0) << Describe({"demo"}, run);
    std::string base = work / "kestrel-demo-out/mcb9-det2";
    EXPECT_EQ(N42SchemaErrors(base + ".n42"), "");
    pugi::xml_document n42;
    ASSERT_TRUE(n42.load_file((base + ".n42").c_str()));
    // The input counts while it is read, on the 30 s it counted before.
    pugi::xml_node measurement = n42.document_element().child("RadMeasurement");
    std::string real = measurement.child_value("RealTimeDuration");
    EXPECT_TRUE(real == "PT30S" || real == "PT31S" || real == "PT32S") << real;
    std::vector<std::uint64_t> counts;
    ASSERT_TRUE(ParseNumbers(measurement.child("Spectrum").child_value("ChannelData"), &counts) && counts.size() == 4096);
    // The demo's ROI marks channels with a bit outside the data mask
    // (0x00FFFFFF): the counts must not carry it.
    EXPECT_LE(*std::max_element(counts.begin(), counts.end()), 0x00FFFFFFu);
    std::string csv = kestrel_test::ReadText(base + ".csv");
    EXPECT_EQ(csv.substr(csv.find("channel,counts")), CsvRows(0, counts));
    EXPECT_TRUE(HasPngSignature(base + ".png"));
    EXPECT_EQ(WindirLeft(run.out), "");
}

}  // namespace
}  // namespace kestrel_tool_test
