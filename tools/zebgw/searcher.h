// Finds the modules that are not answering: first at start, by name, number, hardware address
// or IPv4 address as `zeb` finds them, and again after one was declared dead, with a wait that
// doubles after every fruitless look up to search_max_ms. A module that answers has its image
// laid out from its base definition and its inputs read, is born, and joins its scan group.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "config.h"
#include "module.h"
#include "publisher.h"

namespace zebgw {

class Searcher {
  public:
    Searcher(const Config& config, ZEBTransport& transport,
             const std::vector<std::unique_ptr<Module>>& modules, Publisher& publisher);
    ~Searcher();
    Searcher(const Searcher&) = delete;
    Searcher& operator=(const Searcher&) = delete;

    void start();
    void stop();

  private:
    void run();
    bool look_for(Module& m);
    bool open(Module& m);
    void wait_ms(int ms);

    const Config& config_;
    ZEBTransport& transport_;
    const std::vector<std::unique_ptr<Module>>& modules_;
    Publisher& publisher_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace zebgw
