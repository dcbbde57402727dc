// Names the add-in, its tools and its tests meet by. Each has this one
// home: a tool that spelled one itself would watch another mutex, or knock
// at another driver, without a word.
#pragma once

#include <string>

// The MCB mutex of an add-in is this prefix and the add-in's name tag.
constexpr char MCB_MUTEX_PREFIX[] = "UADDVELDAMUTEX";
// Kestrel's name tag.
constexpr char KESTREL_NAME_TAG[] = "KS";
// The printer-port driver of the NT family, and of the Windows 95 family.
constexpr char NT_DEVICE[] = "\\\\.\\TarnDev";
constexpr char W95_DEVICE[] = "\\\\.\\KMZ01D.VXD";
// The NT driver's name without the "\\.\" of a device path.
constexpr const char* NT_DEVICE_NAME = NT_DEVICE + 4;

// The name of the MCB mutex of the add-in tagged szTag.
inline std::string McbMutexName(const char* szTag = KESTREL_NAME_TAG) {
    return std::string(MCB_MUTEX_PREFIX) + szTag;
}
