#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace racktap {

inline constexpr int kSlotCount = 8;
inline constexpr int kMaxBits = 64;
inline constexpr int kMaxWords = 32;
inline constexpr int kMaxDwords = 32;

// How many points of each kind a slot's module has, as its base definition gives them.
struct Counts {
    uint8_t bit_inputs = 0;
    uint8_t bit_outputs = 0;
    uint8_t word_inputs = 0;
    uint8_t word_outputs = 0;
    uint8_t dword_inputs = 0;
    uint8_t dword_outputs = 0;

    bool operator==(const Counts&) const = default;
};

// One slot's module: its counts and its images. A count may exceed what an image holds; the
// points beyond the image are treated as absent.
struct SlotDescriptor {
    Counts counts;
    std::array<uint8_t, kMaxBits / 8> bit_inputs{};  // bit n is bit n % 8 of byte n / 8
    std::array<uint8_t, kMaxBits / 8> bit_outputs{};
    std::array<uint16_t, kMaxWords> word_inputs{};
    std::array<uint16_t, kMaxWords> word_outputs{};
    std::array<uint32_t, kMaxDwords> dword_inputs{};
    std::array<uint32_t, kMaxDwords> dword_outputs{};
};

// A slot's descriptor, or none for a slot without a described module. (Not std::optional:
// GCC 12 at -O2 miscompiles the assignment of arrays of optionals of this size, and the copy
// comes out empty.)
class SlotEntry {
  public:
    explicit operator bool() const { return present_; }
    bool has_value() const { return present_; }
    SlotDescriptor& emplace() {
        descriptor_ = SlotDescriptor{};
        present_ = true;
        return descriptor_;
    }
    void reset() {
        descriptor_ = SlotDescriptor{};
        present_ = false;
    }
    SlotDescriptor* operator->() { return &descriptor_; }
    const SlotDescriptor* operator->() const { return &descriptor_; }
    SlotDescriptor& operator*() { return descriptor_; }
    const SlotDescriptor& operator*() const { return descriptor_; }

  private:
    bool present_ = false;
    SlotDescriptor descriptor_{};
};

// Slots 0 to 7.
using IoMap = std::array<SlotEntry, kSlotCount>;

// How many of `count` points an image of `capacity` points holds.
constexpr int held(uint8_t count, int capacity) {
    return count < capacity ? count : capacity;
}

// Bit `index` of a bit image, or nothing when the point is absent.
std::optional<bool> get_bit(const std::array<uint8_t, kMaxBits / 8>& image, uint8_t count,
                            int index);

// Sets or clears bit `index`; false (and nothing changed) when the point is absent.
bool set_bit(std::array<uint8_t, kMaxBits / 8>& image, uint8_t count, int index, bool value);

}  // namespace racktap
