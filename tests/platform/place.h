// What the platform contract test needs from the layer under test: a
// system of its own for one test, where files and registry values can be
// put in place as an installer would.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace contract {

struct Place {
    virtual ~Place() = default;
    virtual platform::Os& Os() = 0;
    virtual std::string PrivateFile(const std::string& name) = 0;     // a full path of its own
    virtual std::string WindowsDirFile(const std::string& name) = 0;  // where a bare name lives
    virtual std::string RegistryRoot() = 0;  // a key below HKEY_LOCAL_MACHINE of its own
    virtual void PutRegistryValue(const std::string& key, const std::string& name,
                                  const std::vector<std::uint8_t>& bytes) = 0;
    virtual std::string UniqueName(const char* prefix) = 0;  // for mutexes and files
};

std::unique_ptr<Place> NewPlace();

}  // namespace contract
