#include "shared_ram_regions.h"

namespace racksim {

SharedRamRegion* SharedRam::find(uint16_t base, uint16_t slot) {
    auto it = regions.find({base, slot});
    return it == regions.end() ? nullptr : &it->second;
}

SharedRam SharedRam::standard() {
    SharedRam s;
    SharedRamRegion& r = s.regions[{0, 0}];
    r.plain.assign(1024, 0);
    r.flagged.assign(1024, 0);
    return s;
}

}  // namespace racksim
