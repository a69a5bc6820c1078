// One configured module at run time: its device record and point image, the points it
// publishes, what it last published, the writes waiting for its next cycle, and whether it
// answers.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config.h"
#include "events.h"
#include "metrics.h"
#include "point_names.h"
#include "zeb_points.h"

namespace zebgw {

struct Point {
    PointRef ref;
    std::string name;
    bool published = false;
    bool writable = false;
};

// Searching: not found yet or not answering; the searcher owns the record and image.
// Alive: answering; its scan group owns them.
enum class ModuleState : uint8_t { searching, alive };

struct PendingWrite {
    uint32_t value;
    std::string asked_as;  // the point's name as the command gave it
};

class Module {
  public:
    Module(const ModuleConfig& config, uint32_t index);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    const ModuleConfig& config() const { return config_; }
    uint32_t index() const { return index_; }

    std::atomic<ModuleState> state{ModuleState::searching};
    ZEBDevice device{};
    bool opened = false;
    std::unique_ptr<ZEBImage> image;
    std::string address;  // where it answered: dotted quad (guarded by `mutex`)
    uint32_t misses = 0;  // consecutive cycles without an answer (scan group)
    // When the searcher looks again, and how long it waits after that.
    std::chrono::steady_clock::time_point next_search{};
    uint32_t search_delay_ms = 0;

    // Lays out the points from the image just read; true when the layout changed.
    bool lay_out_points();

    // Guarded by `mutex`: the points (laid out by the searcher before the module is alive),
    // the values last published, whether a birth stands, and pending writes.
    mutable std::mutex mutex;
    std::vector<Point> points;
    std::vector<uint32_t> published;  // per point: the value consumers last saw
    bool born = false;
    std::map<uint32_t, PendingWrite> writes;  // point index -> value, the latest wins

    // The point by name; -1 when the module has none such.
    int find_point(std::string_view name) const;

    // The values of the published points, for a birth. Call with `mutex` held.
    std::vector<MetricValue> snapshot() const;

    ModuleMetrics metrics;
    std::atomic<uint32_t> last_result{0};

  private:
    ModuleConfig config_;
    uint32_t index_;
};

}  // namespace zebgw
