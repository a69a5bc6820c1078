// The HTTP server of a RackSim built where cpp-httplib was missing: it says so.
#include "http/http_server.h"

namespace racksim {

struct HttpServer::Impl {};

HttpServer::HttpServer(Server&, HttpOptions) {}
HttpServer::~HttpServer() = default;

bool HttpServer::start(std::string* error) {
    *error =
        "--http: this RackSim was built without an HTTP server (Debian's libcpp-httplib-dev was "
        "not installed); install it and build again";
    return false;
}

void HttpServer::stop() {}

uint16_t HttpServer::port() const {
    return 0;
}

}  // namespace racksim
