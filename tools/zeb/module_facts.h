// What a module is, read from the module itself: its kind from the device definition, its
// name and number from its setup records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "addresses.h"
#include "vocab/setup_types.h"
#include "zeb.h"

namespace zeb::cli {

inline constexpr uint16_t kSetupName = vocab::setup::kNameRecord;
inline constexpr uint16_t kSetupNumber = vocab::setup::kNumberRecord;
// Where our modules' device definition gives their hardware address.
inline constexpr std::size_t kHardwareAddressAt = 8;

struct ModuleFacts {
    std::optional<uint8_t> kind;  // from the device definition
    std::optional<std::string> name;
    std::optional<uint32_t> number;
};

// Reads what the module answers; a field the module does not give stays empty.
ModuleFacts read_facts(ZEBDevice* device);

// The hardware address the device definition gives; nothing when it cannot be read.
std::optional<HwAddress> read_hardware_address(ZEBDevice* device);

// "Qx-RIO", "node", or "kind N".
std::string kind_name(uint8_t kind);

}  // namespace zeb::cli
