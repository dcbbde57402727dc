// What the add-in needs from every platform layer, one source for all of them: built against the POSIX
// layer natively and against the Win32 layer under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#ifdef _WIN32
#include "platform/win32/contract_place.h"
#else
#include "platform/posix/contract_place.h"
#endif

namespace {

using platform::WaitResult;

class Platform : public ::testing::Test {
protected:
    Place place;
    platform::Os& os = place.os;
    const std::string ini = place.WindowsDirFile(Place::UniqueName("KESTREL") + ".INI");

    // Checks the count, and that nothing lands past `size`.
    std::string Read(const char* section, const char* key, const char* fallback = "dflt", std::uint32_t size = 64) {
        std::vector<char> buffer(size + 1, '#');
        std::uint32_t length = os.ProfileString(section, key, fallback, buffer.data(), size, ini.c_str());
        EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
        EXPECT_EQ(std::strlen(buffer.data()), length);
        return std::string(buffer.data(), length);
    }
    bool Write(const char* section, const char* key, const char* value) {
        return os.ProfileWrite(section, key, value, ini.c_str());
    }
    // Takes the mutex of that name on a thread of its own, then releases it unless told to keep it.
    std::future<WaitResult> Take(const std::string& which, bool keep = false) {
        return std::async(std::launch::async, [this, which, keep] {
            platform::MutexHandle other = os.MutexCreate(which.c_str());
            WaitResult result = os.MutexWait(other);
            if (!keep) os.MutexRelease(other);
            os.MutexClose(other);
            return result;
        });
    }
    static bool Done(std::future<WaitResult>& taken, int ms) {
        return taken.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
    }
};

TEST_F(Platform, ProfileReadsWritesAndRemovals) {
    EXPECT_EQ(Read("CONFIG", "LPT"), "dflt");  // no file yet
    ASSERT_TRUE(Write("CONFIG", "LPT", "2") && Write("M9S01", "@LOCK", "1234"));
    ASSERT_TRUE(Write("m9s01", "@lock", "5678"));  // the same key
    ASSERT_TRUE(Write("M9S01", "@DESC", "0123456789"));
    const struct { const char *section, *key, *fallback; std::uint32_t size; const char* text; } kReads[] = {
        {"M9S01", "@LOCK", "", 64, "5678"}, {"m9S01", "@desc", "", 11, "0123456789"},
        {"M9S01", "@DESC", "", 5, "0123"},  {"OTHER", "LPT", "dflt", 64, "dflt"},
        {"CONFIG", "PORT", nullptr, 64, ""}, {"CONFIG", "PORT", "abc  ", 64, "abc"},
        {"CONFIG", "PORT", "defaultvalue", 4, "def"}};
    for (const auto& r : kReads) EXPECT_EQ(Read(r.section, r.key, r.fallback, r.size), r.text) << r.key;
    // Integers as Windows reads them: leading digits; none is 0; empty is missing.
    const struct { const char* text; std::uint32_t value; } kInts[] = {{"42", 42}, {"17abc", 17}, {"x", 0}, {"", 9}};
    for (const auto& row : kInts) {
        ASSERT_TRUE(Write("INTS", "K", row.text));
        EXPECT_EQ(os.ProfileInt("inTS", "k", 9, ini.c_str()), row.value) << row.text;
    }
    EXPECT_EQ(os.ProfileInt("CONFIG", "PORT", -3, ini.c_str()), static_cast<std::uint32_t>(-3));
    char list[32];
    std::uint32_t length = os.ProfileString(nullptr, nullptr, "", list, sizeof list, ini.c_str());
    EXPECT_EQ(std::string(list, length + 1), std::string("CONFIG\0M9S01\0INTS\0\0", 19));
    length = os.ProfileString("CONFIG", nullptr, "", list, sizeof list, ini.c_str());
    EXPECT_EQ(std::string(list, length + 1), std::string("LPT\0\0", 5));
    // A null value removes the key, a null key the section.
    ASSERT_TRUE(Write("M9S01", "@LOCK", nullptr));
    EXPECT_EQ(Read("M9S01", "@LOCK") + Read("M9S01", "@DESC"), "dflt0123456789");
    ASSERT_TRUE(Write("M9S01", nullptr, nullptr));
    EXPECT_EQ(Read("M9S01", "@DESC") + Read("CONFIG", "LPT"), "dflt2");
    // A bare name is a file in the Windows directory.
    const std::string bare = Place::UniqueName("KPC") + ".INI";
    ASSERT_TRUE(os.ProfileWrite("CONFIG", "LPT", "4", bare.c_str()));
    EXPECT_EQ(os.ProfileInt("CONFIG", "LPT", 0, place.WindowsDirFile(bare).c_str()), 4u);
}

TEST_F(Platform, RegistryKeysAndValuesAsPortDiscoveryReadsThem) {
    std::vector<std::uint8_t> descriptor(32);
    descriptor[20] = 0x78;
    descriptor[21] = 0x02;
    place.PutRegistryValue(place.root + "\\3\\ParallelController\\0", "Configuration Data", descriptor);
    place.PutRegistryValue(place.root + "\\3\\ParallelController\\0", "Tiny", {1});
    platform::RegKey adapters = os.RegOpen(nullptr, place.root.c_str());
    ASSERT_NE(adapters, nullptr);
    for (const char* missing : {"0\\ParallelController\\0", "3\\ParallelController\\1"})
        EXPECT_EQ(os.RegOpen(adapters, missing), nullptr) << missing;
    EXPECT_EQ(os.RegOpen(nullptr, (place.root + "X").c_str()), nullptr);
    platform::RegKey key = os.RegOpen(adapters, "3\\PARALLELCONTROLLER\\0");
    ASSERT_NE(key, nullptr);
    // Null buffer: the size only. Too small: fails, and tells the size.
    // `word`: the two bytes at `at` afterwards (0xEE: left as they were).
    const struct { platform::RegKey key; const char* name; bool buffer; std::uint32_t size; bool ok; std::uint32_t out; int at, word; } kQueries[] = {
        {key, "configuration DATA", true, 64, true, 32, 20, 0x0278}, {key, "Configuration Data", true, 31, false, 32, 0, 0xEEEE},
        {key, "Configuration Data", false, 0, true, 32, 0, 0xEEEE}, {key, "Tiny", true, 64, true, 1, 0, 0xEE01},
        {key, "Missing", true, 64, false, 0, 0, 0xEEEE}, {adapters, "Tiny", true, 64, false, 0, 0, 0xEEEE}};
    for (const auto& q : kQueries) {
        std::uint8_t data[65];
        std::memset(data, 0xEE, sizeof data);
        std::uint32_t size = q.size;
        EXPECT_EQ(os.RegQuery(q.key, q.name, q.buffer ? data : nullptr, &size), q.ok) << q.name << q.size;
        EXPECT_EQ(q.out ? size : 0, q.out) << q.name << q.size;
        EXPECT_EQ(data[q.ok ? q.out : 0], 0xEE) << "written past the value " << q.name;
        EXPECT_EQ(data[q.at] | data[q.at + 1] << 8, q.word) << q.name << q.size;
    }
    os.RegClose(key);
    os.RegClose(adapters);
}

TEST_F(Platform, ErrorTextsLastErrorsTimeAndFamily) {
    char text[64] = "#";
    for (std::uint32_t error : {2u, 3u, 5u, 6u, 8u, 206u}) {  // what a failed driver open shows
        std::uint32_t length = os.FormatSystemMessage(error, text, sizeof text);
        EXPECT_TRUE(length > 0 && std::strlen(text) == length && !std::strpbrk(text, "\r\n")) << error << text;
    }
    text[0] = '#';
    EXPECT_EQ(os.FormatSystemMessage(0x2000BEEF, text, sizeof text) + os.FormatSystemMessage(2, text, 0), 0u);
    EXPECT_EQ(text[0], '#');
    // Each thread its own number; spinning, as a system call could set it.
    std::atomic<int> step{0};
    std::uint32_t seen = 99;
    std::thread other([&] {
        while (step != 1) {}
        seen = os.LastError();
        os.SetLastError(5);
        step = 2;
    });
    os.SetLastError(1234);
    step = 1;
    while (step != 2) {}
    EXPECT_EQ(std::to_string(os.LastError()) + "," + std::to_string(seen), "1234,0");  // before join() sets it
    other.join();
    EXPECT_EQ(os.DriverOpen("\\\\.\\KestrelNoSuchDev", 0xC0000000, 3, 3, 0), platform::kInvalidHandle);
    EXPECT_EQ(os.LastError(), 2u);  // not found
    // Sleep waits its time. The tick count follows in steps of up to about 16 ms; under Wine it is
    // the server's, which on a loaded machine may fall behind for a while.
    const std::uint32_t start = os.TickCount();
    const auto before = std::chrono::steady_clock::now();
    os.SleepMs(200);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(195));
    std::uint32_t moved = os.TickCount() - start;
    for (int waited = 0; moved < 180 && waited < 5000; waited += 10, moved = os.TickCount() - start) os.SleepMs(10);
    EXPECT_GE(moved, 180u);
    EXPECT_LT(moved, 5000u);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    EXPECT_NEAR(os.TimeNow(), std::chrono::duration_cast<std::chrono::seconds>(now).count(), 2);
    EXPECT_EQ(os.PlatformId(), platform::kPlatformNt);
}

TEST_F(Platform, MutexOwnerReentersOthersWaitForEveryReleaseAndADeadOwnerLeavesItAbandoned) {
    const std::string name = Place::UniqueName("KestrelContract");
    platform::MutexHandle mutex = os.MutexCreate(name.c_str());
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(os.MutexWait(mutex), WaitResult::Acquired);
    ASSERT_EQ(os.MutexWait(mutex), WaitResult::Acquired);
    EXPECT_EQ(Take(Place::UniqueName("KestrelOther")).get(), WaitResult::Acquired) << "another name, another mutex";
    std::future<WaitResult> taken = Take(name);
    EXPECT_FALSE(Done(taken, 100));
    EXPECT_TRUE(os.MutexRelease(mutex));
    EXPECT_FALSE(Done(taken, 100)) << "one release of two holds must keep the mutex";
    EXPECT_TRUE(os.MutexRelease(mutex));
    ASSERT_TRUE(Done(taken, 5000));
    EXPECT_EQ(taken.get(), WaitResult::Acquired);
    EXPECT_FALSE(os.MutexRelease(mutex)) << "released more often than taken";
    // An owner that ends holding it leaves it abandoned, and acquired by the next.
    ASSERT_EQ(Take(name, true).get(), WaitResult::Acquired);
    EXPECT_EQ(os.MutexWait(mutex), WaitResult::Abandoned);
    taken = Take(name);
    EXPECT_FALSE(Done(taken, 100)) << "an abandoned mutex belongs to who took it";
    EXPECT_TRUE(os.MutexRelease(mutex));
    ASSERT_TRUE(Done(taken, 5000));
    EXPECT_EQ(taken.get(), WaitResult::Acquired);
    EXPECT_EQ(os.MutexWait(mutex), WaitResult::Acquired);
    EXPECT_TRUE(os.MutexRelease(mutex));
    os.MutexClose(mutex);
}

}  // namespace
