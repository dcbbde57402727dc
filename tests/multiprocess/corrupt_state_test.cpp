// Any member of the group can write the shared block and the mutex's file. Whatever is written there under a
// client that runs, the client neither hangs nor dies, says what it found, and what it set survives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <random>

#include "multiprocess/harness.h"
#include "platform/posix/named_mutex.h"

namespace {

using namespace kestrel_mp;
using platform::posix::kBlockOffset;

std::string Le32(std::uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

struct Damage {
    const char* what;
    bool mutexFile;     // else the shared block
    long at;            // where the bytes go; -1: the file is cut to nothing instead
    std::string bytes;  // "random": as many random bytes as the file has
    const char* says;
    const char *ask, *answer;  // after which the client answers so
};

TEST(CorruptState, AClientRunningNeitherHangsNorDiesAndWhatItSetSurvives) {
    const long detectorsOfMcb9 = kBlockOffset + offsetof(SharedState, records) + offsetof(McbRecord, nDetectors);
    const Damage kDamage[] = {
        // No thread has a number above 2^22: the lock word names one that cannot exist.
        {"a forged lock word", true, kBlockOffset, Le32(0x3FFFFFF0), "was held by thread 1073741808, which does not exist",
         "mark?", "4242"},
        {"the mutex's file cut short", true, -1, "", "was cut short (0 of ", "mark?", "4242"},
        {"the block cut short", false, -1, "", "was cut short (0 of 11412 bytes); rebuilt from this process's last copy",
         "mark?", "4242"},
        {"random bytes over the block", false, 0, "random", "holds no block of the add-in (its header is gone); rebuilt",
         "mark?", "4242"},
        {"impossible values under its header", false, detectorsOfMcb9, Le32(99), "holds values the add-in never writes",
         "detectors 9", "0"},
    };
    std::mt19937 random(19);
    for (const Damage& damage : kDamage) {
        TempDir dir;
        Child client("Client", dir.path(), "closed");
        ASSERT_TRUE(client.Expect("ready"));
        EXPECT_EQ(client.Ask("mark 4242"), "marked");
        const std::string path = damage.mutexFile ? platform::posix::NamedMutexPath(dir.path(), kMutexName.c_str())
                                                  : platform::posix::SharedBlockPath(dir.path());
        std::string bytes = damage.bytes;
        if (bytes == "random") bytes.resize(ReadText(path).size());
        for (char& byte : bytes) byte = damage.bytes == "random" ? static_cast<char>(random()) : byte;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | (damage.at < 0 ? O_TRUNC : 0));
        EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), std::max(damage.at, 0L)), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
        EXPECT_NE(client.Ask("peek"), "") << damage.what << ": a look at the block ended it\n" << client.Log();
        EXPECT_EQ(client.Ask(damage.ask), damage.answer) << damage.what << "\n" << client.Log();
        Child later("Client", dir.path(), "closed");
        ASSERT_TRUE(later.Expect("ready"));
        EXPECT_EQ(later.Ask("mark?"), "4242") << damage.what << "\n" << later.Log();
        for (Child* child : {&client, &later}) {
            child->Send("exit");
            EXPECT_EQ(child->Wait(), 0) << damage.what << "\n" << child->Log();
        }
        EXPECT_NE(client.Log().find(damage.says), std::string::npos) << damage.what << "\n" << client.Log();
    }
}

}  // namespace
