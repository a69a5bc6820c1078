// One scan group: a thread that reads its modules every period with the library's parallel
// I/O, on a drift-free schedule: a cycle is due one period after the last one was due, not
// after it ended. A cycle that runs past the next one's time makes that one an overrun, which
// is counted and skipped, never made up. Writes waiting for a module go out at the start of
// its next cycle, all of them in one exchange.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "config.h"
#include "metrics.h"
#include "module.h"
#include "publisher.h"

namespace zebgw {

class ScanGroup {
  public:
    ScanGroup(const Config& config, const ScanGroupConfig& group, std::vector<Module*> modules,
              Publisher& publisher, PublishMetrics& publish_metrics);
    ~ScanGroup();
    ScanGroup(const ScanGroup&) = delete;
    ScanGroup& operator=(const ScanGroup&) = delete;

    void start();
    void stop();
    const ScanGroupConfig& config() const { return group_; }
    GroupMetrics metrics;

  private:
    void run();
    void cycle();
    void write_pending(std::vector<Module*>& alive);
    void read(std::vector<Module*>& alive);
    void publish_changes(Module& m, uint64_t now_ms);
    void declare_dead(Module& m, uint64_t now_ms);

    const Config& config_;
    ScanGroupConfig group_;
    std::vector<Module*> modules_;
    Publisher& publisher_;
    PublishMetrics& publish_metrics_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;

    // Per cycle, reused so that a cycle allocates nothing once the group has run.
    std::vector<Module*> alive_;
    std::vector<ZEBDevice*> devices_;
    std::vector<uint8_t*> buffers_;
    std::vector<const uint8_t*> sources_;
    std::vector<uint16_t> lengths_;
    std::vector<uint16_t> sizes_;
    std::vector<uint32_t> results_;
    std::vector<std::vector<uint8_t>> in_;   // per module: its input stream
    std::vector<std::vector<uint8_t>> out_;  // per module: its output stream
    std::vector<uint16_t> crc_seen_;         // per module: its CRC error count at the last cycle
};

}  // namespace zebgw
