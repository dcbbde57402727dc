// The add-in library, loaded as the host library loads it: dlopen, the
// exported object "AAPI_Addin", and calls through its interface table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kestrel/addin_slots.h"
#include "kestrel/watchdog.h"

namespace kestrel_tool {

// Where to find the add-in: `explicitPath` when given, else $KESTREL_ADDIN,
// else kestrel.so beside this program.
std::string LocateAddin(const std::string& explicitPath);

struct CommandResult {
    bool completed = false;   // the exchange went through
    std::int32_t localErr = 0;
    std::int32_t status2 = 0;
    std::string response;
};

struct RoiResult {
    std::int32_t code = 0;  // ROI_DONE, or a failure (reply_text.h)
    std::int32_t localErr = 0;
    std::int32_t status2 = 0;
};

class Addin {
public:
    // Loads the library at `path`. Throws ToolError (environment) when it
    // cannot be loaded or exports no "AAPI_Addin".
    static std::unique_ptr<Addin> Load(const std::string& path);
    ~Addin();
    Addin(const Addin&) = delete;
    Addin& operator=(const Addin&) = delete;

    bool Open();
    bool Close();
    std::int32_t SetDebugLevel(std::int32_t level);

    bool IsValidDetector(int mcb, int det);
    CommandResult SendCommand(int mcb, int det, const std::string& command);
    std::string McbVersion(int mcb);  // empty when the MCB is not valid
    int DetectorCount(int mcb);
    std::uint32_t DetectorChannels(int mcb, int det);
    std::vector<std::uint32_t> Features(int mcb, int det);  // empty when not valid
    std::uint32_t Lock(int mcb, int det, std::string* owner);
    void SetLock(int mcb, int det, std::uint32_t lock, const std::string& owner);
    bool SetAppData(int mcb, int det, const std::string& name, const std::string& value);
    std::string AppData(int mcb, int det, const std::string& name);  // empty when none
    std::uint32_t StartTime(int mcb, int det, std::uint32_t* now);
    void SetStartTime(int mcb, int det);
    bool Description(int mcb, int det, std::string* text, bool* isDefault);
    bool DetectorId(int mcb, int det, std::uint32_t* id, bool* isDefault);
    RoiResult SetRoi(int mcb, int det, std::uint32_t start, std::uint32_t length, int view);
    RoiResult ClearRoi(int mcb, int det, std::uint32_t start, std::uint32_t length, int view);
    // Raw channel words into `words` (count of them); the masks as the
    // add-in reports them. The add-in's result code.
    std::int32_t GetData(int mcb, int det, std::uint32_t start, std::int32_t count, int view,
                         std::uint32_t* words, std::uint32_t* dataMask, std::uint32_t* auxMask);
    bool IsActive(int mcb, int det, std::int32_t* status);

private:
    Addin(void* library, void* object) : library_(library), object_(object) {}

    // A slot's function; each call is marked for the watchdog.
    template <typename Fn>
    struct WatchedSlot {
        Fn fn;
        template <typename... Args>
        auto operator()(Args... args) const {
            AddinCall call;
            return fn(args...);
        }
    };

    // Slot n of the object's interface table, as a function of type Fn.
    template <typename Fn>
    WatchedSlot<Fn> Slot(slots::Slot n) const {
        void** table = *static_cast<void***>(object_);
        return WatchedSlot<Fn>{reinterpret_cast<Fn>(table[n])};
    }

    void* library_;
    void* object_;
};

}  // namespace kestrel_tool
