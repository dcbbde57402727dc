// What the child processes of the cross-process tests do. Each role checks
// what it can see and reports through its exit code; the parent checks the
// rest (the shared block and named objects after the child is gone).
#include <cstdlib>
#include <functional>
#include <map>

#include "addin/shared_state.h"
#include "win/addin_dll.h"
#include "win/child.h"
#include "win/roles.h"

namespace wintest {
namespace {

constexpr int kOk = 0;
constexpr int kBadArguments = 10;
constexpr int kNoMutex = 11;
constexpr int kNotAcquired = 12;
constexpr int kNoParent = 13;
constexpr int kNoAddin = 14;
constexpr int kUnexpected = 15;

using Role = std::function<int(const std::vector<std::string>&)>;

// Takes the platform mutex NAME, tells the parent, and waits to be killed.
int HoldMutex(const std::vector<std::string>& args) {
    if (args.size() != 2) return kBadArguments;
    platform::Os& os = platform::NativeOs();
    platform::MutexHandle mutex = os.MutexCreate(args[0].c_str());
    if (mutex == nullptr) return kNoMutex;
    if (os.MutexWait(mutex) != platform::WaitResult::Acquired) return kNotAcquired;
    if (!SignalReady(args[1])) return kNoParent;
    ::Sleep(60000);
    return kOk;
}

// Takes the platform mutex NAME and ends without releasing it.
int ExitHoldingMutex(const std::vector<std::string>& args) {
    if (args.size() != 1) return kBadArguments;
    platform::Os& os = platform::NativeOs();
    platform::MutexHandle mutex = os.MutexCreate(args[0].c_str());
    if (mutex == nullptr) return kNoMutex;
    return os.MutexWait(mutex) == platform::WaitResult::Acquired ? kOk : kNotAcquired;
}

// Reads the value the parent left in this program's shared block and
// answers with the value plus one.
int SharedPeer(const std::vector<std::string>& args) {
    if (args.size() != 1) return kBadArguments;
    std::uint32_t expected = std::strtoul(args[0].c_str(), nullptr, 10);
    McbRecord& record = platform::NativeOs().Shared()->records[kPeerRecord];
    if (record.dwDetectorWord[kParentWord] != expected) return kUnexpected;
    record.dwDetectorWord[kChildWord] = expected + 1;
    return kOk;
}

// Loads the add-in while the parent has it open, then opens and closes it
// once. What it saw goes to the shared block for the parent to check.
int AddinPeer(const std::vector<std::string>& args) {
    if (!args.empty()) return kBadArguments;
    AddinDll addin;
    if (!addin.Loaded()) return kNoAddin;
    std::uint32_t dwMarker = addin.Record(kPeerMcb).dwDetectorWord[kParentWord];
    std::uint32_t countAtLoad = static_cast<std::uint32_t>(addin.SystemOpenCount());
    addin->Open();
    std::uint32_t countAfterOpen = static_cast<std::uint32_t>(addin.SystemOpenCount());
    addin->Close();
    std::uint32_t countAfterClose = static_cast<std::uint32_t>(addin.SystemOpenCount());

    std::uint32_t* pdwReport = addin.Record(kPeerMcb).dwDetectorWord;
    pdwReport[kReportMarker] = dwMarker;
    pdwReport[kReportCountAtLoad] = countAtLoad;
    pdwReport[kReportCountAfterOpen] = countAfterOpen;
    pdwReport[kReportCountAfterClose] = countAfterClose;
    return kOk;
}

// Loads the add-in, takes its mutex, tells the parent, waits to be killed.
int AddinHoldMutex(const std::vector<std::string>& args) {
    if (args.size() != 1) return kBadArguments;
    AddinDll addin;
    if (!addin.Loaded()) return kNoAddin;
    HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, kAddinMutexName);
    if (mutex == nullptr) return kNoMutex;
    if (::WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return kNotAcquired;
    if (!SignalReady(args[0])) return kNoParent;
    ::Sleep(60000);
    return kOk;
}

}  // namespace

int RunChildRole(const std::string& role, const std::vector<std::string>& args) {
    static const std::map<std::string, Role> roles = {
        {"hold-mutex", HoldMutex},
        {"exit-holding-mutex", ExitHoldingMutex},
        {"shared-peer", SharedPeer},
        {"addin-peer", AddinPeer},
        {"addin-hold-mutex", AddinHoldMutex},
    };
    auto found = roles.find(role);
    return found == roles.end() ? kBadArguments : found->second(args);
}

}  // namespace wintest
