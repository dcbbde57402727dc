#include "support/fake_os.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "addin/process_state.h"
#include "common/le32.h"
#include "sim/driver.h"

namespace fake {
namespace {

std::string Lower(const char* text) {
    std::string result = text ? text : "";
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

}  // namespace

FakeOs::FakeOs() = default;
FakeOs::~FakeOs() = default;

std::string FakeOs::TraceText() const {
    std::string all;
    for (const auto& line : trace) all += line;
    return all;
}

int FakeOs::CountTrace(const std::string& line) const {
    return static_cast<int>(std::count(trace.begin(), trace.end(), line));
}

platform::MutexHandle FakeOs::MutexCreate(const char*) {
    if (failMutexCreate) {
        lastError_ = 5;
        return nullptr;
    }
    return &mutex_;
}

platform::WaitResult FakeOs::MutexWait(platform::MutexHandle) {
    if (failMutexWait) return platform::WaitResult::Failed;
    ++mutexWaiters;
    mutex_.lock();
    --mutexWaiters;
    ++depth_;
    ++mutexAcquisitions;
    return platform::WaitResult::Acquired;
}

bool FakeOs::MutexRelease(platform::MutexHandle) {
    if (failMutexWait) return false;
    ++mutexReleases;
    --depth_;
    mutex_.unlock();
    return true;
}

void FakeOs::MutexClose(platform::MutexHandle) { ++mutexCloses; }

void FakeOs::SleepMs(std::uint32_t ms) {
    ++sleeps;
    Advance(ms);
}

void FakeOs::DebugOutput(const char* text) {
    trace.emplace_back(text);
}

std::uint32_t FakeOs::FormatSystemMessage(std::uint32_t error, char* buffer, int size) {
    const char* text = error == 2 ? "The system cannot find the file specified." : nullptr;
    if (!text || size <= 0) return 0;
    std::snprintf(buffer, static_cast<std::size_t>(size), "%s", text);
    return static_cast<std::uint32_t>(std::strlen(buffer));
}

std::uint32_t FakeOs::ProfileInt(const char* section, const char* key, int defaultValue, const char* file) {
    char buffer[32];
    if (ProfileString(section, key, "", buffer, sizeof buffer, file) == 0)
        return static_cast<std::uint32_t>(defaultValue);
    return static_cast<std::uint32_t>(std::strtol(buffer, nullptr, 10));
}

std::uint32_t FakeOs::ProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                                    std::uint32_t size, const char* file) {
    std::string value = defaultValue ? defaultValue : "";
    auto f = profiles.find(Lower(file));
    if (f != profiles.end()) {
        auto s = f->second.find(Lower(section));
        if (s != f->second.end()) {
            auto k = s->second.find(Lower(key));
            if (k != s->second.end()) value = k->second;
        }
    }
    if (size == 0) return 0;
    std::size_t length = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return static_cast<std::uint32_t>(length);
}

bool FakeOs::ProfileWrite(const char* section, const char* key, const char* value, const char* file) {
    auto& keys = profiles[Lower(file)][Lower(section)];
    if (value)
        keys[Lower(key)] = value;
    else
        keys.erase(Lower(key));
    return true;
}

platform::RegKey FakeOs::RegOpen(platform::RegKey parent, const char* subKey) {
    std::string path = parent ? *static_cast<std::string*>(parent) + "\\" + subKey : std::string(subKey);
    if (!registry.count(path)) {
        // A key exists when it or a key below it was set up.
        bool below = std::any_of(registry.begin(), registry.end(),
                                 [&](const auto& entry) { return entry.first.rfind(path + "\\", 0) == 0; });
        if (!below) return nullptr;
    }
    regKeys_.push_back(std::make_unique<std::string>(path));
    ++openRegKeys;
    return regKeys_.back().get();
}

bool FakeOs::RegQuery(platform::RegKey key, const char* valueName, std::uint8_t* data, std::uint32_t* size) {
    auto k = registry.find(*static_cast<std::string*>(key));
    if (k == registry.end()) return false;
    auto v = k->second.find(valueName);
    if (v == k->second.end() || v->second.size() > *size) return false;
    std::memcpy(data, v->second.data(), v->second.size());
    *size = static_cast<std::uint32_t>(v->second.size());
    return true;
}

void FakeOs::RegClose(platform::RegKey) { --openRegKeys; }

std::intptr_t FakeOs::DriverOpen(const char* path, std::uint32_t access, std::uint32_t share,
                                 std::uint32_t disposition, std::uint32_t flags) {
    opens.push_back({path, access, share, disposition, flags});
    auto device = devices.find(path);
    if (device == devices.end()) {
        lastError_ = openError;
        return platform::kInvalidHandle;
    }
    auto driver = device->second();
    driver->resolveFlat = [this](std::uint32_t flat, std::uint32_t) { return ResolveFlat(flat); };
    lastDriver_ = driver;
    std::intptr_t handle = nextHandle_++;
    handles_[handle] = driver;
    return handle;
}

bool FakeOs::DriverIoctl(std::intptr_t driver, std::uint32_t code, const void* in, std::uint32_t inLen, void* out,
                         std::uint32_t outLen, std::uint32_t* returned) {
    ++driverRequests;
    nowMicros += requestCostMicros;
    if (logRequests) {
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        Request request{code, std::vector<std::uint8_t>(bytes, bytes + (bytes ? inLen : 0)), outLen,
                        out == nullptr, {}};
        if (code == 3 && inLen == 20) {
            if (const std::uint8_t* flat = ResolveFlat(GetLE32(bytes + 12)))
                request.flatBytes.assign(flat, flat + GetLE32(bytes + 8));
        }
        requestLog.push_back(std::move(request));
    }
    // The last handle used is remembered: a run of requests goes to one
    // driver, and the lookup would otherwise dominate the double's cost.
    if (driver != cachedHandle_) {
        auto handle = handles_.find(driver);
        cachedHandle_ = driver;
        cachedDriver_ = handle == handles_.end() ? nullptr : handle->second.get();
    }
    bool ok = cachedDriver_ && cachedDriver_->ioctl(code, in, inLen, out, outLen, returned);
    if (!flat_.empty()) flat_.clear();  // a flat address is good for the one request that carries it
    return ok;
}

void FakeOs::DriverClose(std::intptr_t driver) {
    ++driverCloses;
    handles_.erase(driver);
    cachedHandle_ = platform::kInvalidHandle;
    cachedDriver_ = nullptr;
}

std::uint32_t FakeOs::FlatAddress(const void* bytes) {
    std::uint32_t token = nextFlat_++;
    flat_[token] = bytes;
    return token;
}

const std::uint8_t* FakeOs::ResolveFlat(std::uint32_t flat) const {
    auto found = flat_.find(flat);
    return found == flat_.end() ? nullptr : static_cast<const std::uint8_t*>(found->second);
}

void* FakeOs::HostFunction(const char* name) {
    auto found = hostFunctions.find(name);
    return found == hostFunctions.end() ? nullptr : found->second;
}

Installed::Installed(FakeOs& os) {
    Process() = ProcessState{};
    platform::SetOs(&os);
}

Installed::~Installed() {
    platform::SetOs(nullptr);
    Process() = ProcessState{};
}

}  // namespace fake
