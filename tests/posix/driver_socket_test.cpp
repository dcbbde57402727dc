// The driver socket client against a scripted service in the test: the
// exact bytes on the wire, refusals, and connections that break.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/driver_wire.h"
#include "platform/posix/files.h"
#include "platform/posix/posix_os.h"
#include "posix/temp_dir.h"

namespace {

using platform::kInvalidHandle;
using platform::posix::PosixOs;
using kestrel_test::TempDir;

using Bytes = std::vector<std::uint8_t>;

int BindSocket(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    return fd;
}

bool ReadExactly(int fd, std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 5000) != 1) return false;
        ssize_t got = ::read(fd, data, length);
        if (got <= 0) return false;
        data += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

// One request as the service receives it: the header and the input.
Bytes ReadRequest(int fd) {
    Bytes request(platform::posix::kRequestHeaderBytes);
    if (!ReadExactly(fd, request.data(), request.size())) return Bytes();
    std::uint32_t inLen = platform::posix::GetLE32(&request[4]);
    request.resize(request.size() + inLen);
    if (!ReadExactly(fd, request.data() + platform::posix::kRequestHeaderBytes, inLen))
        return Bytes();
    return request;
}

void Write(int fd, const Bytes& bytes) {
    EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

// A device served by a script that runs on one accepted connection.
class ScriptedDevice {
public:
    ScriptedDevice(const std::string& dir, const std::string& name,
                   std::function<void(int connection)> script) {
        platform::posix::MakeDirectories(dir + "/dev");
        listener_ = BindSocket(dir + "/dev/" + name);
        ::listen(listener_, 4);
        thread_ = std::thread([this, script] {
            pollfd entry{listener_, POLLIN, 0};
            if (::poll(&entry, 1, 5000) != 1) return;
            int connection = ::accept(listener_, nullptr, nullptr);
            script(connection);
            ::close(connection);
        });
    }
    ~ScriptedDevice() {
        Join();
        ::close(listener_);
    }
    // Waits until the script has run to its end.
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    int listener_ = -1;
    std::thread thread_;
};

class DriverSocketTest : public ::testing::Test {
protected:
    std::intptr_t Open(const char* path = "\\\\.\\TarnDev") { return os.DriverOpen(path, 0xC0000000, 3, 3, 0); }

    TempDir dir;
    PosixOs os{dir.path()};
};

TEST_F(DriverSocketTest, FieldsTravelLittleEndianInTheirOrder) {
    Bytes received;
    ScriptedDevice device(dir.path(), "TarnDev", [&](int fd) {
        received = ReadRequest(fd);
        Write(fd, {1, 0, 0, 0, 4, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD});
    });
    std::intptr_t driver = Open();
    ASSERT_NE(driver, kInvalidHandle);
    const std::uint8_t in[5] = {1, 2, 3, 4, 5};
    std::uint8_t out[6] = {0};
    std::uint32_t returned = 99;
    EXPECT_TRUE(os.DriverIoctl(driver, 0x9C402404, in, sizeof in, out, sizeof out, &returned));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(Bytes(out, out + 6), (Bytes{0xAA, 0xBB, 0xCC, 0xDD, 0, 0}));
    os.DriverClose(driver);
    EXPECT_EQ(received, (Bytes{0x04, 0x24, 0x40, 0x9C, 5, 0, 0, 0, 6, 0, 0, 0, 1, 2, 3, 4, 5}));
}

TEST_F(DriverSocketTest, ARefusedRequestFailsAndTheHandleGoesOn) {
    ScriptedDevice device(dir.path(), "TarnDev", [&](int fd) {
        ReadRequest(fd);
        Write(fd, {0, 0, 0, 0, 0, 0, 0, 0});
        ReadRequest(fd);
        Write(fd, {1, 0, 0, 0, 1, 0, 0, 0, 0x5A});
    });
    std::intptr_t driver = Open();
    ASSERT_NE(driver, kInvalidHandle);
    std::uint8_t out[4] = {0};
    std::uint32_t returned = 99;
    EXPECT_FALSE(os.DriverIoctl(driver, 0x1234, nullptr, 0, out, 4, &returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(os.LastError(), 1u);
    EXPECT_TRUE(os.DriverIoctl(driver, 0x9C402443, nullptr, 0, out, 4, &returned));
    EXPECT_EQ(returned, 1u);
    EXPECT_EQ(out[0], 0x5A);
    os.DriverClose(driver);
}

TEST_F(DriverSocketTest, AReplyLongerThanAskedForBreaksTheHandle) {
    Bytes second = {0xFF};
    ScriptedDevice device(dir.path(), "TarnDev", [&](int fd) {
        ReadRequest(fd);
        Write(fd, {1, 0, 0, 0, 8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8});
        second = ReadRequest(fd);
    });
    std::intptr_t driver = Open();
    ASSERT_NE(driver, kInvalidHandle);
    std::uint8_t out[4] = {0};
    std::uint32_t returned = 0;
    EXPECT_FALSE(os.DriverIoctl(driver, 1, nullptr, 0, out, 4, &returned));
    EXPECT_EQ(os.LastError(), 109u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0, 0, 0, 0}));
    // Out of step with the service: later requests fail at once instead
    // of reading the rest of that reply as theirs.
    EXPECT_FALSE(os.DriverIoctl(driver, 1, nullptr, 0, out, 4, &returned));
    os.DriverClose(driver);
    device.Join();
    EXPECT_TRUE(second.empty());
}

// A failed read leaves the caller's buffer as it was: neither a reply cut
// off part-way nor the bytes of a refusal reach it.
TEST_F(DriverSocketTest, AFailedReadLeavesTheBufferAsItWas) {
    ScriptedDevice refusing(dir.path(), "TarnDev", [&](int fd) {
        ReadRequest(fd);
        Write(fd, {0, 0, 0, 0, 2, 0, 0, 0, 0x11, 0x22});
    });
    std::intptr_t driver = Open();
    ASSERT_NE(driver, kInvalidHandle);
    std::uint8_t out[4] = {7, 7, 7, 7};
    std::uint32_t returned = 99;
    EXPECT_FALSE(os.DriverIoctl(driver, 1, nullptr, 0, out, 4, &returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{7, 7, 7, 7}));
    os.DriverClose(driver);
    refusing.Join();

    ScriptedDevice hangingUp(dir.path(), "Other", [&](int fd) {
        ReadRequest(fd);
        Write(fd, {1, 0, 0, 0, 4, 0, 0, 0, 0x11, 0x22});  // two of the four bytes
    });
    driver = Open("\\\\.\\Other");
    ASSERT_NE(driver, kInvalidHandle);
    EXPECT_FALSE(os.DriverIoctl(driver, 1, nullptr, 0, out, 4, &returned));
    EXPECT_EQ(os.LastError(), 109u);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{7, 7, 7, 7}));
    os.DriverClose(driver);
}

TEST_F(DriverSocketTest, NobodyServingTheDeviceFailsLikeAMissingFile) {
    char text[64];
    EXPECT_EQ(Open(), kInvalidHandle);  // no socket at all
    EXPECT_EQ(os.LastError(), 2u);
    ASSERT_GT(os.FormatSystemMessage(os.LastError(), text, sizeof text), 0u);
    EXPECT_STREQ(text, "The system cannot find the file specified.");

    // A socket left behind by a service that is gone.
    platform::posix::MakeDirectories(dir / "dev");
    ::close(BindSocket(dir / "dev/TarnDev"));
    os.SetLastError(0);
    EXPECT_EQ(Open(), kInvalidHandle);
    EXPECT_EQ(os.LastError(), 2u);

    EXPECT_EQ(Open("TarnDev"), kInvalidHandle);  // not a device path
    EXPECT_EQ(Open("\\\\.\\..\\x"), kInvalidHandle);
    EXPECT_EQ(Open(("\\\\.\\" + std::string(200, 'n')).c_str()), kInvalidHandle);
    EXPECT_EQ(os.LastError(), 206u);
    std::uint32_t returned;
    EXPECT_FALSE(os.DriverIoctl(kInvalidHandle, 1, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(os.LastError(), 6u);
    os.DriverClose(kInvalidHandle);  // harmless
}

}  // namespace
