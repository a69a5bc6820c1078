#include "io_map.h"

namespace racktap {

std::optional<bool> get_bit(const std::array<uint8_t, kMaxBits / 8>& image, uint8_t count,
                            int index) {
    if (index < 0 || index >= held(count, kMaxBits)) return std::nullopt;
    return ((image[index / 8] >> (index % 8)) & 1) != 0;
}

bool set_bit(std::array<uint8_t, kMaxBits / 8>& image, uint8_t count, int index, bool value) {
    if (index < 0 || index >= held(count, kMaxBits)) return false;
    const auto mask = static_cast<uint8_t>(1u << (index % 8));
    if (value) {
        image[index / 8] |= mask;
    } else {
        image[index / 8] &= static_cast<uint8_t>(~mask);
    }
    return true;
}

}  // namespace racktap
