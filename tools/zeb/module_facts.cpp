#include "module_facts.h"

#include <algorithm>
#include <array>

#include "values.h"
#include "vocab/module_kinds.h"

namespace zeb::cli {

namespace {

using vocab::device_def::kKindAt;
constexpr std::size_t kDeviceDefSize = vocab::device_def::kReadSize;
constexpr uint8_t kNoKind = 0xFF;

}  // namespace

ModuleFacts read_facts(ZEBDevice* device) {
    ModuleFacts facts;
    // The read does not say how much it delivered: a byte that is no kind stands in for one
    // that did not come.
    std::array<uint8_t, kDeviceDefSize> def;
    def.fill(kNoKind);
    if (ZEBReadDeviceDef(device, def.data(), def.size()) == 0 && def[kKindAt] != kNoKind) {
        facts.kind = def[kKindAt];
    }

    // A name that a query by name can find fits.
    std::array<uint8_t, vocab::setup::kNameQuerySize> record{};
    uint16_t size = record.size();
    if (ZEB_SUCCEEDED(ZEBReadSetupData(device, kSetupName, record.data(), &size))) {
        facts.name = text_up_to_zero(std::span(record).first(size));
    }
    record.fill(0);
    size = record.size();
    if (ZEB_SUCCEEDED(ZEBReadSetupData(device, kSetupNumber, record.data(), &size)) && size > 0 &&
        size <= 4) {
        uint32_t number = 0;
        for (uint16_t i = 0; i < size; ++i) number |= uint32_t{record[i]} << (8 * i);
        facts.number = number;
    }
    return facts;
}

std::optional<HwAddress> read_hardware_address(ZEBDevice* device) {
    // A definition too short to carry the address leaves these bytes as they were: the
    // marker pattern is no address a module has.
    std::array<uint8_t, kDeviceDefSize> def;
    def.fill(kNoKind);
    if (ZEBReadDeviceDef(device, def.data(), def.size()) != 0) return std::nullopt;
    HwAddress hw{};
    std::copy_n(def.begin() + kHardwareAddressAt, hw.size(), hw.begin());
    const bool unset = std::all_of(hw.begin(), hw.end(), [](uint8_t b) { return b == kNoKind; });
    if (unset) return std::nullopt;
    return hw;
}

std::string kind_name(uint8_t kind) {
    const std::string_view name = vocab::name_of(vocab::kModuleKinds, kind);
    return name.empty() ? "kind " + std::to_string(kind) : std::string(name);
}

}  // namespace zeb::cli
