// The MQTT side: one thread that owns the broker connection (libmosquitto, driven from our own
// poll so that a queued event leaves at once), the bounded queue of events, and the births
// after every connection. While the broker is away, events wait in the queue (the oldest go
// when it is full, each one counted) and leave in order, marked historical, once it is back;
// what the broker had not acknowledged when the connection broke is sent again. With a queue
// file, what waits for the broker is kept there instead, and survives a restart.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "events.h"
#include "format.h"
#include "metrics.h"
#include "module.h"
#include "queue_file.h"

struct mosquitto;
struct mosquitto_message;

namespace zebgw {

class Publisher {
  public:
    using CommandHandler = std::function<void(const Command&)>;

    Publisher(const Config& config, Format& format,
              const std::vector<std::unique_ptr<Module>>& modules, PublishMetrics& metrics,
              CommandHandler on_command);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Before start: keeps the queue in this file. False, with the reason, when it cannot.
    bool open_queue_file(std::string* error);
    void start();
    // Sends what is queued (for a short while at most), then the death certificate, and
    // closes the connection.
    void stop();

    // From any thread. Births and deaths are not kept while the broker is away: the next
    // connection's births say how things stand then.
    void enqueue(Event&& event);
    bool connected() const { return session_up_.load(); }
    // The searcher has looked for every module once: the points of what the queue file kept
    // can be found now.
    void searched() { searched_ = true; }

  private:
    struct Sent {
        int mid;
        std::shared_ptr<Event> event;
    };

    void run();
    bool connect();
    void close_connection(const std::string& why);
    void births();
    void drain();
    bool next_event(Event& e);
    bool birth_for(const Module& m, const std::shared_ptr<Event>& kept, bool* lost);
    void wait_to_retry();
    void keep_unconfirmed();
    void spill();
    void confirm_delivered();
    void update_depth();
    bool publish(const Message& m, const std::shared_ptr<Event>& tracked);
    void wait_ms(int ms);
    void report(const std::string& line);

    static void on_connect(mosquitto*, void* self, int rc);
    static void on_publish(mosquitto*, void* self, int mid);
    static void on_message(mosquitto*, void* self, const mosquitto_message* msg);
    static void on_log(mosquitto*, void* self, int level, const char* text);

    const Config& config_;
    Format& format_;
    const std::vector<std::unique_ptr<Module>>& modules_;
    PublishMetrics& metrics_;
    CommandHandler on_command_;
    std::string password_;

    std::mutex mutex_;
    std::deque<Event> queue_;
    int wake_fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> session_up_{false};
    std::atomic<bool> searched_{false};
    std::atomic<uint64_t> file_unread_{0};
    std::thread thread_;

    // The publisher thread's own.
    mosquitto* mosq_ = nullptr;
    bool need_birth_ = false;
    int refused_ = -1;        // the broker's refusal code from the last CONNACK, or -1
    std::string last_error_;  // the client library's last error message
    std::string last_report_;
    std::vector<bool> born_;  // per module: born in this session
    std::deque<Sent> inflight_;
    int backoff_ms_ = 0;
    std::unique_ptr<QueueFile> file_;
    std::chrono::steady_clock::time_point synced_{};
};

}  // namespace zebgw
