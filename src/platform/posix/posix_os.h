// The Linux implementation of the platform seam. Everything system-wide
// (the shared block, named mutexes, profiles, the registry, driver
// sockets) belongs to one directory that plays the Windows directory: two
// instances over different directories are two independent systems.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace posix {

class SharedMapping;

class PosixOs final : public Os {
public:
    // Creates the directory when it is missing.
    explicit PosixOs(std::string windowsDirectory);
    ~PosixOs() override;

    // True when this instance's mapping of the shared block was the first
    // one in the system (it found nobody else holding the block).
    bool SharedWasFirst();

    PLATFORM_OS_OVERRIDES

private:
    SharedState* MapShared();

    std::string dir_;
    std::once_flag sharedOnce_;
    std::unique_ptr<SharedMapping> sharedMapping_;
    std::atomic<SharedMapping*> checked_{nullptr};  // the mapping, once made
    std::unique_ptr<SharedState> privateShared_;  // when the block cannot be mapped
    SharedState* shared_ = nullptr;
};

// The shared block's file under a Windows directory.
std::string SharedBlockPath(const std::string& windowsDirectory);
// The shared block as each PosixOs maps it; null with *why set on failure.
std::unique_ptr<SharedMapping> OpenSharedBlock(const std::string& windowsDirectory, std::string* why);

// What in the Windows directory keeps the add-in from sharing its table,
// its mutex or its profile with the other programs (a link, a file of
// another group, a directory others can write), as the add-in would say
// it; empty when nothing does.
std::string WindowsDirectoryTrouble(const std::string& windowsDirectory);

}  // namespace posix
}  // namespace platform
