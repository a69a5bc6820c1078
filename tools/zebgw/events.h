// What the scanning threads hand to the publisher: births, deaths, changes and write results
// of a module, in the order they happened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zebgw {

struct MetricValue {
    uint32_t point;  // index into the module's points
    uint32_t value;
};

struct Event {
    enum class Kind : uint8_t { birth, death, data, write_result };
    Kind kind = Kind::data;
    bool historical = false;          // kept while the broker was away
    bool to_node = false;             // said by the node: its device is not born now
    uint32_t module = 0;              // index into the gateway's modules
    uint64_t time_ms = 0;             // wall clock, milliseconds since 1970
    std::vector<MetricValue> values;  // birth: every published point; data: those that changed
    std::string point;                // write_result: the point as the writer named it
    std::string result;               // write_result: why the write was refused or failed
    int64_t requested = 0;            // write_result: the value asked for
    uint64_t stored_at = 0;           // read from the queue file: where its record starts
};

}  // namespace zebgw
