// Opening the printer-port driver of the platform at a process's start-up.
#include <cstdio>
#include <cstring>

#include "addin/kestrel.h"
#include "addin/process_state.h"
#include "addin/trace.h"
#include "common/le32.h"
#include "common/names.h"
#include "platform/platform.h"
#include "port/device_memory.h"

namespace {

constexpr const char* INI_FILE = "HVNACC32.INI";
constexpr const char* ADAPTER_KEY = "HARDWARE\\DESCRIPTION\\System\\MultifunctionAdapter";
constexpr std::uint32_t GENERIC_READ_WRITE = 0xC0000000;
constexpr std::uint32_t SHARE_READ_WRITE = 3;
constexpr std::uint32_t OPEN_EXISTING_FILE = 3;
constexpr std::uint32_t DELETE_ON_CLOSE = 0x04000000;
constexpr std::uint32_t DEFAULT_PORT_ADDRESS = 0x378;

void CloseDriver() {
    ProcessState& process = Process();
    platform::os().DriverClose(process.hPortDriver);
    process.hPortDriver = platform::kInvalidHandle;
}

// The port address from the first parallel controller entry of the
// registry that has a usable resource descriptor; 0x378 without one.
std::uint32_t FindPortAddress(std::int32_t nLptPort) {
    platform::Os& os = platform::os();
    std::uint32_t uPrinterPortAddr = DEFAULT_PORT_ADDRESS;
    platform::RegKey hAdapters = os.RegOpen(nullptr, ADAPTER_KEY);
    if (hAdapters == nullptr) {
        DebugTrace(0, "Kestrel::ProcessStartup(): Error opening MultifunctionAdapter key\r\n");
        return uPrinterPortAddr;
    }
    DebugTrace(0, "Kestrel::ProcessStartup(): MultifunctionAdapter key found\r\n");
    for (int nAdapter = 0; nAdapter <= 9; ++nAdapter) {
        // An LPT setting of up to ten characters fits the 32-character name;
        // a longer one would be cut into another controller's name, so it
        // counts as no key.
        char szSubKey[32];
        int nNeeded = std::snprintf(szSubKey, sizeof szSubKey, "%d\\ParallelController\\%d", nAdapter, nLptPort);
        if (nNeeded < 0 || nNeeded >= static_cast<int>(sizeof szSubKey)) continue;
        platform::RegKey hController = os.RegOpen(hAdapters, szSubKey);
        if (hController == nullptr) continue;
        DebugTrace(0, "Kestrel::ProcessStartup(): Parallel Controller %d key found on Adapter %d\r\n",
                   nLptPort, nAdapter);
        unsigned char data[64];
        std::uint32_t dwSize = sizeof data;
        bool bRead = os.RegQuery(hController, "Configuration Data", data, &dwSize);
        os.RegClose(hController);
        if (bRead && dwSize >= 22) {
            uPrinterPortAddr = static_cast<std::uint32_t>(data[20] | (data[21] << 8));
            DebugTrace(0, "Kestrel::ProcessStartup(): %d bytes returned from registry, Port Addr=0x%04X\r\n",
                       static_cast<int>(dwSize), uPrinterPortAddr);
            break;
        }
    }
    os.RegClose(hAdapters);
    return uPrinterPortAddr;
}

// Opens the driver and reads the LPT setting; false, with a trace naming
// the system's error, when the driver cannot be opened.
bool OpenDriver(const char* szDevice, std::uint32_t dwAccess, std::uint32_t dwShare, std::uint32_t dwDisposition,
                std::uint32_t dwFlags, const char* szPort, const char* szDriver) {
    platform::Os& os = platform::os();
    ProcessState& process = Process();
    process.hPortDriver = os.DriverOpen(szDevice, dwAccess, dwShare, dwDisposition, dwFlags);
    if (process.hPortDriver == platform::kInvalidHandle) {
        char szError[64];
        FormatLastError(szError, sizeof szError);
        DebugTrace(0, "Kestrel::ProcessStartup(): Error opening %s printer port, %s error = %d (%s)\r\n", szPort,
                   szDriver, static_cast<int>(os.LastError()), szError);
        return false;
    }
    process.nLptPort = static_cast<std::int32_t>(os.ProfileInt("CONFIG", "LPT", 0, INI_FILE));
    return true;
}

void OpenNtDriver() {
    platform::Os& os = platform::os();
    ProcessState& process = Process();
    if (!OpenDriver(NT_DEVICE, GENERIC_READ_WRITE, SHARE_READ_WRITE, OPEN_EXISTING_FILE, 0, "WinNT", "Driver")) return;
    std::uint32_t uPrinterPortAddr = FindPortAddress(process.nLptPort);
    DebugTrace(0, "Kestrel::ProcessStartup(): port = %d, uPrinterPortAddr = 0x%04X\n",
               process.nLptPort, uPrinterPortAddr);
    if (uPrinterPortAddr == 0) {
        DebugTrace(0, "Kestrel::ProcessStartup(): Error opening printer port, no LPT%d to open\r\n",
                   process.nLptPort);
        CloseDriver();
        return;
    }
    unsigned char address[4];
    PutLE32(address, uPrinterPortAddr);
    std::uint32_t dwReturned = 0;
    os.DriverIoctl(process.hPortDriver, NT_SET_PORT, address, 4, address, 4, &dwReturned);
}

void OpenW95Driver() {
    platform::Os& os = platform::os();
    ProcessState& process = Process();
    if (!OpenDriver(W95_DEVICE, 0, 0, 0, DELETE_ON_CLOSE, "Win95", "VxD")) return;
    unsigned char lpt[4];
    PutLE32(lpt, static_cast<std::uint32_t>(process.nLptPort));
    // A request that fails leaves the word at 0, which reads as "no LPT".
    unsigned char result[4] = {0, 0, 0, 0};
    std::uint32_t dwReturned = 0;
    os.DriverIoctl(process.hPortDriver, W95_SET_LPT, lpt, 4, result, 4, &dwReturned);
    std::int32_t nResult = static_cast<std::int32_t>(GetLE32(result));
    switch (nResult) {
    case 0:
        DebugTrace(0, "Kestrel::ProcessStartup(): Error opening printer port, no LPT to open\r\n");
        CloseDriver();
        break;
    case -3:
        DebugTrace(0, "Kestrel::ProcessStartup(): Error opening printer port, LPT not available\r\n");
        CloseDriver();
        break;
    case -1:
        DebugTrace(0, "Kestrel::ProcessStartup(): Error opening printer port, Cannot load the VxD\r\n");
        CloseDriver();
        break;
    default:
        DebugTrace(1, "Kestrel::ProcessStartup(): VxD is loaded and ready on LPT%d=0x%x\r\n",
                   process.nLptPort, static_cast<unsigned>(nResult));
        break;
    }
}

}  // namespace

void Kestrel::ProcessStartup(std::uint32_t) {
    ProcessState& process = Process();
    process.dwPlatformId = platform::os().PlatformId();
    DebugTrace(1, "Kestrel::ProcessStartup(): Printer Port open requested\r\n");
    if (process.hPortDriver == platform::kInvalidHandle) {
        if (process.dwPlatformId == platform::kPlatformNt)
            OpenNtDriver();
        else
            OpenW95Driver();
    }
    InitDetectors();
}

void Kestrel::ProcessShutdown(std::uint32_t) {
    if (Process().hPortDriver != platform::kInvalidHandle) CloseDriver();
}
