#include "multiprocess/served_system.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "multiprocess/observed_os.h"
#include "sim/commands.h"
#include "sim/demo.h"
#include "sim/unit.h"
#include "sim/unit_state.h"

namespace kestrel_test {
namespace {

constexpr const char* kMutexName = "UADDVELDAMUTEXKS";
constexpr std::size_t kMaxExamples = 8;

std::uint32_t GetLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint32_t Fnv(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

bool AllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// "a, b" with two decimal numbers.
bool TwoNumbers(const std::string& text) {
    std::size_t comma = text.find(", ");
    return comma != std::string::npos && AllDigits(text.substr(0, comma)) &&
           AllDigits(text.substr(comma + 2));
}

bool KnownName(const std::string& name) {
    if (name == "@LOCK" || name == "@START" || name == "@DESC" || name == "@ID") return true;
    if (name.size() < 2 || name[0] != 'K') return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

// "@LOCK" text: the number, a blank, and a sealed owner "L<number>...".
bool LockText(const std::string& value) {
    std::size_t blank = value.find(' ');
    if (blank == std::string::npos) return false;
    std::string number = value.substr(0, blank);
    std::string owner = value.substr(blank + 1);
    return AllDigits(number) && owner.rfind("L" + number + ".", 0) == 0 && SealIntact(owner);
}

bool WellFormedValue(const std::string& name, const std::string& value) {
    if (name == "@LOCK") return LockText(value);
    if (name == "@START") return AllDigits(value);
    return SealIntact(value);
}

// Whether a command text is one that some client of the tests sends
// (directly or through the add-in), for a unit with `detectors` inputs.
bool WellFormedCommand(const std::string& text, bool fourDevice, int detectors) {
    static const char* const kPlain[] = {"SHOW_VERS",  "SHOW_CONF", "SHOW_FEAT",     "SHOW_FEAT_EXTE",
                                         "SHOW_CONF_MASK", "SHOW_ACTI", "SHOW_ACTI_DEVI", "CLEAR_ROI"};
    for (const char* plain : kPlain)
        if (text == plain) return true;
    auto after = [&](const char* prefix, std::string* rest) {
        std::size_t n = std::strlen(prefix);
        if (text.compare(0, n, prefix) != 0) return false;
        *rest = text.substr(n);
        return true;
    };
    std::string rest;
    if (after(fourDevice ? "SET_DEVI " : "SET_SEGM ", &rest))
        return AllDigits(rest) && std::atoi(rest.c_str()) >= 1 && std::atoi(rest.c_str()) <= detectors;
    if (after("SET_VIEW ", &rest)) return rest == "0" || rest == "1";
    if (after("SET_ROI ", &rest) || after("SET_WIND ", &rest)) return TwoNumbers(rest);
    if (after("SHOW_DATA_APP \"", &rest))
        return rest.size() >= 2 && rest.back() == '"' && KnownName(rest.substr(0, rest.size() - 1));
    if (after("SET_DATA_APP \"", &rest)) {
        std::size_t close = rest.find("\",\"");
        if (close == std::string::npos || rest.size() < close + 4 || rest.back() != '"') return false;
        std::string name = rest.substr(0, close);
        std::string value = rest.substr(close + 3, rest.size() - close - 4);
        return KnownName(name) && WellFormedValue(name, value);
    }
    return false;
}

}  // namespace

// --- BracketChecker -----------------------------------------------------------

void BracketChecker::Violation(const std::string& what) {
    ++report_.violations;
    if (report_.examples.size() < kMaxExamples) report_.examples.push_back(what);
}

void BracketChecker::OnRequest(std::uint64_t connection, std::uint32_t code,
                               const std::uint8_t* input, std::uint32_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    std::string who = "connection " + std::to_string(connection);
    if (superseded_.count(connection) != 0)
        Violation(who + " spoke after another process had taken over its hold");
    if (code == kMarkAcquired || code == kMarkReleasing) {
        std::uint32_t thread = length >= 8 ? GetLE32(input + 4) : 0;
        if (code == kMarkAcquired) {
            ++report_.brackets;
            if (held_) {
                if (holder_ == connection) {
                    Violation(who + ": two threads of one process held the mutex at once");
                } else {
                    ++report_.takeovers;
                    superseded_.insert(holder_);
                }
            }
            held_ = true;
            holder_ = connection;
            holderThread_ = thread;
            holderPid_ = length >= 8 ? GetLE32(input) : 0;
        } else {
            if (!held_ || holder_ != connection || holderThread_ != thread)
                Violation(who + " released a hold it did not have");
            held_ = false;
        }
        return;
    }
    ++report_.requests;
    if (!held_)
        Violation(who + ": request while no process held the mutex");
    else if (holder_ != connection)
        Violation(who + ": request while connection " + std::to_string(holder_) + " held the mutex");
}

void BracketChecker::OnClosed(std::uint64_t connection) {
    std::lock_guard<std::mutex> guard(lock_);
    superseded_.erase(connection);
    if (held_ && holder_ == connection) {
        held_ = false;
        ++report_.abandoned;
    }
}

std::uint32_t BracketChecker::HolderPid() const {
    std::lock_guard<std::mutex> guard(lock_);
    return held_ ? holderPid_ : 0;
}

BracketChecker::Report BracketChecker::Get() const {
    std::lock_guard<std::mutex> guard(lock_);
    Report report = report_;
    report.unclosedTakeovers = superseded_.size();
    return report;
}

// --- ProbedRecord ---------------------------------------------------------------

ProbedRecord::ProbedRecord(const McbRecord& r)
    : nDetectors(r.nDetectors),
      nMailboxType(r.nMailboxType),
      bResponding(r.bResponding),
      bDevices(r.bDevices),
      wTotalChannels(r.wTotalChannels),
      version(r.szVersion, strnlen(r.szVersion, sizeof r.szVersion)) {
    for (int d = 0; d < MAX_DETECTORS; ++d) {
        words.push_back(r.dwDataMask[d]);
        words.push_back(r.dwAuxMask[d]);
        words.push_back(r.wChannels[d]);
        for (int w = 0; w < FEATURE_WORDS; ++w) words.push_back(r.dwFeatures[d][w]);
    }
}

bool ProbedRecord::operator==(const ProbedRecord& o) const {
    return nDetectors == o.nDetectors && nMailboxType == o.nMailboxType &&
           bResponding == o.bResponding && bDevices == o.bDevices &&
           wTotalChannels == o.wTotalChannels && version == o.version && words == o.words;
}

std::string ProbedRecord::Describe() const {
    char text[200];
    std::snprintf(text, sizeof text,
                  "type %d, %d detectors, responding %d, devices %d, %u channels, version \"%s\", "
                  "word 0 0x%08X, data mask 0x%08X, channels[0] %u",
                  nMailboxType, nDetectors, bResponding, bDevices, wTotalChannels, version.c_str(),
                  words[3], words[0], words[2]);
    return text;
}

// --- ServedSystem -------------------------------------------------------------

ServedSystem::ServedSystem() : chain_(sim::Chain::Default()) {
    WriteText(dir_ / "HVNACC32.INI", "[CONFIG]\nLPT=1\n");
    WriteText(dir_ / "registry.txt",
              "[HARDWARE\\DESCRIPTION\\System\\MultifunctionAdapter\\3\\ParallelController\\1]\n"
              "Configuration Data = 00 00 00 00 00 00 00 00 01 00 01 00 01 00 00 00 "
              "01 01 00 00 78 02 00 00\n");
    std::string error;
    if (!claim_.Claim(dir_ / "dev/TarnDev", &error)) {
        std::fprintf(stderr, "served system: %s\n", error.c_str());
        return;
    }
    if (::pipe2(stop_, O_CLOEXEC) != 0) return;
    service_.reset(new portd::Service(*chain_, claim_.listener(), stop_[0]));
    service_->onRequest = [this](std::uint64_t connection, std::uint32_t code,
                                 const std::uint8_t* input, std::uint32_t length) {
        brackets_.OnRequest(connection, code, input, length);
    };
    service_->onClosed = [this](std::uint64_t connection) { brackets_.OnClosed(connection); };
    service_->onConnections = [this](std::size_t count) {
        std::unique_lock<std::mutex> guard(pauseLock_);
        if (pauseArmed_) {
            // The parent's own connection: park the service here.
            pauseArmed_ = false;
            paused_ = true;
            pauseChanged_.notify_all();
            pauseChanged_.wait(guard, [this] { return !paused_; });
            --count;
        }
        connections_.store(count);
    };
    thread_ = std::thread([this] { service_->Run(); });
    serving_ = true;
}

ServedSystem::~ServedSystem() {
    ResumeService();
    if (thread_.joinable()) {
        char byte = 1;
        ssize_t ignored = ::write(stop_[1], &byte, 1);
        (void)ignored;
        thread_.join();
    }
    service_.reset();
    claim_.Release();
    for (int fd : stop_)
        if (fd >= 0) ::close(fd);
    if (os_ && mutex_ != nullptr) os_->MutexClose(mutex_);
}

bool ServedSystem::PauseService() {
    std::unique_lock<std::mutex> guard(pauseLock_);
    pauseArmed_ = true;
    guard.unlock();
    pauser_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = dir_ / "dev/TarnDev";
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(pauser_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    guard.lock();
    return pauseChanged_.wait_for(guard, std::chrono::seconds(10), [this] { return paused_; });
}

void ServedSystem::ResumeService() {
    {
        std::lock_guard<std::mutex> guard(pauseLock_);
        paused_ = false;
    }
    pauseChanged_.notify_all();
    if (pauser_ >= 0) ::close(pauser_);
    pauser_ = -1;
}

bool ServedSystem::WaitNoConnections(int timeoutMs) const {
    for (int waited = 0; waited < timeoutMs; waited += 2) {
        if (connections_.load() == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return connections_.load() == 0;
}

SharedState& ServedSystem::Table() {
    if (!os_) os_.reset(new platform::posix::PosixOs(dir_.path()));
    return *os_->Shared();
}

bool ServedSystem::Lock(int timeoutMs) {
    if (!os_) os_.reset(new platform::posix::PosixOs(dir_.path()));
    if (mutex_ == nullptr) mutex_ = os_->MutexCreate(kMutexName);
    if (mutex_ == nullptr) return false;
    // The wait has no time-out of its own: a helper thread gives up on it.
    std::atomic<bool> done{false};
    std::thread watch([&] {
        for (int waited = 0; waited < timeoutMs && !done.load(); waited += 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!done.load()) {
            std::fprintf(stderr, "served system: the add-in's mutex was not had in %d ms\n", timeoutMs);
            std::abort();
        }
    });
    platform::WaitResult result = os_->MutexWait(mutex_);
    done.store(true);
    watch.join();
    return result != platform::WaitResult::Failed;
}

void ServedSystem::Unlock() {
    if (os_ && mutex_ != nullptr) os_->MutexRelease(mutex_);
}

int ServedSystem::UnitSelected(int mcb) {
    std::lock_guard<std::mutex> guard(chain_->mutex());
    return chain_->unit(mcb)->state().selected;
}

int ServedSystem::UnitView(int mcb) {
    std::lock_guard<std::mutex> guard(chain_->mutex());
    return chain_->unit(mcb)->state().view;
}

std::string ServedSystem::UnitValue(int mcb, int det, const std::string& name) {
    std::lock_guard<std::mutex> guard(chain_->mutex());
    const auto& values = chain_->unit(mcb)->state().detector(det).config.appData;
    auto found = values.find(name);
    return found == values.end() ? "<none>" : found->second;
}

std::vector<std::string> ServedSystem::MalformedCommands(int mcb, std::uint64_t* count) {
    std::lock_guard<std::mutex> guard(chain_->mutex());
    const sim::Unit& unit = *chain_->unit(mcb);
    std::vector<std::string> bad;
    *count = unit.received().size();
    for (const sim::ReceivedCommand& command : unit.received()) {
        if (command.zeroLength) continue;
        if (!WellFormedCommand(command.text, unit.state().fourDevice(), unit.state().detectorCount()))
            bad.push_back(command.text);
    }
    return bad;
}

std::string ServedSystem::SelectionMismatch() {
    SharedState& table = Table();
    std::string mismatch;
    for (int mcb : {9, 12}) {
        const McbRecord& record = table.records[mcb - MCB_FIRST];
        int selected = UnitSelected(mcb), view = UnitView(mcb);
        if (record.nCurDevSeg != -1 && record.nCurDevSeg != selected)
            mismatch += "MCB " + std::to_string(mcb) + ": the table says input " +
                        std::to_string(record.nCurDevSeg) + " is selected, the unit has " +
                        std::to_string(selected) + "; ";
        // Only a unit with views keeps one; the others are always at view 0.
        if (record.nCurView != -1 && record.nCurView != view)
            mismatch += "MCB " + std::to_string(mcb) + ": the table says view " +
                        std::to_string(record.nCurView) + ", the unit has " + std::to_string(view) + "; ";
    }
    return mismatch;
}

// --- helpers ------------------------------------------------------------------

std::string ExpectedReply(int mcb, int det, const std::string& command) {
    static std::mutex lock;
    static std::map<int, std::unique_ptr<sim::UnitState>> units;
    std::lock_guard<std::mutex> guard(lock);
    const sim::Instant at{0, 1700000000};
    auto& unit = units[mcb];
    if (!unit) {
        sim::ChainConfig config = sim::DemoChainConfig(at.seconds);
        unit.reset(new sim::UnitState(config.units.at(mcb), at));
    }
    unit->selected = det;
    sim::Reply reply = sim::Execute(*unit, command, at);
    return reply.texts.empty() ? std::string() : reply.texts.front();
}

std::string SealedValue(const std::string& prefix, std::size_t fillerLength, std::uint32_t seed) {
    std::string text = prefix + ".";
    for (std::size_t i = 0; i < fillerLength; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += static_cast<char>('a' + (seed >> 16) % 26);
    }
    char crc[16];
    std::snprintf(crc, sizeof crc, "#%08x", Fnv(text));
    return text + crc;
}

bool SealIntact(const std::string& value) {
    std::size_t hash = value.rfind('#');
    if (hash == std::string::npos || value.size() != hash + 9) return false;
    char crc[16];
    std::snprintf(crc, sizeof crc, "#%08x", Fnv(value.substr(0, hash)));
    return value.compare(hash, std::string::npos, crc) == 0;
}

std::int64_t MonotonicNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

void AppendLine(int fd, const std::string& line) {
    std::string text = line + "\n";
    ssize_t written = ::write(fd, text.data(), text.size());
    (void)written;
}

long EnvNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return end != text && value > 0 ? value : fallback;
}

}  // namespace kestrel_test
