// kestrel-portd: the request framing of a connection, and the program as
// clients and administrators meet it.
#include <gtest/gtest.h>

#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/driver_wire.h"
#include "platform/posix/files.h"
#include "platform/posix/posix_os.h"
#include "portd/connection.h"
#include "posix/portd_process.h"
#include "posix/temp_dir.h"
#include "sim/chain.h"
#include "sim/driver.h"

namespace {

using kestrel_test::PortdProcess;
using kestrel_test::TempDir;
using platform::posix::GetLE32;
using platform::posix::PosixOs;
using platform::posix::PutLE32;
using Bytes = std::vector<std::uint8_t>;

Bytes Request(std::uint32_t code, const Bytes& input, std::uint32_t outLen) {
    Bytes bytes(12);
    PutLE32(&bytes[0], code);
    PutLE32(&bytes[4], static_cast<std::uint32_t>(input.size()));
    PutLE32(&bytes[8], outLen);
    bytes.insert(bytes.end(), input.begin(), input.end());
    return bytes;
}

Bytes Words(std::initializer_list<std::uint32_t> words) {
    Bytes bytes;
    for (std::uint32_t word : words)
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    return bytes;
}

struct Reply {
    std::uint32_t ok = 99;
    Bytes output;
};

// Takes the pending reply off the connection.
Reply TakeReply(portd::Connection& connection) {
    Reply reply;
    const Bytes& out = connection.pending();
    if (out.size() < 8) return reply;
    reply.ok = GetLE32(&out[0]);
    std::uint32_t length = GetLE32(&out[4]);
    EXPECT_EQ(out.size(), 8u + length);
    reply.output.assign(out.begin() + 8, out.end());
    connection.Sent(out.size());
    return reply;
}

class PortdConnection : public ::testing::Test {
protected:
    std::unique_ptr<sim::Chain> chain = sim::Chain::Default();
};

TEST_F(PortdConnection, ARequestSplitAcrossReadsIsAnsweredOnce) {
    portd::Connection connection(*chain);
    Bytes request = Request(sim::kNtSetPort, Words({0x278}), 4);
    for (std::size_t i = 0; i + 1 < request.size(); ++i) {
        connection.Receive(&request[i], 1);
        ASSERT_FALSE(connection.PerformNext()) << "answered after " << i + 1 << " bytes";
    }
    connection.Receive(&request.back(), 1);
    ASSERT_TRUE(connection.PerformNext());
    Reply reply = TakeReply(connection);
    EXPECT_EQ(reply.ok, 1u);
    EXPECT_EQ(reply.output, Words({0x278}));
    EXPECT_EQ(connection.driver().portAddress(), 0x278u);
    EXPECT_FALSE(connection.PerformNext());
}

TEST_F(PortdConnection, MalformedRequestsAreRefusedAndTheStreamStaysInStep) {
    portd::Connection connection(*chain);
    std::vector<Bytes> refused = {
        Request(0x12345678, {}, 0),                     // unknown code
        Request(sim::kNtSetPort, Words({0x278}), 0),    // wrong output length
        Request(sim::kNtRead, {}, 16),                  // read without an address
        Request(sim::kW95Read, Words({8, 0, 4}), 4),    // the other protocol
    };
    Bytes huge = Request(sim::kNtWrite, {}, 0);
    PutLE32(&huge[4], platform::posix::kMaxTransferBytes + 1);
    for (const Bytes& request : refused) {
        connection.Receive(request.data(), request.size());
        ASSERT_TRUE(connection.PerformNext());
        Reply reply = TakeReply(connection);
        EXPECT_EQ(reply.ok, 0u);
        EXPECT_TRUE(reply.output.empty());
    }
    // An oversize request is refused without buffering its input, which is
    // skipped so the next request is read from the right place.
    connection.Receive(huge.data(), huge.size());
    Bytes filler(platform::posix::kMaxTransferBytes + 1, 0xEE);
    connection.Receive(filler.data(), filler.size() - 10);
    EXPECT_FALSE(connection.PerformNext());
    Bytes next = Request(sim::kNtSetPort, Words({0x3BC}), 4);
    Bytes tail(filler.end() - 10, filler.end());
    tail.insert(tail.end(), next.begin(), next.end());
    connection.Receive(tail.data(), tail.size());
    ASSERT_TRUE(connection.PerformNext());
    EXPECT_EQ(TakeReply(connection).ok, 0u);
    ASSERT_TRUE(connection.PerformNext());
    Reply reply = TakeReply(connection);
    EXPECT_EQ(reply.ok, 1u);
    EXPECT_EQ(reply.output, Words({0x3BC}));
}

TEST_F(PortdConnection, PipelinedRequestsAreAnsweredOneAtATime) {
    portd::Connection connection(*chain);
    Bytes both = Request(sim::kNtSetPort, Words({1}), 4);
    Bytes second = Request(sim::kNtSetPort, Words({2}), 4);
    both.insert(both.end(), second.begin(), second.end());
    connection.Receive(both.data(), both.size());
    ASSERT_TRUE(connection.PerformNext());
    EXPECT_FALSE(connection.PerformNext()) << "second answered before the first went out";
    EXPECT_EQ(TakeReply(connection).output, Words({1}));
    ASSERT_TRUE(connection.PerformNext());
    EXPECT_EQ(TakeReply(connection).output, Words({2}));
}

TEST_F(PortdConnection, EachConnectionKeepsItsOwnAddress) {
    portd::Connection first(*chain), second(*chain);
    // MCB 9's mailbox space (unit byte 8), 4 bytes at 0.
    Bytes setAddress = Request(sim::kNtSetAddress, Words({0, 8, 0, 4}), 0);
    first.Receive(setAddress.data(), setAddress.size());
    ASSERT_TRUE(first.PerformNext());
    EXPECT_EQ(TakeReply(first).ok, 1u);
    Bytes read = Request(sim::kNtRead, {}, 4);
    second.Receive(read.data(), read.size());
    ASSERT_TRUE(second.PerformNext());
    EXPECT_EQ(TakeReply(second).ok, 0u);
    first.Receive(read.data(), read.size());
    ASSERT_TRUE(first.PerformNext());
    Reply reply = TakeReply(first);
    EXPECT_EQ(reply.ok, 1u);
    EXPECT_EQ(reply.output.size(), 4u);
}

// --- the program ---------------------------------------------------------------

class PortdProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kestrel_test::PortdAvailable()) GTEST_SKIP() << "kestrel-portd was not built";
    }

    std::unique_ptr<PortdProcess> Start(std::vector<std::string> args) {
        args.insert(args.begin(), {"--windir", dir.path()});
        return std::make_unique<PortdProcess>(args, dir / ("portd-" + std::to_string(++started) + ".log"));
    }

    TempDir dir;
    int started = 0;
};

TEST_F(PortdProgram, ServesTheDeviceUntilTerminatedThenRemovesItsSocket) {
    auto portd = Start({});
    ASSERT_TRUE(portd->WaitServing(dir / "dev/TarnDev")) << portd->Log();
    PosixOs os(dir.path());
    std::intptr_t first = os.DriverOpen("\\\\.\\TarnDev", 0xC0000000, 3, 3, 0);
    std::intptr_t second = os.DriverOpen("\\\\.\\TarnDev", 0xC0000000, 3, 3, 0);
    ASSERT_NE(first, platform::kInvalidHandle);
    ASSERT_NE(second, platform::kInvalidHandle);
    std::uint32_t port = 0x378, returned = 0;
    EXPECT_TRUE(os.DriverIoctl(first, sim::kNtSetPort, &port, 4, &port, 4, &returned));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(port, 0x378u);
    EXPECT_FALSE(os.DriverIoctl(second, 0x4711, nullptr, 0, nullptr, 0, &returned));
    os.DriverClose(first);
    os.DriverClose(second);

    EXPECT_EQ(portd->Stop(SIGTERM), 0) << portd->Log();
    EXPECT_NE(portd->Log().find("stopped after 2 requests"), std::string::npos) << portd->Log();
    EXPECT_EQ(os.DriverOpen("\\\\.\\TarnDev", 0xC0000000, 3, 3, 0), platform::kInvalidHandle);
    EXPECT_EQ(os.LastError(), 2u);
    EXPECT_NE(::access((dir / "dev/TarnDev").c_str(), F_OK), 0);
}

TEST_F(PortdProgram, ServesTheNamedDeviceAndStopsOnInterrupt) {
    auto portd = Start({"--device", "OtherDev"});
    ASSERT_TRUE(portd->WaitServing(dir / "dev/OtherDev")) << portd->Log();
    EXPECT_FALSE(kestrel_test::SocketAnswers(dir / "dev/TarnDev"));
    EXPECT_EQ(portd->Stop(SIGINT), 0);
    EXPECT_NE(::access((dir / "dev/OtherDev").c_str(), F_OK), 0);
}

TEST_F(PortdProgram, ASecondServiceForTheSameDeviceIsTurnedAway) {
    auto portd = Start({});
    ASSERT_TRUE(portd->WaitServing(dir / "dev/TarnDev")) << portd->Log();
    auto second = Start({});
    EXPECT_EQ(second->Wait(), 1);
    EXPECT_NE(second->Log().find("another kestrel-portd is serving"), std::string::npos)
        << second->Log();
    EXPECT_TRUE(kestrel_test::SocketAnswers(dir / "dev/TarnDev"));
    EXPECT_EQ(portd->Stop(SIGTERM), 0);
}

TEST_F(PortdProgram, ASocketLeftByAKilledServiceIsTakenOver) {
    auto killed = Start({});
    ASSERT_TRUE(killed->WaitServing(dir / "dev/TarnDev")) << killed->Log();
    EXPECT_EQ(killed->Stop(SIGKILL), 128 + SIGKILL);
    ASSERT_EQ(::access((dir / "dev/TarnDev").c_str(), F_OK), 0);  // left behind
    auto next = Start({});
    EXPECT_TRUE(next->WaitServing(dir / "dev/TarnDev")) << next->Log();
    EXPECT_EQ(next->Stop(SIGTERM), 0);
}

TEST_F(PortdProgram, AFileInTheSocketsPlaceIsNotReplaced) {
    platform::posix::MakeDirectories(dir / "dev");
    kestrel_test::WriteText(dir / "dev/TarnDev", "precious");
    auto portd = Start({});
    EXPECT_EQ(portd->Wait(), 1);
    EXPECT_NE(portd->Log().find("not a socket"), std::string::npos) << portd->Log();
    EXPECT_EQ(kestrel_test::ReadText(dir / "dev/TarnDev"), "precious");
}

TEST_F(PortdProgram, AnUnusableDirectoryOrConfigurationIsReported) {
    kestrel_test::WriteText(dir / "plainfile", "x");
    auto portd = std::make_unique<PortdProcess>(
        std::vector<std::string>{"--windir", dir / "plainfile"}, dir / "unusable.log");
    EXPECT_EQ(portd->Wait(), 1);
    EXPECT_NE(portd->Log().find("cannot create directory"), std::string::npos) << portd->Log();

    kestrel_test::WriteText(dir / "chain.cfg", "[unit 9]\ntype = 7\n");
    auto badConfig = Start({"--config", dir / "chain.cfg"});
    EXPECT_EQ(badConfig->Wait(), 2);
    EXPECT_NE(badConfig->Log().find("chain.cfg"), std::string::npos) << badConfig->Log();

    auto badOption = Start({"--device", "a/b"});
    EXPECT_EQ(badOption->Wait(), 2);
    EXPECT_NE(badOption->Log().find("a device name has no '/' or '\\'"), std::string::npos) << badOption->Log();
}

}  // namespace
