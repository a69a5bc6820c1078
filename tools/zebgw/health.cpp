#include "health.h"

#include <httplib.h>

#include "gateway.h"

namespace zebgw {

HealthServer::HealthServer(const Gateway& gateway) : gateway_(gateway) {}

HealthServer::~HealthServer() {
    stop();
}

bool HealthServer::start(const std::string& host, uint16_t port, std::string* error) {
    server_ = std::make_unique<httplib::Server>();
    server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(gateway_.metrics_text(), "text/plain; version=0.0.4");
    });
    server_->Get("/healthz", [this](const httplib::Request&, httplib::Response& res) {
        std::string why;
        if (gateway_.healthy(&why)) {
            res.set_content("ok\n", "text/plain");
        } else {
            res.status = 503;
            res.set_content(why + "\n", "text/plain");
        }
    });
    server_->Get("/modules", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(gateway_.modules_json(), "application/json");
    });
    if (!server_->bind_to_port(host.c_str(), port)) {
        *error = "cannot listen for health requests on " + host + ":" + std::to_string(port);
        server_.reset();
        return false;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
}

void HealthServer::stop() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
}

}  // namespace zebgw
