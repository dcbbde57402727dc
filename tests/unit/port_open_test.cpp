// Start-up of the printer-port link on both platforms.
#include <gtest/gtest.h>

#include <vector>

#include "support/rig.h"

namespace {

constexpr const char* kAdapters = "HARDWARE\\DESCRIPTION\\System\\MultifunctionAdapter";

std::vector<std::uint8_t> Descriptor(std::size_t size, std::uint16_t address) {
    std::vector<std::uint8_t> data(size, 0);
    if (size >= 22) {
        data[20] = static_cast<std::uint8_t>(address);
        data[21] = static_cast<std::uint8_t>(address >> 8);
    }
    return data;
}

class PortOpen : public ::testing::Test {
protected:
    fake::Rig rig;
    void SetUp() override { rig.os.logRequests = true; }
    void Controller(int adapter, int lpt, std::vector<std::uint8_t> data) {
        rig.os.registry[std::string(kAdapters) + "\\" + std::to_string(adapter) + "\\ParallelController\\" +
                        std::to_string(lpt)]["Configuration Data"] = std::move(data);
    }
    // The port address the NT driver was told, or -1.
    long ToldAddress() {
        for (const auto& request : rig.os.requestLog)
            if (request.code == 0x9C402400u && request.in.size() == 4)
                return request.in[0] | request.in[1] << 8 | request.in[2] << 16 | request.in[3] << 24;
        return -1;
    }
    std::vector<std::string> Level0() { return rig.os.trace; }
};

TEST_F(PortOpen, NtWalkStopsAtTheFirstUsableDescriptor) {
    rig.ConnectNt();
    Controller(0, 0, Descriptor(32, 0x0278));
    rig.addin.ProcessStartup(1);
    EXPECT_EQ(ToldAddress(), 0x278);
    EXPECT_NE(Process().hPortDriver, platform::kInvalidHandle);
    const std::vector<std::string> expected = {
        "Kestrel::ProcessStartup(): MultifunctionAdapter key found\r\n",
        "Kestrel::ProcessStartup(): Parallel Controller 0 key found on Adapter 0\r\n",
        "Kestrel::ProcessStartup(): 32 bytes returned from registry, Port Addr=0x0278\r\n",
        "Kestrel::ProcessStartup(): port = 0, uPrinterPortAddr = 0x0278\n",
        "Kestrel: No detectors for local access\r\n"};
    EXPECT_EQ(rig.os.trace, expected);
    ASSERT_EQ(rig.os.opens.size(), 1u);
    EXPECT_EQ(rig.os.opens[0].path, "\\\\.\\TarnDev");
    EXPECT_EQ(rig.os.opens[0].access, 0xC0000000u);
    EXPECT_EQ(rig.os.opens[0].share, 3u);
    EXPECT_EQ(rig.os.opens[0].disposition, 3u);
    EXPECT_EQ(rig.os.opens[0].flags, 0u);
    EXPECT_EQ(rig.os.openRegKeys, 0);  // every key opened was closed
}

TEST_F(PortOpen, NtWalkTriesAdaptersInOrderWithTheIniPort) {
    rig.ConnectNt();
    rig.os.profiles["hvnacc32.ini"]["config"]["lpt"] = "2";
    Controller(3, 2, Descriptor(24, 0x03BC));
    Controller(5, 2, Descriptor(24, 0x0278));
    rig.addin.ProcessStartup(0);
    EXPECT_EQ(ToldAddress(), 0x3BC);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::ProcessStartup(): Parallel Controller 2 key found on Adapter 3\r\n"), 1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::ProcessStartup(): Parallel Controller 2 key found on Adapter 5\r\n"), 0);
    EXPECT_EQ(Process().nLptPort, 2);
}

TEST_F(PortOpen, AnLptSettingTooLongForTheKeyNameOpensNoOtherControllersKey) {
    rig.ConnectNt();
    rig.os.profiles["hvnacc32.ini"]["config"]["lpt"] = "-2147483648";
    // The name cut to 31 characters would be this controller's.
    rig.os.registry[std::string(kAdapters) + "\\0\\ParallelController\\-214748364"]["Configuration Data"] =
        Descriptor(24, 0x0278);
    rig.addin.ProcessStartup(1);
    EXPECT_EQ(ToldAddress(), 0x378);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::ProcessStartup(): Parallel Controller -2147483648 key found on Adapter 0\r\n"),
              0);
    EXPECT_EQ(rig.os.openRegKeys, 0);
}

TEST_F(PortOpen, UnusableDescriptorsFallBackTo378) {
    rig.ConnectNt();
    Controller(0, 0, Descriptor(20, 0));
    Controller(1, 0, Descriptor(65, 0x0278));  // does not fit the 64-byte buffer
    rig.addin.ProcessStartup(1);
    EXPECT_EQ(ToldAddress(), 0x378);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::ProcessStartup(): port = 0, uPrinterPortAddr = 0x0378\n"), 1);
}

TEST_F(PortOpen, AZeroAddressClosesTheDriver) {
    rig.ConnectNt();
    rig.os.profiles["hvnacc32.ini"]["config"]["lpt"] = "1";
    Controller(0, 1, Descriptor(22, 0));
    rig.addin.ProcessStartup(1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::ProcessStartup(): Error opening printer port, no LPT1 to open\r\n"), 1);
    EXPECT_EQ(Process().hPortDriver, platform::kInvalidHandle);
    EXPECT_EQ(rig.os.driverCloses, 1);
    EXPECT_EQ(ToldAddress(), -1);
}

TEST_F(PortOpen, AMissingAdapterKeyIsReportedAndTheDefaultUsed) {
    rig.ConnectNt();
    rig.addin.ProcessStartup(1);
    EXPECT_EQ(rig.os.trace[0], "Kestrel::ProcessStartup(): Error opening MultifunctionAdapter key\r\n");
    EXPECT_EQ(rig.os.trace[1], "Kestrel::ProcessStartup(): port = 0, uPrinterPortAddr = 0x0378\n");
    EXPECT_EQ(ToldAddress(), 0x378);
}

TEST_F(PortOpen, ADriverThatCannotOpenIsReportedWithTheSystemText) {
    rig.os.platformId = platform::kPlatformNt;  // nothing serves the path
    rig.addin.ProcessStartup(1);
    EXPECT_EQ(rig.os.trace[0],
              "Kestrel::ProcessStartup(): Error opening WinNT printer port, Driver error = 2 (The system cannot "
              "find the file specified.)\r\n");
    EXPECT_EQ(rig.os.trace.back(), "Kestrel: No detectors for local access\r\n");
    EXPECT_EQ(Process().hPortDriver, platform::kInvalidHandle);
    rig.os.platformId = platform::kPlatformWin95;
    rig.os.ClearTrace();
    rig.addin.ProcessStartup(1);
    EXPECT_EQ(rig.os.trace[0],
              "Kestrel::ProcessStartup(): Error opening Win95 printer port, VxD error = 2 (The system cannot "
              "find the file specified.)\r\n");
}

TEST_F(PortOpen, Win95ReadyPortKeepsTheDriverOpen) {
    rig.ConnectWin95(0x378);
    rig.os.profiles["hvnacc32.ini"]["config"]["lpt"] = "1";
    Process().nDebugLevel = 1;
    rig.addin.ProcessStartup(1);
    EXPECT_EQ(rig.os.CountTrace("Kestrel::ProcessStartup(): VxD is loaded and ready on LPT1=0x378\r\n"), 1);
    EXPECT_NE(Process().hPortDriver, platform::kInvalidHandle);
    ASSERT_EQ(rig.os.opens.size(), 1u);
    EXPECT_EQ(rig.os.opens[0].path, "\\\\.\\KMZ01D.VXD");
    EXPECT_EQ(rig.os.opens[0].access, 0u);
    EXPECT_EQ(rig.os.opens[0].flags, 0x04000000u);
    const auto& request = rig.os.requestLog.front();
    EXPECT_EQ(request.code, 1u);
    EXPECT_EQ(request.in, (std::vector<std::uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(request.outLen, 4u);
}

TEST_F(PortOpen, Win95RefusalsCloseTheDriverAndStillEnumerate) {
    const std::pair<std::int32_t, const char*> refusals[] = {
        {0, "Kestrel::ProcessStartup(): Error opening printer port, no LPT to open\r\n"},
        {-3, "Kestrel::ProcessStartup(): Error opening printer port, LPT not available\r\n"},
        {-1, "Kestrel::ProcessStartup(): Error opening printer port, Cannot load the VxD\r\n"}};
    for (const auto& [answer, message] : refusals) {
        rig.ConnectWin95(answer);
        rig.os.ClearTrace();
        rig.addin.ProcessStartup(1);
        EXPECT_EQ(rig.os.CountTrace(message), 1) << answer;
        EXPECT_EQ(rig.os.trace.back(), "Kestrel: No detectors for local access\r\n");
        EXPECT_EQ(Process().hPortDriver, platform::kInvalidHandle);
    }
    EXPECT_EQ(rig.os.driverCloses, 3);
}

TEST_F(PortOpen, AnOpenDriverIsOnlyEnumeratedAgainAndShutdownClosesIt) {
    rig.ConnectNt();
    rig.addin.ProcessStartup(1);
    rig.os.ClearTrace();
    rig.addin.ProcessStartup(0);
    EXPECT_EQ(rig.os.opens.size(), 1u);
    EXPECT_EQ(rig.os.trace, (std::vector<std::string>{"Kestrel: No detectors for local access\r\n"}));
    rig.addin.ProcessShutdown(1);
    EXPECT_EQ(Process().hPortDriver, platform::kInvalidHandle);
    rig.addin.ProcessShutdown(1);
    EXPECT_EQ(rig.os.driverCloses, 1);
}

}  // namespace
