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
#include <mutex>
#include <set>
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

// A trouble with the files of a directory is said once, not at every read.
void TraceOnce(const std::string& text) {
    static std::mutex lock;
    static std::set<std::string> said;
    std::lock_guard<std::mutex> guard(lock);
    if (said.size() < 64 && said.insert(text).second) DebugWrite(("*** Kestrel: " + text + " ***\n").c_str());
}

// Removes the temporaries of writers that died before their rename. The
// caller holds the write lock, so no living writer owns one.
void RemoveOrphanedTemporaries(int dir, const std::string& prefix) {
    DIR* listing = ::fdopendir(::fcntl(dir, F_DUPFD_CLOEXEC, 0));
    if (listing == nullptr) return;
    while (const dirent* entry = ::readdir(listing)) {
        std::string name = entry->d_name;
        // Six characters follow the prefix.
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
            ::unlinkat(dir, name.c_str(), 0);
    }
    ::closedir(listing);
}

// Replaces the file `name` in `dir` with `text`: temporary file, sync,
// rename, sync of the directory so the rename itself survives a power cut.
// The new file is the directory group's, as everything made there.
bool ReplaceFile(int dir, const std::string& name, const std::string& text, std::string* why) {
    const std::string prefix = name + ".tmp";
    RemoveOrphanedTemporaries(dir, prefix);
    std::string temp;
    UniqueFd fd = CreateTemporaryAt(dir, prefix, &temp, why);
    if (!fd.valid()) return false;
    Step("temporary created");
    // In two halves, so a test can stop the writer between them.
    std::size_t half = text.size() / 2;
    bool ok = WriteAll(fd.get(), text.substr(0, half));
    if (ok) Step("half written");
    ok = ok && WriteAll(fd.get(), text.substr(half));
    if (ok) Step("written");
    ok = ok && ::fsync(fd.get()) == 0;
    int error = errno;
    fd.reset();
    if (ok) Step("synced");
    if (ok && ::renameat(dir, temp.c_str(), dir, name.c_str()) == 0) {
        Step("renamed");
        ::fsync(dir);
        Step("directory synced");
        return true;
    }
    if (ok) error = errno;
    ::unlinkat(dir, temp.c_str(), 0);
    *why = "cannot replace " + name + ": " + std::strerror(error);
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

// The read, change and replacement of a profile, under its write lock.
bool WriteProfile(const std::string& path, const char* section, const char* key, const char* value,
                  std::string* why) {
    UniqueFd dir = OpenSharedDirectory(DirectoryOf(path), why);
    if (!dir.valid()) return false;
    const std::string name = BaseNameOf(path);
    UniqueFd lock = OpenFileAt(dir.get(), name + ".lock", path + ".lock", Keeper::Group, why);
    if (!lock.valid()) return false;
    if (!Flock(lock.get(), LOCK_EX)) {
        *why = std::strerror(errno);
        return false;
    }
    Step("locked");
    // What is there is read first; a file that cannot be read is not
    // replaced, so nothing stored in it is lost.
    std::string text;
    bool exists = ReadWholeFileAt(dir.get(), name, path, &text, why);
    if (!exists && errno != ENOENT) return false;
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
    return ReplaceFile(dir.get(), name, ini.Text(), why);
}

}  // namespace

void SetProfileWriteStepHook(ProfileWriteStepHook hook) { g_stepHook.store(hook); }

std::string ProfileWriteTrouble(const std::string& path) {
    std::string trouble = TroubleAt(path + ".lock", Keeper::Group);
    return trouble.empty() ? TroubleAt(path, Keeper::Group, true) : trouble;
}

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
    std::string text, why;
    if (file != nullptr && !ReadWholeFile(PathIn(dir, file), &text, &why) && !why.empty())
        TraceOnce("not reading " + why);
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
    std::string path = PathIn(dir, file), why;
    if (!WriteProfile(path, section, key, value, &why)) {
        int error = errno;
        DebugWrite(("*** Kestrel: cannot write " + path + ": " + why + " ***\n").c_str());
        SetLastErrorFromErrno(error);
        return false;
    }
    return true;
}

}  // namespace posix
}  // namespace platform
