// The POSIX platform leaves descriptor 0 alone: a failed open's record holds Socket 0.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/link.h"
#include "sim_device.h"

namespace zebtest {
namespace {

// Opening an IPX device fails at socket creation; the record then holds Socket 0, which on
// this platform is standard input, and closing the record must leave it alone.
TEST(RealPlatform, FailedIpxOpenNeverClosesDescriptorZero) {
    struct stat before {};
    if (fstat(0, &before) != 0) {
        const int fd = open("/dev/null", O_RDONLY);  // makes sure that 0 is open
        ASSERT_EQ(fd, 0);
        ASSERT_EQ(fstat(0, &before), 0);
    }
    SocketAddress source;
    ZEBTransport t{};
    ASSERT_EQ(open_loopback_transport(&t, ZEB_PROTOCOL_IPX, &source), 0u);
    ZEBDevice d{};
    EXPECT_EQ(ZEBOpenDevice(&t, &d, ZEB_API_VERSION, 100, 0, 0), 10047u);  // WSAEAFNOSUPPORT
    EXPECT_EQ(+d.Socket, 0u);
    EXPECT_EQ(ZEBCloseDevice(&d), 0u);
    EXPECT_EQ(ZEBCloseTransport(&t), 0u);

    struct stat after {};
    ASSERT_EQ(fstat(0, &after), 0) << "descriptor 0 was closed";
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_dev, before.st_dev);
}

}  // namespace
}  // namespace zebtest
