// Registry reads: keys below HKEY_LOCAL_MACHINE and below an open key, and
// values that fit the caller's buffer or not.
#include <gtest/gtest.h>

#include "win/child.h"

namespace wintest {
namespace {

constexpr char kValueName[] = "Configuration Data";

class Win32Registry : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = "SOFTWARE\\" + UniqueName("KestrelTest");
        HKEY hKey = nullptr;
        const std::string controller = root_ + "\\0\\ParallelController\\0";
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, controller.c_str(), 0, nullptr, 0,
                                    KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        BYTE data[32] = {};
        data[20] = 0x78;
        data[21] = 0x02;
        EXPECT_EQ(::RegSetValueExA(hKey, kValueName, 0, REG_FULL_RESOURCE_DESCRIPTOR, data,
                                   sizeof data),
                  ERROR_SUCCESS);
        ::RegCloseKey(hKey);
    }
    void TearDown() override {
        for (const char* sub : {"\\0\\ParallelController\\0", "\\0\\ParallelController", "\\0", ""})
            ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, (root_ + sub).c_str());
    }

    platform::Os& os_ = platform::NativeOs();
    std::string root_;
};

TEST_F(Win32Registry, ReadsAValueBelowAnOpenKey) {
    platform::RegKey adapter = os_.RegOpen(nullptr, root_.c_str());
    ASSERT_NE(adapter, nullptr);
    platform::RegKey controller = os_.RegOpen(adapter, "0\\ParallelController\\0");
    ASSERT_NE(controller, nullptr);

    std::uint8_t data[64] = {};
    std::uint32_t size = sizeof data;
    EXPECT_TRUE(os_.RegQuery(controller, kValueName, data, &size));
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(data[20] | data[21] << 8, 0x0278);
    os_.RegClose(controller);
    os_.RegClose(adapter);
}

TEST_F(Win32Registry, ValueLargerThanTheBufferFails) {
    platform::RegKey controller =
        os_.RegOpen(nullptr, (root_ + "\\0\\ParallelController\\0").c_str());
    ASSERT_NE(controller, nullptr);
    std::uint8_t data[16] = {};
    std::uint32_t size = sizeof data;
    EXPECT_FALSE(os_.RegQuery(controller, kValueName, data, &size));
    os_.RegClose(controller);
}

TEST_F(Win32Registry, MissingKeysAndValuesFail) {
    EXPECT_EQ(os_.RegOpen(nullptr, (root_ + "\\3\\ParallelController\\0").c_str()), nullptr);
    platform::RegKey adapter = os_.RegOpen(nullptr, root_.c_str());
    ASSERT_NE(adapter, nullptr);
    EXPECT_EQ(os_.RegOpen(adapter, "0\\ParallelController\\1"), nullptr);

    platform::RegKey controller = os_.RegOpen(adapter, "0\\ParallelController\\0");
    ASSERT_NE(controller, nullptr);
    std::uint8_t data[64] = {};
    std::uint32_t size = sizeof data;
    EXPECT_FALSE(os_.RegQuery(controller, "Other Data", data, &size));
    os_.RegClose(controller);
    os_.RegClose(adapter);
}

}  // namespace
}  // namespace wintest
