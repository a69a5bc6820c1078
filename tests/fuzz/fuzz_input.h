// The fuzzer's bytes read front to back as the choices of one run, or, while seeds are made,
// the choices written down as bytes that replay the same run.
//
// A number with a maximum up to 0xFF takes one byte, up to 0xFFFF two, else four (little
// endian), taken modulo max + 1. A byte string is a 16-bit length, then its bytes. Once the
// input is used up every number is 0 and every string empty.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zebfuzz {

using Bytes = std::vector<uint8_t>;

class FuzzInput {
  public:
    // Replays the given bytes.
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    // Records: every choice is its `typical` value, written to *transcript.
    explicit FuzzInput(Bytes* transcript) : transcript_(transcript) {}

    bool recording() const { return transcript_ != nullptr; }
    bool used_up() const { return !recording() && at_ >= size_; }

    uint32_t number(uint32_t max, uint32_t typical) {
        const size_t width = max <= 0xFF ? 1 : max <= 0xFFFF ? 2 : 4;
        if (recording()) {
            const uint32_t v = std::min(typical, max);
            for (size_t i = 0; i < width; ++i) transcript_->push_back(uint8_t(v >> (8 * i)));
            return v;
        }
        uint64_t raw = 0;
        for (size_t i = 0; i < width; ++i) raw |= uint64_t{next()} << (8 * i);
        return static_cast<uint32_t>(raw % (uint64_t{max} + 1));
    }

    bool flag(bool typical) { return number(1, typical) != 0; }

    Bytes bytes(size_t max, const Bytes& typical) {
        const size_t n = number(uint32_t(std::min<size_t>(max, 0xFFFF)), uint32_t(typical.size()));
        if (recording()) {
            const Bytes kept(typical.begin(), typical.begin() + static_cast<ptrdiff_t>(n));
            transcript_->insert(transcript_->end(), kept.begin(), kept.end());
            return kept;
        }
        const size_t available = std::min(n, size_ - std::min(at_, size_));
        Bytes out(data_ + at_, data_ + at_ + available);
        at_ += available;
        return out;
    }

  private:
    uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t at_ = 0;
    Bytes* transcript_ = nullptr;
};

}  // namespace zebfuzz
