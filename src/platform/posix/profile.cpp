#include "platform/posix/profile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/errors.h"
#include "platform/posix/files.h"
#include "platform/posix/ini_text.h"

namespace platform {
namespace posix {
namespace {

std::atomic<ProfileWriteStepHook> g_stepHook{nullptr};

void Step(const char* step) {
    if (ProfileWriteStepHook hook = g_stepHook.load()) hook(step);
}

// The whole file; false when it cannot be read (a missing file reads as
// empty, with errno ENOENT).
bool ReadFile(const std::string& path, std::string* text) {
    text->clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    char chunk[4096];
    while (true) {
        ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return true;
        text->append(chunk, static_cast<std::size_t>(got));
    }
}

// Removes the temporaries of writers that died before their rename. The
// caller holds the write lock, so no living writer owns one.
void RemoveOrphanedTemporaries(const std::string& path) {
    std::string directory = DirectoryOf(path);
    std::string prefix = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1) + ".tmp";
    DIR* listing = ::opendir(directory.c_str());
    if (listing == nullptr) return;
    while (const dirent* entry = ::readdir(listing)) {
        std::string name = entry->d_name;
        // mkostemp's six characters follow the prefix.
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
            ::unlinkat(::dirfd(listing), name.c_str(), 0);
    }
    ::closedir(listing);
}

// Replaces the file with `text`: temporary file, sync, rename, sync of the
// directory so the rename itself survives a power cut.
bool ReplaceFile(const std::string& path, const std::string& text) {
    RemoveOrphanedTemporaries(path);
    std::vector<char> temp(path.begin(), path.end());
    const char suffix[] = ".tmpXXXXXX";
    temp.insert(temp.end(), suffix, suffix + sizeof suffix);  // with the NUL
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) return false;
    Step("temporary created");
    // The new file takes the old one's mode and group, opened to the
    // directory's group so every member can write it next (mkostemp made
    // it 0600).
    struct stat info;
    bool existed = ::stat(path.c_str(), &info) == 0;
    mode_t mode = (existed ? (info.st_mode & 07777) : 0) | 0660;
    bool ok = ShareWithGroup(fd.get(), existed ? info.st_gid : GroupOf(DirectoryOf(path)), mode);
    if (ok) {
        // In two halves, so a test can stop the writer between them.
        std::size_t half = text.size() / 2;
        ok = WriteAll(fd.get(), text.substr(0, half));
        if (ok) Step("half written");
        ok = ok && WriteAll(fd.get(), text.substr(half));
    }
    if (ok) Step("written");
    ok = ok && ::fsync(fd.get()) == 0;
    int error = errno;
    fd.reset();
    if (ok) Step("synced");
    if (ok && ::rename(temp.data(), path.c_str()) == 0) {
        Step("renamed");
        UniqueFd dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.valid()) ::fsync(dir.get());
        Step("directory synced");
        return true;
    }
    if (ok) error = errno;
    ::unlink(temp.data());
    errno = error;
    return false;
}

// Names each followed by a NUL, then one more NUL; cut names when the
// buffer is short, as GetPrivateProfileString does (size - 2 returned).
std::uint32_t CopyNameList(const std::vector<std::string>& names, char* buffer,
                           std::uint32_t size) {
    if (size < 2) {
        if (size == 1) buffer[0] = '\0';
        return 0;
    }
    std::uint32_t at = 0;
    for (const std::string& name : names) {
        for (char c : name) {
            if (at >= size - 2) {
                buffer[size - 2] = '\0';
                buffer[size - 1] = '\0';
                return size - 2;
            }
            buffer[at++] = c;
        }
        if (at >= size - 1) {
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        buffer[at++] = '\0';
    }
    buffer[at] = '\0';
    return at;
}

std::uint32_t CopyText(const std::string& text, char* buffer, std::uint32_t size) {
    std::uint32_t length = static_cast<std::uint32_t>(
        text.size() < static_cast<std::size_t>(size - 1) ? text.size() : size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return length;
}

}  // namespace

void SetProfileWriteStepHook(ProfileWriteStepHook hook) { g_stepHook.store(hook); }

std::uint32_t ParseProfileInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && std::isxdigit(c)) {
            digit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
        } else {
            break;
        }
        value = value * base + digit;  // wraps modulo 2^32, as the 32-bit original
    }
    return negative ? 0u - value : value;
}

std::uint32_t ProfileInt(const std::string& dir, const char* section, const char* key,
                         int defaultValue, const char* file) {
    char buffer[64];
    if (section == nullptr || key == nullptr) return static_cast<std::uint32_t>(defaultValue);
    std::uint32_t length = ProfileString(dir, section, key, "", buffer, sizeof buffer, file);
    if (length == 0) return static_cast<std::uint32_t>(defaultValue);
    return ParseProfileInt(buffer);
}

std::uint32_t ProfileString(const std::string& dir, const char* section, const char* key,
                            const char* defaultValue, char* buffer, std::uint32_t size,
                            const char* file) {
    if (buffer == nullptr || size == 0) return 0;
    std::string text;
    if (file != nullptr) ReadFile(PathIn(dir, file), &text);
    IniText ini(text);
    if (section == nullptr) return CopyNameList(ini.Sections(), buffer, size);
    if (key == nullptr) return CopyNameList(ini.Keys(section), buffer, size);
    std::string value;
    if (ini.Get(section, key, &value)) return CopyText(value, buffer, size);
    // The default loses its trailing blanks, as on Windows.
    std::string fallback = defaultValue != nullptr ? defaultValue : "";
    fallback.erase(fallback.find_last_not_of(" \t") + 1);
    return CopyText(fallback, buffer, size);
}

bool ProfileWrite(const std::string& dir, const char* section, const char* key,
                  const char* value, const char* file) {
    if (file == nullptr || section == nullptr) {
        // All null only asks for cached profiles to be written out; there
        // is no cache here.
        if (section == nullptr && key == nullptr && value == nullptr) return true;
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    std::string path = PathIn(dir, file);
    UniqueFd lock = OpenOrCreate(path + ".lock");
    if (!lock.valid() || !Flock(lock.get(), LOCK_EX)) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    Step("locked");
    std::string text;
    bool exists = ReadFile(path, &text);
    if (!exists && errno != ENOENT) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    Step("read");
    IniText ini(text);
    bool changed;
    if (key == nullptr) {
        changed = ini.RemoveSection(section);
    } else if (value == nullptr) {
        changed = ini.RemoveKey(section, key);
    } else {
        changed = ini.Set(section, key, value);
    }
    if (!changed && exists) return true;
    if (!ReplaceFile(path, ini.Text())) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

}  // namespace posix
}  // namespace platform
