// A driver service inside this process: serves a simulated chain at
// WINDIR/dev/TarnDev on a thread of its own, for the length of one run.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "portd/socket_claim.h"

namespace sim {
class Chain;
}

namespace kestrel_tool {

class SimService {
public:
    // Starts serving `chain` to the add-in of `windir`. Throws ToolError
    // (environment) when the socket cannot be had.
    SimService(const std::string& windir, std::unique_ptr<sim::Chain> chain);
    ~SimService();
    SimService(const SimService&) = delete;
    SimService& operator=(const SimService&) = delete;

private:
    std::unique_ptr<sim::Chain> chain_;
    portd::SocketClaim claim_;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    std::thread thread_;
};

}  // namespace kestrel_tool
