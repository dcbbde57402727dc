// Profile writes from several processes: a writer killed at any moment
// leaves a whole file, and concurrent writers lose no update.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/ini_text.h"
#include "posix/child_process.h"
#include "posix/temp_dir.h"

namespace {

using kestrel_test::Child;
using kestrel_test::ReadText;
using kestrel_test::TempDir;
using kestrel_test::WriteText;
using platform::posix::IniText;

constexpr const char* kIni = "HVNACC32.INI";
constexpr std::size_t kBigValue = 20000;

// Rewrites one large value over and over, alternating its content, until
// killed.
KESTREL_CHILD_ROLE(ProfileRewriter) {
    platform::Os& os = platform::NativeOs();
    const std::string values[2] = {std::string(kBigValue, 'a'), std::string(kBigValue, 'b')};
    for (unsigned round = 0;; ++round) {
        if (!os.ProfileWrite("DATA", "V", values[round % 2].c_str(), kIni)) return 2;
        if (round == 0) channel.Send("writing");
    }
}

// Adds 40 keys of its own to one section, after the parent says go.
KESTREL_CHILD_ROLE(ProfileKeyAdder) {
    platform::Os& os = platform::NativeOs();
    if (!channel.Expect("go")) return 2;
    for (int i = 0; i < 40; ++i) {
        std::string key = "W" + channel.arg() + "_" + std::to_string(i);
        if (!os.ProfileWrite("SHARED", key.c_str(), std::to_string(i).c_str(), kIni)) return 3;
    }
    return 0;
}

TEST(ProfileProcesses, AWriterKilledMidWriteLeavesTheOldOrTheNewFile) {
    TempDir dir;
    WriteText(dir / kIni, "[KEEP]\nLPT=1\n");
    std::mt19937 random(20240601);
    for (int attempt = 0; attempt < 12; ++attempt) {
        {
            Child writer("ProfileRewriter", dir.path());
            ASSERT_TRUE(writer.Expect("writing"));
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 15000));
            writer.Kill();
        }
        IniText ini(ReadText(dir / kIni));
        std::string keep, value;
        ASSERT_TRUE(ini.Get("KEEP", "LPT", &keep)) << "attempt " << attempt;
        EXPECT_EQ(keep, "1");
        ASSERT_TRUE(ini.Get("DATA", "V", &value)) << "attempt " << attempt;
        ASSERT_EQ(value.size(), kBigValue) << "attempt " << attempt;
        EXPECT_TRUE(value == std::string(kBigValue, 'a') || value == std::string(kBigValue, 'b'));
    }
}

TEST(ProfileProcesses, ConcurrentWritersLoseNoUpdate) {
    TempDir dir;
    std::vector<std::unique_ptr<Child>> writers;
    for (int n = 0; n < 4; ++n)
        writers.emplace_back(new Child("ProfileKeyAdder", dir.path(), std::to_string(n)));
    for (auto& writer : writers) writer->Send("go");
    for (auto& writer : writers) ASSERT_EQ(writer->Wait(), 0) << writer->Log();

    IniText ini(ReadText(dir / kIni));
    EXPECT_EQ(ini.Keys("SHARED").size(), 160u);
    for (int n = 0; n < 4; ++n) {
        for (int i = 0; i < 40; ++i) {
            std::string value;
            std::string key = "W" + std::to_string(n) + "_" + std::to_string(i);
            EXPECT_TRUE(ini.Get("SHARED", key, &value)) << key;
            EXPECT_EQ(value, std::to_string(i)) << key;
        }
    }
}

}  // namespace
