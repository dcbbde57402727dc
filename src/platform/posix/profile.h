// Profile (INI) files with the semantics of GetPrivateProfileIntA,
// GetPrivateProfileStringA and WritePrivateProfileStringA. A bare file name
// lives in the Windows directory.
//
// Writes are atomic and serialised: a writer takes an exclusive flock on
// "<file>.lock", reads the file, writes the new text to a temporary file
// beside it, syncs it and renames it over the old one. A crash at any
// point leaves the old file or the new one, and concurrent writers from any
// number of processes lose no update. Readers take no lock: a rename swaps
// the whole file under them.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
namespace posix {

std::uint32_t ProfileInt(const std::string& dir, const char* section, const char* key,
                         int defaultValue, const char* file);
std::uint32_t ProfileString(const std::string& dir, const char* section, const char* key,
                            const char* defaultValue, char* buffer, std::uint32_t size,
                            const char* file);
bool ProfileWrite(const std::string& dir, const char* section, const char* key,
                  const char* value, const char* file);

// What would keep a write of the profile `path` from being stored, as
// ProfileWrite would refuse it (a link, a file of another group, a
// directory others can write); empty when nothing in the file system does.
std::string ProfileWriteTrouble(const std::string& path);

// Test hook: called with a name at each step of a profile write, so a test
// can end the process at any of them. Null (the default): no hook.
using ProfileWriteStepHook = void (*)(const char* step);
void SetProfileWriteStepHook(ProfileWriteStepHook hook);

// The integer at the start of a profile value, as GetPrivateProfileIntA
// reads it: blanks, a sign, decimal digits or "0x" and hex digits; 0 when
// no digits follow.
std::uint32_t ParseProfileInt(const std::string& text);

}  // namespace posix
}  // namespace platform
