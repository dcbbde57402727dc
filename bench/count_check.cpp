#include "bench/count_check.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "bench/model.h"
#include "bench/replay.h"
#include "bench/worlds.h"
#include "support/rig.h"

namespace bench {

namespace {

std::string Row(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Row(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace

int CheckCounts(std::ostream& out) {
    int mismatches = 0;
    out << "Driver requests and 1 ms pauses per operation on the simulator: the first call after\n"
           "set-up, a second call, and what the algorithms imply (model).\n";
    out << Row("%-24s %-6s %9s %9s %9s   %6s %6s %6s\n", "operation", "driver", "first", "again", "model", "pauses",
               "again", "model");
    for (const OpInfo& info : Operations()) {
        const model::Cost expected = model::Operation(info.op, MakeChain(info.chain));
        for (Protocol protocol : kProtocols) {
            fake::Rig rig;
            World world = Of(rig);
            bool ok = Prepare(world, info.op, protocol);
            OpRunner run(world, info.op);
            Capture first, again;
            if (ok) first = CaptureOne(world, run);
            if (ok) again = CaptureOne(world, run);
            ok = ok && first.ok && again.ok;
            const std::uint64_t model = expected.For(protocol);
            out << Row("%-24s %-6s %9llu %9llu %9llu   %6llu %6llu %6llu\n", info.name, ProtocolName(protocol),
                       static_cast<unsigned long long>(first.requests),
                       static_cast<unsigned long long>(again.requests), static_cast<unsigned long long>(model),
                       static_cast<unsigned long long>(first.pauses), static_cast<unsigned long long>(again.pauses),
                       static_cast<unsigned long long>(expected.pauses));
            if (!ok) {
                ++mismatches;
                out << "MISMATCH: " << info.name << " (" << ProtocolName(protocol) << ") did not succeed\n";
            } else if (first.refused || again.refused) {
                ++mismatches;
                out << "MISMATCH: " << info.name << " (" << ProtocolName(protocol) << "): the driver refused "
                    << first.refused + again.refused << " request(s)\n";
            } else if (first.requests != model || again.requests != model || first.pauses != expected.pauses ||
                       again.pauses != expected.pauses) {
                ++mismatches;
                out << "MISMATCH: " << info.name << " (" << ProtocolName(protocol) << "): requests " << first.requests
                    << "/" << again.requests << " vs model " << model << ", pauses " << first.pauses << "/"
                    << again.pauses << " vs model " << expected.pauses << "\n";
            }
        }
    }
    out << (mismatches ? "Request counts: " + std::to_string(mismatches) + " MISMATCH(ES)\n"
                       : std::string("Request counts: all match the model\n"))
        << std::endl;
    return mismatches;
}

}  // namespace bench
