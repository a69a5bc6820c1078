#include "gateway.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "sparkplug_alias.h"

namespace zebgw {

namespace {

std::string label(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

void counter(std::string& out, const char* name, const char* help, const char* type) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

int64_t monotonic_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

Gateway::Gateway(Config config) : config_(std::move(config)) {
    for (size_t i = 0; i < config_.modules.size(); ++i) {
        modules_.push_back(std::make_unique<Module>(config_.modules[i], static_cast<uint32_t>(i)));
    }
    format_ = config_.format == Convention::sparkplug ? make_sparkplug_format(config_)
                                                      : make_json_format(config_);
}

Gateway::~Gateway() {
    stop();
}

bool Gateway::start(std::string* error) {
    ZEBOpen(ZEB_API_VERSION);
    transport_.Kind = ZEB_TRANSPORT_WINSOCK;
    transport_.Protocol = ZEB_PROTOCOL_IP;
    void* source = nullptr;
    if (!config_.local.empty()) {
        zeb::cli::put_socket_address(source_, *zeb::cli::parse_ipv4(config_.local), 0);
        source = source_;
    }
    const uint32_t r = ZEBOpenTransport(&transport_, ZEB_API_VERSION, source);
    if (r != 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "cannot open the transport (result 0x%X)", r);
        *error = buf;
        ZEBClose();
        return false;
    }
    transport_open_ = true;

    publisher_ = std::make_unique<Publisher>(config_, *format_, modules_, publish_metrics_,
                                             [this](const Command& c) { on_command(c); });
    if (!config_.queue_file.empty() && !publisher_->open_queue_file(error)) return false;
    publisher_->start();
    for (size_t g = 0; g < config_.groups.size(); ++g) {
        std::vector<Module*> members;
        for (const auto& m : modules_) {
            if (m->config().group == g) members.push_back(m.get());
        }
        groups_.push_back(std::make_unique<ScanGroup>(
            config_, config_.groups[g], std::move(members), *publisher_, publish_metrics_));
        groups_.back()->start();
    }
    searcher_ = std::make_unique<Searcher>(config_, transport_, modules_, *publisher_);
    searcher_->start();
    if (config_.health_port) {
        health_ = std::make_unique<HealthServer>(*this);
        if (!health_->start(config_.health_host, config_.health_port, error)) return false;
    }
    return true;
}

void Gateway::stop() {
    // Nothing new is read once the searcher and the groups stop; the publisher then sends what
    // is queued and the death certificate.
    if (searcher_) searcher_->stop();
    for (auto& g : groups_) g->stop();
    if (publisher_) publisher_->stop();
    if (health_) health_->stop();
    searcher_.reset();
    groups_.clear();
    health_.reset();
    publisher_.reset();
    modules_.clear();  // closes the devices
    if (transport_open_) {
        ZEBCloseTransport(&transport_);
        ZEBClose();
        transport_open_ = false;
    }
}

void Gateway::refuse(Module& m, const WriteRequest& w, const std::string& why) {
    publish_metrics_.writes_refused.fetch_add(1, std::memory_order_relaxed);
    Event e;
    e.kind = Event::Kind::write_result;
    e.module = m.index();
    e.time_ms = wall_ms();
    e.point = w.point;
    e.requested = w.value.value_or(0);
    e.result = why;
    publisher_->enqueue(std::move(e));
}

void Gateway::on_command(const Command& command) {
    for (const WriteRequest& w : command.writes) {
        Module* m = nullptr;
        for (const auto& candidate : modules_) {
            if (candidate->config().id == w.module) m = candidate.get();
        }
        if (!m) {
            // No module of that id, so no topic to answer on.
            publish_metrics_.writes_refused.fetch_add(1, std::memory_order_relaxed);
            std::fprintf(stderr, "zebgw: a write for '%s', which is no module of this gateway\n",
                         w.module.c_str());
            continue;
        }
        std::string why;
        WriteRequest asked = w;
        {
            std::lock_guard lock(m->mutex);
            int i = -1;
            if (w.alias) {
                const auto place = alias_place(*w.alias);
                if (place && place->module == m->index() && place->point < m->points.size()) {
                    i = static_cast<int>(place->point);
                    asked.point = m->points[i].name;  // the writer hears of the point by name
                }
            } else {
                i = m->find_point(w.point);
            }
            if (!w.problem.empty() || !w.value) {
                why = w.problem.empty() ? "the command carries no value" : w.problem;
            } else if (i < 0) {
                why = "the module has no point " + w.point;
            } else if (!m->points[i].writable) {
                why = "not writable: " + asked.point + " is not in the module's writable list";
            } else if (!point_value(m->points[i].ref.kind, *w.value)) {
                const uint8_t kind = m->points[i].ref.kind;
                why = is_bit(kind) ? std::string("the value does not fit the point (0 or 1)")
                                   : "the value does not fit the point (" +
                                         std::to_string(-int64_t{kind_max(kind)} / 2 - 1) + " to " +
                                         std::to_string(kind_max(kind)) + ")";
            } else if (m->state.load() != ModuleState::alive) {
                why = "the module does not answer";
            } else {
                m->writes[static_cast<uint32_t>(i)] = {
                    *point_value(m->points[i].ref.kind, *w.value), asked.point};
            }
        }
        if (!why.empty()) refuse(*m, asked, why);
    }
}

bool Gateway::healthy(std::string* why) const {
    const int64_t now = monotonic_ns();
    for (const auto& g : groups_) {
        const int64_t last = g->metrics.last_cycle_ns.load();
        const int64_t allowed =
            std::max<int64_t>(int64_t{g->config().period_ms} * 10, 5000) * 1000000;
        if (last != 0 && now - last > allowed) {
            *why = "scan group " + g->config().name + " has not finished a cycle for " +
                   std::to_string((now - last) / 1000000) + " ms";
            return false;
        }
    }
    return true;
}

std::string Gateway::metrics_text() const {
    std::string out;
    counter(out, "zebgw_cycle_seconds", "How long a scan cycle ran.", "histogram");
    for (const auto& g : groups_) {
        out += g->metrics.cycle.text("zebgw_cycle_seconds",
                                     "group=\"" + label(g->config().name) + "\"");
    }
    counter(out, "zebgw_cycle_start_lateness_seconds",
            "How late a cycle began after it was due (jitter).", "histogram");
    for (const auto& g : groups_) {
        out += g->metrics.lateness.text("zebgw_cycle_start_lateness_seconds",
                                        "group=\"" + label(g->config().name) + "\"");
    }
    const auto per_group = [&](const char* name, const char* help, auto get) {
        counter(out, name, help, "counter");
        for (const auto& g : groups_) {
            out += std::string(name) + "{group=\"" + label(g->config().name) + "\"} " +
                   std::to_string(get(*g)) + "\n";
        }
    };
    per_group("zebgw_cycles_total", "Scan cycles run.",
              [](const ScanGroup& g) { return g.metrics.cycles.load(); });
    per_group("zebgw_overruns_total", "Cycles skipped because the one before ran past their time.",
              [](const ScanGroup& g) { return g.metrics.overruns.load(); });

    const auto per_module = [&](const char* name, const char* help, const char* type, auto get) {
        counter(out, name, help, type);
        for (const auto& m : modules_) {
            out += std::string(name) + "{module=\"" + label(m->config().id) + "\"} " +
                   std::to_string(get(*m)) + "\n";
        }
    };
    per_module("zebgw_module_up", "1 while the module answers.", "gauge",
               [](const Module& m) { return m.state.load() == ModuleState::alive ? 1 : 0; });
    per_module("zebgw_module_reads_total", "Reads of the module's inputs.", "counter",
               [](const Module& m) { return m.metrics.reads.load(); });
    per_module("zebgw_module_errors_total", "Exchanges that failed or that the module refused.",
               "counter", [](const Module& m) { return m.metrics.errors.load(); });
    per_module("zebgw_module_resends_total", "Requests sent again after a time-out.", "counter",
               [](const Module& m) { return m.metrics.resends.load(); });
    per_module("zebgw_module_crc_errors_total", "Replies refused for a wrong CRC.", "counter",
               [](const Module& m) { return m.metrics.crc_errors.load(); });
    per_module("zebgw_module_deaths_total", "Times the module was declared dead.", "counter",
               [](const Module& m) { return m.metrics.deaths.load(); });

    const PublishMetrics& p = publish_metrics_;
    const auto one = [&](const char* name, const char* help, const char* type, uint64_t v) {
        counter(out, name, help, type);
        out += std::string(name) + " " + std::to_string(v) + "\n";
    };
    one("zebgw_broker_connected", "1 while the broker session is up.", "gauge",
        static_cast<uint64_t>(p.connected.load()));
    one("zebgw_broker_connects_total", "Broker sessions begun.", "counter", p.connects.load());
    one("zebgw_queue_depth", "Events waiting for the broker.", "gauge", p.queued.load());
    one("zebgw_queue_dropped_total",
        "Events dropped: the queue was full, their device was not born when they could "
        "leave, or the queue file's record of them was cut short or names what is gone.",
        "counter", p.dropped.load());
    one("zebgw_publishes_total", "MQTT messages published.", "counter", p.published.load());
    counter(out, "zebgw_writes_total", "Writes asked for, by outcome.", "counter");
    out += "zebgw_writes_total{result=\"done\"} " + std::to_string(p.writes_done.load()) + "\n";
    out +=
        "zebgw_writes_total{result=\"refused\"} " + std::to_string(p.writes_refused.load()) + "\n";
    out += "zebgw_writes_total{result=\"failed\"} " + std::to_string(p.writes_failed.load()) + "\n";
    return out;
}

std::string Gateway::modules_json() const {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& m : modules_) {
        const bool alive = m->state.load() == ModuleState::alive;
        nlohmann::json j = {{"id", m->config().id},
                            {"find", m->config().find_text},
                            {"group", config_.groups[m->config().group].name},
                            {"state", alive ? "alive" : "searching"},
                            {"reads", m->metrics.reads.load()},
                            {"errors", m->metrics.errors.load()},
                            {"resends", m->metrics.resends.load()},
                            {"crc_errors", m->metrics.crc_errors.load()},
                            {"deaths", m->metrics.deaths.load()},
                            {"last_result", m->metrics.reads.load() ? m->last_result.load() : 0}};
        {
            std::lock_guard lock(m->mutex);
            j["points"] = m->points.size();
            if (alive) j["address"] = m->address;
        }
        list.push_back(std::move(j));
    }
    return nlohmann::json{{"gateway", config_.gateway},
                          {"broker_connected", publish_metrics_.connected.load() == 1},
                          {"modules", list}}
        .dump(2);
}

}  // namespace zebgw
