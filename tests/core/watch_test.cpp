// Behind a result: the transport error a device's last exchange met, and the frame trace.
#include <gtest/gtest.h>

#include <string>

#include "exchange.h"
#include "frames.h"
#include "sim_device.h"
#include "sim_fixture.h"

namespace zebtest {
namespace {

// The module answers every request with the same inputs.
class Watch : public SimTest {
  protected:
    void SetUp() override {
        net().add_peer(kModule, [](const Datagram& d, PeerReply& out) {
            out.send(make_reply(sequence_of(d.bytes), {0x00, 0x00, 0xFF}));
        });
    }
    static uint32_t read_inputs(ZEBDevice& device) {
        uint8_t inputs[16] = {};
        uint16_t size = sizeof inputs;
        return ZEBReadIO(&device, inputs, &size);
    }
};

// A refused port passes the classic failure test as a Winsock number, so the operation reports
// no data; the error behind it is kept for the device, and the next exchange clears it.
TEST_F(Watch, TheTransportErrorBehindAFailureIsKeptUntilTheNextExchange) {
    IpDevice dev(kModule, {.timeout = 100});
    IpDevice other(kModule, {.timeout = 100});
    net().fail_next(SimNetwork::Op::receive, 10061);
    EXPECT_EQ(read_inputs(dev.device), ZEBERR_NO_DATA);
    EXPECT_EQ(ZEBGetTransportError(&dev.device), 10061u);
    EXPECT_EQ(ZEBGetTransportError(&other.device), 0u);
    EXPECT_EQ(ZEBGetTransportError(nullptr), 0u);

    EXPECT_EQ(read_inputs(dev.device), 0u);
    EXPECT_EQ(ZEBGetTransportError(&dev.device), 0u);
}

// The error is the device's, not its record's: a record closed, and then opened again for
// another device, keeps none of it.
TEST_F(Watch, TheTransportErrorEndsWithTheDevice) {
    IpDevice dev(kModule, {.timeout = 100});
    net().fail_next(SimNetwork::Op::receive, 10061);
    EXPECT_EQ(read_inputs(dev.device), ZEBERR_NO_DATA);
    ASSERT_EQ(ZEBGetTransportError(&dev.device), 10061u);
    EXPECT_EQ(ZEBCloseDevice(&dev.device), 0u);
    EXPECT_EQ(ZEBGetTransportError(&dev.device), 0u);

    ASSERT_EQ(ZEBOpenDevice(&dev.transport, &dev.device, ZEB_API_VERSION, 100, 0, 0), 0u);
    EXPECT_EQ(ZEBGetTransportError(&dev.device), 0u);
    EXPECT_EQ(read_inputs(dev.device), 0u);
    EXPECT_EQ(ZEBGetTransportError(&dev.device), 0u);
}

TEST_F(Watch, TheTraceShowsEveryFrameOnOneLine) {
    IpDevice dev(kModule, {.timeout = 100});
    EXPECT_EQ(ZEBSetTrace(1), 0);
    testing::internal::CaptureStderr();
    read_inputs(dev.device);
    const std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ZEBSetTrace(0), 1);
    const std::string seq = std::to_string(+dev->LastSequence);
    EXPECT_NE(trace.find("zeb > 127.0.0.2:28784 seq " + seq), std::string::npos) << trace;
    EXPECT_NE(trace.find("Read I/O: 07\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("zeb < 127.0.0.2:28784 seq " + seq), std::string::npos) << trace;
    EXPECT_NE(trace.find(": 00 00 FF\n"), std::string::npos) << trace;

    testing::internal::CaptureStderr();
    read_inputs(dev.device);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace zebtest
