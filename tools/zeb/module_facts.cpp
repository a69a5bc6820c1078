#include "module_facts.h"

#include <array>

#include "values.h"

namespace zeb::cli {

namespace {

constexpr std::size_t kDeviceDefSize = 42;
constexpr uint8_t kNoKind = 0xFF;

}  // namespace

ModuleFacts read_facts(ZEBDevice* device) {
    ModuleFacts facts;
    // The read does not say how much it delivered: a byte that is no kind stands in for one
    // that did not come.
    std::array<uint8_t, kDeviceDefSize> def;
    def.fill(kNoKind);
    if (ZEBReadDeviceDef(device, def.data(), def.size()) == 0 && def[2] != kNoKind) {
        facts.kind = def[2];
    }

    std::array<uint8_t, 256> record{};
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

std::string kind_name(uint8_t kind) {
    switch (kind) {
        case 0:
            return "Qx-RIO";
        case 6:
            return "node";
        default:
            return "kind " + std::to_string(kind);
    }
}

}  // namespace zeb::cli
