// RackSim's HTTP API apart from its transport: a request's method, path, query and body in, a
// status and a body out. Every read and change of the rack goes through Server::with_rack, the
// lock the serving loop holds while it serves a request. The request log's stream is the
// transport's (http_server.cpp); this keeps its lines and who watches them.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "http/api_reply.h"
#include "http/request_log.h"
#include "server.h"

namespace racksim {

struct ApiRequest {
    std::string method;  // GET, PUT, PATCH, DELETE, ...
    std::string path;    // decoded, from "/api/" on
    std::map<std::string, std::string> query;
    std::string body;
};

class HttpApi {
  public:
    // Clients that may watch the log at once: each holds one of the HTTP server's threads.
    static constexpr size_t kMaxLogWatchers = 4;

    explicit HttpApi(Server& server) : server_(server) {}
    ~HttpApi();
    HttpApi(const HttpApi&) = delete;
    HttpApi& operator=(const HttpApi&) = delete;

    ApiReply handle(const ApiRequest& request);

    // A client starts watching the log: the first one makes the server build log lines. False
    // when kMaxLogWatchers already watch.
    bool join_log();
    // A watcher has gone: after the last one the server builds no log text again.
    void leave_log();
    RequestLog& log() { return log_; }

  private:
    ApiReply route(const ApiRequest& request);
    ApiReply rack();
    ApiReply module_request(const ApiRequest& request, const std::string& who,
                            const std::string& part);
    ApiReply inputs(const ApiRequest& request, const std::string& who);
    ApiReply faults(const ApiRequest& request, const std::string& who);
    ApiReply manner(const ApiRequest& request, const std::string& who);
    ApiReply files(const ApiRequest& request, const std::string& who, bool list);

    // f(module, its place) for the module named `who` (its place, address or name), under the
    // serving loop's lock; a Refusal when there is none.
    template <class F>
    auto on_module(const std::string& who, F f);

    Server& server_;
    RequestLog log_;
    std::mutex watchers_mutex_;
    size_t watchers_ = 0;
};

}  // namespace racksim
