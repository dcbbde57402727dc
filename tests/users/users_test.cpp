// Users of one Windows directory: its group's members share one table, one mutex and the
// stored values; others are refused and change nothing. Runs clients as users it makes: root only.
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "addin/shared_state.h"
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
        portd_.reset(new kestrel_test::PortdProcess({"--windir", windir_, "--group", "kestrel-lab", "-v"}, scratch_ / "log"));
        ASSERT_TRUE(portd_->WaitServing(windir_ + "/dev/TarnDev")) << portd_->Log();
    }

    // The tool run as `user`, with its groups, under umask 077.
    Result Kestrel(const char* user, const std::vector<std::string>& args) {
        std::string command = "env -i setpriv --reuid=" + std::string(user) + " --regid=" + user +
                              " --init-groups sh -c 'umask 077; exec \"$0\" \"$@\"' " KESTREL_TOOL_PROGRAM " --windir " + windir_;
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
    std::string lab = std::to_string(lab_) + "\n";  // made under umask 077 by the service and both users:
    for (const auto& file : Files())
        EXPECT_EQ(file.second.substr(0, file.second.find('\n') + 1), (file.second[0] == 'd' ? "d 2770 " : file.second.substr(0, 2) + "660 ") + lab) << file.first;
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
        sockaddr_un address{AF_UNIX, {}};
        (windir_ + "/dev/TarnDev").copy(address.sun_path, sizeof address.sun_path - 1);
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        char request[12] = {};
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(2);
        ::_exit(::send(fd, request, 12, MSG_NOSIGNAL) > 0 && ::recv(fd, request, 8, 0) > 0 ? 1 : 0);
    }
    EXPECT_EQ(kestrel_test::WaitForExit(pid, 10000), 0) << "2: could not connect; 1: served";
    EXPECT_NE(portd_->Log().find("refused uid " + std::to_string(::getpwnam("kestrel-out")->pw_uid) + " (kestrel-out) pid "), std::string::npos) << portd_->Log();
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
