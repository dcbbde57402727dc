// Users of one Windows directory: its group's members share one table, one mutex and the stored values;
// others are refused and change nothing; a member can use the units and nothing more. The tests that run
// clients as users they make need root (skipped otherwise); a hostile client of the service runs as anyone.
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "addin/shared_state.h"
#include "platform/posix/driver_wire.h"
#include "platform/posix/posix_os.h"
#include "posix/portd_process.h"
#include "posix/process_wait.h"
#include "posix/temp_dir.h"

namespace {


// In a child: becomes `name`, umask 077; reaches files as `fsGroup` without being in it.
void Become(const char* name, gid_t fsGroup = 0) {
    const passwd& user = *::getpwnam(name);
    ::umask(077);
    if (::initgroups(name, user.pw_gid) != 0 || ::setresgid(user.pw_gid, user.pw_gid, fsGroup ? fsGroup : user.pw_gid) != 0 ||
        ::setresuid(user.pw_uid, user.pw_uid, user.pw_uid) != 0 || (fsGroup && (::setfsgid(fsGroup), gid_t(::setfsgid(-1))) != fsGroup)) ::_exit(126);
}

int Connect(const std::string& path) {
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::close(fd), fd = -1;
    return fd;
}

struct Result { int code; std::string out, err; };

class Users : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || ::access(KESTREL_TOOL_PROGRAM, X_OK) != 0 || ::access(KESTREL_PORTD_PROGRAM, X_OK) != 0)
            GTEST_SKIP() << (::geteuid() ? "runs clients as other users: needs root" : "kestrel or kestrel-portd not built");
        ASSERT_EQ(std::system("(groupadd -f kestrel-lab && for u in kestrel-a kestrel-b; do id -u $u || useradd -M -U -G kestrel-lab $u;"
                              " done && (id -u kestrel-out || useradd -M -U kestrel-out)) >/dev/null 2>&1"), 0) << "cannot make the users";
        ::chmod(scratch_.path().c_str(), 0755);  // the users reach the Windows directory inside
        lab_ = ::getgrnam("kestrel-lab")->gr_gid;
        ::umask(077);  // the service and this test's files too
        ASSERT_TRUE(Serve(windir_)) << portd_->Log();
    }

    // (Re)starts the service on `windir`; true once it serves.
    bool Serve(const std::string& windir) {
        portd_.reset(new kestrel_test::PortdProcess({"--windir", windir, "--group", "kestrel-lab", "-v"}, scratch_ / "log"));
        return portd_->WaitServing(windir + "/dev/TarnDev");
    }

    // A shell command as `user` (root: as this process is) under umask 077, or the tool with these arguments.
    int Sh(const std::string& user, const std::string& command) {
        std::string as = user == "root" ? "" : "setpriv --reuid=" + user + " --regid=" + user + " --init-groups ";
        return WEXITSTATUS(std::system((as + "sh -c 'umask 077; " + command + "' >/dev/null 2>&1").c_str()));
    }
    Result Kestrel(const char* user, const std::vector<std::string>& args, const std::string& windir = "") {
        std::string command = "env -i timeout 20 setpriv --reuid=" + std::string(user) + " --regid=" + user +
                              " --init-groups sh -c 'umask 077; exec \"$0\" \"$@\"' " KESTREL_TOOL_PROGRAM " --windir " +
                              (windir.empty() ? windir_ : windir);
        for (const std::string& arg : args) command += " '" + arg + "'";
        int status = std::system((command + " >" + scratch_ / "out" + " 2>" + scratch_ / "err").c_str());
        return {WEXITSTATUS(status), kestrel_test::ReadText(scratch_ / "out"), kestrel_test::ReadText(scratch_ / "err")};
    }

    // Every entry of the Windows directory: "TYPE MODE GROUP", then its contents.
    std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(windir_)) {
            struct stat info = {};
            char head[64];
            ::lstat(entry.path().c_str(), &info);
            std::snprintf(head, sizeof head, "%c %o %u\n", "-sd"[entry.is_socket() + 2 * entry.is_directory()], info.st_mode & 07777, info.st_gid);
            files[entry.path()] = head + (entry.is_regular_file() ? kestrel_test::ReadText(entry.path()) : "");
        }
        return files;
    }

    kestrel_test::TempDir scratch_;
    std::string windir_ = scratch_ / "windir";
    gid_t lab_ = 0;
    std::unique_ptr<kestrel_test::PortdProcess> portd_;
};

TEST_F(Users, MembersShareStoredValuesOutsiderIsRefusedEveryFileIsTheGroups) {
    ::chmod(windir_.c_str(), 02750);  // read-only for the group: the add-in works alone, and says why
    Result alone = Kestrel("kestrel-b", {"describe", "12", "3", "lost"});
    ::chmod(windir_.c_str(), 0770);  // writable again, without the setgid bit (as an admin may make it)
    std::string denied = "cannot create files in " + windir_ + ": Permission denied";
    EXPECT_EQ(alone.err, "kestrel: the add-in works alone in this run: it shares no table and no mutex with other programs of " + windir_ +
                             " (" + denied + ")\nkestrel: the add-in could not store the description of MCB 12 detector 3: " + denied + "\n");
    EXPECT_EQ(alone.code, 1);
    ASSERT_EQ(Kestrel("kestrel-a", {"describe", "12", "1", "kept by kestrel-a"}).code, 0);
    Result a = Kestrel("kestrel-a", {"lock", "12", "1", "7", "A lab"});
    ASSERT_EQ(Kestrel("kestrel-b", {"describe", "12", "2", "kept by kestrel-b"}).code, 0);
    Result b = Kestrel("kestrel-b", {"list"});
    ASSERT_EQ(a.code + b.code, 0) << a.err << b.err;
    for (const char* line : {"detector 1: kept by kestrel-a", "lock         7 owner \"A lab\"", "detector 2: kept by kestrel-b"})
        EXPECT_NE(b.out.find(line), std::string::npos) << line << "\n" << b.out;
    EXPECT_EQ(a.err + b.err, "");  // neither worked alone, nor failed to store
    std::string lab = std::to_string(lab_) + "\n";  // made under umask 077 by the service and both users; dev/ is the service's
    for (const auto& file : Files())
        EXPECT_EQ(file.second.substr(0, file.second.find('\n') + 1), file.first == windir_ + "/dev" ? "d 750 " + lab
                  : file.first == windir_ + "/dev/TarnDev.lock" ? "- 600 0\n"
                  : (file.second[0] == 'd' ? "d 2770 " : file.second.substr(0, 2) + "660 ") + lab) << file.first;
    auto before = Files();
    for (const auto& args : std::vector<std::vector<std::string>>{{"describe", "12", "1", "out"}, {"lock", "12", "1", "9", "out"}, {"set-id", "12", "1", "5"}, {"list"}}) {
        Result run = Kestrel("kestrel-out", args);
        EXPECT_EQ(run.code, 77) << args[0];
        EXPECT_EQ(run.out + run.err, "kestrel: not allowed to use the units of " + windir_ + ": not in group kestrel-lab\n");
    }
    EXPECT_EQ(Files(), before);
    // Past the socket's mode (by a file-system group), the service refuses it by its credentials.
    pid_t pid = ::fork();
    if (pid == 0) {
        Become("kestrel-out", lab_);
        int fd = Connect(windir_ + "/dev/TarnDev");
        char request[12] = {};
        if (fd < 0) ::_exit(2);
        ::_exit(::send(fd, request, 12, MSG_NOSIGNAL) > 0 && ::recv(fd, request, 8, 0) > 0 ? 1 : 0);
    }
    EXPECT_EQ(kestrel_test::WaitForExit(pid, 10000), 0) << "2: could not connect; 1: served";
    EXPECT_NE(portd_->Log().find("refused uid " + std::to_string(::getpwnam("kestrel-out")->pw_uid) + " (kestrel-out) pid "), std::string::npos) << portd_->Log();
}

// What kestrel-a, a member, plants in the Windows directory $W (after `setUp` as root: what an older service or
// an admin left), then the service restarted on it or kestrel-b's run: refused, saying why, and kestrel-b's
// private file $V and directory $D are as they were. $R: the scratch directory.
struct Plant {
    const char *what, *setUp, *member, *run;  // run: "service", or kestrel-b's arguments, blank-separated
    int code;
    const char* says;
};
const Plant kPlants[] = {
    {"a link in a dev/ an older service left open to the group", "chmod 2770 $W/dev",
     "rm -f $W/dev/TarnDev.lock; ln -s $V $W/dev/TarnDev.lock", "service", 1, "$W/dev is writable by its group (mode 2770)"},
    {"dev/ a link to another's directory", "", "mv $W/dev $W/old && ln -s $D $W/dev", "service", 1, "$W/dev is a symbolic link"},
    {"a Windows directory others can write", "chmod o+w $W", "", "service", 1, "$W is writable by others (mode 2772)"},
    {"a Windows directory of a member", "chown kestrel-a $W", "", "service", 1, "$W belongs to kestrel-a, not to root"},
    {"a Windows directory that links to another's", "mv $W $R/real && ln -s $D $W", "", "service", 1, "$W is a symbolic link"},
    {"the profile's lock a link", "", "ln -sf $V $W/HVNACC32.INI.lock", "describe 12 1 x", 1,
     "could not store the description of MCB 12 detector 1: $W/HVNACC32.INI.lock is a symbolic link"},
    {"the profile a link", "", "ln -sf $V $W/HVNACC32.INI", "describe 12 1 x", 1, "$W/HVNACC32.INI is a symbolic link"},
    {"the shared block a link", "", "ln -sf $V $W/kestrel/shared.state", "describe 12 1 x", 0,
     "works alone in this run: it shares no table and no mutex with other programs of $W ($W/kestrel/shared.state is a symbolic link)"},
    {"both links to one file (a run hung on it)", "", "ln -sf $V $W/HVNACC32.INI.lock; ln -sf $V $W/kestrel/shared.state",
     "--quiet describe 12 1 x", 1, "$W/HVNACC32.INI.lock is a symbolic link"},
    {"the profile's lock a hard link of the shared block", "", "ln -f $W/kestrel/shared.state $W/HVNACC32.INI.lock",
     "describe 12 1 x", 1, "$W/HVNACC32.INI.lock has 2 hard links"},
    {"a dev/ of the member's own with its own socket", "", "mv $W/dev $W/old && mkdir -m 750 $W/dev", "list", 3,
     "the socket in $W/dev is not served by its owner ($W/dev belongs to kestrel-a, not to root, who owns $W)"},
};

TEST_F(Users, AMemberCanUseTheUnitsAndNothingMore) {
    const std::string victim = scratch_ / "b/victim", dir = scratch_ / "b/dir";
    ASSERT_EQ(Sh("root", "mkdir " + scratch_ / "b" + " && chown kestrel-b " + scratch_ / "b" + " && chmod 755 " + scratch_ / "b"), 0);
    ASSERT_EQ(Sh("kestrel-b", "echo private >" + victim + " && mkdir " + dir), 0);
    auto look = [&] {
        std::string text = kestrel_test::ReadText(victim);
        for (const std::string& path : {victim, dir}) {
            struct stat info = {};
            ::lstat(path.c_str(), &info);
            text += " " + std::to_string(info.st_mode) + " " + std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid);
        }
        return text;
    };
    const std::string before = look();
    int row = 0;
    for (const Plant& plant : kPlants) {
        const std::string w = scratch_ / ("w" + std::to_string(++row));
        auto fill = [&](std::string text) {
            for (const auto& [from, to] : {std::pair<std::string, std::string>{"$W", w}, {"$V", victim}, {"$D", dir}, {"$R", scratch_.path()}})
                for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, 2, to);
            return text;
        };
        ASSERT_TRUE(Serve(w)) << portd_->Log();
        ASSERT_EQ(Kestrel("kestrel-a", {"list"}, w).code, 0) << plant.what;
        EXPECT_EQ(Sh("root", fill(plant.setUp)) + Sh("kestrel-a", fill(plant.member)), 0) << plant.what;
        pid_t impostor = -1;
        if (std::string(plant.what).find("own socket") != std::string::npos && (impostor = ::fork()) == 0) {
            Become("kestrel-a");
            sockaddr_un address{AF_UNIX, {}};
            (w + "/dev/TarnDev").copy(address.sun_path, sizeof address.sun_path - 1);
            int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::chmod(address.sun_path, 0666) == 0 &&
                ::listen(fd, 8) == 0)
                ::pause();
            ::_exit(1);
        }
        for (int i = 0; impostor > 0 && i < 500 && ::access((w + "/dev/TarnDev").c_str(), F_OK) != 0; ++i) ::usleep(10000);
        std::string said;
        int code;
        if (std::string(plant.run) == "service") {
            EXPECT_FALSE(Serve(w)) << plant.what;
            code = portd_->Wait(), said = portd_->Log();
        } else {
            std::istringstream words(plant.run);
            Result run = Kestrel("kestrel-b", {std::istream_iterator<std::string>(words), {}}, w);
            code = run.code, said = run.err;
        }
        if (impostor > 0) ::kill(impostor, SIGKILL), kestrel_test::WaitForExit(impostor, 10000);
        EXPECT_EQ(code, plant.code) << plant.what << "\n" << said;
        EXPECT_NE(said.find(fill(plant.says)), std::string::npos) << plant.what << "\n" << said;
        EXPECT_EQ(look(), before) << plant.what << ": kestrel-b's private file or directory changed";
    }
}

// A hostile client of the service, as any member may be: whatever it sends, the service holds a bounded number
// of connections, one request and reply each, no request longer than a driver request, none that stalls; and it
// serves the others. (One user here: the caps apply to every user, root included.)
TEST(HostileClient, TheServiceHoldsLittleAndServesTheOthers) {
    if (::access(KESTREL_PORTD_PROGRAM, X_OK) != 0 || ::access(KESTREL_TOOL_PROGRAM, X_OK) != 0) GTEST_SKIP() << "kestrel or kestrel-portd not built";
    using Clock = std::chrono::steady_clock;
    using platform::posix::kMaxTransferBytes;
    kestrel_test::TempDir scratch;
    const std::string windir = scratch / "windir", socket = windir + "/dev/TarnDev";
    kestrel_test::PortdProcess portd({"--windir", windir}, scratch / "log");
    ASSERT_TRUE(portd.WaitServing(socket)) << portd.Log();
    auto kilobytes = [&](const std::string& field) {  // of the service, from /proc
        std::string status = kestrel_test::ReadText("/proc/" + std::to_string(portd.pid()) + "/status");
        return std::atol(status.c_str() + status.find(field + ":") + field.size() + 1);
    };
    auto request = [](std::uint32_t code, std::uint32_t in, std::uint32_t out) {
        std::uint8_t header[12];
        platform::posix::PutLE32(header, code), platform::posix::PutLE32(header + 4, in), platform::posix::PutLE32(header + 8, out);
        return std::string(reinterpret_cast<char*>(header), 12);
    };
    auto closed = [](int fd, int ms) {  // closed by the service without an answer
        pollfd entry{fd, POLLIN, 0};
        char byte;
        return ::poll(&entry, 1, ms) == 1 && ::recv(fd, &byte, 1, 0) <= 0;  // ECONNRESET: input left unread
    };
    auto tool = [&] { return std::system((KESTREL_TOOL_PROGRAM " --windir " + windir + " --quiet list >/dev/null 2>" + scratch / "err").c_str()); };
#ifndef __SANITIZE_ADDRESS__  // its quarantine keeps what is freed: no bound holds
    const bool measured = true;
#else
    const bool measured = false;
#endif
    // 20,000 requests of random codes, all refused, and nothing kept of them.
    const int many = Connect(socket);
    const long before = kilobytes("VmRSS");
    std::mt19937 random(5);
    for (int round = 0, answered = 0; round < 20; ++round) {
        std::string batch;
        for (int i = 0; i < 1000; ++i) batch += request(random() | 0x10000000, 0, 0);
        ASSERT_EQ(::send(many, batch.data(), batch.size(), MSG_NOSIGNAL), static_cast<ssize_t>(batch.size()));
        std::string replies(8000, '\1');
        for (std::size_t got = 0; got < replies.size(); got += static_cast<std::size_t>(answered))
            ASSERT_GT(answered = static_cast<int>(::recv(many, &replies[got], replies.size() - got, 0)), 0);
        EXPECT_EQ(replies, std::string(8000, '\0')) << "a code no driver knows, performed";
    }
    EXPECT_TRUE(!measured || kilobytes("VmRSS") - before < 512) << kilobytes("VmRSS") - before << " kB kept for 20,000 requests";
    // A request longer than any driver request: closed, unanswered.
    const int longer = Connect(socket);
    const std::string overlong = request(0x9C40240B, kMaxTransferBytes + 1, 0) + std::string(kMaxTransferBytes + 1, 'x');
    for (std::size_t sent = 0; sent < overlong.size();) {  // until it is all sent, or the service hangs up
        pollfd entry{longer, POLLOUT, 0};
        ssize_t now = ::poll(&entry, 1, 5000) == 1 ? ::send(longer, overlong.data() + sent, overlong.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL) : -1;
        if (now < 0) break;
        sent += static_cast<std::size_t>(now);
    }
    EXPECT_TRUE(closed(longer, 5000)) << "a request longer than any driver request, performed";
    // The most connections one user may hold, the largest request each but its last byte: the next one, and the
    // tool, are turned away; those held, dropped once their requests stall.
    std::vector<int> held = {many};
    const auto first = Clock::now();
    for (int i = 1; i < 32; ++i) {
        held.push_back(Connect(socket));
        std::string almost = request(0x9C40240B, kMaxTransferBytes, 0) + std::string(kMaxTransferBytes - 1, 'x');
        for (std::size_t sent = 0; sent < almost.size();) {
            pollfd entry{held.back(), POLLOUT, 0};
            ASSERT_EQ(::poll(&entry, 1, 5000), 1) << "connection " << i << " not read";
            ssize_t now = ::send(held.back(), almost.data() + sent, almost.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
            ASSERT_TRUE(now >= 0 || errno == EAGAIN) << "connection " << i << " not read: " << std::strerror(errno);
            sent += static_cast<std::size_t>(std::max<ssize_t>(0, now));
        }
    }
    const int extra = Connect(socket);
    EXPECT_TRUE(extra >= 0 && closed(extra, 5000)) << "the 33rd connection of one user";
    EXPECT_EQ(WEXITSTATUS(tool()), 3);
    EXPECT_NE(kestrel_test::ReadText(scratch / "err").find("the driver service does not accept a connection"), std::string::npos)
        << kestrel_test::ReadText(scratch / "err");
    const long peak = kilobytes("VmHWM");
    std::printf("kestrel-portd's peak memory (VmHWM) under the hostile client: %ld kB\n", peak);
    EXPECT_TRUE(!measured || peak < 48 * 1024) << peak << " kB";
    for (std::size_t i = 1; i < held.size(); ++i) EXPECT_TRUE(closed(held[i], 10000)) << "connection " << i << " stalled and kept";
    EXPECT_GE(Clock::now() - first, std::chrono::milliseconds(1900)) << "a stalled request dropped early";
    EXPECT_EQ(WEXITSTATUS(tool()), 0) << kestrel_test::ReadText(scratch / "err");
    for (int fd : held) ::close(fd);
}

TEST_F(Users, MembersShareOneTableAndOneMutex) {
    int go[2], told[2];
    ASSERT_TRUE(::pipe(go) == 0 && ::pipe(told) == 0);
    std::string seen;
    for (const char* user : {"kestrel-a", "kestrel-b"}) {
        if (::fork() == 0) {  // a marks the table, holds the mutex until told; b sees the mark, waits
            Become(user);
            platform::posix::PosixOs os(windir_);
            bool first = user[8] == 'a';
            platform::MutexHandle mutex = os.MutexCreate("KestrelUsersTest");
            char byte = first ? (os.Shared()->nSystemOpenCount = 4242, os.MutexWait(mutex) == platform::WaitResult::Acquired ? 'm' : 'x')
                              : (!os.SharedWasFirst() && os.Shared()->nSystemOpenCount == 4242 ? 's' : 'n');
            if (::write(told[1], &byte, 1) != 1 || (first && ::read(go[0], &byte, 1) != 1)) ::_exit(1);
            byte = first ? 'r' : os.MutexWait(mutex) == platform::WaitResult::Acquired ? 'a' : 'x';
            ::_exit(first ? !os.MutexRelease(mutex) : ::write(told[1], &byte, 1) != 1);
        }
        seen += '?';
        ASSERT_EQ(::read(told[0], &seen.back(), 1), 1);
    }
    EXPECT_EQ(seen, "ms") << "m: kestrel-a holds the mutex; s: kestrel-b saw its mark in the table";
    pollfd early{told[0], POLLIN, 0};
    EXPECT_EQ(::poll(&early, 1, 300), 0) << "kestrel-b took the mutex kestrel-a holds";
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    EXPECT_TRUE(::read(told[0], &seen[0], 1) == 1 && seen[0] == 'a') << "kestrel-b did not get the mutex kestrel-a released";
}

}  // namespace
