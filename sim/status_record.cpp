#include "sim/status_record.h"

#include <cstdint>
#include <cstdio>

namespace sim {

int StatusChecksum(std::string_view record) {
    int sum = 0;
    for (std::size_t i = 0; i < 7 && i < record.size(); ++i) sum += static_cast<std::int8_t>(record[i]);
    return sum & 255;
}

std::string StatusRecord(int first, int second) {
    char text[16];
    std::snprintf(text, sizeof text, "%%%03d%03d", ((first % 1000) + 1000) % 1000, ((second % 1000) + 1000) % 1000);
    std::string record(text);
    std::snprintf(text, sizeof text, "%03d", StatusChecksum(record));
    return record + text;
}

}  // namespace sim
