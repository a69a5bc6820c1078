// Points by name, as topics and metrics carry them: "slot3/bit_out/6" is slot 3, bit output 6.
// A pattern in the configuration may put "*" for any part, and "a-b" for a range of indexes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zebgw {

struct PointRef {
    uint8_t slot = 0;
    uint8_t kind = 0;  // ZEB_BIT_IN ... ZEB_DWORD_OUT
    uint16_t index = 0;
    bool operator==(const PointRef&) const = default;
};

// "bit_in", "bit_out", "word_in", "word_out", "dword_in", "dword_out"; "" for another kind.
std::string_view kind_name(uint8_t kind);
std::optional<uint8_t> kind_from_name(std::string_view name);
bool is_output(uint8_t kind);
bool is_bit(uint8_t kind);
// The largest value a point of this kind holds.
uint32_t kind_max(uint8_t kind);

// A value as a point of this kind holds it: a bit 0 or 1; a word or 32-bit value unsigned, or
// negative down to the kind's signed least, as its two's complement. Nothing when it does not
// fit.
std::optional<uint32_t> point_value(uint8_t kind, int64_t value);

std::string point_name(const PointRef& p);
std::optional<PointRef> parse_point_name(std::string_view text);

// A set of points: each part fixed or any; the index also a range.
struct PointPattern {
    std::optional<uint8_t> slot;
    std::optional<uint8_t> kind;
    uint16_t first = 0;
    uint16_t last = 0xFFFF;
    bool outputs_only() const { return kind && is_output(*kind); }
    bool inputs_only() const { return kind && !is_output(*kind); }
    bool matches(const PointRef& p) const;
};

// "*" (every point), or "slot<N|*>/<kind|*>/<index|a-b|*>". Says what is wrong otherwise.
std::optional<PointPattern> parse_point_pattern(std::string_view text, std::string* error);

}  // namespace zebgw
