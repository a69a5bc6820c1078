// Little-endian byte helpers and a bounded reader for untrusted input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace racksim {

using Bytes = std::vector<uint8_t>;

// Little-endian numbers of every width: appended to a byte vector (put), written in place (set)
// and read (get).
template <class T>
void put_le(Bytes& out, T v) {
    for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

template <class T>
constexpr void set_le(uint8_t* p, T v) {
    for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

template <class T>
constexpr T get_le(const uint8_t* p) {
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>(v | T(p[i]) << (8 * i));
    return v;
}

inline void put_u16(Bytes& out, uint16_t v) {
    put_le(out, v);
}
inline void put_u32(Bytes& out, uint32_t v) {
    put_le(out, v);
}
inline void set_u16(uint8_t* p, uint16_t v) {
    set_le(p, v);
}
inline void set_u32(uint8_t* p, uint32_t v) {
    set_le(p, v);
}
inline void set_u64(uint8_t* p, uint64_t v) {
    set_le(p, v);
}
inline uint16_t get_u16(const uint8_t* p) {
    return get_le<uint16_t>(p);
}
inline uint32_t get_u32(const uint8_t* p) {
    return get_le<uint32_t>(p);
}
inline uint64_t get_u64(const uint8_t* p) {
    return get_le<uint64_t>(p);
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
