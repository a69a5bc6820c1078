// The module's serial ports: the loopback at the line's rate, setups, queues, port numbering,
// the combined write-and-answer exchange, and the limits of what a host takes.
#include <gtest/gtest.h>

#include <memory>

#include "functions.h"
#include "statuses.h"
#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::ask_one;
using test::concat;
using test::kModuleA;

class ManualClock final : public Clock {
  public:
    uint64_t now_ms() const override { return now; }
    uint64_t now = 5000;
};

struct Fixture {
    Fixture() : rack(test::three_modules()), clock(std::make_shared<ManualClock>()) {
        rack.set_clock(clock);
    }
    SerialPort& port(int n) { return rack.module(0).serial.ports.at(n); }
    test::Reply ask(const Bytes& request) { return ask_one(rack, kModuleA, request); }

    Rack rack;
    std::shared_ptr<ManualClock> clock;
};

constexpr uint8_t kSerial = 0x23;

Bytes u16_bytes(uint16_t v) {
    Bytes b;
    put_u16(b, v);
    return b;
}

Bytes status_and(uint16_t status, const Bytes& rest = {}) {
    return concat({u16_bytes(status), rest});
}

Bytes counted(uint16_t status, const Bytes& bytes) {
    return concat({u16_bytes(status), u16_bytes(static_cast<uint16_t>(bytes.size())), bytes});
}

Bytes plain(uint8_t op, const Bytes& rest = {}) {
    return concat({{kSerial, op}, rest});
}

// Port numbers count from 1 and go out less one.
Bytes named(uint8_t op, int port, const Bytes& rest = {}) {
    return concat(
        {{kSerial, static_cast<uint8_t>(op | 0x80), static_cast<uint8_t>(port - 1)}, rest});
}

Bytes write_data(const Bytes& data) {
    return concat({u16_bytes(static_cast<uint16_t>(data.size())), data});
}

Bytes setup_request(uint8_t wait, const LineSetup& s) {
    return concat({{wait, 0x00}, Bytes(s.begin(), s.end())});
}

Bytes counting(size_t n, uint8_t from = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(from + i);
    return b;
}

TEST(Serial, WrittenBytesComeBackAtTheLinesRate) {
    Fixture f;
    // 9600 baud, 8N1: ten bits a byte, 960 bytes a second.
    const Bytes data = counting(96);
    EXPECT_EQ(f.ask(plain(0x01, write_data(data))).payload, status_and(0));
    EXPECT_EQ(f.ask(plain(0x06)).payload, status_and(0, u16_bytes(96)));
    f.clock->now += 50;
    EXPECT_EQ(f.ask(plain(0x03)).payload, status_and(0, u16_bytes(48)));
    EXPECT_EQ(f.ask(plain(0x06)).payload, status_and(0, u16_bytes(48)));
    EXPECT_EQ(f.ask(plain(0x02, u16_bytes(10))).payload, counted(0, counting(10)));
    f.clock->now += 49;
    EXPECT_EQ(f.ask(plain(0x06)).payload, status_and(0, u16_bytes(1)));
    f.clock->now += 1;
    EXPECT_EQ(f.ask(plain(0x06)).payload, status_and(0, u16_bytes(0)));
    EXPECT_EQ(f.ask(plain(0x02, u16_bytes(500))).payload, counted(0, counting(86, 10)));
    EXPECT_EQ(f.ask(plain(0x02, u16_bytes(500))).payload, counted(0, {}));
}

TEST(Serial, TheSetupSetsTheRateAndIsReadBack) {
    Fixture f;
    EXPECT_EQ(f.ask(plain(0x07, {0, 0})).payload,
              Bytes(kDefaultLineSetup.begin(), kDefaultLineSetup.end()));
    // 1200 baud, 7 data bits, even parity, two stop bits: 11 bits a byte.
    const LineSetup slow = line_setup(1200, 7, 2, 2, 0);
    EXPECT_EQ(f.ask(plain(0x05, setup_request(0, slow))).payload, status_and(0));
    EXPECT_EQ(f.ask(plain(0x07, {0, 0})).payload, Bytes(slow.begin(), slow.end()));
    f.ask(plain(0x01, write_data(counting(12))));
    f.clock->now += 101;  // 11 bytes take 100.8 ms
    EXPECT_EQ(f.ask(plain(0x03)).payload, status_and(0, u16_bytes(11)));
    f.clock->now += 9;
    EXPECT_EQ(f.ask(plain(0x03)).payload, status_and(0, u16_bytes(12)));
}

TEST(Serial, LineSettingsThePortCannotTakeAreRefusedAndTheOldOnesStay) {
    Fixture f;
    for (const LineSetup& bad :
         {line_setup(0), line_setup(kMaxBaud + 1), line_setup(9600, 9), line_setup(9600, 4),
          line_setup(9600, 8, 5), line_setup(9600, 8, 0, 3), line_setup(9600, 8, 0, 0, 3)}) {
        EXPECT_EQ(f.ask(plain(0x05, setup_request(0, bad))).payload,
                  status_and(kStatusBadLineSetup));
    }
    EXPECT_EQ(f.port(1).setup(), kDefaultLineSetup);
    EXPECT_EQ(f.ask(plain(0x05, {0, 0, 1, 2, 3})).payload, status_and(kStatusMalformed));
}

TEST(Serial, ASetupThatWaitsIsAcknowledgedAndTakesEffectOnceTheQueueHasLeft) {
    Fixture f;
    f.rack.module(0).faults.final_delay_ms = 5;
    f.ask(plain(0x01, write_data(counting(48))));  // 50 ms at 9600 baud
    f.clock->now += 20;
    const LineSetup fast = line_setup(115200);
    const auto r = ask(f.rack, kModuleA, plain(0x05, setup_request(1, fast)));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].payload, (Bytes{0x20, kSerial}));
    EXPECT_EQ(r[0].delay_ms, 0u);
    EXPECT_EQ(r[1].payload, status_and(0));
    EXPECT_EQ(r[1].delay_ms, 30u + 5u);
    EXPECT_EQ(f.port(1).setup(), fast);
    EXPECT_EQ(f.port(1).rx_count(), 48u);  // all of it left at the old rate

    // A refused setup that waits is answered twice as well: the host waits for both.
    const auto bad = ask(f.rack, kModuleA, plain(0x05, setup_request(1, line_setup(7))));
    ASSERT_EQ(bad.size(), 2u);
    EXPECT_EQ(bad[1].payload, status_and(kStatusBadLineSetup));
    const auto missing = ask(f.rack, kModuleA, named(0x05, 9, setup_request(1, fast)));
    ASSERT_EQ(missing.size(), 2u);
    EXPECT_EQ(missing[1].payload, status_and(kStatusNoSuchPort));
}

TEST(Serial, ASetupThatWaitsForAQueueThatHasAlreadyLeftIsAnsweredAtOnce) {
    Fixture f;
    f.ask(plain(0x01, write_data(counting(48))));
    f.clock->now += 400;  // long gone, though nobody has asked the port since
    const auto r = ask(f.rack, kModuleA, plain(0x05, setup_request(1, line_setup(19200))));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].delay_ms, 0u);
    EXPECT_EQ(f.port(1).rx_count(), 48u);
}

TEST(Serial, PlainRequestsUseTheDefaultPortAndNamedOnesTheirOwn) {
    Fixture f;
    f.rack.module(0).serial.default_port = 2;
    f.ask(plain(0x01, write_data({1, 2, 3})));
    f.ask(named(0x01, 1, write_data({4})));
    EXPECT_EQ(f.port(2).tx_count(), 3u);
    EXPECT_EQ(f.port(1).tx_count(), 1u);
    f.clock->now += 10;
    EXPECT_EQ(f.ask(named(0x02, 2, u16_bytes(9))).payload, counted(0, {1, 2, 3}));
    EXPECT_EQ(f.ask(named(0x03, 1)).payload, status_and(0, u16_bytes(1)));
    EXPECT_EQ(f.ask(named(0x07, 1, {0, 0})).payload,
              Bytes(kDefaultLineSetup.begin(), kDefaultLineSetup.end()));

    // Port 0 goes out as 0xFF, port 256; the module has ports 1 and 2.
    for (int missing : {3, 256}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(f.ask(named(0x01, missing, write_data({1}))).payload,
                  status_and(kStatusNoSuchPort));
        EXPECT_EQ(f.ask(named(0x02, missing, u16_bytes(4))).payload,
                  counted(kStatusNoSuchPort, {}));
        EXPECT_EQ(f.ask(named(0x03, missing)).payload, counted(kStatusNoSuchPort, {}));
        EXPECT_EQ(f.ask(named(0x09, missing)).payload, status_and(kStatusNoSuchPort));
        // The setup read-back has no status word: a refusal is one alone, shorter than a setup.
        EXPECT_EQ(f.ask(named(0x07, missing, {0, 0})).payload, status_and(kStatusNoSuchPort));
    }
    f.rack.module(0).serial.default_port = 5;
    EXPECT_EQ(f.ask(plain(0x06)).payload, counted(kStatusNoSuchPort, {}));
}

TEST(Serial, AReadTakesNoMoreThanWantedNorThanAHostsReplyHolds) {
    Fixture f;
    const Bytes waiting = counting(300);
    f.port(1).deliver(waiting.data(), waiting.size());
    EXPECT_EQ(f.ask(plain(0x02, u16_bytes(5))).payload, counted(0, counting(5)));
    // 187 bytes fill a 200-byte reply after header, status word and count.
    const test::Reply r = f.ask(plain(0x02, u16_bytes(1000)));
    EXPECT_EQ(r.payload, counted(0, counting(187, 5)));
    EXPECT_EQ(f.ask(plain(0x03)).payload, status_and(0, u16_bytes(300 - 192)));
    EXPECT_EQ(f.ask(plain(0x02, u16_bytes(0))).payload, counted(0, {}));
}

TEST(Serial, AFullTransmitQueueRefusesTheWholeWriteAndOverrunIsReportedOnce) {
    Fixture f;
    const Bytes big = counting(1000);
    f.port(1).transmit(f.clock->now, Bytes(kSerialQueueSize - 10, 0).data(), kSerialQueueSize - 10);
    EXPECT_EQ(f.ask(plain(0x01, write_data(counting(11)))).payload,
              status_and(kStatusTransmitFull));
    EXPECT_EQ(f.port(1).tx_count(), kSerialQueueSize - 10);
    EXPECT_EQ(f.ask(plain(0x01, write_data(counting(10)))).payload, status_and(0));

    // The loopback fills the receive queue; what comes after is lost, and the next read says so.
    f.clock->now += 10000;
    EXPECT_EQ(f.port(1).rx_count(), 0u);  // nothing moves until the port is asked
    EXPECT_EQ(f.ask(plain(0x03)).payload, status_and(0, u16_bytes(kSerialQueueSize)));
    f.port(1).deliver(big.data(), 1);
    const test::Reply lost = f.ask(plain(0x02, u16_bytes(1)));
    EXPECT_EQ(get_u16(lost.payload.data()), kStatusReceiveOverrun);
    EXPECT_EQ(get_u16(f.ask(plain(0x02, u16_bytes(1))).payload.data()), 0);
}

TEST(Serial, FlushesEmptyTheirQueue) {
    Fixture f;
    f.ask(named(0x01, 2, write_data(counting(96))));
    f.clock->now += 50;
    EXPECT_EQ(f.ask(named(0x84, 2)).payload, status_and(0));  // receive: 48 bytes gone
    EXPECT_EQ(f.ask(named(0x09, 2)).payload, status_and(0));  // transmit: the other 48
    f.clock->now += 100;
    EXPECT_EQ(f.ask(named(0x03, 2)).payload, status_and(0, u16_bytes(0)));
    EXPECT_EQ(f.ask(named(0x06, 2)).payload, status_and(0, u16_bytes(0)));
    f.ask(plain(0x01, write_data({1})));
    f.clock->now += 5;
    EXPECT_EQ(f.ask(plain(0x04)).payload, status_and(0));
    EXPECT_EQ(f.port(1).rx_count(), 0u);
}

TEST(Serial, TheCombinedExchangeAnswersOnceItsBytesHaveComeBack) {
    Fixture f;
    const Bytes data = counting(96);  // 100 ms on the line
    const auto r = ask(f.rack, kModuleA, plain(0x08, write_data(data)));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].delay_ms, 100u);
    EXPECT_EQ(r[0].payload, counted(0, data));

    // A slow line: the answer leaves after a second with what has come by then.
    f.clock->now += 200;
    f.ask(plain(0x05, setup_request(0, line_setup(300))));  // 30 bytes a second
    const auto slow = ask(f.rack, kModuleA, plain(0x08, write_data(counting(60))));
    ASSERT_EQ(slow.size(), 1u);
    EXPECT_EQ(slow[0].delay_ms, 1000u);
    EXPECT_EQ(slow[0].payload, counted(0, counting(30)));
}

TEST(Serial, TheCombinedAnswerIsCutToWhatAHostsReplyHolds) {
    Fixture f;
    const Bytes waiting = counting(1600);
    f.port(1).deliver(waiting.data(), waiting.size());
    const test::Reply r = f.ask(plain(0x08, write_data({})));
    EXPECT_EQ(r.payload.size(), 4u + 1487u);
    EXPECT_EQ(f.port(1).rx_count(), 1600u - 1487u);
}

TEST(Serial, OperationsTheFamilyDoesNotHaveAreUnknown) {
    Fixture f;
    // No plain flush of the transmit queue, no named combined exchange.
    for (uint8_t op : {0x00, 0x09, 0x0A, 0x7F, 0x80, 0x88, 0x8A, 0xFF}) {
        SCOPED_TRACE(op);
        EXPECT_EQ(f.ask({kSerial, op, 0, 0, 0}).payload, status_and(kStatusUnknownFunction));
    }
    EXPECT_EQ(f.ask({kSerial}).payload, status_and(kStatusMalformed));
    EXPECT_EQ(f.ask({kSerial, 0x81}).payload, status_and(kStatusMalformed));
}

TEST(Serial, CountsThatDisagreeWithTheDataAreRefusedAndNothingIsQueued) {
    Fixture f;
    Bytes short_data = plain(0x01, write_data({1, 2, 3}));
    short_data.pop_back();
    for (const Bytes& request :
         {short_data, concat({plain(0x01, write_data({1})), {2}}), plain(0x01, {5}),
          plain(0x08, {3, 0, 1}), named(0x01, 1, {2, 0, 1})}) {
        SCOPED_TRACE(::testing::PrintToString(request));
        const test::Reply r = f.ask(request);
        ASSERT_GE(r.payload.size(), 2u);
        EXPECT_EQ(get_u16(r.payload.data()), kStatusMalformed);
    }
    EXPECT_EQ(f.port(1).tx_count(), 0u);
}

}  // namespace
}  // namespace racksim
