#include "fuzz/dialog_harness.h"
#include "fuzz/harness_registry.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "protocol/dialog.h"
#include "protocol/status_record.h"
#include "support/rig.h"

namespace fuzz {
namespace {

constexpr std::size_t kMaxMessage = 2000;  // fits the unit's message area

std::vector<std::vector<std::string>> Exchanges(const std::uint8_t* data, std::size_t size) {
    std::vector<std::vector<std::string>> exchanges(1);
    std::string message;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0x00 || data[i] == 0x01) {
            exchanges.back().push_back(message);
            message.clear();
            if (data[i] == 0x01) exchanges.emplace_back();
        } else if (message.size() < kMaxMessage) {
            message += static_cast<char>(data[i]);
        }
    }
    exchanges.back().push_back(message);
    return exchanges;
}

}  // namespace

bool RunDialog(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return true;
    const std::int32_t respSize = data[0] % 40;  // 0: no response wanted
    fake::Rig rig;
    sim::UnitConfig config;
    sim::Unit* unit = rig.chain->addUnit(9, config);
    rig.ConnectNt();
    rig.OpenDriverOnly();
    rig.Record(9).nMailboxType = 5;
    rig.os.requestCostMicros = 500;  // time-outs are reached in fewer polls
    for (auto& exchange : Exchanges(data + 2, size - 2)) unit->faults.scripted.push_back(std::move(exchange));

    // The response buffer is exactly as large as announced, so any write
    // past it is caught by AddressSanitizer.
    std::unique_ptr<char[]> resp(new char[respSize > 0 ? respSize : 1]);
    std::int32_t respLen = -7, localErr = -7, status2 = -7;
    std::int32_t result = mcb_dialog(9, "SHOW_VERS", 9, respSize, resp.get(), &respLen, &localErr, &status2);

    if (result == 0) {
        if (localErr != -1 && localErr != -2 && localErr != -3) return false;
        if (status2 != 0 || respLen != 0) return false;
        if (respSize > 0 && resp[0] != '\0') return false;
    } else if (result == 1) {
        if (localErr < -99 || localErr > 999 || status2 < -99 || status2 > 999) return false;
        if (respSize > 0) {
            if (respLen < 0 || respLen > respSize - 1) return false;
            if (resp[respLen] != '\0') return false;
        }
    } else {
        return false;
    }
    return true;
}

bool RunStatusRecord(const std::uint8_t* data, std::size_t size) {
    if (size < 10) return true;
    std::unique_ptr<char[]> record(new char[10]);
    std::memcpy(record.get(), data, 10);
    std::int32_t first = -1000, second = -1000;
    bool good = ParseStatusRecord(record.get(), &first, &second);
    if (record[0] != '%') return !good && first == -1000 && second == -1000;
    return first >= -99 && first <= 999 && second >= -99 && second <= 999;
}

namespace {
// Its corpus feeds both, as the fuzz target does.
bool RunDialogAndStatus(const std::uint8_t* data, std::size_t size) {
    return RunDialog(data, size) && RunStatusRecord(data, size);
}
const Registration kDialog("dialog", &RunDialogAndStatus);
}  // namespace

}  // namespace fuzz
