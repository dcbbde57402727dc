// kestrel-portd: the request framing of a connection, and the program as
// clients and administrators meet it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <functional>

#include "platform/posix/driver_wire.h"
#include "platform/posix/files.h"
#include "platform/posix/posix_os.h"
#include "portd/connection.h"
#include "posix/portd_process.h"
#include "posix/temp_dir.h"
#include "sim/chain.h"
#include "sim/driver.h"

namespace {

using namespace kestrel_test;
using Bytes = std::vector<std::uint8_t>;

Bytes Request(std::uint32_t code, std::initializer_list<std::uint32_t> input, std::uint32_t outLen) {
    Bytes bytes(12 + 4 * input.size());
    platform::posix::PutLE32(&bytes[0], code);
    platform::posix::PutLE32(&bytes[4], static_cast<std::uint32_t>(4 * input.size()));
    platform::posix::PutLE32(&bytes[8], outLen);
    std::size_t at = 12;
    for (std::uint32_t word : input) platform::posix::PutLE32(&bytes[at], word), at += 4;
    return bytes;
}

// Feeds bytes, performs what is complete; "ok word..." of the reply, or "".
std::string Feed(portd::Connection& connection, const Bytes& bytes) {
    if (!bytes.empty()) connection.Receive(bytes.data(), bytes.size());
    if (!connection.PerformNext()) return "";
    const Bytes& out = connection.pending();
    std::string reply = std::to_string(platform::posix::GetLE32(&out[0]));
    EXPECT_EQ(out.size(), 8 + platform::posix::GetLE32(&out[4]));
    for (std::size_t at = 8; at + 4 <= out.size(); at += 4) reply += " " + std::to_string(platform::posix::GetLE32(&out[at]));
    connection.Sent(out.size());
    return reply;
}

TEST(PortdConnection, RequestsAreFramedRefusedAndAnsweredInOrder) {
    auto chain = sim::Chain::Default();
    portd::Connection connection(*chain), other(*chain);
    Bytes request = Request(sim::kNtSetPort, {0x278}, 4);
    for (std::size_t i = 0; i + 1 < request.size(); ++i)
        ASSERT_EQ(Feed(connection, Bytes{request[i]}), "") << "answered after " << i + 1 << " bytes";
    EXPECT_EQ(Feed(connection, Bytes{request.back()}), "1 632");
    EXPECT_EQ(connection.driver().portAddress(), 0x278u);
    for (const Bytes& refused : {Request(0x12345678, {}, 0), Request(sim::kNtSetPort, {0x278}, 0),
                                 Request(sim::kNtRead, {}, 16), Request(sim::kW95Read, {8, 0, 4}, 4)})
        EXPECT_EQ(Feed(connection, refused), "0");
    // An oversize request is refused without buffering its input, which is
    // skipped so the next request is read from the right place.
    Bytes huge = Request(sim::kNtWrite, {}, 0);
    platform::posix::PutLE32(&huge[4], platform::posix::kMaxTransferBytes + 1);
    huge.resize(huge.size() + platform::posix::kMaxTransferBytes + 1, 0xEE);
    Bytes next = Request(sim::kNtSetPort, {0x3BC}, 4);
    huge.insert(huge.end(), next.begin(), next.end());
    connection.Receive(huge.data(), huge.size());
    EXPECT_EQ(Feed(connection, {}), "0");
    // Pipelined: the second is answered once the first reply went out.
    Bytes both = Request(sim::kNtSetPort, {1}, 4), second = Request(sim::kNtSetPort, {2}, 4);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(Feed(connection, {}), "1 956");
    EXPECT_EQ(Feed(connection, both), "1 1");
    EXPECT_EQ(Feed(connection, {}), "1 2");
    // Each connection keeps its own address: MCB 9's mailbox, 4 bytes at 0.
    EXPECT_EQ(Feed(connection, Request(sim::kNtSetAddress, {0, 8, 0, 4}, 0)), "1");
    EXPECT_EQ(Feed(other, Request(sim::kNtRead, {}, 4)), "0");
    EXPECT_EQ(Feed(connection, Request(sim::kNtRead, {}, 4)).substr(0, 2), "1 ");
}

std::string Socket(const TempDir& dir) { return dir / "dev/TarnDev"; }

TEST(PortdProgram, WhatItCannotServeIsReported) {
    if (!PortdAvailable()) GTEST_SKIP() << "kestrel-portd was not built";
    TempDir dir;
    platform::posix::MakeDirectories(dir / "dev");
    WriteText(Socket(dir), "precious");
    WriteText(dir / "plainfile", "x");
    WriteText(dir / "chain.cfg", "[unit 9]\ntype = 7\n");
    const struct { std::vector<std::string> args; int code; const char* says; } cases[] = {
        {{"--windir", dir.path()}, 1, "not a socket"},
        {{"--windir", dir / "plainfile"}, 1, "cannot create directory"},
        {{"--windir", dir.path(), "--device", "Other", "--config", dir / "chain.cfg"}, 2, "chain.cfg"},
        {{"--windir", dir.path(), "--device", "a/b"}, 2, "a device name has no '/' or '\\'"},
    };
    for (const auto& c : cases) {
        PortdProcess portd(c.args, dir / "portd.log");
        EXPECT_EQ(portd.Wait(), c.code) << c.says;
        EXPECT_NE(portd.Log().find(c.says), std::string::npos) << portd.Log();
    }
    EXPECT_EQ(ReadText(Socket(dir)), "precious");
}

}  // namespace
