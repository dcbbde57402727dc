#include "multiprocess/soak_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "multiprocess/soak_client.h"
#include "posix/child_process.h"

namespace kestrel_test {

void Expectations::Read(const std::string& path) {
    for (const std::string& line : ReadLines(path)) {
        std::istringstream in(line);
        std::string mark, kind;
        in >> mark;
        if (mark == "O") {
            ++opened;
            continue;
        }
        if (mark == "E") {
            errors.push_back(path + ": " + line.substr(2));
            continue;
        }
        if ((mark != "P" && mark != "A") || !(in >> kind)) {
            errors.push_back(path + ": unreadable journal line \"" + line + "\"");
            continue;
        }
        const bool acked = mark == "A";
        if (acked) ++acknowledged;
        int mcb = 0, det = 0;
        in >> mcb >> det;
        if (kind == "V") {
            std::string name, value;
            in >> name >> value;
            auto& may = values[std::make_tuple(mcb, det, name)];
            if (acked) may.clear();
            may.insert(value);
        } else if (kind == "D") {
            std::uint32_t start = 0, seed = 0;
            in >> start >> seed;
            auto& may = data[std::make_tuple(mcb, det, start)];
            if (acked) may.clear();
            may.insert(seed);
        } else if (kind == "L") {
            std::uint32_t number = 0;
            std::string owner;
            in >> number >> owner;
            // A writer is one thread of one incarnation: the number says which.
            auto& may = lockWriters_[std::make_tuple(path + ":" + std::to_string(number / 100000), mcb, det)];
            if (acked) may.clear();
            may.insert(std::to_string(number) + " " + owner);
            std::set<std::string>& all = locks[std::make_pair(mcb, det)];
            all.clear();
            for (const auto& writer : lockWriters_)
                if (std::get<1>(writer.first) == mcb && std::get<2>(writer.first) == det)
                    all.insert(writer.second.begin(), writer.second.end());
        } else {
            errors.push_back(path + ": unreadable journal line \"" + line + "\"");
        }
    }
}

namespace {

std::string Show(const std::set<std::string>& values) {
    std::string text;
    for (const std::string& value : values) text += "\"" + value + "\" ";
    return text;
}

std::string DataText(std::uint32_t seed) {
    std::string text;
    for (std::uint32_t word : SoakDataWords(seed)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08x ", word & 0x00FFFFFF);
        text += hex;
    }
    return text;
}

}  // namespace

CheckFigures CheckStoredValues(ServedSystem& system, const Expectations& expected) {
    CheckFigures figures;
    Child checker("SoakChecker", system.dir());
    if (!checker.Expect("opened", 30000)) return figures;
    for (const auto& entry : expected.values) {
        int mcb = std::get<0>(entry.first), det = std::get<1>(entry.first);
        const std::string& name = std::get<2>(entry.first);
        checker.Send("value " + std::to_string(mcb) + " " + std::to_string(det) + " " + name);
        std::string got = checker.Receive();
        ++figures.values;
        EXPECT_TRUE(entry.second.count(got) == 1)
            << "MCB " << mcb << " detector " << det << " value " << name << " is \"" << got
            << "\"; it may be " << Show(entry.second);
        // Values of the unit's detectors are in that detector, no other.
        if (mcb == 9) {
            std::string inUnit = system.UnitValue(mcb, det, name);
            EXPECT_EQ(inUnit, got) << "MCB 9 detector " << det << " value " << name;
            EXPECT_EQ(system.UnitValue(mcb, 3 - det, name) == got, false)
                << "MCB 9 detector " << 3 - det << " holds detector " << det << "'s value " << name;
        }
    }
    for (const auto& entry : expected.data) {
        int mcb = std::get<0>(entry.first), det = std::get<1>(entry.first);
        std::uint32_t start = std::get<2>(entry.first);
        checker.Send("data " + std::to_string(mcb) + " " + std::to_string(det) + " " + std::to_string(start));
        std::string got = checker.Receive();
        ++figures.data;
        std::set<std::string> may;
        for (std::uint32_t seed : entry.second) may.insert(DataText(seed));
        EXPECT_TRUE(may.count(got) == 1) << "MCB " << mcb << " detector " << det << " channels from "
                                         << start << " are " << got << "; they may be " << Show(may);
    }
    for (const auto& entry : expected.locks) {
        checker.Send("lock " + std::to_string(entry.first.first) + " " + std::to_string(entry.first.second));
        std::string got = checker.Receive();
        ++figures.locks;
        EXPECT_TRUE(entry.second.count(got) == 1)
            << "MCB " << entry.first.first << " detector " << entry.first.second << " lock is \"" << got
            << "\"; it may be the last of some writer: " << Show(entry.second);
    }
    checker.Send("exit");
    checker.Expect("closed");
    EXPECT_EQ(checker.Wait(), 0) << checker.Log();
    return figures;
}

}  // namespace kestrel_test
