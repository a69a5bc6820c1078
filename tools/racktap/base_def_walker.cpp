#include "base_def_walker.h"

#include <cstddef>
#include <optional>

#include "item_format.h"
#include "module_record.h"

namespace racktap {

IoMap build_io_map(std::span<const uint8_t> data) {
    IoMap map;
    bool extended = false;
    std::optional<int> slot;
    std::size_t pos = 0;
    ItemHeader item;
    while (pos < data.size()) {
        if (extended && data[pos] == kEndBaseDef) break;
        if (!read_header(data, pos, extended, item)) break;
        pos += item.size;
        const std::size_t left = data.size() - pos;
        switch (item.type) {
            case kSelectSlot:
                slot = item.length;
                break;
            case kModuleRecord: {
                const std::size_t size = std::size_t{item.length} + 2;
                if (size > left) return map;  // the record runs past the delivered data
                const auto counts = decode_module_record(data.subspan(pos, size));
                if (counts && slot && *slot < kSlotCount) map[*slot].emplace().counts = *counts;
                pos += size;
                break;
            }
            case kSwitchExtended:
                if (extended) break;  // only its header is passed over
                if (item.length > left) return map;
                pos += item.length;
                extended = true;
                break;
            default:
                break;  // only the header is passed over
        }
    }
    return map;
}

}  // namespace racktap
