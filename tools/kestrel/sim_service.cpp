#include "kestrel/sim_service.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kestrel/driver_path.h"
#include "kestrel/tool_error.h"
#include "portd/service.h"
#include "sim/chain.h"

namespace kestrel_tool {

SimService::SimService(const std::string& windir, std::unique_ptr<sim::Chain> chain)
    : chain_(std::move(chain)) {
    std::string error;
    if (!claim_.Claim(DriverSocketPath(windir), &error))
        throw ToolError(kExitEnvironment, "cannot serve the simulated chain: " + error);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw ToolError(kExitEnvironment,
                        std::string("cannot start the driver service: ") + std::strerror(errno));
    stopRead_ = fds[0];
    stopWrite_ = fds[1];
    thread_ = std::thread([this] {
        portd::Service service(*chain_, claim_.listener(), stopRead_);
        service.Run();
    });
}

SimService::~SimService() {
    char byte = 1;
    ssize_t written = ::write(stopWrite_, &byte, 1);
    (void)written;  // the pipe is empty; one byte always fits
    if (thread_.joinable()) thread_.join();
    claim_.Release();
    ::close(stopRead_);
    ::close(stopWrite_);
}

}  // namespace kestrel_tool
