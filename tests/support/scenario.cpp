#include "support/scenario.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>

#include "addin/process_state.h"
#include "sim/demo.h"
#include "support/guarded_buffer.h"
#include "support/rig.h"

namespace scenario {
namespace {

using Args = std::vector<std::string>;

// Blanks separate words; "..." quotes one, with \n \r \t \0 \" \\ and \xHH.
Args Split(const std::string& line) {
    Args words;
    for (std::size_t i = 0; i < line.size();) {
        if (line[i] == ' ' || line[i] == '\t') { ++i; continue; }
        std::string word;
        if (line[i] != '"') {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
        } else {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                const char c = line[i] == '\\' && i + 1 < line.size() ? line[++i] : '\1';
                if (c == '\1') word += line[i];
                else if (c == 'x') word += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16)), i += 2;
                else word += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == '0' ? '\0' : c;
            }
            ++i;
        }
        words.push_back(word);
    }
    return words;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\x%02X", c);
        if (c == '"' || c == '\\') out += '\\';
        out += c < 0x20 || c > 0x7E ? std::string(escaped) : std::string(1, static_cast<char>(c));
    }
    return out + "\"";
}

std::string Hex(std::uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

std::string S(std::int64_t value) { return std::to_string(value); }

std::string Ms(std::uint64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03u ms", static_cast<unsigned long long>(micros / 1000),
                  static_cast<unsigned>(micros % 1000));
    return text;
}

std::int32_t I(const Args& a, std::size_t i, std::int64_t otherwise = 0) {
    return static_cast<std::int32_t>(i < a.size() ? std::stoll(a.at(i), nullptr, 0) : otherwise);
}

std::uint32_t U(const Args& a, std::size_t i) { return static_cast<std::uint32_t>(std::stoll(a.at(i), nullptr, 0)); }

const char* Text(const Args& a, std::size_t i) { return a.at(i) == "null" ? nullptr : a[i].c_str(); }

std::string Overrun(std::initializer_list<fake::GuardedBuffer*> buffers) {
    for (auto* buffer : buffers)
        if (!buffer->Intact()) return " OVERRUN";
    return "";
}

// SetROI and ClearROI take the same arguments and answer alike.
std::string Roi(Kestrel& addin, decltype(&Kestrel::SetROI) op, const Args& a) {
    fake::GuardedBuffer err(4), st(4);
    const std::int32_t result = (addin.*op)(I(a, 1), I(a, 2), U(a, 3), U(a, 4), I(a, 5), err.int32(), st.int32());
    return S(result) + " err=" + S(*err.int32()) + " st2=" + S(*st.int32()) + Overrun({&err, &st});
}

// A driver request as text: the code, the input in 4-byte groups as they lie in memory, the output length;
// a Windows 95 write's flat address is shown as "*" and the bytes it pointed at.
std::string Request(const fake::FakeOs::Request& r) {
    auto bytes = [](const std::uint8_t* p, std::size_t n) {
        std::string text;
        char two[3];
        for (std::size_t i = 0; i < n; ++i) {
            std::snprintf(two, sizeof two, "%02X", p[i]);
            text += (i && i % 4 == 0 ? " " : "") + std::string(two);
        }
        return text.empty() ? std::string("-") : text;
    };
    std::string text = Hex(r.code) + " in ";
    if (r.code == 3 && r.in.size() == 20)
        text += bytes(r.in.data(), 12) + " *" + bytes(r.flatBytes.data(), r.flatBytes.size()) + " " +
                bytes(r.in.data() + 16, 4);
    else
        text += bytes(r.in.data(), r.in.size());
    return text + " out " + S(r.outLen) + (r.outNull != (r.outLen == 0) ? (r.outNull ? " null" : " buffer") : "");
}

// What one line of a script did.
struct Step {
    std::string result;
    std::vector<std::string> trace, took, requests;
    std::uint64_t micros = 0;  // fake time the step took
    bool talked = false;
};

class World {
public:
    fake::Rig rig;
    bool logRequests = false;

    World(const std::string& chain, bool nt) {
        std::string error;
        rig.LoadChain(chain.empty() ? sim::DemoChainConfig(fake::kEpoch) : *sim::ParseChainConfig(chain, &error));
        nt ? rig.ConnectNt() : rig.ConnectWin95();
    }

    sim::Unit& Unit(const std::string& mcb) {
        sim::Unit* unit = rig.chain->unit(std::stoi(mcb));
        if (!unit) throw std::runtime_error("no unit at MCB " + mcb);
        return *unit;
    }

    void Heal() {
        for (int mcb = 9; mcb <= 16; ++mcb)
            if (sim::Unit* unit = rig.chain->unit(mcb)) unit->faults = sim::Faults{};
        if (auto driver = rig.os.LastDriver()) driver->failAll = false, driver->failNext(0);
    }

    Step Do(const std::string& line);
    std::string Fault(const Args& a);
    std::string Record(int mcb);
};

using Verb = std::function<std::string(World&, const Args&)>;

std::string World::Fault(const Args& a) {
    sim::Faults& f = Unit(a.at(1)).faults;
    const std::string& what = a.at(2);
    auto delay = [&](std::optional<std::uint32_t>& d) {
        d = a.at(3) == "never" ? std::nullopt : std::optional<std::uint32_t>(U(a, 3));
    };
    if (what == "take_delay") delay(f.takeDelayMs);
    else if (what == "post_delay") delay(f.postDelayMs);
    else if (what == "take_zero") f.takeZeroLength = a.at(3) == "yes";
    else if (what == "garbage") f.garbageMessages = I(a, 3);
    else if (what == "extra") f.extraLines = I(a, 3);
    else if (what == "bad_checksum") f.badChecksumNext = I(a, 3);
    else if (what == "bad_then_good") f.badThenGoodNext = I(a, 3);
    else if (what == "wrong_length") f.wrongLength = U(a, 3), f.wrongLengthNext = I(a, 4, 1);
    else if (what == "flood") f.floodNext = I(a, 3);
    else if (what == "too_long") f.tooLongNext = I(a, 3);
    else if (what == "refuse") f.refuse(a.at(3), I(a, 4), I(a, 5));
    else if (what == "reply") f.reply(a.at(3), Args(a.begin() + 4, a.end()));
    else if (what == "script") f.scripted.push_back(Args(a.begin() + 3, a.end()));
    else if (what == "stuck") Unit(a[1]).setMailboxByte(sim::kOutFlag, sim::kFull);
    else throw std::runtime_error("unknown fault " + what);
    return "";
}

std::string World::Record(int mcb) {
    const McbRecord& r = rig.Record(mcb);
    std::string text = "type=" + S(r.nMailboxType) + " resp=" + S(r.bResponding) + " dev=" + S(r.bDevices) +
                       " ver=" + Quote(std::string(r.szVersion, strnlen(r.szVersion, sizeof r.szVersion))) +
                       " dets=" + S(r.nDetectors) + " total=" + S(r.wTotalChannels) + " seg=" + S(r.nCurDevSeg) +
                       " view=" + S(r.nCurView);
    for (int d = 0; d < std::max(1, std::min(r.nDetectors, MAX_DETECTORS)); ++d) {
        std::string words;
        int last = FEATURE_WORDS;
        while (last > 0 && !r.dwFeatures[d][last - 1]) --last;
        for (int w = 0; w < last; ++w) words += " " + Hex(r.dwFeatures[d][w]);
        if (words.empty() && !r.wChannels[d] && !r.dwDataMask[d] && !r.dwAuxMask[d] && !r.dwLock[d] &&
            !r.tStartTime[d] && !r.dwDetectorWord[d])
            continue;
        text += "\n  d" + S(d + 1) + " ch=" + S(r.wChannels[d]) + " masks=" + Hex(r.dwDataMask[d]) + "/" +
                Hex(r.dwAuxMask[d]) + " feat=" + (words.empty() ? " -" : words) + " lock=" + S(r.dwLock[d]) +
                " word=" + S(r.dwDetectorWord[d]) + " start=" + S(r.tStartTime[d]);
    }
    return text;
}

const std::map<std::string, Verb>& Verbs() {
    static const std::map<std::string, Verb> verbs = {
        // The add-in's operations.
        {"start", [](World& w, const Args&) { return w.rig.addin.ProcessStartup(1), ""; }},
        {"shutdown", [](World& w, const Args&) { return w.rig.addin.ProcessShutdown(1), ""; }},
        {"open", [](World& w, const Args&) { return S(w.rig.addin.Open()); }},
        {"close", [](World& w, const Args&) { return S(w.rig.addin.Close()); }},
        {"counts", [](World& w, const Args& a) {
             if (a.size() > 1) w.rig.os.shared.nSystemOpenCount = I(a, 1);
             return "process=" + S(Process().nProcessOpenCount) + " system=" + S(w.rig.os.shared.nSystemOpenCount);
         }},
        {"mutex_fails", [](World& w, const Args& a) { return w.rig.os.failMutexWait = a.at(1) == "yes", ""; }},
        {"level", [](World& w, const Args& a) { return S(w.rig.addin.SetDebugLevel(I(a, 1))); }},
        {"init", [](World& w, const Args&) { return S(w.rig.addin.InitDetectors()); }},
        {"valid", [](World& w, const Args& a) { return S(w.rig.addin.IsValidDetector(I(a, 1), I(a, 2))); }},
        {"invalidate", [](World& w, const Args& a) { return w.rig.addin.InvalidateMcb(I(a, 1)), ""; }},
        {"refresh", [](World& w, const Args&) { return w.rig.addin.RefreshLocks(), ""; }},
        {"send",
         [](World& w, const Args& a) {
             const std::int32_t size = I(a, 4, 64);
             fake::GuardedBuffer resp(static_cast<std::size_t>(size)), len(4), err(4), st(4);
             const bool ok = w.rig.addin.SendCommand(I(a, 1), I(a, 2), Text(a, 3), size, size ? resp.chars() : nullptr,
                                                     size ? len.int32() : nullptr, err.int32(), st.int32());
             return S(ok) + " err=" + S(*err.int32()) + " st2=" + S(*st.int32()) +
                    (size ? " resp=" + Quote(resp.Text()) + " len=" + S(*len.int32()) : "") +
                    Overrun({&resp, &len, &err, &st});
         }},
        {"lock",
         [](World& w, const Args& a) {
             fake::GuardedBuffer owner(static_cast<std::size_t>(I(a, 3, 32)));
             char* buffer = a.size() > 3 && I(a, 3) == 0 ? nullptr : owner.chars();
             const std::uint32_t lock = w.rig.addin.GetLock(I(a, 1), I(a, 2), buffer, I(a, 3, 32));
             return S(lock) + " " + Quote(owner.Text()) + Overrun({&owner});
         }},
        {"setlock", [](World& w, const Args& a) { return w.rig.addin.SetLock(I(a, 1), I(a, 2), U(a, 3), Text(a, 4)), ""; }},
        {"word", [](World& w, const Args& a) { return S(w.rig.addin.GetDetectorWord(I(a, 1), I(a, 2))); }},
        {"setword", [](World& w, const Args& a) { return w.rig.addin.SetDetectorWord(I(a, 1), I(a, 2), U(a, 3)), ""; }},
        {"version",
         [](World& w, const Args& a) {
             fake::GuardedBuffer text(static_cast<std::size_t>(I(a, 2, 16)));
             const bool ok = w.rig.addin.GetMcbVersion(I(a, 1), text.chars(), I(a, 2, 16));
             return S(ok) + " " + Quote(text.Text()) + Overrun({&text});
         }},
        {"channels", [](World& w, const Args& a) { return S(w.rig.addin.GetDetectorChannels(I(a, 1), I(a, 2))); }},
        {"count", [](World& w, const Args& a) { return S(w.rig.addin.GetDetectorCount(I(a, 1))); }},
        {"app",
         [](World& w, const Args& a) {
             const std::int32_t size = I(a, 5, 64);
             fake::GuardedBuffer value(static_cast<std::size_t>(size > 0 ? size : 0));
             const std::int32_t n =
                 w.rig.addin.GetAppData(I(a, 1), I(a, 2), Text(a, 3), Text(a, 4), value.chars(), size);
             return S(n) + " " + (size > 0 ? Quote(value.Text()) : "") + Overrun({&value});
         }},
        {"setapp",
         [](World& w, const Args& a) { return S(w.rig.addin.SetAppData(I(a, 1), I(a, 2), Text(a, 3), Text(a, 4))); }},
        {"start_time",
         [](World& w, const Args& a) {
             std::uint32_t now = 7;
             const std::uint32_t start = w.rig.addin.LocalGetStartTime(I(a, 1), I(a, 2), &now);
             // "local": as the local calendar time, whatever the time zone.
             char local[32] = "";
             const std::time_t t = start;
             if (a.size() > 3) std::strftime(local, sizeof local, " (%Y-%m-%d %H:%M:%S)", std::localtime(&t));
             return S(a.size() > 3 ? 0 : start) + local + " now=" + S(now);
         }},
        {"stamp", [](World& w, const Args& a) { return w.rig.addin.SetStartTime(I(a, 1), I(a, 2), 0), ""; }},
        {"desc",
         [](World& w, const Args& a) {
             fake::GuardedBuffer text(static_cast<std::size_t>(I(a, 3, 32)));
             bool isDefault = false;
             const bool ok = w.rig.addin.GetDescription(I(a, 1), I(a, 2), text.chars(), I(a, 3, 32), &isDefault);
             return S(ok) + " " + Quote(text.Text()) + " default=" + S(isDefault) + Overrun({&text});
         }},
        {"id",
         [](World& w, const Args& a) {
             std::uint32_t id = 7;
             bool isDefault = false;
             const bool ok = w.rig.addin.GetDetectorId(I(a, 1), I(a, 2), &id, &isDefault);
             return S(ok) + " " + S(id) + " default=" + S(isDefault);
         }},
        {"setroi", [](World& w, const Args& a) { return Roi(w.rig.addin, &Kestrel::SetROI, a); }},
        {"clearroi", [](World& w, const Args& a) { return Roi(w.rig.addin, &Kestrel::ClearROI, a); }},
        {"getdata",
         [](World& w, const Args& a) {
             const std::int32_t count = I(a, 4);
             fake::GuardedBuffer data(static_cast<std::size_t>(count > 0 ? 4 * count : 0)), masks(8);
             const std::int32_t result = w.rig.addin.GetData(I(a, 1), I(a, 2), masks.words(), masks.words() + 1, 0,
                                                             U(a, 3), count, I(a, 5), data.words());
             std::string text = S(result) + " masks=" + Hex(masks.words()[0]) + "/" + Hex(masks.words()[1]);
             std::uint64_t sum = 0;
             for (std::int32_t i = 0; i < count; ++i) {
                 sum += data.words()[i];
                 if (i < 4 || i == count - 1)
                     text += (i == count - 1 && count > 5 ? " .. " : " ") + Hex(data.words()[i]);
             }
             return text + (count > 5 ? " sum=" + S(static_cast<std::int64_t>(sum)) : "") + Overrun({&data, &masks});
         }},
        {"setdata",
         [](World& w, const Args& a) {
             std::vector<std::uint32_t> values;
             for (std::size_t i = 5; i < a.size(); ++i) values.push_back(U(a, i));
             return S(w.rig.addin.SetData(I(a, 1), I(a, 2), 0, U(a, 3), static_cast<std::int32_t>(values.size()),
                                          U(a, 4), values.data()));
         }},
        {"active",
         [](World& w, const Args& a) {
             std::int32_t status = 7;
             const bool active = w.rig.addin.IsActive(I(a, 1), I(a, 2), &status);
             return S(active) + " status=" + S(status);
         }},
        {"features",
         [](World& w, const Args& a) {
             fake::GuardedBuffer words(static_cast<std::size_t>(4 * I(a, 3)));
             const bool ok = w.rig.addin.GetFeatures(I(a, 1), I(a, 2), I(a, 3) ? words.words() : nullptr, I(a, 3));
             std::string text = S(ok);
             for (std::int32_t i = 0; i < I(a, 3); ++i) text += " " + Hex(words.words()[i]);
             return text + Overrun({&words});
         }},
        // The world around the add-in.
        {"advance", [](World& w, const Args& a) { return w.rig.os.Advance(U(a, 1)), ""; }},
        {"tick_base", [](World& w, const Args& a) { return w.rig.os.tickBase = U(a, 1), ""; }},
        {"wall", [](World& w, const Args& a) { return w.rig.os.wallClock = std::stoll(a.at(1)), ""; }},
        {"fault", [](World& w, const Args& a) { return w.Fault(a); }},
        {"driver",
         [](World& w, const Args& a) {
             auto driver = w.rig.os.LastDriver();
             if (a.at(1) == "dead") driver->failAll = true;
             else driver->failNext(U(a, 2), U(a, 3));
             return "";
         }},
        {"heal", [](World& w, const Args&) { return w.Heal(), ""; }},
        {"port",
         [](World& w, const Args&) {
             const auto& open = w.rig.os.opens.back();
             const auto& driver = *w.rig.os.LastDriver();
             return "port=" + Hex(driver.portAddress()) + " lpt=" + S(driver.lptRequested()) +
                    " open handles=" + S(static_cast<std::int64_t>(w.rig.os.opens.size()) - w.rig.os.driverCloses) +
                    " last open " + Quote(open.path) + " " + Hex(open.access) + " " + Hex(open.share) + " " +
                    Hex(open.disposition) + " " + Hex(open.flags) + " registry keys open=" + S(w.rig.os.openRegKeys);
         }},
        {"remove", [](World& w, const Args& a) { return w.rig.chain->removeUnit(I(a, 1)), ""; }},
        {"add",
         [](World& w, const Args& a) {
             std::string error;
             const auto config = sim::ParseChainConfig("[unit " + a.at(1) + "]\n" + a.at(2), &error);
             if (!config) throw std::runtime_error(error);
             return w.rig.chain->addUnit(I(a, 1), config->units.begin()->second), "";
         }},
        {"no_driver", [](World& w, const Args&) { return w.rig.os.devices.clear(), ""; }},
        {"lpt", [](World& w, const Args& a) { return w.rig.ConnectWin95(I(a, 1)), ""; }},
        {"poke",
         [](World& w, const Args& a) {
             w.rig.chain->sync();
             *w.Unit(a.at(1)).state().word(I(a, 2), U(a, 3)) = U(a, 4);
             return "";
         }},
        {"peek",
         [](World& w, const Args& a) {
             w.rig.chain->sync();
             return Hex(*w.Unit(a.at(1)).state().word(I(a, 2), U(a, 3)));
         }},
        {"forget", [](World& w, const Args& a) { return w.rig.Record(I(a, 1)).nCurDevSeg = -1, ""; }},
        {"forget_view", [](World& w, const Args& a) { return w.rig.Record(I(a, 1)).nCurView = -1, ""; }},
        {"record", [](World& w, const Args& a) { return w.Record(I(a, 1)); }},
        {"ini", [](World& w, const Args& a) { return w.rig.os.profiles[a.at(1)][a.at(2)][a.at(3)] = a.at(4), ""; }},
        {"show_ini",
         [](World& w, const Args&) {
             std::string text;
             for (const auto& [file, sections] : w.rig.os.profiles)
                 for (const auto& [section, keys] : sections)
                     for (const auto& [key, value] : keys)
                         text += "\n  " + file + " [" + section + "] " + key + "=" + Quote(value);
             return text;
         }},
        {"registry",
         [](World& w, const Args& a) {
             std::vector<std::uint8_t> bytes;
             for (std::size_t i = 3; i < a.size(); ++i)
                 bytes.push_back(static_cast<std::uint8_t>(std::stoi(a[i], nullptr, 16)));
             return w.rig.os.registry[a.at(1)][a.at(2)] = bytes, "";
         }},
        {"requests", [](World& w, const Args& a) { return w.logRequests = a.at(1) == "on", ""; }},
        {"config",
         [](World&, const Args& a) {
             std::string error;
             const auto config = sim::ParseChainConfig(a.at(1), &error);
             return config ? "ok, " + S(static_cast<std::int64_t>(config->units.size())) + " units" : error;
         }},
    };
    return verbs;
}

Step World::Do(const std::string& line) {
    Step step;
    const Args args = Split(line);
    std::map<int, std::size_t> took;  // commands each unit had taken before
    for (int mcb = 9; mcb <= 16; ++mcb)
        if (const sim::Unit* unit = rig.chain->unit(mcb)) took[mcb] = unit->received().size();
    const std::size_t traced = rig.os.trace.size();
    const std::uint64_t requests = rig.os.driverRequests;
    const std::uint64_t start = rig.os.nowMicros;
    rig.os.requestLog.clear();
    rig.os.logRequests = logRequests;
    try {
        auto verb = Verbs().find(args.at(0));
        if (verb == Verbs().end()) throw std::runtime_error("unknown verb");
        step.result = verb->second(*this, args);
    } catch (const std::exception& e) {
        step.result = std::string("SCRIPT ERROR: ") + e.what();
    }
    rig.os.logRequests = false;
    if (rig.os.mutexDepth() != 0) step.result += " MUTEX HELD";
    for (std::size_t i = traced; i < rig.os.trace.size(); ++i) {
        std::string text = rig.os.trace[i];
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
        text = Quote(text);
        std::size_t n = 1;
        while (i + 1 < rig.os.trace.size() && rig.os.trace[i + 1] == rig.os.trace[i]) ++i, ++n;
        step.trace.push_back(n > 1 ? text + " x" + S(static_cast<std::int64_t>(n)) : text);
    }
    for (int mcb = 9; mcb <= 16; ++mcb) {
        const sim::Unit* unit = rig.chain->unit(mcb);
        std::string list;
        for (std::size_t i = unit ? took[mcb] : 0; unit && i < unit->received().size(); ++i)
            list += (list.empty() ? "" : "; ") + (unit->received()[i].zeroLength ? "<0>" : unit->received()[i].text);
        if (!list.empty()) step.took.push_back(S(mcb) + " took " + list);
    }
    for (const auto& request : rig.os.requestLog) step.requests.push_back(Request(request));
    step.talked = rig.os.driverRequests != requests;
    step.micros = rig.os.nowMicros - start;
    return step;
}

std::string Cell(const Script& script, bool nt, const std::string& op, const std::string& stage,
                 const std::string& fault) {
    World world(script.chain, nt);
    for (const auto& line : script.lines) world.Do(line);
    world.Do(op);
    if (stage != "-") world.Do(stage);
    for (std::size_t at = 0, end; at < fault.size(); at = end + 2) {
        end = std::min(fault.find("; ", at), fault.size());
        world.Do(fault.substr(at, end - at));
    }
    const Step step = world.Do(op);
    world.Heal();
    std::string text = op + " | " + stage + " | " + fault + " => " + step.result + " [" + Ms(step.micros) + "]";
    for (const auto& took : step.took) text += " " + took + ".";
    for (const auto& line : step.trace) text += " " + line;
    return text + " => then " + world.Do(op).result;
}

std::vector<std::string> Alternatives(const std::string& text) {
    std::vector<std::string> items;
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t bar = text.find(" | ", at);
        if (bar == std::string::npos) bar = text.size();
        std::string item = text.substr(at, bar - at);
        item.erase(0, item.find_first_not_of(' '));
        if (!item.empty()) items.push_back(item);
        at = bar + 3;
    }
    return items;
}

}  // namespace

Script Parse(const std::string& text) {
    Script script;
    const std::size_t expected = text.find("[expected]\n");
    script.head = text.substr(0, expected);
    if (expected != std::string::npos) script.expected = text.substr(expected + 11);
    std::istringstream in(script.head);
    enum { Chain, Lines, Matrix } part = Chain;
    for (std::string line; std::getline(in, line);) {
        if (line == "[script]" || line == "[matrix]") {
            part = line == "[script]" ? Lines : Matrix;
            if (part == Matrix) script.matrices.emplace_back();
        } else if (part == Chain) {
            script.chain += line + "\n";
        } else if (line.empty() || line[0] == '#') {
        } else if (part == Lines && line.rfind("protocol ", 0) == 0) {
            script.each = line == "protocol each";
            if (!script.each) script.protocols = {line == "protocol nt"};
        } else if (part == Lines) {
            script.lines.push_back(line);
        } else {
            auto& matrix = script.matrices.back();
            const std::size_t colon = line.find(':');
            const std::string key = line.substr(0, colon);
            auto& list = key == "ops" ? matrix.ops : key == "stages" ? matrix.stages : matrix.faults;
            for (auto& item : Alternatives(line.substr(colon + 1))) list.push_back(item);
        }
    }
    if (script.chain.find('[') == std::string::npos) script.chain.clear();
    if (!script.chain.empty()) sim::ParseChainConfig(script.chain, &script.error);
    return script;
}

std::string Run(const Script& script, bool nt) {
    std::string out;
    if (script.matrices.empty()) {
        World world(script.chain, nt);
        for (const auto& line : script.lines) {
            const Step step = world.Do(line);
            out += "> " + line + "\n";
            if (!step.result.empty()) out += "= " + step.result + "\n";
            for (const auto& text : step.trace) out += "  | " + text + "\n";
            for (const auto& took : step.took) out += "  " + took + "\n";
            for (const auto& request : step.requests) out += "  : " + request + "\n";
            if (step.talked || step.micros) out += "  ~ " + Ms(step.micros) + "\n";
        }
    }
    for (const auto& matrix : script.matrices)
        for (const auto& op : matrix.ops)
            for (const auto& stage : matrix.stages)
                for (const auto& fault : matrix.faults) out += Cell(script, nt, op, stage, fault) + "\n";
    return out;
}

}  // namespace scenario
