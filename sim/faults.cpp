#include "sim/faults.h"

#include <cctype>

#include "sim/status_record.h"

namespace sim {

namespace {

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Not text at all: control bytes, a stray '%' and bytes above 127.
std::string Garbage(int n) {
    std::string text = "\x01\x7F%\xFE\x80garbage";
    text += static_cast<char>('0' + n % 10);
    return text;
}

}  // namespace

std::optional<std::pair<int, int>> Faults::refusalFor(const std::string& command) const {
    const std::string keyword = command.substr(0, command.find(' '));
    for (const auto& [name, fields] : refusals)
        if (SameText(name, command) || SameText(name, keyword)) return fields;
    return std::nullopt;
}

const std::vector<std::string>* Faults::replyFor(const std::string& command) const {
    const std::string keyword = command.substr(0, command.find(' '));
    for (const auto& [name, texts] : replies)
        if (SameText(name, command) || SameText(name, keyword)) return &texts;
    return nullptr;
}

std::vector<std::string> Faults::messages(const Reply& reply) {
    if (!scripted.empty()) {
        std::vector<std::string> out = std::move(scripted.front());
        scripted.pop_front();
        return out;
    }
    std::vector<std::string> out;
    for (int i = 0; i < garbageMessages; ++i) out.push_back(Garbage(i));
    std::vector<std::string> texts = reply.texts;
    if (tooLongNext > 0) {
        --tooLongNext;
        if (texts.empty()) texts.emplace_back();
        if (texts.front().size() < tooLongLength) texts.front().resize(tooLongLength, 'X');
    }
    out.insert(out.end(), texts.begin(), texts.end());
    for (int i = 0; i < extraLines; ++i) out.push_back("EXTRA LINE " + std::to_string(i + 1));
    if (floodNext > 0) {
        --floodNext;
        out.clear();
        for (int i = 0; i < floodMessages; ++i) out.push_back("BUSY " + std::to_string(i + 1));
        return out;
    }
    std::string record = StatusRecord(reply.first, reply.second);
    if (badChecksumNext > 0) {
        --badChecksumNext;
        int wrong = (StatusChecksum(record) + 1) & 255;
        record.replace(7, 3, std::to_string(1000 + wrong).substr(1));
    }
    if (badThenGoodNext > 0) {
        --badThenGoodNext;
        std::string bad = record;
        bad.replace(7, 3, std::to_string(1000 + ((StatusChecksum(record) + 1) & 255)).substr(1));
        out.push_back(bad);
    }
    if (wrongLengthNext > 0) {
        --wrongLengthNext;
        record.resize(wrongLength, ' ');
    }
    out.push_back(record);
    return out;
}

}  // namespace sim
