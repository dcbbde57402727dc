#include "kestrel/addin.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <string>

#include "kestrel/tool_error.h"

namespace kestrel_tool {
namespace {

constexpr const char* kAddinFile = "kestrel.so";
constexpr const char* kExportName = "AAPI_Addin";
// Big enough for any reply the mailbox can carry.
constexpr int kResponseSize = 512;

std::string ProgramDirectory() {
    char path[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string text(path, static_cast<std::size_t>(length));
    std::size_t slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

}  // namespace

std::string LocateAddin(const std::string& explicitPath) {
    if (!explicitPath.empty()) return explicitPath;
    const char* fromEnvironment = std::getenv("KESTREL_ADDIN");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
    return ProgramDirectory() + "/" + kAddinFile;
}

std::unique_ptr<Addin> Addin::Load(const std::string& path) {
    if (::access(path.c_str(), R_OK) != 0)
        throw ToolError(kExitEnvironment,
                        "cannot find the add-in library " + path + ": " + std::strerror(errno) +
                            " (give its path with --addin PATH or KESTREL_ADDIN)");
    // A bare name would make dlopen search the library path instead.
    std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    // Never unloaded before the process ends, as under the host: the add-in
    // keeps process-wide objects that must outlive every call.
    void* library = ::dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        throw ToolError(kExitEnvironment, "cannot load the add-in library " + path + ": " +
                                              (reason ? reason : "unknown error"));
    }
    void* object = ::dlsym(library, kExportName);
    if (object == nullptr || *static_cast<void**>(object) == nullptr) {
        ::dlclose(library);
        throw ToolError(kExitEnvironment,
                        path + " is not an add-in: it exports no " + kExportName);
    }
    return std::unique_ptr<Addin>(new Addin(library, object));
}

Addin::~Addin() { ::dlclose(library_); }

bool Addin::Open() { return Slot<slots::OpenFn>(slots::kOpen)(object_); }

bool Addin::Close() { return Slot<slots::CloseFn>(slots::kClose)(object_); }

std::int32_t Addin::SetDebugLevel(std::int32_t level) {
    return Slot<slots::SetDebugLevelFn>(slots::kSetDebugLevel)(object_, level);
}

bool Addin::IsValidDetector(int mcb, int det) {
    return Slot<slots::IsValidDetectorFn>(slots::kIsValidDetector)(object_, mcb, det);
}

CommandResult Addin::SendCommand(int mcb, int det, const std::string& command) {
    char response[kResponseSize] = {};
    std::int32_t length = 0;
    CommandResult result;
    result.completed = Slot<slots::SendCommandFn>(slots::kSendCommand)(
        object_, mcb, det, command.c_str(), kResponseSize, response, &length, &result.localErr,
        &result.status2);
    // Trust neither the length nor the terminator more than the buffer.
    response[kResponseSize - 1] = '\0';
    std::size_t stored = std::char_traits<char>::length(response);
    if (length >= 0) stored = std::min(stored, static_cast<std::size_t>(length));
    result.response.assign(response, stored);
    return result;
}

std::string Addin::McbVersion(int mcb) {
    char version[16] = {};
    if (!Slot<slots::GetMcbVersionFn>(slots::kGetMcbVersion)(object_, mcb, version, sizeof version))
        return {};
    version[sizeof version - 1] = '\0';
    return version;
}

int Addin::DetectorCount(int mcb) {
    return Slot<slots::GetDetectorCountFn>(slots::kGetDetectorCount)(object_, mcb);
}

std::uint32_t Addin::DetectorChannels(int mcb, int det) {
    return Slot<slots::GetDetectorChannelsFn>(slots::kGetDetectorChannels)(object_, mcb, det);
}

std::vector<std::uint32_t> Addin::Features(int mcb, int det) {
    std::vector<std::uint32_t> words(16, 0);
    if (!Slot<slots::GetFeaturesFn>(slots::kGetFeatures)(object_, mcb, det, words.data(),
                                                         static_cast<std::int32_t>(words.size())))
        return {};
    return words;
}

std::uint32_t Addin::Lock(int mcb, int det, std::string* owner) {
    char text[128] = {};
    std::uint32_t lock =
        Slot<slots::GetLockFn>(slots::kGetLock)(object_, mcb, det, text, sizeof text);
    text[sizeof text - 1] = '\0';
    if (owner) *owner = text;
    return lock;
}

void Addin::SetLock(int mcb, int det, std::uint32_t lock, const std::string& owner) {
    Slot<slots::SetLockFn>(slots::kSetLock)(object_, mcb, det, lock, owner.c_str());
}

bool Addin::SetAppData(int mcb, int det, const std::string& name, const std::string& value) {
    return Slot<slots::SetAppDataFn>(slots::kSetAppData)(object_, mcb, det, name.c_str(),
                                                         value.c_str());
}

std::string Addin::AppData(int mcb, int det, const std::string& name) {
    char value[160] = {};
    std::int32_t length = Slot<slots::GetAppDataFn>(slots::kGetAppData)(
        object_, mcb, det, name.c_str(), "", value, static_cast<std::int32_t>(sizeof value));
    value[sizeof value - 1] = '\0';
    return length > 0 ? std::string(value) : std::string();
}

std::uint32_t Addin::StartTime(int mcb, int det, std::uint32_t* now) {
    return Slot<slots::LocalGetStartTimeFn>(slots::kLocalGetStartTime)(object_, mcb, det, now);
}

void Addin::SetStartTime(int mcb, int det) {
    Slot<slots::SetStartTimeFn>(slots::kSetStartTime)(object_, mcb, det, 0);
}

bool Addin::Description(int mcb, int det, std::string* text, bool* isDefault) {
    char buffer[520] = {};  // 128 characters of UTF-8
    bool fallback = true;
    bool valid = Slot<slots::GetDescriptionFn>(slots::kGetDescription)(object_, mcb, det, buffer,
                                                                       sizeof buffer, &fallback);
    buffer[sizeof buffer - 1] = '\0';
    if (text) *text = buffer;
    if (isDefault) *isDefault = fallback;
    return valid;
}

bool Addin::DetectorId(int mcb, int det, std::uint32_t* id, bool* isDefault) {
    std::uint32_t value = 0;
    bool fallback = true;
    bool valid =
        Slot<slots::GetDetectorIdFn>(slots::kGetDetectorId)(object_, mcb, det, &value, &fallback);
    if (id) *id = value;
    if (isDefault) *isDefault = fallback;
    return valid;
}

RoiResult Addin::SetRoi(int mcb, int det, std::uint32_t start, std::uint32_t length, int view) {
    RoiResult result;
    result.code = Slot<slots::RoiFn>(slots::kSetRoi)(object_, mcb, det, start, length, view,
                                                     &result.localErr, &result.status2);
    return result;
}

RoiResult Addin::ClearRoi(int mcb, int det, std::uint32_t start, std::uint32_t length, int view) {
    RoiResult result;
    result.code = Slot<slots::RoiFn>(slots::kClearRoi)(object_, mcb, det, start, length, view,
                                                       &result.localErr, &result.status2);
    return result;
}

std::int32_t Addin::GetData(int mcb, int det, std::uint32_t start, std::int32_t count, int view,
                            std::uint32_t* words, std::uint32_t* dataMask,
                            std::uint32_t* auxMask) {
    return Slot<slots::GetDataFn>(slots::kGetData)(object_, mcb, det, dataMask, auxMask, 0, start,
                                                   count, view, words);
}

bool Addin::IsActive(int mcb, int det, std::int32_t* status) {
    return Slot<slots::IsActiveFn>(slots::kIsActive)(object_, mcb, det, status);
}

}  // namespace kestrel_tool
