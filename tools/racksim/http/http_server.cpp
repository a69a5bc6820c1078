#include "http/http_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "http/http_api.h"
#include "http/web_files.h"

namespace racksim {

namespace {

// Threads that serve HTTP: the log watchers each hold one while they watch, the page's
// requests and a script's need the rest.
constexpr size_t kThreads = HttpApi::kMaxLogWatchers + 4;
// The largest request body taken: a change of every point of a large base fits many times.
constexpr size_t kMaxBody = 64 * 1024;
// How long a log stream waits for a line before it sends a comment, which also finds out
// that its client has gone.
constexpr auto kLogPulse = std::chrono::seconds(2);
constexpr size_t kLogLinesPerWrite = 100;

const char* file_type(const std::string& name) {
    auto ends = [&](const char* tail) {
        const size_t n = std::strlen(tail);
        return name.size() >= n && name.compare(name.size() - n, n, tail) == 0;
    };
    if (ends(".html")) return "text/html; charset=utf-8";
    if (ends(".js")) return "text/javascript; charset=utf-8";
    if (ends(".css")) return "text/css; charset=utf-8";
    if (ends(".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

bool starts_with(const std::string& s, const char* head) {
    return s.rfind(head, 0) == 0;
}

// The host of a Host or Origin value, without its port: "127.0.0.1", "localhost", "[::1]".
std::string host_part(const std::string& host) {
    if (starts_with(host, "[")) {
        const size_t end = host.find(']');
        return end == std::string::npos ? host : host.substr(0, end + 1);
    }
    return host.substr(0, host.find(':'));
}

// Whether a Host header names this machine's loopback: a page of another site that had its
// name resolve to 127.0.0.1 (DNS rebinding) sends its own name and is refused.
bool loopback_host(const std::string& host) {
    const std::string h = host_part(host);
    uint32_t ip = 0;
    return h == "localhost" || h == "[::1]" || (parse_ip(h, &ip) && (ip >> 24) == 127);
}

// Compares all of both, so that the time taken says nothing of where they differ.
bool same_secret(const std::string& a, const std::string& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    }
    return diff == 0;
}

// A log line as one SSE data line.
std::string one_line(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

void send(httplib::Response& res, const ApiReply& reply) {
    res.status = reply.status;
    res.set_content(reply.body, reply.type);
    res.set_header("Cache-Control", "no-store");
}

// The reason a request is refused before it is routed; status 0 when it is not.
ApiReply screen(const httplib::Request& req, const HttpOptions& options) {
    const std::string host = req.get_header_value("Host");
    const bool api = starts_with(req.path, "/api/");
    if (options.token.empty() && !loopback_host(host)) {
        return error_reply(403, "this RackSim serves HTTP to loopback names only (127.0.0.1, " +
                                    std::string("localhost), not to Host \"") + host + "\"");
    }
    if (!options.token.empty() && api) {
        const std::string auth = req.get_header_value("Authorization");
        if (auth.empty()) {
            return error_reply(401,
                               "this RackSim asks for the token given with --http-token: "
                               "send \"Authorization: Bearer TOKEN\"");
        }
        if (!starts_with(auth, "Bearer ") || !same_secret(auth.substr(7), options.token)) {
            return error_reply(401, "the bearer token is not the one given with --http-token");
        }
    }
    const bool changes = req.method != "GET" && req.method != "HEAD";
    if (changes) {
        // A page of another site may send a request without reading its answer; what it asks
        // for is not done.
        const std::string origin = req.get_header_value("Origin");
        if (!origin.empty() && origin != "http://" + host) {
            return error_reply(
                403, "requests from pages of another origin (" + origin + ") are refused");
        }
    }
    if ((req.method == "PUT" || req.method == "PATCH" || req.method == "POST") &&
        !starts_with(req.get_header_value("Content-Type"), "application/json")) {
        return error_reply(415, "send the body as JSON (Content-Type: application/json)");
    }
    return ApiReply{0, "", ""};
}

}  // namespace

struct HttpServer::Impl {
    Impl(Server& server, HttpOptions o) : options(std::move(o)), api(server) {}
    void routes();
    void log_stream(const httplib::Request& req, httplib::Response& res);

    HttpOptions options;
    HttpApi api;
    httplib::Server http;
    std::thread thread;
    std::atomic<bool> listened{false};  // listen_after_bind() has returned
    uint16_t port = 0;
};

HttpServer::HttpServer(Server& server, HttpOptions options)
    : impl_(std::make_unique<Impl>(server, std::move(options))) {}

HttpServer::~HttpServer() {
    stop();
}

uint16_t HttpServer::port() const {
    return impl_->port;
}

void HttpServer::Impl::log_stream(const httplib::Request& req, httplib::Response& res) {
    if (!api.join_log()) {
        send(res, error_reply(503, std::to_string(HttpApi::kMaxLogWatchers) +
                                       " clients watch the log already; close one"));
        return;
    }
    // Lines after the one a client saw last, on a reconnection.
    std::string last = req.get_header_value("Last-Event-ID");
    if (req.has_param("after")) last = req.get_param_value("after");
    uint64_t after = 0;
    if (!last.empty() && last.size() < 20 && last.find_first_not_of("0123456789") == last.npos) {
        after = std::stoull(last);
    }
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, after](size_t, httplib::DataSink& sink) mutable {
            std::vector<LogLine> lines;
            if (!api.log().next(after, kLogPulse, kLogLinesPerWrite, &lines)) {
                sink.done();  // RackSim stops
                return true;
            }
            std::string out = lines.empty() ? ":\n\n" : "";
            for (const LogLine& line : lines) {
                out += "id: " + std::to_string(line.number) + "\ndata: " + one_line(line.text) +
                       "\n\n";
                after = line.number;
            }
            return sink.write(out.data(), out.size());
        },
        [this](bool) { api.leave_log(); });
}

void HttpServer::Impl::routes() {
    http.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    http.set_payload_max_length(kMaxBody);
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"}});
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const ApiReply refused = screen(req, options);
        if (refused.status == 0) return httplib::Server::HandlerResponse::Unhandled;
        send(res, refused);
        if (refused.status == 401) res.set_header("WWW-Authenticate", "Bearer realm=\"RackSim\"");
        return httplib::Server::HandlerResponse::Handled;
    });
    http.Get("/api/log",
             [this](const httplib::Request& req, httplib::Response& res) { log_stream(req, res); });
    const auto to_api = [this](const httplib::Request& req, httplib::Response& res) {
        // HEAD is a GET whose body the library leaves out.
        ApiRequest r{req.method == "HEAD" ? "GET" : req.method, req.path, {}, req.body};
        for (const auto& [key, value] : req.params) r.query.emplace(key, value);
        send(res, api.handle(r));
    };
    const std::string all_api = R"(/api/.*)";
    http.Get(all_api, to_api);
    http.Put(all_api, to_api);
    http.Patch(all_api, to_api);
    http.Delete(all_api, to_api);
    http.Post(all_api, to_api);
    http.Get(R"(/([^/]*))", [](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.matches[1].str().empty() ? "index.html" : req.matches[1].str();
        const WebFile* f = find_web_file(name);
        if (!f) {
            send(res, error_reply(404, "no page " + req.path));
            return;
        }
        res.set_content(reinterpret_cast<const char*>(f->data), f->size, file_type(name));
        res.set_header("Cache-Control", "no-cache");
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
        res.set_header("Referrer-Policy", "no-referrer");
    });
    // What the library itself refuses (no route, a body over kMaxBody, a malformed request)
    // gets a JSON reason too.
    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            std::string why = "no page " + req.path + " for " + req.method;
            if (res.status == 413) why = "the body is over " + std::to_string(kMaxBody) + " bytes";
            if (res.status == 400) why = "malformed HTTP request";
            send(res, error_reply(res.status, why));
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            std::string what = "unknown";
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            send(res, error_reply(500, "internal error: " + what));
        });
}

bool HttpServer::start(std::string* error) {
    Impl& s = *impl_;
    if (s.thread.joinable()) return true;
    const std::string where = s.options.address + ":" + std::to_string(s.options.port);
    // The library says only whether it bound: a socket of our own says why not.
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(s.options.port);
    if (inet_pton(AF_INET, s.options.address.c_str(), &addr.sin_addr) != 1) {
        *error = "--http: \"" + s.options.address + "\" is no IPv4 address";
        return false;
    }
    if (const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); probe >= 0) {
        const int on = 1;
        setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const bool bound = bind(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
        const int err = errno;
        close(probe);
        if (!bound) {
            *error = "--http: cannot listen on " + where + ": " +
                     (err == EADDRINUSE ? std::string("the port is in use") : std::strerror(err));
            return false;
        }
    }
    s.routes();
    const int port =
        s.options.port == 0
            ? s.http.bind_to_any_port(s.options.address)
            : (s.http.bind_to_port(s.options.address, s.options.port) ? s.options.port : -1);
    if (port <= 0) {
        *error = "--http: cannot listen on " + where;
        return false;
    }
    s.port = static_cast<uint16_t>(port);
    s.thread = std::thread([&s] {
        s.http.listen_after_bind();
        s.listened = true;
    });
    // stop() ends a server that runs; one not yet running would miss it and serve on.
    while (!s.http.is_running() && !s.listened) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void HttpServer::stop() {
    Impl& s = *impl_;
    if (!s.thread.joinable()) return;
    s.api.log().close();
    s.http.stop();
    s.thread.join();
}

}  // namespace racksim
