// The gateway as a whole, for one configuration: the library's transport, the modules, the
// scan groups, the searcher, the publisher and the health endpoint. A new configuration makes
// a new Gateway; the old one closes first, saying its death.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config.h"
#include "format.h"
#include "health.h"
#include "metrics.h"
#include "module.h"
#include "publisher.h"
#include "scan_group.h"
#include "searcher.h"

namespace zebgw {

class Gateway {
  public:
    explicit Gateway(Config config);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // False, with the reason, when the transport or the health endpoint cannot be had.
    bool start(std::string* error);
    void stop();

    // What the health endpoint shows.
    std::string metrics_text() const;
    std::string modules_json() const;
    bool healthy(std::string* why) const;

  private:
    void on_command(const Command& command);
    void refuse(Module& m, const WriteRequest& w, const std::string& why);

    Config config_;
    ZEBTransport transport_{};
    uint8_t source_[16] = {};
    bool transport_open_ = false;
    std::vector<std::unique_ptr<Module>> modules_;
    std::unique_ptr<Format> format_;
    PublishMetrics publish_metrics_;
    std::unique_ptr<Publisher> publisher_;
    std::vector<std::unique_ptr<ScanGroup>> groups_;
    std::unique_ptr<Searcher> searcher_;
    std::unique_ptr<HealthServer> health_;
};

}  // namespace zebgw
