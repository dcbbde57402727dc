// The registry of this platform: HKEY_LOCAL_MACHINE as a small text file,
// "registry.txt" in the Windows directory. Example:
//
//   ; LPT0 at 0x278: a resource descriptor whose port starts at byte 20
//   [HARDWARE\DESCRIPTION\System\MultifunctionAdapter\0\ParallelController\0]
//   Configuration Data = 00 00 00 00 00 00 00 00 01 00 01 00 01 00 00 00 01 01 00 00 78 02 00 00
//
// A "[path]" line names a key by its backslash path below
// HKEY_LOCAL_MACHINE; every key above it exists with it. Each following
// "name = bytes" line is a binary value of that key, its bytes in hex (one
// or two digits each, separated by blanks or commas). Lines starting with
// ';' or '#' are comments. Key and value names compare without regard to
// case, as on Windows. The file is read at each call, so edits show at
// once; a missing file is an empty registry.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace posix {

constexpr const char* kRegistryFile = "registry.txt";

// Null when the key does not exist (last error: file not found).
RegKey RegistryOpen(const std::string& dir, RegKey parent, const char* subKey);
// As RegQueryValueExA on a binary value: on entry *size is the buffer's
// size, on return the value's; a null buffer asks for the size only. A
// value larger than the buffer fails (last error: more data).
bool RegistryQuery(RegKey key, const char* valueName, std::uint8_t* data, std::uint32_t* size);
void RegistryClose(RegKey key);

}  // namespace posix
}  // namespace platform
