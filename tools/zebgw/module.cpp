#include "module.h"

namespace zebgw {

namespace {

constexpr uint8_t kKindOrder[6] = {ZEB_BIT_IN,   ZEB_BIT_OUT,  ZEB_WORD_IN,
                                   ZEB_WORD_OUT, ZEB_DWORD_IN, ZEB_DWORD_OUT};

bool any_match(const std::vector<PointPattern>& patterns, const PointRef& p) {
    for (const auto& pattern : patterns) {
        if (pattern.matches(p)) return true;
    }
    return false;
}

}  // namespace

Module::Module(const ModuleConfig& config, uint32_t index)
    : image(std::make_unique<ZEBImage>()), config_(config), index_(index) {}

Module::~Module() {
    if (opened) ZEBCloseDevice(&device);
}

bool Module::lay_out_points() {
    std::vector<Point> laid;
    for (uint16_t s = 0; s < image->SlotCount; ++s) {
        const ZEBSlotPoints& slot = image->Slots[s];
        for (size_t k = 0; k < 6; ++k) {
            for (uint16_t i = 0; i < slot.Count[k]; ++i) {
                Point p;
                p.ref = {slot.Slot, kKindOrder[k], i};
                p.name = point_name(p.ref);
                p.published = any_match(config_.publish, p.ref);
                p.writable = is_output(p.ref.kind) && any_match(config_.writable, p.ref);
                laid.push_back(std::move(p));
            }
        }
    }
    std::lock_guard lock(mutex);
    bool same = laid.size() == points.size();
    for (size_t i = 0; same && i < laid.size(); ++i) same = laid[i].ref == points[i].ref;
    if (same) return false;
    points = std::move(laid);
    published.assign(points.size(), 0);
    writes.clear();
    return true;
}

int Module::find_point(std::string_view name) const {
    for (size_t i = 0; i < points.size(); ++i) {
        if (points[i].name == name) return static_cast<int>(i);
    }
    return -1;
}

std::vector<MetricValue> Module::snapshot() const {
    std::vector<MetricValue> out;
    for (uint32_t i = 0; i < points.size(); ++i) {
        if (points[i].published) out.push_back({i, published[i]});
    }
    return out;
}

}  // namespace zebgw
