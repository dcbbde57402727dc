// A view of the add-in's interface table as the host sees it: slot numbers
// and the function type of each slot.
//
// On Linux (Itanium C++ ABI) the object's first word points at its table
// of virtual functions, and a virtual member function is called like a
// free function whose first argument is the object. So a slot can be
// called through a plain function pointer with the object first, without
// any declaration of the add-in's classes: any library that exports an
// object with this table serves.
#pragma once

#include <cstdint>

namespace kestrel_tool::slots {

using Object = void*;

enum Slot : int {
    kOpen = 0,
    kClose = 1,
    kSetDebugLevel = 2,
    kIsValidDetector = 3,
    kSendCommand = 4,
    kInitDetectors = 5,
    kInvalidateMcb = 6,
    kGetLock = 7,
    kSetLock = 8,
    kGetDetectorWord = 9,
    kSetDetectorWord = 10,
    kGetMcbVersion = 11,
    kGetDetectorChannels = 12,
    kGetDetectorCount = 13,
    kGetAppData = 14,
    kSetAppData = 15,
    kLocalGetStartTime = 16,
    kSetStartTime = 17,
    kGetDescription = 18,
    kGetDetectorId = 19,
    kSetRoi = 20,
    kClearRoi = 21,
    kGetData = 22,
    kSetData = 23,
    kIsActive = 24,
    kGetFeatures = 25,
    kDeletingDestructor = 26,
    kRefreshLocks = 27,
    kProcessStartup = 28,
    kProcessShutdown = 29,
    kBeforeFirstStartup = 30,
    kAfterLastShutdown = 31,
    kSlotCount = 32,
};

using OpenFn = bool (*)(Object);
using CloseFn = bool (*)(Object);
using SetDebugLevelFn = std::int32_t (*)(Object, std::int32_t level);
using IsValidDetectorFn = bool (*)(Object, std::int32_t mcb, std::int32_t det);
using SendCommandFn = bool (*)(Object, std::int32_t mcb, std::int32_t det, const char* command,
                               std::int32_t responseSize, char* response,
                               std::int32_t* responseLength, std::int32_t* localErr,
                               std::int32_t* status2);
using GetLockFn = std::uint32_t (*)(Object, std::int32_t mcb, std::int32_t det, char* owner,
                                    std::int32_t size);
using SetLockFn = void (*)(Object, std::int32_t mcb, std::int32_t det, std::uint32_t lock,
                           const char* owner);
using GetMcbVersionFn = bool (*)(Object, std::int32_t mcb, char* version, std::int32_t size);
using GetDetectorChannelsFn = std::uint32_t (*)(Object, std::int32_t mcb, std::int32_t det);
using GetDetectorCountFn = std::int32_t (*)(Object, std::int32_t mcb);
using GetAppDataFn = std::int32_t (*)(Object, std::int32_t mcb, std::int32_t det, const char* name,
                                      const char* fallback, char* value, std::int32_t size);
using SetAppDataFn = bool (*)(Object, std::int32_t mcb, std::int32_t det, const char* name,
                              const char* value);
using LocalGetStartTimeFn = std::uint32_t (*)(Object, std::int32_t mcb, std::int32_t det,
                                              std::uint32_t* now);
using SetStartTimeFn = void (*)(Object, std::int32_t mcb, std::int32_t det, std::uint32_t unused);
using GetDescriptionFn = bool (*)(Object, std::int32_t mcb, std::int32_t det, char* text,
                                  std::int32_t size, bool* isDefault);
using GetDetectorIdFn = bool (*)(Object, std::int32_t mcb, std::int32_t det, std::uint32_t* id,
                                 bool* isDefault);
using RoiFn = std::int32_t (*)(Object, std::int32_t mcb, std::int32_t det, std::uint32_t start,
                               std::uint32_t length, std::int32_t view, std::int32_t* localErr,
                               std::int32_t* status2);
using GetDataFn = std::int32_t (*)(Object, std::int32_t mcb, std::int32_t det,
                                   std::uint32_t* dataMask, std::uint32_t* auxMask,
                                   std::uint32_t reserved, std::uint32_t start,
                                   std::int32_t count, std::int32_t view, std::uint32_t* words);
using IsActiveFn = bool (*)(Object, std::int32_t mcb, std::int32_t det, std::int32_t* status);
using GetFeaturesFn = bool (*)(Object, std::int32_t mcb, std::int32_t det, std::uint32_t* words,
                               std::int32_t count);

}  // namespace kestrel_tool::slots
