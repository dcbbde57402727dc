// The driver socket client against a scripted service: the exact bytes on
// the wire, refusals, replies that do not fit and connections that break.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>

#include "platform/posix/driver_socket.h"
#include "platform/posix/driver_wire.h"
#include "platform/posix/files.h"
#include "platform/posix/posix_os.h"
#include "posix/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

int Listen(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    ::listen(fd, 4);
    return fd;
}

// One request as the service receives it, header and input; empty at the end.
Bytes ReadRequest(int fd) {
    Bytes request;
    for (std::size_t want = platform::posix::kRequestHeaderBytes; request.size() < want;) {
        pollfd entry{fd, POLLIN, 0};
        std::uint8_t byte;
        if (::poll(&entry, 1, 5000) != 1 || ::read(fd, &byte, 1) != 1) return Bytes();
        request.push_back(byte);
        if (request.size() == platform::posix::kRequestHeaderBytes) want += platform::posix::GetLE32(&request[4]);
    }
    return request;
}

struct Exchange {
    Bytes reply;  // what the service sends, then it may hang up
    bool ok;
    std::uint32_t error, returned;
    Bytes out;  // the caller's 6 bytes afterwards, from 7s
};
struct Script {
    const char* what;
    std::vector<Exchange> exchanges;
    bool hangUp;  // after the last reply
};

const Script kScripts[] = {
    {"fields little-endian", {{{1, 0, 0, 0, 4, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD}, true, 0, 4, {0xAA, 0xBB, 0xCC, 0xDD, 7, 7}}}, false},
    {"a refusal, then the handle goes on",
     {{{0, 0, 0, 0, 0, 0, 0, 0}, false, 1, 0, {7, 7, 7, 7, 7, 7}}, {{1, 0, 0, 0, 1, 0, 0, 0, 0x5A}, true, 0, 1, {0x5A, 7, 7, 7, 7, 7}}},
     false},
    {"a refusal's bytes never reach the caller", {{{0, 0, 0, 0, 2, 0, 0, 0, 0x11, 0x22}, false, 1, 0, {7, 7, 7, 7, 7, 7}}}, false},
    // Out of step with the service: later requests fail at once instead of
    // reading the rest of that reply as theirs.
    {"a reply longer than asked for breaks the handle",
     {{{1, 0, 0, 0, 8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, false, 109, 0, {7, 7, 7, 7, 7, 7}}, {{}, false, 109, 0, {7, 7, 7, 7, 7, 7}}},
     false},
    {"a reply cut off by a hang-up", {{{1, 0, 0, 0, 4, 0, 0, 0, 0x11, 0x22}, false, 109, 0, {7, 7, 7, 7, 7, 7}}}, true},
};

TEST(DriverSocket, ScriptedServiceReplies) {
    for (const Script& script : kScripts) {
        kestrel_test::TempDir dir;
        platform::posix::PosixOs os(dir.path());
        ::mkdir((dir / "dev").c_str(), 0700);
        int listener = Listen(dir / "dev/TarnDev");
        std::vector<Bytes> received;
        std::thread service([&] {
            int fd = ::accept(listener, nullptr, nullptr);
            for (const Exchange& exchange : script.exchanges) {
                if (exchange.reply.empty()) break;
                received.push_back(ReadRequest(fd));
                ::send(fd, exchange.reply.data(), exchange.reply.size(), MSG_NOSIGNAL);
            }
            if (!script.hangUp) received.push_back(ReadRequest(fd));  // nothing more: the handle closes
            ::close(fd);
        });
        std::intptr_t driver = os.DriverOpen("\\\\.\\TarnDev", 0xC0000000, 3, 3, 0);
        ASSERT_NE(driver, platform::kInvalidHandle) << script.what;
        for (const Exchange& exchange : script.exchanges) {
            const std::uint8_t in[5] = {1, 2, 3, 4, 5};
            Bytes out(6, 7);
            std::uint32_t returned = 99;
            os.SetLastError(0);
            EXPECT_EQ(os.DriverIoctl(driver, 0x9C402404, in, 5, out.data(), 6, &returned), exchange.ok) << script.what;
            EXPECT_EQ(os.LastError(), exchange.error) << script.what;
            EXPECT_EQ(returned, exchange.returned) << script.what;
            EXPECT_EQ(out, exchange.out) << script.what;
        }
        os.DriverClose(driver);
        service.join();
        ::close(listener);
        EXPECT_EQ(received.front(), (Bytes{0x04, 0x24, 0x40, 0x9C, 5, 0, 0, 0, 6, 0, 0, 0, 1, 2, 3, 4, 5})) << script.what;
        EXPECT_TRUE(script.hangUp || received.back().empty()) << script.what << ": a request too many";
    }
}

TEST(DriverSocket, DevicePathsMapToSocketsInDev) {
    const struct { const char* device; const char* socket; } cases[] = {  // "": refused
        {"\\\\.\\TarnDev", "W/dev/TarnDev"}, {"\\\\.\\KMZ01D.VXD", "W/dev/KMZ01D.VXD"}, {"\\\\.\\..x", "W/dev/..x"},
        {"TarnDev", ""}, {"//./TarnDev", ""}, {"\\\\?\\TarnDev", ""}, {"\\\\.\\", ""}, {"\\\\.\\.", ""},
        {"\\\\.\\..", ""}, {"\\\\.\\a/b", ""}, {"\\\\.\\a\\b", ""}, {nullptr, ""}};
    for (const auto& c : cases) {
        std::string socket;
        EXPECT_EQ(platform::posix::DriverSocketPath("W", c.device, &socket) ? socket : "", c.socket);
    }
}

TEST(DriverSocket, NobodyServingTheDeviceFailsLikeAMissingFile) {
    kestrel_test::TempDir dir;
    platform::posix::PosixOs os(dir.path());
    ::mkdir((dir / "dev").c_str(), 0700);
    ::close(Listen(dir / "dev/TarnDev"));  // left behind by a service that is gone
    int listener = Listen(dir / "dev/Open");  // answers, but anyone in the group could have put it there
    const struct { std::string path; std::uint32_t error; } cases[] = {
        {"\\\\.\\TarnDev", 2}, {"TarnDev", 2}, {"\\\\.\\..\\x", 2}, {"\\\\.\\" + std::string(200, 'n'), 206},
        {"\\\\.\\Open", 5}};
    for (const auto& c : cases) {
        ::chmod((dir / "dev").c_str(), c.error == 5 ? 0770 : 0700);
        os.SetLastError(0);
        EXPECT_EQ(os.DriverOpen(c.path.c_str(), 0xC0000000, 3, 3, 0), platform::kInvalidHandle) << c.path;
        EXPECT_EQ(os.LastError(), c.error) << c.path;
    }
    ::close(listener);
    std::uint32_t returned;
    EXPECT_FALSE(os.DriverIoctl(platform::kInvalidHandle, 1, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(os.LastError(), 6u);
}

}  // namespace
