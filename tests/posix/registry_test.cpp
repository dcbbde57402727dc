// The registry file: the reads that port discovery makes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/posix/posix_os.h"
#include "platform/posix/registry.h"
#include "posix/temp_dir.h"

namespace {

using platform::RegKey;
using platform::posix::PosixOs;
using kestrel_test::TempDir;
using kestrel_test::WriteText;

constexpr const char* kAdapters = "HARDWARE\\DESCRIPTION\\System\\MultifunctionAdapter";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteText(dir / platform::posix::kRegistryFile,
                  "; test machine\n"
                  "[HARDWARE\\DESCRIPTION\\System\\MultifunctionAdapter\\3\\ParallelController\\0]\n"
                  "Configuration Data = 00 00 00 00 00 00 00 00 01 00 01 00 01 00 00 00,"
                  "01 01 00 00 78 02 00 00 00 00 00 00 03 00 00 00\n"
                  "Tiny = 1\n"
                  "Broken = 0g 11\n"
                  "[hardware\\description\\system\\multifunctionadapter\\4\\parallelcontroller\\1]\n"
                  "CONFIGURATION DATA = ff\n");
    }

    TempDir dir;
    PosixOs os{dir.path()};
};

TEST_F(RegistryTest, OpensKeysAndTheirParentsButNotOthers) {
    RegKey adapters = os.RegOpen(nullptr, kAdapters);
    ASSERT_NE(adapters, nullptr);
    EXPECT_EQ(os.RegOpen(nullptr, "HARDWARE\\DESCRIPTION\\System\\Multifunction"), nullptr);
    EXPECT_EQ(os.LastError(), 2u);
    EXPECT_EQ(os.RegOpen(adapters, "0\\ParallelController\\0"), nullptr);
    RegKey controller = os.RegOpen(adapters, "3\\ParallelController\\0");
    ASSERT_NE(controller, nullptr);
    RegKey other = os.RegOpen(adapters, "4\\PARALLELCONTROLLER\\1");  // any case
    ASSERT_NE(other, nullptr);
    os.RegClose(other);
    os.RegClose(controller);
    os.RegClose(adapters);
}

TEST_F(RegistryTest, QueriesBinaryValuesWithinTheBuffer) {
    RegKey key = os.RegOpen(nullptr, std::string(kAdapters).append("\\3\\ParallelController\\0").c_str());
    ASSERT_NE(key, nullptr);
    std::uint8_t data[64];
    std::memset(data, 0xEE, sizeof data);
    std::uint32_t size = sizeof data;
    ASSERT_TRUE(os.RegQuery(key, "configuration data", data, &size));
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(data[20] | data[21] << 8, 0x0278);
    EXPECT_EQ(data[28], 3);
    EXPECT_EQ(data[32], 0xEE);  // nothing past the value

    // Too small a buffer: the query fails and tells the size needed.
    size = 31;
    std::memset(data, 0xEE, sizeof data);
    EXPECT_FALSE(os.RegQuery(key, "Configuration Data", data, &size));
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(data[0], 0xEE);
    // A null buffer asks for the size only.
    size = 0;
    EXPECT_TRUE(os.RegQuery(key, "Configuration Data", nullptr, &size));
    EXPECT_EQ(size, 32u);

    size = sizeof data;
    ASSERT_TRUE(os.RegQuery(key, "Tiny", data, &size));
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(data[0], 1);
    EXPECT_FALSE(os.RegQuery(key, "Broken", data, &size));  // not hex: not a value
    EXPECT_FALSE(os.RegQuery(key, "Missing", data, &size));
    os.RegClose(key);
}

TEST_F(RegistryTest, ValuesBelongToTheirOwnKeyOnly) {
    RegKey adapters = os.RegOpen(nullptr, kAdapters);
    ASSERT_NE(adapters, nullptr);
    std::uint8_t data[64];
    std::uint32_t size = sizeof data;
    EXPECT_FALSE(os.RegQuery(adapters, "Configuration Data", data, &size));
    os.RegClose(adapters);
}

TEST(RegistryFile, AMissingFileIsAnEmptyRegistry) {
    TempDir dir;
    PosixOs os(dir.path());
    EXPECT_EQ(os.RegOpen(nullptr, kAdapters), nullptr);
    std::uint32_t size = 4;
    EXPECT_FALSE(os.RegQuery(nullptr, "x", nullptr, &size));
}

}  // namespace
