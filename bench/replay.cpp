#include "bench/replay.h"

#include <algorithm>
#include <memory>

#include "common/le32.h"

namespace bench {

namespace {

constexpr std::uint32_t kW95WriteInput = 20;
constexpr std::size_t kFlatField = 12;  // where a Windows 95 write carries its bytes' address

bool IsW95Write(const fake::FakeOs::Request& request) {
    return request.code == sim::kW95Write && request.in.size() == kW95WriteInput;
}

}  // namespace

Capture CaptureOne(World world, OpRunner& run) {
    fake::FakeOs& os = world.os;
    Capture capture;
    const std::uint64_t requests = os.driverRequests;
    const std::uint64_t pauses = os.sleeps;
    const int acquisitions = os.mutexAcquisitions;
    // Start-up opens a driver of its own: what an earlier one refused does
    // not count.
    const std::shared_ptr<sim::EmulatedDriver> driver = os.LastDriver();
    const std::uint64_t refused = driver ? driver->refused() : 0;
    os.requestLog.clear();
    os.logRequests = true;
    capture.ok = run();
    os.logRequests = false;
    if (const auto now = os.LastDriver()) capture.refused = now->refused() - (now == driver ? refused : 0);
    capture.requests = os.driverRequests - requests;
    capture.pauses = os.sleeps - pauses;
    capture.mutexAcquisitions = static_cast<std::uint64_t>(os.mutexAcquisitions - acquisitions);
    capture.log = std::move(os.requestLog);
    os.requestLog.clear();
    return capture;
}

Replay::Replay(sim::Chain& chain, std::vector<fake::FakeOs::Request> requests)
    : driver_(chain), requests_(std::move(requests)) {
    std::uint32_t outMax = 0;
    for (const auto& request : requests_) outMax = std::max(outMax, request.outLen);
    out_.assign(outMax, 0);
    in_.assign(kW95WriteInput, 0);
    // A Windows 95 write's address stands for the bytes it carried.
    driver_.resolveFlat = [this](std::uint32_t, std::uint32_t) { return current_->flatBytes.data(); };
}

void Replay::Run() {
    std::uint32_t returned = 0;
    for (const auto& request : requests_) {
        current_ = &request;
        driver_.ioctl(request.code, request.in.empty() ? nullptr : request.in.data(),
                      static_cast<std::uint32_t>(request.in.size()), request.outNull ? nullptr : out_.data(),
                      request.outLen, &returned);
    }
}

void Replay::RunThroughOs(fake::FakeOs& os, std::intptr_t handle) {
    std::uint32_t returned = 0;
    for (const auto& request : requests_) {
        const std::uint8_t* in = request.in.empty() ? nullptr : request.in.data();
        if (IsW95Write(request)) {
            // The double hands out a fresh address per request, as it does
            // for the add-in.
            std::copy(request.in.begin(), request.in.end(), in_.begin());
            PutLE32(in_.data() + kFlatField, os.FlatAddress(request.flatBytes.data()));
            in = in_.data();
        }
        os.DriverIoctl(handle, request.code, in, static_cast<std::uint32_t>(request.in.size()),
                       request.outNull ? nullptr : out_.data(), request.outLen, &returned);
    }
}

}  // namespace bench
