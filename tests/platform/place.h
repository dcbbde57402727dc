// What the platform contract test needs from the layer under test: a
// system of its own for one test, and ways to put files and registry
// values in place the way an installer or an administrator would.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace contract {

class Place {
public:
    virtual ~Place() = default;
    virtual platform::Os& Os() = 0;
    // A file name in a private folder (a full path), and where a bare name
    // given to the profile calls ends up (the Windows directory).
    virtual std::string PrivateFile(const std::string& name) = 0;
    virtual std::string WindowsDirFile(const std::string& name) = 0;
    // A key below HKEY_LOCAL_MACHINE that belongs to this place alone.
    virtual std::string RegistryRoot() = 0;
    virtual void PutRegistryValue(const std::string& key, const std::string& name,
                                  const std::vector<std::uint8_t>& bytes) = 0;
    // A name for a mutex that no other test uses.
    virtual std::string UniqueName(const char* prefix) = 0;
};

std::unique_ptr<Place> NewPlace();

}  // namespace contract
