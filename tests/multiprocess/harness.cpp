#include "multiprocess/harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/posix/files.h"
#include "platform/posix/named_mutex.h"
#include "posix/process_wait.h"
#include "sim/commands.h"
#include "sim/demo.h"
#include "sim/unit.h"
#include "sim/unit_state.h"

extern char** environ;

namespace kestrel_mp {
using namespace kestrel_test;
namespace {

constexpr int kChildIn = 3, kChildOut = 4;  // the child's ends of the pipes

std::map<std::string, Role>& Roles() {
    static std::map<std::string, Role> roles;
    return roles;
}

// In a child, the one test it runs: its role, then the exit.
const bool g_isChild = [] {
    if (std::getenv("KESTREL_ROLE") == nullptr) return false;
    ::testing::RegisterTest("KestrelChild", "Run", nullptr, nullptr, __FILE__, __LINE__, []() -> ::testing::Test* {
        struct Runner : ::testing::Test {
            void TestBody() override {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != std::atoi(std::getenv("KESTREL_PARENT"))) _exit(97);
                auto role = Roles().find(std::getenv("KESTREL_ROLE"));
                Channel channel;
                channel.arg = std::getenv("KESTREL_ARG");
                int code = role == Roles().end() ? 98 : role->second(channel);
                std::fflush(nullptr);
                _exit(code == 0 && HasFailure() ? 1 : code);
            }
        };
        return new Runner;
    });
    return true;
}();

std::uint32_t Fnv(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return hash;
}

// The next line from fd; empty on time-out (none when timeoutMs < 0) or end.
std::string ReadLine(int fd, std::string& pending, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t newline;
    while ((newline = pending.find('\n')) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, timeoutMs < 0 ? -1 : static_cast<int>(std::max<long>(0, left.count())));
        if (ready < 0 && errno == EINTR) continue;
        char chunk[256];
        ssize_t got = ready > 0 ? ::read(fd, chunk, sizeof chunk) : 0;
        if (got <= 0) return std::string();
        pending.append(chunk, static_cast<std::size_t>(got));
    }
    std::string line = pending.substr(0, newline);
    pending.erase(0, newline + 1);
    return line;
}

}  // namespace

std::string Hex8(std::uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

RoleRegistration::RoleRegistration(const char* name, Role role) { Roles()[name] = role; }

void Channel::Send(const std::string& line) { platform::posix::WriteAll(kChildOut, line + "\n"); }

std::string Channel::Receive() { return ReadLine(kChildIn, pending, -1); }

Child::Child(const std::string& role, const std::string& windir, const std::string& arg) {
    static std::atomic<int> serial{0};
    log_ = windir + "/" + role + "-" + std::to_string(++serial) + ".log";
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) return;
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::strncmp(*entry, "WINDIR=", 7) != 0 && std::strncmp(*entry, "GTEST_OUTPUT=", 13) != 0)
            variables.push_back(*entry);
    variables.insert(variables.end(), {"WINDIR=" + windir, "KESTREL_ROLE=" + role, "KESTREL_ARG=" + arg,
                                       "KESTREL_PARENT=" + std::to_string(::getpid())});
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(&variable[0]);
    envp.push_back(nullptr);
    char program[] = "/proc/self/exe", filter[] = "--gtest_filter=KestrelChild.Run";
    char* argv[] = {program, filter, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], kChildIn);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], kChildOut);
    posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (::posix_spawn(&pid_, program, &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    to_ = toChild[1];
    from_ = fromChild[0];
    EXPECT_GT(pid_, 0) << "posix_spawn failed";
}

void Child::Send(const std::string& line) {
    // A child that died must not end the test with SIGPIPE.
    static const bool ignored = ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)ignored;
    platform::posix::WriteAll(to_, line + "\n");
}

std::string Child::Receive(int timeoutMs) { return ReadLine(from_, pending_, timeoutMs); }

bool Child::Expect(const std::string& line) {
    std::string got = Receive();
    EXPECT_EQ(got, line) << "from the child; its log:\n" << Log();
    return got == line;
}

int Child::Wait() {
    if (pid_ > 0 && !reaped_) code_ = WaitForExit(pid_, kWaitMs), reaped_ = true;
    return code_;
}

void Child::Kill() {
    if (pid_ > 0 && !reaped_) ::kill(pid_, SIGKILL);
    Wait();
    for (int* fd : {&to_, &from_})
        if (*fd >= 0) ::close(*fd), *fd = -1;
}

bool Child::BlockedInMutex() {
    const std::string futex = std::to_string(SYS_futex) + " ";
    for (int i = 0; i < kWaitMs / 2; ++i) {
        std::ifstream syscall("/proc/" + std::to_string(pid_) + "/syscall");
        std::string line;
        if (std::getline(syscall, line) && line.rfind(futex, 0) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

ServedSystem::ServedSystem(bool serve) : chain_(sim::Chain::demo()), os_(new platform::posix::PosixOs(dir_.path())) {
    WriteText(dir_ / "HVNACC32.INI", "[CONFIG]\nLPT=1\n");
    // LPT1 under the fourth adapter at 0x278, as an installed system has it.
    WriteText(dir_ / "registry.txt",
              "[HARDWARE\\DESCRIPTION\\System\\MultifunctionAdapter\\3\\ParallelController\\1]\n"
              "Configuration Data = 00 00 00 00 00 00 00 00 01 00 01 00 01 00 00 00 01 01 00 00 78 02 00 00\n");
    os_->Shared();
    mutex_ = os_->MutexCreate(kMutexName.c_str());
    std::string error;
    mutexBlock_ = platform::posix::OpenMutexBlock(dir(), kMutexName.c_str(), &error);
    static pid_t nobody = 0;
    ownerPid_ = mutexBlock_ ? reinterpret_cast<pid_t*>(static_cast<char*>(mutexBlock_->block()) + sizeof(pthread_mutex_t))
                            : &nobody;
    if (!serve) return;
    if (!mutex_ || !mutexBlock_ || mutexBlock_->first() || !claim_.Claim(dir_ / "dev/TarnDev", &error) ||
        ::pipe2(stop_, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no served system: " << error;
        return;
    }
    service_.reset(new portd::Service(*chain_, claim_.listener(), stop_[0]));
    service_->onRequest = [this](std::uint64_t connection, std::uint32_t, const std::uint8_t*, std::uint32_t) {
        pid_t holder = HolderPid();
        std::lock_guard<std::mutex> guard(lock_);
        pid_t& speaker = speakers_[connection];
        if (speaker == 0) speaker = holder;
        // The next owner of an abandoned mutex has it before the dead one's last request, sent while it
        // held it, has been taken; that request may come until the new owner speaks itself.
        if (holder == 0 || (speaker != holder && holder == spoken_))
            faults_.push_back("a request on connection " + std::to_string(connection) + " of process " +
                              std::to_string(speaker) + " while process " + std::to_string(holder) +
                              " held the mutex");
        if (speaker == holder) spoken_ = holder;
        if (holder == victim_ && ++victimRequests_ == killAt_) ::kill(holder, SIGKILL);
    };
    thread_ = std::thread([this] { service_->Run(); });
}

ServedSystem::~ServedSystem() {
    if (thread_.joinable()) {
        platform::posix::WriteAll(stop_[1], "x");
        thread_.join();
    }
    for (int fd : stop_)
        if (fd >= 0) ::close(fd);
    if (mutex_) os_->MutexClose(mutex_);
}

void ServedSystem::Lock() { ASSERT_NE(os_->MutexWait(mutex_), platform::WaitResult::Failed); }
void ServedSystem::KillAtRequest(pid_t pid, int n) { victimRequests_ = 0, killAt_ = n, victim_ = pid; }

std::vector<std::string> ServedSystem::Faults() {
    static const std::set<std::string> verbs = {"SHOW_VERS", "SHOW_CONF", "SHOW_FEAT", "SHOW_FEAT_EXTE",
                                                "SHOW_CONF_MASK", "SHOW_ACTI", "SHOW_ACTI_DEVI", "CLEAR_ROI",
                                                "SET_DEVI", "SET_SEGM", "SET_VIEW", "SET_ROI", "SET_WIND",
                                                "SHOW_DATA_APP", "SET_DATA_APP"};
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> faults = faults_;
    std::lock_guard<std::mutex> chainGuard(chain_->mutex());
    for (int mcb : {9, 12}) {
        const sim::Unit& unit = *chain_->unit(mcb);
        for (const sim::ReceivedCommand& command : unit.received()) {
            const std::string& text = command.text;
            bool whole = command.zeroLength || verbs.count(text.substr(0, text.find(' '))) == 1;
            for (char c : text) whole = whole && c >= ' ' && c < 127;
            if (!whole) faults.push_back("MCB " + std::to_string(mcb) + " took \"" + text + "\"");
        }
        const McbRecord& record = Table().records[mcb - MCB_FIRST];
        if ((record.nCurDevSeg != -1 && record.nCurDevSeg != unit.state().selected) ||
            (record.nCurView != -1 && record.nCurView != unit.state().view))
            faults.push_back("MCB " + std::to_string(mcb) + ": the table has input " +
                             std::to_string(record.nCurDevSeg) + " view " + std::to_string(record.nCurView) +
                             ", the unit " + std::to_string(unit.state().selected) + " " +
                             std::to_string(unit.state().view));
    }
    return faults;
}

std::string ServedSystem::Probed(int mcb) {
    const McbRecord& r = Table().records[mcb - MCB_FIRST];
    std::ostringstream text;
    text << r.nDetectors << " type " << r.nMailboxType << " " << r.bResponding << r.bDevices << " "
         << r.wTotalChannels << " \"" << std::string(r.szVersion, strnlen(r.szVersion, sizeof r.szVersion)) << "\"";
    for (int d = 0; d < MAX_DETECTORS; ++d) {
        text << " " << Hex8(r.dwDataMask[d]) << Hex8(r.dwAuxMask[d]) << "/" << r.wChannels[d];
        for (std::uint32_t feature : r.dwFeatures[d]) text << "," << Hex8(feature);
    }
    return text.str();
}

std::string ServedSystem::UnitValue(int mcb, int det, const std::string& name) {
    std::lock_guard<std::mutex> guard(chain_->mutex());
    const auto& values = chain_->unit(mcb)->state().detector(det).config.appData;
    auto found = values.find(name);
    return found == values.end() ? "<none>" : found->second;
}

std::string ExpectedReply(int mcb, int det, const std::string& command) {
    static std::mutex lock;
    static std::map<int, std::unique_ptr<sim::UnitState>> units;
    std::lock_guard<std::mutex> guard(lock);
    const sim::Instant at{0, 1700000000};
    auto& unit = units[mcb];
    if (!unit) unit.reset(new sim::UnitState(sim::DemoChainConfig(at.seconds).units.at(mcb), at));
    unit->selected = det;
    sim::Reply reply = sim::Execute(*unit, command, at);
    return reply.texts.empty() ? std::string() : reply.texts.front();
}

std::string SealedValue(const std::string& prefix, std::uint32_t seed) {
    std::string text = prefix + ".";
    for (char& c : text) c = c == ' ' ? '_' : c;
    for (std::uint32_t i = 0; i < seed % 40; ++i) text += static_cast<char>('a' + (seed * 31 + i * 7) % 26);
    return text + "#" + Hex8(Fnv(text));
}

bool SealIntact(const std::string& value) {
    std::size_t hash = value.rfind('#');
    return hash != std::string::npos && value.substr(hash + 1) == Hex8(Fnv(value.substr(0, hash)));
}

std::vector<std::uint32_t> SeedWords(std::uint32_t seed, int count) {
    std::vector<std::uint32_t> words(static_cast<std::size_t>(count));
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::uint32_t& word : words) {
        x ^= x << 13;
        x ^= x >> 17;
        word = x ^= x << 5;
    }
    return words;
}

std::string WordsText(std::uint32_t seed, int count) {
    std::string text;
    for (std::uint32_t word : SeedWords(seed, count)) text += (text.empty() ? "" : " ") + Hex8(word & 0x00FFFFFF);
    return text;
}

long EnvNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    long value = text != nullptr ? std::atol(text) : 0;
    return value > 0 ? value : fallback;
}

}  // namespace kestrel_mp
