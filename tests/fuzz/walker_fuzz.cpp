// RackTap's walkers over what a module delivers: the base definition that builds the I/O map,
// and the I/O item stream stored into it. The input is a base definition (16-bit length, then
// its bytes) and an item stream (the rest).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "base_def_walker.h"
#include "fuzz_input.h"
#include "io_stream_walker.h"

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
    return 0;
}
