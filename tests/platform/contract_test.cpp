// What the add-in needs from every platform layer, checked against each:
// profile files, registry reads, error numbers and texts, time, and the
// named mutex. The same source runs against the POSIX layer natively and
// against the Win32 layer under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "platform/place.h"

namespace {

using platform::WaitResult;

class Platform : public ::testing::Test {
protected:
    std::unique_ptr<contract::Place> place = contract::NewPlace();
    platform::Os& os = place->Os();
    const std::string ini = place->PrivateFile("KESTREL.INI");

    // The text read back; checks the count and that nothing is written past
    // `size`.
    std::string Read(const char* section, const char* key, const char* fallback = "dflt",
                     std::uint32_t size = 64, const std::string& file = "") {
        std::vector<char> buffer(size + 1, '#');
        std::uint32_t length = os.ProfileString(section, key, fallback, buffer.data(), size,
                                                (file.empty() ? ini : file).c_str());
        EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
        EXPECT_EQ(std::strlen(buffer.data()), length) << "the count must match the text";
        return std::string(buffer.data(), length);
    }
    bool Write(const char* section, const char* key, const char* value) {
        return os.ProfileWrite(section, key, value, ini.c_str());
    }
};

TEST_F(Platform, ProfileMissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Read("CONFIG", "LPT"), "dflt");
    EXPECT_EQ(os.ProfileInt("CONFIG", "LPT", 7, ini.c_str()), 7u);
    ASSERT_TRUE(Write("CONFIG", "LPT", "2"));
    EXPECT_EQ(Read("OTHER", "LPT"), "dflt");
    EXPECT_EQ(Read("CONFIG", "PORT"), "dflt");
    EXPECT_EQ(Read("CONFIG", "PORT", nullptr), "");
    EXPECT_EQ(Read("CONFIG", "PORT", "abc  "), "abc");  // a default loses its trailing blanks
    EXPECT_EQ(os.ProfileInt("CONFIG", "PORT", -3, ini.c_str()), static_cast<std::uint32_t>(-3));
}

TEST_F(Platform, ProfileWritesReadBackWithoutRegardToCase) {
    ASSERT_TRUE(Write("M9S01", "@LOCK", "1234"));
    ASSERT_TRUE(Write("M9S01", "@DESC", "Well counter"));
    ASSERT_TRUE(Write("m9s01", "@lock", "5678"));  // the same key
    EXPECT_EQ(Read("M9S01", "@LOCK"), "5678");
    EXPECT_EQ(Read("m9S01", "@desc"), "Well counter");
    EXPECT_EQ(os.ProfileInt("M9s01", "@Lock", 0, ini.c_str()), 5678u);
    // Integers as Windows reads them: leading digits, none is 0, empty is missing.
    const struct { const char* text; std::uint32_t value; } kInts[] = {
        {"42", 42}, {"17abc", 17}, {"x", 0}, {"", 9}};
    for (const auto& row : kInts) {
        ASSERT_TRUE(Write("INTS", "K", row.text));
        EXPECT_EQ(os.ProfileInt("INTS", "K", 9, ini.c_str()), row.value) << row.text;
    }
}

TEST_F(Platform, ProfileNullValueRemovesTheKeyNullKeyTheSection) {
    ASSERT_TRUE(Write("M10S02", "@LOCK", "1234"));
    ASSERT_TRUE(Write("M10S02", "@ID", "77"));
    ASSERT_TRUE(Write("CONFIG", "LPT", "1"));
    ASSERT_TRUE(Write("M10S02", "@LOCK", nullptr));
    EXPECT_EQ(Read("M10S02", "@LOCK"), "dflt");
    EXPECT_EQ(Read("M10S02", "@ID"), "77");
    ASSERT_TRUE(Write("M10S02", nullptr, nullptr));
    EXPECT_EQ(Read("M10S02", "@ID"), "dflt");
    EXPECT_EQ(Read("CONFIG", "LPT"), "1");
}

TEST_F(Platform, ProfileValuesAreCutToTheBuffer) {
    ASSERT_TRUE(Write("S", "K", "0123456789"));
    EXPECT_EQ(Read("S", "K", "", 5), "0123");
    EXPECT_EQ(Read("S", "K", "", 11), "0123456789");
    EXPECT_EQ(Read("S", "X", "defaultvalue", 4), "def");
}

TEST_F(Platform, ProfileNullSectionOrKeyListsTheNames) {
    ASSERT_TRUE(Write("A", "x", "1"));
    ASSERT_TRUE(Write("A", "y", "2"));
    ASSERT_TRUE(Write("B", "z", "3"));
    char buffer[32];
    std::uint32_t length = os.ProfileString(nullptr, nullptr, "", buffer, sizeof buffer, ini.c_str());
    EXPECT_EQ(std::string(buffer, length + 1), std::string("A\0B\0\0", 5));
    length = os.ProfileString("A", nullptr, "", buffer, sizeof buffer, ini.c_str());
    EXPECT_EQ(std::string(buffer, length + 1), std::string("x\0y\0\0", 5));
}

TEST_F(Platform, ProfileBareNamesLiveInTheWindowsDirectory) {
    const std::string name = place->UniqueName("KPC") + ".INI";
    const std::string full = place->WindowsDirFile(name);
    ASSERT_TRUE(os.ProfileWrite("CONFIG", "LPT", "4", name.c_str()));
    EXPECT_EQ(os.ProfileInt("CONFIG", "LPT", 0, full.c_str()), 4u);
    EXPECT_EQ(Read("CONFIG", "LPT", "", 8, full), "4");
}

class PlatformRegistry : public Platform {
protected:
    void SetUp() override {
        std::vector<std::uint8_t> descriptor(32);
        descriptor[20] = 0x78;
        descriptor[21] = 0x02;
        descriptor[28] = 3;
        place->PutRegistryValue(controller, "Configuration Data", descriptor);
        place->PutRegistryValue(controller, "Tiny", {1});
    }
    const std::string root = place->RegistryRoot();
    const std::string controller = root + "\\3\\ParallelController\\0";
};

TEST_F(PlatformRegistry, OpensKeysBelowTheRootOrAnOpenKeyInAnyCase) {
    platform::RegKey adapters = os.RegOpen(nullptr, root.c_str());
    ASSERT_NE(adapters, nullptr);
    EXPECT_EQ(os.RegOpen(nullptr, (root + "X").c_str()), nullptr);
    EXPECT_EQ(os.RegOpen(adapters, "0\\ParallelController\\0"), nullptr);
    EXPECT_EQ(os.RegOpen(adapters, "3\\ParallelController\\1"), nullptr);
    platform::RegKey key = os.RegOpen(adapters, "3\\PARALLELCONTROLLER\\0");
    ASSERT_NE(key, nullptr);
    std::uint8_t data[64];
    std::uint32_t size = sizeof data;
    EXPECT_TRUE(os.RegQuery(key, "Tiny", data, &size));
    // A value belongs to its own key only.
    size = sizeof data;
    EXPECT_FALSE(os.RegQuery(adapters, "Tiny", data, &size));
    os.RegClose(key);
    os.RegClose(adapters);
}

TEST_F(PlatformRegistry, QueriesGiveTheValueWithinTheBufferOrFail) {
    platform::RegKey key = os.RegOpen(nullptr, controller.c_str());
    ASSERT_NE(key, nullptr);
    std::uint8_t data[64];
    std::memset(data, 0xEE, sizeof data);
    std::uint32_t size = sizeof data;
    ASSERT_TRUE(os.RegQuery(key, "configuration DATA", data, &size));
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(data[20] | data[21] << 8, 0x0278);
    EXPECT_EQ(data[28], 3);
    EXPECT_EQ(data[32], 0xEE) << "written past the value";

    size = 31;  // too small: fails and tells the size needed
    EXPECT_FALSE(os.RegQuery(key, "Configuration Data", data, &size));
    EXPECT_EQ(size, 32u);
    size = 0;  // no buffer: the size only
    EXPECT_TRUE(os.RegQuery(key, "Configuration Data", nullptr, &size));
    EXPECT_EQ(size, 32u);
    size = sizeof data;
    ASSERT_TRUE(os.RegQuery(key, "Tiny", data, &size));
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(data[0], 1);
    EXPECT_FALSE(os.RegQuery(key, "Missing", data, &size));
    os.RegClose(key);
}

TEST_F(Platform, ErrorTextsAreOneLineAndFitTheAddinsBuffer) {
    // The errors a failed driver open can show.
    for (std::uint32_t error : {2u, 3u, 5u, 6u, 8u, 206u}) {
        char text[64];
        std::uint32_t length = os.FormatSystemMessage(error, text, sizeof text);
        ASSERT_GT(length, 0u) << error;
        EXPECT_EQ(std::strlen(text), length) << error;
        EXPECT_EQ(std::strpbrk(text, "\r\n"), nullptr) << text;
    }
    char text[16];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(os.FormatSystemMessage(0x2000BEEF, text, sizeof text), 0u);  // no such error
    EXPECT_EQ(os.FormatSystemMessage(2, text, 0), 0u);
    EXPECT_EQ(text[0], '#');
}

TEST_F(Platform, LastErrorIsTheThreadsOwnAndAMissingDriverSetsIt) {
    // Spinning, not blocking: a system call could set this thread's number.
    std::atomic<int> step{0};
    std::uint32_t seen = 99;
    std::thread other([&] {
        while (step != 1) {
        }
        seen = os.LastError();
        os.SetLastError(5);
        step = 2;
    });
    os.SetLastError(1234);
    step = 1;
    while (step != 2) {
    }
    EXPECT_EQ(os.LastError(), 1234u);
    other.join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(os.DriverOpen("\\\\.\\KestrelNoSuchDev", 0xC0000000, 3, 3, 0), platform::kInvalidHandle);
    EXPECT_EQ(os.LastError(), 2u);  // not found
}

TEST_F(Platform, TimeIsTheTickCountAndTheSystemClockAndTheFamilyIsNt) {
    // The tick count moves in steps of up to about 16 ms.
    const std::uint32_t start = os.TickCount();
    os.SleepMs(200);
    const std::uint32_t elapsed = os.TickCount() - start;
    EXPECT_GE(elapsed, 180u);
    EXPECT_LT(elapsed, 5000u);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    EXPECT_NEAR(static_cast<double>(os.TimeNow()),
                static_cast<double>(std::chrono::duration_cast<std::chrono::seconds>(now).count()), 2.0);
    EXPECT_EQ(os.PlatformId(), platform::kPlatformNt);
}

// A thread that opens the mutex by name, waits for it, and releases it
// again unless told to end holding it.
class Waiter {
public:
    Waiter(platform::Os& os, const std::string& name, bool keep = false)
        : thread_([&os, name, keep, this] {
              platform::MutexHandle mutex = os.MutexCreate(name.c_str());
              result_ = os.MutexWait(mutex);
              done_ = true;
              if (!keep) os.MutexRelease(mutex);
              os.MutexClose(mutex);
          }) {}
    ~Waiter() { thread_.join(); }
    bool DoneWithin(int ms) {
        for (int waited = 0; !done_ && waited < ms; waited += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return done_;
    }
    WaitResult Result() const { return result_; }

private:
    std::atomic<bool> done_{false};
    WaitResult result_ = WaitResult::Failed;
    std::thread thread_;
};

class PlatformMutex : public Platform {
protected:
    void TearDown() override { os.MutexClose(mutex); }
    const std::string name = place->UniqueName("KestrelContract");
    platform::MutexHandle mutex = os.MutexCreate(name.c_str());
};

TEST_F(PlatformMutex, TheOwnerReentersAndOthersWaitForEveryRelease) {
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(os.MutexWait(mutex), WaitResult::Acquired);
    ASSERT_EQ(os.MutexWait(mutex), WaitResult::Acquired);
    {
        Waiter other(os, place->UniqueName("KestrelOther"));
        EXPECT_TRUE(other.DoneWithin(5000)) << "another name is another mutex";
    }
    Waiter waiter(os, name);
    EXPECT_FALSE(waiter.DoneWithin(100));
    EXPECT_TRUE(os.MutexRelease(mutex));
    EXPECT_FALSE(waiter.DoneWithin(100)) << "one release of two holds must keep the mutex";
    EXPECT_TRUE(os.MutexRelease(mutex));
    ASSERT_TRUE(waiter.DoneWithin(5000));
    EXPECT_EQ(waiter.Result(), WaitResult::Acquired);
    EXPECT_FALSE(os.MutexRelease(mutex)) << "released more often than taken";
}

TEST_F(PlatformMutex, AnOwnerThatEndsHoldingItLeavesItAbandonedAndAcquired) {
    ASSERT_NE(mutex, nullptr);
    {
        Waiter holder(os, name, true);
        ASSERT_TRUE(holder.DoneWithin(5000));
    }
    EXPECT_EQ(os.MutexWait(mutex), WaitResult::Abandoned);
    {
        Waiter waiter(os, name);
        EXPECT_FALSE(waiter.DoneWithin(100)) << "an abandoned mutex belongs to who took it";
        EXPECT_TRUE(os.MutexRelease(mutex));
        ASSERT_TRUE(waiter.DoneWithin(5000));
        EXPECT_EQ(waiter.Result(), WaitResult::Acquired);
    }
    EXPECT_EQ(os.MutexWait(mutex), WaitResult::Acquired);
    EXPECT_TRUE(os.MutexRelease(mutex));
}

}  // namespace
