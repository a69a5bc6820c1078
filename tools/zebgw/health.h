// The health endpoint, on loopback unless configured otherwise: /metrics in Prometheus' text
// format, /healthz, and /modules with each module's state as JSON.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace zebgw {

class Gateway;

class HealthServer {
  public:
    explicit HealthServer(const Gateway& gateway);
    ~HealthServer();
    // False, with the reason, when the address cannot be bound.
    bool start(const std::string& host, uint16_t port, std::string* error);
    void stop();

  private:
    const Gateway& gateway_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
};

}  // namespace zebgw
