// The module's own serial ports. Each has a loopback plug: what a host writes leaves at the
// line's rate and comes back into the same port's receive queue, timed by the context clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>

#include "bytes.h"

namespace racksim {

inline constexpr size_t kSerialQueueSize = 2048;  // of each queue, in bytes

// A port's line settings, as a host writes and reads them: [0-3] baud rate; [4] data bits, 5
// to 8; [5] parity: 0 none, 1 odd, 2 even, 3 mark, 4 space; [6] stop bits: 0 one, 1 one and a
// half, 2 two; [7] flow control: 0 none, 1 RTS/CTS, 2 XON/XOFF.
using LineSetup = std::array<uint8_t, 8>;
inline constexpr uint32_t kMinBaud = 50;
inline constexpr uint32_t kMaxBaud = 4000000;

constexpr LineSetup line_setup(uint32_t baud, uint8_t data_bits = 8, uint8_t parity = 0,
                               uint8_t stop_bits = 0, uint8_t flow = 0) {
    return {static_cast<uint8_t>(baud),
            static_cast<uint8_t>(baud >> 8),
            static_cast<uint8_t>(baud >> 16),
            static_cast<uint8_t>(baud >> 24),
            data_bits,
            parity,
            stop_bits,
            flow};
}
inline constexpr LineSetup kDefaultLineSetup = line_setup(9600);
bool valid_line_setup(const LineSetup& s);

class SerialPort {
  public:
    const LineSetup& setup() const { return setup_; }
    // Takes new line settings from `now_ms` on; false (and the old ones kept) when invalid.
    bool set_setup(uint64_t now_ms, const LineSetup& s);

    // Brings the line up to `now_ms`: bytes whose time on the line has passed move from the
    // transmit queue to the receive queue. A time before the last one changes nothing.
    void advance(uint64_t now_ms);
    // The time the line is accounted up to.
    uint64_t line_ms() const { return line_ms_; }
    // Milliseconds from the line's time until the transmit queue is empty.
    uint64_t drain_ms() const;

    // Queues bytes to send at `now_ms`; false, and nothing queued, when they do not all fit.
    bool transmit(uint64_t now_ms, const uint8_t* data, size_t len);
    // Takes up to `max` received bytes, oldest first.
    Bytes receive(size_t max);
    // Bytes arriving from the line now (what the loopback brings; also for tests and rack
    // files). Bytes beyond the queue's room are lost, which the next read reports.
    void deliver(const uint8_t* data, size_t len);

    size_t rx_count() const { return rx_.size(); }
    size_t tx_count() const { return tx_.size(); }
    void flush_rx();
    void flush_tx();
    // Whether received bytes were lost since the last time this was asked.
    bool take_overrun();

  private:
    uint64_t per_byte() const;  // line time of one byte, in the units of `carry_`

    LineSetup setup_ = kDefaultLineSetup;
    std::deque<uint8_t> rx_, tx_;
    uint64_t line_ms_ = 0;
    uint64_t carry_ = 0;  // the progress of the byte on the line: half-bits x 1000 / baud ms
    bool overrun_ = false;
};

struct SerialPorts {
    std::map<int, SerialPort> ports;  // by number, counted from 1 (at most 256)
    int default_port = 1;             // the port of the requests that name none

    SerialPort* find(int number);

    // What a module has unless its rack entry says otherwise: ports 1 and 2 at 9600 baud, 8
    // data bits, no parity, one stop bit; requests that name no port go to port 1.
    static SerialPorts standard();
};

}  // namespace racksim
