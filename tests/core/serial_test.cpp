// The serial path on simulated COM ports and the virtual clock: replies that arrive whole or
// byte by byte, silent and noisy lines, frames cut short, and waits that end by the device's
// deadline.
#include <gtest/gtest.h>

#include <memory>

#include "core/link.h"
#include "core/state.h"
#include "exchange.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_fixture.h"
#include "state_guards.h"

namespace zebtest {
namespace {

using Op = SimNetwork::Op;

constexpr uint16_t kFirstSequence = 40;
const Bytes kPing = text_bytes("ping");

class SerialLine : public SimTest {
  protected:
    SerialLine() {
        transport_.Kind = ZEB_TRANSPORT_SERIAL;
        EXPECT_EQ(ZEBOpenTransport(&transport_, ZEB_API_VERSION, nullptr), 0u);
        zeb::state::set_next_sequence(kFirstSequence);
    }
    ~SerialLine() override {
        ZEBCloseDevice(&device_);
        ZEBCloseTransport(&transport_);
    }

    uint32_t open(ZEBDevice& d, uint8_t port, uint16_t timeout, uint16_t retries = 0) {
        d.Address.Serial = {port, 8, 0, 0, 9600, nullptr};
        return ZEBOpenDevice(&transport_, &d, ZEB_API_VERSION, timeout, retries, 0);
    }
    uint32_t open(uint16_t timeout, uint16_t retries = 0) {
        return open(device_, 1, timeout, retries);
    }
    // ZEBGetResponse into a buffer of `capacity` bytes; it must not move the clock.
    Outcome poll(int32_t capacity = 64) {
        const uint64_t before = net().now();
        Bytes buf(static_cast<size_t>(capacity));
        int32_t length = capacity;
        const uint32_t result = ZEBGetResponse(&device_, buf.data(), &length, 1);
        EXPECT_EQ(net().now(), before) << "a no-wait call waited";
        buf.resize(result == 0 && length > 0 ? static_cast<size_t>(length) : 0);
        return {result, length, buf, {}};
    }

    ScopedCrcMode crc_{1};
    ZEBTransport transport_{};
    ZEBDevice device_{};
};

Bytes joined(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A header with the magic whose length field says far more than will ever come.
Bytes noisy_header(uint16_t sequence) {
    Bytes h = make_frame(sequence, 0, {});
    h[7] = 0xF0;
    h[8] = 0xFF;
    return h;
}

// ---- Exchanges ----

TEST_F(SerialLine, RequestIsWrittenWholeAndTheReplyComesBackOverTheLine) {
    net().attach_serial(1, serial_answer_with(text_bytes("pong"), 7));
    device_.Address.Serial = {1, 7, 2, 2, 19200, nullptr};
    ASSERT_EQ(ZEBOpenDevice(&transport_, &device_, ZEB_API_VERSION, 100, 0, 0), 0u);
    const auto settings = net().serial_settings(1);
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->baud_rate, 19200u);
    EXPECT_EQ(settings->data_bits, 7);
    EXPECT_EQ(settings->parity, 2);
    EXPECT_EQ(settings->stop_bits, 2);

    const Outcome out = send_packet(device_, kPing);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, make_reply(kFirstSequence, text_bytes("pong")));
    EXPECT_EQ(net().serial_written(1), out.request);
    EXPECT_EQ(elapsed(), 7u);
}

TEST_F(SerialLine, ReplyArrivingByteByByteIsAssembled) {
    const Bytes payload(20, 0x5A);
    net().attach_serial(1, serial_answer_with(payload, 5, 2));
    ASSERT_EQ(open(500), 0u);
    const Outcome out = send_packet(device_, kPing);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, make_reply(kFirstSequence, payload));
    EXPECT_EQ(elapsed(), 5u + 28 * 2);  // the last of 29 bytes
}

// ---- Deadlines ----

TEST_F(SerialLine, SilentPortEndsEveryWaitAtTheDevicesTimeout) {
    net().attach_serial(1);
    ASSERT_EQ(open(150, 2), 0u);
    const Outcome out = send_packet(device_, kPing);
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(elapsed(), 3u * 150);
    EXPECT_EQ(net().serial_written(1).size(), 3 * out.request.size());
}

TEST_F(SerialLine, NoWaitCallsOnASilentPortReturnAtOnce) {
    net().attach_serial(1);
    ASSERT_EQ(open(100), 0u);
    EXPECT_EQ(poll().result, ZEBERR_NO_PACKET);
    EXPECT_EQ(get_response(device_, 64, 500, 0, 1).result, ZEBERR_NO_PACKET);
    EXPECT_EQ(elapsed(), 0u);
}

// A host that polls while a slow line delivers the reply takes it whole once it is in.
TEST_F(SerialLine, NoWaitPollsWhileAReplyArrivesLoseNothing) {
    const Bytes payload = text_bytes("ten bytes!");
    net().attach_serial(1, serial_answer_with(payload, 2, 3));
    ASSERT_EQ(open(1000), 0u);
    EXPECT_EQ(send_packet(device_, kPing, {.want_reply = 0}).result, ZEBERR_NO_PACKET);
    int early_polls = 0;
    Outcome out = poll();
    while (out.result == ZEBERR_NO_PACKET && early_polls < 100) {
        ++early_polls;
        net().advance(4);
        out = poll();
    }
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, make_reply(kFirstSequence, payload));
    EXPECT_GT(early_polls, 5);  // most polls found part of the frame
}

TEST_F(SerialLine, DeadlineHoldsWhileAReplyIsStillArrivingAndALaterWaitTakesIt) {
    const Bytes payload(20, 0x11);
    net().attach_serial(1, serial_answer_with(payload, 0, 10));  // 29 bytes over 280 ms
    ASSERT_EQ(open(100), 0u);
    EXPECT_EQ(send_packet(device_, kPing).result, ZEBERR_TIMEOUT);
    EXPECT_EQ(elapsed(), 100u);
    const Outcome later = get_response(device_, 64, 500, 1, 1);
    EXPECT_EQ(later.result, 0u);
    EXPECT_EQ(later.reply, make_reply(kFirstSequence, payload));
    EXPECT_EQ(elapsed(), 280u);
}

TEST_F(SerialLine, NoiseThatNeverStopsStillEndsTheWaitAtTheDeadline) {
    net().attach_serial(1, [](const Bytes&, SerialReply& out) {
        out.trickle(Bytes(1000, 'Z'), 0, 1);  // a magic's first letter, over and over
    });
    ASSERT_EQ(open(100), 0u);
    EXPECT_EQ(send_packet(device_, kPing).result, ZEBERR_TIMEOUT);
    EXPECT_EQ(elapsed(), 100u);
}

// ---- Frames cut short ----

TEST_F(SerialLine, ReplyCutShortWhileTheCallWaitsIsBrokenPipe) {
    const Bytes reply = make_reply(kFirstSequence, text_bytes("four"));
    for (const size_t cut : {size_t{4}, kHeader + 2}) {
        SCOPED_TRACE(cut);
        ZEBDevice d{};
        const uint8_t port = cut == 4 ? 1 : 2;
        net().attach_serial(port, [reply, cut](const Bytes&, SerialReply& out) {
            out.send(Bytes(reply.begin(), reply.begin() + static_cast<long>(cut)), 10);
        });
        ASSERT_EQ(open(d, port, 5000), 0u);
        zeb::state::set_next_sequence(kFirstSequence);
        restart_clock();
        const Outcome out = send_packet(d, kPing);
        EXPECT_EQ(out.result, 109u);
        EXPECT_EQ(out.length, 0);
        EXPECT_EQ(elapsed(), 10u + 1000);  // the port's limit between two bytes
        ZEBCloseDevice(&d);
    }
}

TEST_F(SerialLine, PartOfAFrameLeftByAnEarlierCallIsDroppedOnceTheLineWentQuiet) {
    auto calls = std::make_shared<int>(0);
    net().attach_serial(1, [calls](const Bytes& written, SerialReply& out) {
        const Bytes reply = make_reply(sequence_of(written), text_bytes("whole"));
        if ((*calls)++ == 0) {
            out.send(Bytes(reply.begin(), reply.begin() + 12), 10);
        } else {
            out.send(reply, 10);
        }
    });
    ASSERT_EQ(open(100), 0u);
    EXPECT_EQ(send_packet(device_, kPing).result, ZEBERR_TIMEOUT);
    EXPECT_EQ(elapsed(), 100u);
    net().advance(2000);
    const Outcome out = send_packet(device_, kPing);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, make_reply(kFirstSequence + 1, text_bytes("whole")));
}

// ---- Finding frames in noise ----

TEST_F(SerialLine, GarbageBeforeTheMagicIsSkipped) {
    const Bytes garbage = {0x00, 0xFF, 'Z', 'Q', 0x01, 'Z', 'Z', 'Q', 'k', 'Q', 'K', 'Z'};
    net().attach_serial(1, [&](const Bytes& written, SerialReply& out) {
        out.send(joined(garbage, make_reply(sequence_of(written), text_bytes("found"))), 3);
    });
    ASSERT_EQ(open(100), 0u);
    const Outcome out = send_packet(device_, kPing);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, make_reply(kFirstSequence, text_bytes("found")));
    EXPECT_EQ(elapsed(), 3u);
}

TEST_F(SerialLine, FrameWithTheDiscoveryMagicIsAFrameToo) {
    const Bytes payload = text_bytes("answer");
    net().attach_serial(1, [&](const Bytes& written, SerialReply& out) {
        out.send(make_frame(sequence_of(written), reference_crc(payload), payload, "ZQQ"));
    });
    ASSERT_EQ(open(100), 0u);
    const Outcome out = send_packet(device_, kPing);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(payload_of(out.reply), payload);
}

// A length field of 65520 that the caller's buffer cannot hold is refused as soon as the
// header is in, without draining the line; the reply behind it is still found.
TEST_F(SerialLine, HugeNoisyLengthIsRefusedAtOnceAndTheNextFrameReads) {
    net().attach_serial(1, [](const Bytes& written, SerialReply& out) {
        out.send(noisy_header(sequence_of(written)));
        out.send(make_reply(sequence_of(written), text_bytes("real")), 5);
    });
    ASSERT_EQ(open(100), 0u);
    const Outcome first = send_packet(device_, kPing, {.capacity = 600});
    EXPECT_EQ(first.result, ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(first.length, 0);
    EXPECT_EQ(elapsed(), 0u);
    const Outcome next = get_response(device_, 600, 0, 1, 1);
    EXPECT_EQ(next.result, 0u);
    EXPECT_EQ(next.reply, make_reply(kFirstSequence, text_bytes("real")));
    EXPECT_EQ(elapsed(), 5u);
}

// With room for it, the body of such a header is waited for, but no longer than the deadline.
TEST_F(SerialLine, HugeNoisyLengthThatFitsTheBufferWaitsNoLongerThanTheDeadline) {
    net().attach_serial(1, [](const Bytes& written, SerialReply& out) {
        out.send(noisy_header(sequence_of(written)), 1);
        out.trickle(Bytes(50, 0x33), 2, 1);
    });
    ASSERT_EQ(open(100), 0u);
    const Outcome out = send_packet(device_, kPing, {.capacity = 0x10000 + kHeader});
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_EQ(elapsed(), 100u);
}

TEST_F(SerialLine, BodyLongerThanTheBufferIsRefusedAndTheNextFrameStillReads) {
    net().attach_serial(1, [](const Bytes& written, SerialReply& out) {
        out.send(make_reply(sequence_of(written), Bytes(100, 0xAB)));
        out.send(make_reply(sequence_of(written), text_bytes("next")), 3);
    });
    ASSERT_EQ(open(100), 0u);
    const Outcome dropped = send_packet(device_, kPing, {.capacity = 50});
    EXPECT_EQ(dropped.result, ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(dropped.length, 0);
    const Outcome after = get_response(device_, 50, 0, 1, 1);
    EXPECT_EQ(after.result, 0u);
    EXPECT_EQ(after.reply, make_reply(kFirstSequence, text_bytes("next")));
}

// ---- Ports and their errors ----

TEST_F(SerialLine, PortErrorsArePassedThroughWithLengthZero) {
    net().attach_serial(1, serial_answer_with(text_bytes("pong")));
    ASSERT_EQ(open(100), 0u);
    net().fail_next(Op::serial_write, 1117);  // ERROR_IO_DEVICE
    Outcome out = send_packet(device_, kPing);
    EXPECT_EQ(out.result, 1117u);
    EXPECT_EQ(out.length, 0);
    net().fail_next(Op::serial_read, 1117);
    out = send_packet(device_, kPing);
    EXPECT_EQ(out.result, 1117u);
    EXPECT_EQ(out.length, 0);
}

TEST_F(SerialLine, PortsOpenOnceAndAPortWhoseSetupFailedIsStillClosed) {
    ZEBDevice missing{};
    EXPECT_EQ(open(missing, 2, 100), 2u);  // ERROR_FILE_NOT_FOUND: no COM2
    EXPECT_EQ(+missing.Address.Serial.PortHandle, reinterpret_cast<void*>(intptr_t{-1}));
    EXPECT_EQ(ZEBCloseDevice(&missing), 0u);

    net().attach_serial(1);
    ASSERT_EQ(open(100), 0u);
    ZEBDevice second{};
    EXPECT_EQ(open(second, 1, 100), 32u);  // ERROR_SHARING_VIOLATION
    EXPECT_EQ(ZEBCloseDevice(&second), 0u);
    EXPECT_TRUE(net().serial_is_open(1));
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
    EXPECT_FALSE(net().serial_is_open(1));

    net().fail_next(Op::serial_configure, 87);  // ERROR_INVALID_PARAMETER
    EXPECT_EQ(open(100), 87u);
    EXPECT_TRUE(net().serial_is_open(1));
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
    EXPECT_FALSE(net().serial_is_open(1));
}

// ---- Waiting on several devices ----

TEST_F(SerialLine, ParallelIoOverTwoLinesSleepsUntilBothRepliesAreIn) {
    net().set_spin_limit(10000);  // polling without sleeping trips this
    const Bytes inputs = {0x00, 0x00, 0x00, 0x01, 0x31, 0x5A, 0xFF};
    net().attach_serial(1, serial_answer_with(inputs, 2, 4));  // 16 bytes, the last at 62
    net().attach_serial(2, serial_answer_with(inputs, 3, 1));
    ZEBDevice b{};
    ASSERT_EQ(open(200), 0u);
    ASSERT_EQ(open(b, 2, 200), 0u);
    ZEBDevice* devices[2] = {&device_, &b};
    uint8_t in[2][16] = {};
    uint8_t* buffers[2] = {in[0], in[1]};
    uint16_t sizes[2] = {16, 16};
    uint32_t results[2] = {0xDEAD, 0xDEAD};
    EXPECT_EQ(ZEBReadIOEx(devices, buffers, sizes, results, 2), 0u);
    EXPECT_EQ(results[0], 0u);
    EXPECT_EQ(results[1], 0u);
    EXPECT_EQ(sizes[0], 5);
    EXPECT_EQ(sizes[1], 5);
    EXPECT_EQ(elapsed(), 62u);
    ZEBCloseDevice(&b);
}

TEST_F(SerialLine, WaitForAnyWakesAtTheFirstArrivalAmongSocketsAndPorts) {
    net().attach_serial(1);
    ASSERT_EQ(open(100), 0u);
    IpDevice ip(kModule);
    ZEBDevice* devices[3] = {&ip.device, nullptr, &device_};
    zeb::plat::Handle scratch[3];
    net().inject_serial(1, {0x01}, 20);
    net().inject_to(ip.socket(), kModule, {0x02}, 30);
    zeb::wait_for_any(devices, 3, 100, scratch);
    EXPECT_EQ(elapsed(), 20u);
    zeb::wait_for_any(devices, 1, 100, scratch);
    EXPECT_EQ(elapsed(), 30u);
    zeb::wait_for_any(devices, 0, 100, scratch);  // nothing to watch: it sleeps
    EXPECT_EQ(elapsed(), 130u);
}

}  // namespace
}  // namespace zebtest
