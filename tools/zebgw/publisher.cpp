#include "publisher.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "stored_event.h"

namespace zebgw {

namespace {

// Data messages handed to the client library and not yet acknowledged; beyond this, events
// wait in our queue, where the limit and the counting apply.
constexpr size_t kWindow = 1000;
constexpr int kFirstBackoffMs = 250;
constexpr int kLastBackoffMs = 2000;
// How long a closing gateway keeps sending what is queued before its death certificate.
constexpr int kCloseMs = 2000;
// What the queue file was given reaches the disk within this time.
constexpr auto kSyncEvery = std::chrono::seconds(1);

}  // namespace

Publisher::Publisher(const Config& config, Format& format,
                     const std::vector<std::unique_ptr<Module>>& modules, PublishMetrics& metrics,
                     CommandHandler on_command)
    : config_(config),
      format_(format),
      modules_(modules),
      metrics_(metrics),
      on_command_(std::move(on_command)),
      born_(modules.size(), false) {
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!config.broker.password_file.empty()) {
        std::string why;
        password_ = read_password(config.broker.password_file, &why).value_or("");
        if (!why.empty()) report(why);
    }
}

Publisher::~Publisher() {
    stop();
    if (wake_fd_ >= 0) close(wake_fd_);
}

bool Publisher::open_queue_file(std::string* error) {
    file_ = std::make_unique<QueueFile>();
    if (!file_->open(config_.queue_file, config_.queue_file_bytes, error)) {
        file_.reset();
        return false;
    }
    if (file_->torn()) {
        metrics_.dropped.fetch_add(file_->torn(), std::memory_order_relaxed);
        report("a record cut short at the end of " + config_.queue_file + " was dropped");
    }
    if (file_->unread()) {
        report(std::to_string(file_->unread()) + " event(s) kept in " + config_.queue_file +
               " go first");
    }
    update_depth();
    return true;
}

void Publisher::update_depth() {
    if (file_) file_unread_.store(file_->unread(), std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    metrics_.queued.store(queue_.size() + file_unread_.load(std::memory_order_relaxed),
                          std::memory_order_relaxed);
}

void Publisher::start() {
    thread_ = std::thread([this] { run(); });
}

void Publisher::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] auto n = write(wake_fd_, &one, sizeof one);
    thread_.join();
}

void Publisher::report(const std::string& line) {
    if (line == last_report_) return;  // a broker that stays away is said once
    last_report_ = line;
    std::fprintf(stderr, "zebgw: %s\n", line.c_str());
}

void Publisher::enqueue(Event&& event) {
    {
        std::lock_guard lock(mutex_);
        if (!session_up_) {
            if (event.kind == Event::Kind::birth || event.kind == Event::Kind::death) return;
            event.historical = true;
        }
        if (queue_.size() >= config_.queue_limit) {
            queue_.pop_front();
            metrics_.dropped.fetch_add(1, std::memory_order_relaxed);
        }
        queue_.push_back(std::move(event));
        metrics_.queued.store(queue_.size() + file_unread_.load(std::memory_order_relaxed),
                              std::memory_order_relaxed);
    }
    const uint64_t one = 1;
    [[maybe_unused]] auto n = write(wake_fd_, &one, sizeof one);
}

void Publisher::wait_ms(int ms) {
    pollfd p{wake_fd_, POLLIN, 0};
    if (poll(&p, 1, ms) > 0) {
        uint64_t v;
        [[maybe_unused]] auto n = read(wake_fd_, &v, sizeof v);
    }
}

bool Publisher::connect() {
    const BrokerConfig& b = config_.broker;
    mosq_ = mosquitto_new(b.client_id.c_str(), true, this);
    if (!mosq_) {
        report("cannot make an MQTT client: out of memory");
        return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(mosq_, 0);  // our window bounds it
    mosquitto_connect_callback_set(mosq_, &Publisher::on_connect);
    mosquitto_publish_callback_set(mosq_, &Publisher::on_publish);
    mosquitto_message_callback_set(mosq_, &Publisher::on_message);
    mosquitto_log_callback_set(mosq_, &Publisher::on_log);
    if (!b.username.empty()) {
        mosquitto_username_pw_set(mosq_, b.username.c_str(),
                                  b.password_file.empty() ? nullptr : password_.c_str());
    }
    if (b.tls) {
        const int rc = mosquitto_tls_set(
            mosq_, b.ca_file.c_str(), nullptr, b.cert_file.empty() ? nullptr : b.cert_file.c_str(),
            b.key_file.empty() ? nullptr : b.key_file.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            close_connection(std::string("TLS set-up: ") + mosquitto_strerror(rc));
            return false;
        }
    }
    const Message will = format_.will();
    mosquitto_will_set(mosq_, will.topic.c_str(), static_cast<int>(will.payload.size()),
                       will.payload.data(), will.qos, will.retain);
    last_error_.clear();
    refused_ = -1;
    const int rc = mosquitto_connect(mosq_, b.host.c_str(), b.port, b.keepalive_s);
    if (rc != MOSQ_ERR_SUCCESS) {
        std::string why = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
        if (!last_error_.empty()) why += " (" + last_error_ + ")";
        close_connection("cannot connect to the broker at " + b.host + ":" +
                         std::to_string(b.port) + ": " + why);
        return false;
    }
    return true;
}

void Publisher::close_connection(const std::string& why) {
    if (!why.empty()) report(why + "; trying again");
    if (mosq_) {
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }
    const bool was_up = session_up_.exchange(false);
    if (was_up) metrics_.connected.store(0);
    std::fill(born_.begin(), born_.end(), false);
    keep_unconfirmed();
}

// What the broker did not acknowledge goes again, first and in order, as history: read again
// from the queue file where it came from there (it is older than anything in memory then), and
// put back at the front of the memory queue otherwise.
void Publisher::keep_unconfirmed() {
    uint64_t reread = file_ ? file_->read_position() : 0;
    {
        std::lock_guard lock(mutex_);
        std::shared_ptr<Event> last;
        for (auto it = inflight_.rbegin(); it != inflight_.rend(); ++it) {
            if (!it->event || it->event == last) continue;
            last = it->event;
            if (it->event->stored_at) {
                reread = std::min(reread, it->event->stored_at);
                continue;
            }
            Event e = *it->event;
            e.historical = true;
            queue_.push_front(std::move(e));
        }
        inflight_.clear();
        while (queue_.size() > config_.queue_limit) {
            queue_.pop_front();
            metrics_.dropped.fetch_add(1, std::memory_order_relaxed);
        }
    }
    if (file_) file_->resume_from(reread);
    update_depth();
}

// Moves the memory queue to the end of the queue file. Births and deaths are not kept: the
// next connection's births say how things stand then.
void Publisher::spill() {
    if (!file_) return;
    std::deque<Event> events;
    {
        std::lock_guard lock(mutex_);
        events.swap(queue_);
    }
    uint64_t dropped = 0;
    for (Event& e : events) {
        if (e.kind == Event::Kind::birth || e.kind == Event::Kind::death) continue;
        const Module& m = *modules_[e.module];
        std::string record;
        {
            std::lock_guard lock(m.mutex);
            record = store_event(e, m);
        }
        dropped += file_->append(record);
    }
    if (dropped) metrics_.dropped.fetch_add(dropped, std::memory_order_relaxed);
    if (!file_->failure().empty()) report(file_->failure());
    const auto now = std::chrono::steady_clock::now();
    if (now - synced_ >= kSyncEvery) {
        file_->sync();
        synced_ = now;
    }
    update_depth();
}

// Cuts off the front of the queue file what the broker has acknowledged.
void Publisher::confirm_delivered() {
    if (!file_ || file_->empty()) return;
    uint64_t upto = file_->read_position();
    for (const Sent& s : inflight_) {
        if (s.event && s.event->stored_at) upto = std::min(upto, s.event->stored_at);
    }
    file_->delivered_up_to(upto);
}

// Waits for the next try to connect, keeping the queue in its file meanwhile.
void Publisher::wait_to_retry() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(backoff_ms_);
    while (true) {
        spill();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              until - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || stopping_) return;
        wait_ms(static_cast<int>(left));
    }
}

void Publisher::on_connect(mosquitto*, void* self, int rc) {
    auto* p = static_cast<Publisher*>(self);
    if (rc != 0) {
        p->refused_ = rc;
        return;
    }
    for (const auto& topic : p->format_.subscriptions()) {
        mosquitto_subscribe(p->mosq_, nullptr, topic.c_str(), 1);
    }
    p->session_up_ = true;
    p->need_birth_ = true;
    p->backoff_ms_ = 0;
    p->metrics_.connects.fetch_add(1);
    p->metrics_.connected.store(1);
    p->report("connected to the broker at " + p->config_.broker.host + ":" +
              std::to_string(p->config_.broker.port));
}

void Publisher::on_publish(mosquitto*, void* self, int mid) {
    auto* p = static_cast<Publisher*>(self);
    for (auto it = p->inflight_.begin(); it != p->inflight_.end(); ++it) {
        if (it->mid == mid) {
            p->inflight_.erase(it);
            return;
        }
    }
}

void Publisher::on_message(mosquitto*, void* self, const mosquitto_message* msg) {
    auto* p = static_cast<Publisher*>(self);
    const std::string payload(static_cast<const char*>(msg->payload),
                              static_cast<size_t>(msg->payloadlen));
    if (auto command = p->format_.command(msg->topic, payload)) {
        if (command->rebirth) p->need_birth_ = true;
        p->on_command_(*command);
    }
}

void Publisher::on_log(mosquitto*, void* self, int level, const char* text) {
    if (level & MOSQ_LOG_ERR) static_cast<Publisher*>(self)->last_error_ = text;
}

void Publisher::births() {
    need_birth_ = false;
    std::vector<Message> out;
    format_.node_birth(out);
    for (const auto& m : modules_) {
        std::lock_guard lock(m->mutex);
        const bool alive = m->state.load() == ModuleState::alive && !m->points.empty();
        born_[m->index()] = alive;
        Event e;
        e.module = m->index();
        e.time_ms = wall_ms();
        e.kind = alive ? Event::Kind::birth : Event::Kind::death;
        if (alive) {
            e.values = m->snapshot();
            format_.encode(e, *m, out);
        } else if (config_.format == Convention::json) {
            format_.encode(e, *m, out);  // its retained status may still say online
        }
    }
    for (const auto& m : out) {
        if (!publish(m, nullptr)) return;
    }
}

bool Publisher::publish(const Message& m, const std::shared_ptr<Event>& tracked) {
    int mid = 0;
    const int rc =
        mosquitto_publish(mosq_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                          m.payload.data(), m.qos, m.retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        // Unacknowledged like those in flight: it goes again after the next births.
        if (tracked) inflight_.push_back({-1, tracked});
        close_connection(std::string("lost the broker: ") + mosquitto_strerror(rc));
        return false;
    }
    if (tracked && m.qos > 0) inflight_.push_back({mid, tracked});
    metrics_.published.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void Publisher::drain() {
    std::vector<Message> out;
    while (mosq_ && session_up_ && inflight_.size() < kWindow) {
        auto e = std::make_shared<Event>();
        if (!next_event(*e)) break;
        const Module& m = *modules_[e->module];
        const bool sparkplug = config_.format == Convention::sparkplug;
        switch (e->kind) {
            case Event::Kind::birth:
                // Born already in this session: by the births after connecting, or for the
                // changes the queue file kept.
                if (sparkplug && born_[e->module]) continue;
                born_[e->module] = true;
                break;
            case Event::Kind::death:
                if (sparkplug && !born_[e->module]) continue;  // never born in this session
                born_[e->module] = false;
                break;
            case Event::Kind::write_result:
                // A writer hears why also when the device is dead: from the node then.
                e->to_node = sparkplug && !born_[e->module];
                break;
            default:
                // Data of a device that this session has not born has no place in Sparkplug;
                // a live device whose kept changes come before its own birth is born for them.
                if (sparkplug && !born_[e->module]) {
                    bool lost = false;
                    if (e->stored_at && birth_for(m, e, &lost)) break;
                    if (lost) return;
                    metrics_.dropped.fetch_add(1, std::memory_order_relaxed);
                    continue;
                }
        }
        out.clear();
        {
            std::lock_guard lock(m.mutex);
            format_.encode(*e, m, out);
        }
        const bool track = e->kind == Event::Kind::data || e->kind == Event::Kind::write_result;
        for (const auto& msg : out) {
            if (!publish(msg, track ? e : nullptr)) return;
        }
    }
    // While the file's events leave, new ones wait behind them in the file, not in memory.
    if (file_ && file_->unread() > 0) {
        bool many = false;
        {
            std::lock_guard lock(mutex_);
            many = queue_.size() > kWindow;
        }
        if (many) spill();
    }
}

// Births a live device now: a restart's first connection may come before the module was found,
// and the changes the queue file kept of it go before its own birth. False when it is not alive,
// or, with `lost` set, when the connection broke (the kept event goes again then).
bool Publisher::birth_for(const Module& m, const std::shared_ptr<Event>& kept, bool* lost) {
    std::vector<Message> out;
    {
        std::lock_guard lock(m.mutex);
        if (m.state.load() != ModuleState::alive || m.points.empty()) return false;
        Event birth;
        birth.kind = Event::Kind::birth;
        birth.module = m.index();
        birth.time_ms = wall_ms();
        birth.values = m.snapshot();
        format_.encode(birth, m, out);
    }
    born_[m.index()] = true;
    for (const auto& msg : out) {
        if (!publish(msg, kept)) {
            *lost = true;
            return false;
        }
    }
    return true;
}

// The next event to send: what the queue file keeps is older than anything in memory, and goes
// first once every module has been looked for (its points are named in the file).
bool Publisher::next_event(Event& e) {
    if (file_ && file_->unread() > 0) {
        if (!searched_) return false;
        std::string record;
        uint64_t at = 0;
        while (file_->read(&record, &at)) {
            if (auto restored = restore_event(record, modules_)) {
                e = std::move(*restored);
                e.stored_at = at;
                update_depth();
                return true;
            }
            // Of a module or points this gateway no longer has.
            metrics_.dropped.fetch_add(1, std::memory_order_relaxed);
        }
        if (!file_->failure().empty()) report(file_->failure());
        update_depth();
    }
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return false;
    e = std::move(queue_.front());
    queue_.pop_front();
    metrics_.queued.store(queue_.size() + file_unread_.load(std::memory_order_relaxed),
                          std::memory_order_relaxed);
    return true;
}

void Publisher::run() {
    auto deadline = std::chrono::steady_clock::time_point::max();
    while (true) {
        if (stopping_ && deadline == std::chrono::steady_clock::time_point::max()) {
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseMs);
        }
        if (stopping_) {
            std::lock_guard lock(mutex_);
            const bool done = (queue_.empty() && inflight_.empty() && file_unread_ == 0) ||
                              !session_up_ || std::chrono::steady_clock::now() >= deadline;
            if (done) break;
        }
        if (!mosq_) {
            if (stopping_) break;
            wait_to_retry();
            if (stopping_) break;
            backoff_ms_ = std::min(kLastBackoffMs, backoff_ms_ ? backoff_ms_ * 2 : kFirstBackoffMs);
            connect();
            continue;
        }
        pollfd fds[2] = {{mosquitto_socket(mosq_), POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        if (mosquitto_want_write(mosq_)) fds[0].events |= POLLOUT;
        poll(fds, 2, 100);
        if (fds[1].revents & POLLIN) {
            uint64_t v;
            [[maybe_unused]] auto n = read(wake_fd_, &v, sizeof v);
        }
        int rc = MOSQ_ERR_SUCCESS;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) rc = mosquitto_loop_read(mosq_, 1);
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(mosq_))
            rc = mosquitto_loop_write(mosq_, 1);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(mosq_);
        if (refused_ >= 0) {
            std::string hint;
            if (refused_ == 4 || refused_ == 5) hint = " (check username and password_file)";
            close_connection(std::string("the broker refused the connection: ") +
                             mosquitto_connack_string(refused_) + hint);
            continue;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            std::string why = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
            if (!last_error_.empty()) why += " (" + last_error_ + ")";
            close_connection("lost the broker: " + why);
            continue;
        }
        if (session_up_) {
            if (need_birth_) births();
            drain();
            confirm_delivered();
        }
    }
    if (mosq_ && session_up_) {
        // A death said on purpose: the broker drops the will of a clean disconnect.
        const Message death = format_.death();
        int mid = 0;
        if (mosquitto_publish(mosq_, &mid, death.topic.c_str(),
                              static_cast<int>(death.payload.size()), death.payload.data(),
                              death.qos, death.retain) == MOSQ_ERR_SUCCESS) {
            inflight_.push_back({mid, nullptr});
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            while (!inflight_.empty() && std::chrono::steady_clock::now() < until) {
                if (mosquitto_loop(mosq_, 50, 1) != MOSQ_ERR_SUCCESS) break;
            }
        }
        mosquitto_disconnect(mosq_);
        mosquitto_loop(mosq_, 50, 1);
    }
    if (mosq_) {
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }
    session_up_ = false;
    metrics_.connected.store(0);
    if (file_) {
        // What was not delivered waits in the file for the next run.
        keep_unconfirmed();
        spill();
        file_->sync();
    }
}

}  // namespace zebgw
