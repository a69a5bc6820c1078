#include "serial_port.h"

#include <algorithm>

namespace racksim {

namespace {

// Half-bits on the line for one byte: start bit, data bits, parity bit, stop bits.
uint64_t half_bits_per_byte(const LineSetup& s) {
    const uint64_t parity = s[5] == 0 ? 0 : 1;
    const uint64_t stop_halves = s[6] == 0 ? 2 : s[6] == 1 ? 3 : 4;
    return 2 * (1 + s[4] + parity) + stop_halves;
}

uint32_t baud_of(const LineSetup& s) {
    return get_u32(s.data());
}

}  // namespace

bool valid_line_setup(const LineSetup& s) {
    const uint32_t baud = baud_of(s);
    return baud >= kMinBaud && baud <= kMaxBaud && s[4] >= 5 && s[4] <= 8 && s[5] <= 4 &&
           s[6] <= 2 && s[7] <= 2;
}

bool SerialPort::set_setup(uint64_t now_ms, const LineSetup& s) {
    if (!valid_line_setup(s)) return false;
    advance(now_ms);
    setup_ = s;
    carry_ = 0;  // the byte on the line starts again at the new rate
    return true;
}

uint64_t SerialPort::per_byte() const {
    return half_bits_per_byte(setup_) * 1000;
}

void SerialPort::advance(uint64_t now_ms) {
    if (now_ms <= line_ms_) return;
    // Long enough to empty a full queue at the slowest rate; keeps the product below in range.
    const uint64_t elapsed = std::min<uint64_t>(now_ms - line_ms_, 1000000000);
    line_ms_ = now_ms;
    if (tx_.empty()) {
        carry_ = 0;
        return;
    }
    const uint64_t progress = carry_ + elapsed * baud_of(setup_) * 2;
    const uint64_t sent = std::min<uint64_t>(progress / per_byte(), tx_.size());
    carry_ = progress % per_byte();
    Bytes bytes(tx_.begin(), tx_.begin() + static_cast<ptrdiff_t>(sent));
    tx_.erase(tx_.begin(), tx_.begin() + static_cast<ptrdiff_t>(sent));
    if (tx_.empty()) carry_ = 0;
    deliver(bytes.data(), bytes.size());
}

uint64_t SerialPort::drain_ms() const {
    if (tx_.empty()) return 0;
    const uint64_t left = tx_.size() * per_byte() - carry_;
    const uint64_t rate = uint64_t{baud_of(setup_)} * 2;  // per millisecond
    return (left + rate - 1) / rate;
}

bool SerialPort::transmit(uint64_t now_ms, const uint8_t* data, size_t len) {
    advance(now_ms);
    if (len > kSerialQueueSize - tx_.size()) return false;
    tx_.insert(tx_.end(), data, data + len);
    return true;
}

Bytes SerialPort::receive(size_t max) {
    const size_t n = std::min(max, rx_.size());
    Bytes out(rx_.begin(), rx_.begin() + static_cast<ptrdiff_t>(n));
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<ptrdiff_t>(n));
    return out;
}

void SerialPort::deliver(const uint8_t* data, size_t len) {
    const size_t room = kSerialQueueSize - rx_.size();
    if (len > room) overrun_ = true;
    rx_.insert(rx_.end(), data, data + std::min(len, room));
}

void SerialPort::flush_rx() {
    rx_.clear();
    overrun_ = false;
}

void SerialPort::flush_tx() {
    tx_.clear();
    carry_ = 0;
}

bool SerialPort::take_overrun() {
    const bool was = overrun_;
    overrun_ = false;
    return was;
}

SerialPort* SerialPorts::find(int number) {
    auto it = ports.find(number);
    return it == ports.end() ? nullptr : &it->second;
}

SerialPorts SerialPorts::standard() {
    SerialPorts s;
    s.ports[1];
    s.ports[2];
    return s;
}

}  // namespace racksim
