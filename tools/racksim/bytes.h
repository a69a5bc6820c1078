// Little-endian byte helpers and a bounded reader for untrusted input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace racksim {

using Bytes = std::vector<uint8_t>;

inline void put_u16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void put_u32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

inline uint16_t get_u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t get_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void set_u16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Reads from a byte range and never past its end: every read says whether it succeeded.
class Reader {
  public:
    Reader(const uint8_t* data, size_t len) : data_(data), len_(len) {}
    explicit Reader(const Bytes& b) : data_(b.data()), len_(b.size()) {}

    size_t left() const { return len_ - pos_; }
    bool done() const { return pos_ >= len_; }
    const uint8_t* here() const { return data_ + pos_; }

    bool u8(uint8_t* v) {
        if (left() < 1) return false;
        *v = data_[pos_++];
        return true;
    }
    bool u16(uint16_t* v) {
        if (left() < 2) return false;
        *v = get_u16(data_ + pos_);
        pos_ += 2;
        return true;
    }
    bool u32(uint32_t* v) {
        if (left() < 4) return false;
        *v = get_u32(data_ + pos_);
        pos_ += 4;
        return true;
    }
    bool skip(size_t n) {
        if (left() < n) return false;
        pos_ += n;
        return true;
    }

  private:
    const uint8_t* data_;
    size_t len_;
    size_t pos_ = 0;
};

}  // namespace racksim
