// The readers of what a module delivers: the base definition that lays out the I/O, and the
// I/O item stream read into it, by RackTap's walks (over the library's item reader) and by the
// library's point image (which also writes the output stream back and changes points). The
// input is a base definition (16-bit length, then its bytes) and an item stream (the rest).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "fuzz_input.h"
#include "item_walks.h"
#include "zeb_points.h"

namespace {

// Every slot present with every image full, so that each item type reaches a store.
racktap::IoMap full_map() {
    racktap::IoMap map;
    for (racktap::SlotEntry& e : map) {
        racktap::SlotDescriptor& d = e.emplace();
        d.counts = {255, 255, 255, 255, 255, 255};
    }
    return map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zebfuzz::FuzzInput in(data, size);
    const zebfuzz::Bytes base_def = in.bytes(4096, {});
    const size_t used = std::min(size, 2 + base_def.size());
    const std::span<const uint8_t> stream(data + used, size - used);

    racktap::IoMap map = racktap::build_io_map(base_def);
    racktap::store_inputs(stream, map);
    racktap::IoMap full = full_map();
    racktap::store_inputs(stream, full);
    // Both walkers also take the whole input as either kind of data.
    racktap::IoMap whole = racktap::build_io_map({data, size});
    racktap::store_inputs({data, size}, whole);

    static ZEBImage image;
    const auto n16 = [](size_t n) { return static_cast<uint16_t>(std::min<size_t>(n, 0xFFFF)); };
    ZEBImageFromBaseDef(&image, base_def.data(), n16(base_def.size()));
    ZEBDecodeStream(&image, stream.data(), n16(stream.size()));
    ZEBDecodeStream(&image, data, n16(size));
    uint8_t out[1200];
    uint16_t out_size = sizeof out;
    ZEBEncodeOutputs(&image, out, &out_size);
    for (size_t i = 0; i < image.SlotCount && i < ZEB_IMAGE_SLOTS; ++i) {
        for (uint8_t kind :
             {ZEB_BIT_IN, ZEB_BIT_OUT, ZEB_WORD_IN, ZEB_WORD_OUT, ZEB_DWORD_IN, ZEB_DWORD_OUT}) {
            uint32_t v = 0;
            const uint8_t slot = image.Slots[i].Slot;
            if (ZEBGetPoint(&image, slot, kind, 0, &v) == 0)
                ZEBSetPoint(&image, slot, kind, 0, v ^ 1);
            ZEBGetPoint(&image, slot, kind, 255, &v);
        }
    }
    return 0;
}
