// Serves a rack over UDP: one socket on the module port answers for every module, each reply
// leaving from the answering module's own address (rack_socket.h).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "rack.h"
#include "rack_socket.h"
#include "reply_queue.h"

namespace racksim {

inline constexpr uint16_t kModulePort = 28784;

class PcapWriter;

struct ServerOptions {
    uint16_t port = kModulePort;  // 0: any free port (see Server::port())
    bool allow_remote = false;    // serve senders outside 127.0.0.0/8
    LogSink log;                  // one line per request, prefixed with the sender
    // Called after each second in which requests were served, with their number.
    std::function<void(uint64_t requests)> rate;
    // Where every datagram received and sent is written, when set (owned by the caller).
    PcapWriter* capture = nullptr;
    // How long the loop looks for requests before it sleeps (0: it sleeps at once).
    std::chrono::microseconds busy_poll{0};
};

struct ServerStats {
    uint64_t received = 0;        // datagrams read from the socket
    uint64_t refused_remote = 0;  // from senders outside loopback, not served
    uint64_t sent = 0;            // reply datagrams sent
    uint64_t send_errors = 0;
    uint64_t best_second = 0;  // the most requests served in one second so far
};

class Server {
  public:
    Server(Rack rack, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the module port. On failure returns false with a message such as
    // "port 28784 is already in use".
    bool open(std::string* error);
    // Opens if needed and serves on a background thread.
    bool start(std::string* error);
    // Serves on the caller's thread until stop is requested. The socket must be open.
    void run();
    // Asks the loop to end; safe from a signal handler.
    void request_stop();
    // Requests the stop and waits for a background thread to end.
    void stop();

    // The bound port (useful with port 0).
    uint16_t port() const { return port_; }
    ServerStats stats() const;

    // Sends every log line also to `tap` while it is set (watchers of the log over HTTP); an
    // empty tap removes it. The rack builds log text only while the options' log or a tap is
    // set, so that serving allocates nothing again once the last watcher has gone.
    void set_log_tap(LogSink tap);

    // Runs f(rack) under the lock that the serving loop holds while it handles a request.
    template <class F>
    auto with_rack(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(rack_);
    }

  private:
    // Reads and serves the datagrams waiting; false when there were none.
    // Reads the next batch, looking a little while before it sleeps until one comes.
    size_t read_soon();
    bool receive_batch();
    void serve(const Received& d, SteadyTime::time_point arrived);
    void send_due();
    // Sends the queued replies, counting and reporting those the system refused.
    void flush_replies();
    // Counts a request in the second it arrived in.
    void count_rate(SteadyTime::time_point arrived);
    // Under the lock: whether log text is built, and the rack's sink to match.
    void update_logging();
    // Under the lock: one log line to the options' log and the tap.
    void log(const std::string& line);

    Rack rack_;
    ServerOptions options_;
    mutable std::mutex mutex_;
    RackSocket socket_;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    ReplyQueue queue_;
    Replies replies_;  // the replies of the request being served, storage kept
    RackSocket::Failure on_send_failure_;
    ServerStats stats_;
    LogSink tap_;
    bool logging_ = false;  // the options' log or the tap is set
    std::string sender_;    // the sender being served, for the log prefix
    SteadyTime::time_point second_start_{};
    uint64_t this_second_ = 0;
};

}  // namespace racksim
