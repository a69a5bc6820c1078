// RackSim's web page and JSON API over HTTP, served on threads of their own beside the UDP
// loop. Every change to the rack goes through the serving loop's lock (see http_api.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "server.h"

namespace racksim {

struct HttpOptions {
    std::string address = "127.0.0.1";  // IPv4, dotted
    uint16_t port = 0;                  // 0: any free port (see HttpServer::port())
    // When set, every API request must carry "Authorization: Bearer TOKEN". Without one, only
    // requests that name a loopback host are served.
    std::string token;
};

class HttpServer {
  public:
    HttpServer(Server& server, HttpOptions options);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and serves on threads of its own. False with the reason: the address cannot be
    // bound, or this RackSim was built without an HTTP server.
    bool start(std::string* error);
    // Ends the log streams and the server, and waits for its threads.
    void stop();
    // The bound port (useful with port 0).
    uint16_t port() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace racksim
