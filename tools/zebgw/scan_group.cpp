#include "scan_group.h"

#include <pthread.h>
#include <sched.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "schedule.h"
#include "vocab/items.h"

namespace zebgw {

namespace {

namespace items = zeb::vocab::items;

// The most a reply's input stream or a request's output stream holds.
constexpr size_t kStreamRoom = 1200;

int64_t monotonic_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A result that means no answer came: time-outs and the socket's own errors. Anything else
// (a refusal by status word, a cut stream) came from a module that answers.
bool unanswered(uint32_t result) {
    return result == ZEBERR_TIMEOUT || (result != 0 && result < 0x8000u);
}

bool failed(uint32_t result) {
    return !ZEB_SUCCEEDED(result) && result != ZEBERR_BUFFER_TOO_SMALL;
}

std::string result_text(uint32_t result) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "the module did not take the write (result 0x%X)", result);
    return buf;
}

}  // namespace

ScanGroup::ScanGroup(const Config& config, const ScanGroupConfig& group,
                     std::vector<Module*> modules, Publisher& publisher,
                     PublishMetrics& publish_metrics)
    : config_(config),
      group_(group),
      modules_(std::move(modules)),
      publisher_(publisher),
      publish_metrics_(publish_metrics) {
    const size_t n = modules_.size();
    alive_.reserve(n);
    devices_.reserve(n);
    buffers_.reserve(n);
    sources_.reserve(n);
    lengths_.reserve(n);
    sizes_.reserve(n);
    results_.reserve(n);
    in_.assign(n, std::vector<uint8_t>(kStreamRoom));
    out_.assign(n, std::vector<uint8_t>(kStreamRoom));
    crc_seen_.assign(n, 0);
}

ScanGroup::~ScanGroup() {
    stop();
}

void ScanGroup::start() {
    thread_ = std::thread([this] { run(); });
}

void ScanGroup::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

void ScanGroup::run() {
    if (config_.scan_priority > 0) {
        // Real-time scheduling keeps a cycle's start from waiting behind busy processes; the
        // gateway runs on without it where it is not allowed.
        sched_param param{};
        param.sched_priority = config_.scan_priority;
        const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        if (error != 0) {
            std::fprintf(stderr, "zebgw: scan group %s runs without priority %d: %s\n",
                         group_.name.c_str(), config_.scan_priority, std::strerror(error));
        }
    }
    const int64_t period = static_cast<int64_t>(group_.period_ms) * 1000000;
    int64_t due = monotonic_ns();
    while (!stopping_) {
        const int64_t start = monotonic_ns();
        metrics.lateness.observe(static_cast<double>(start - due) / 1e9);
        cycle();
        const int64_t end = monotonic_ns();
        metrics.cycle.observe(static_cast<double>(end - start) / 1e9);
        metrics.cycles.fetch_add(1, std::memory_order_relaxed);
        metrics.last_cycle_ns.store(end, std::memory_order_relaxed);

        const NextCycle next = next_cycle(due, end, period);
        if (next.missed) metrics.overruns.fetch_add(next.missed, std::memory_order_relaxed);
        due = next.due;
        // Sleep in short steps so that a stop is seen soon also with long periods.
        while (!stopping_) {
            const int64_t now = monotonic_ns();
            if (now >= due) break;
            const int64_t until = std::min(due, now + 200000000);
            timespec t{static_cast<time_t>(until / 1000000000),
                       static_cast<long>(until % 1000000000)};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr);
        }
    }
}

void ScanGroup::cycle() {
    alive_.clear();
    for (Module* m : modules_) {
        if (m->state.load(std::memory_order_acquire) == ModuleState::alive) alive_.push_back(m);
    }
    if (alive_.empty()) return;
    write_pending(alive_);
    read(alive_);
}

void ScanGroup::write_pending(std::vector<Module*>& alive) {
    struct Undo {
        Module* module;
        std::vector<std::pair<uint32_t, uint32_t>> old;  // point, value before
        std::map<uint32_t, PendingWrite> writes;
    };
    std::vector<Undo> undo;
    devices_.clear();
    sources_.clear();
    lengths_.clear();
    buffers_.clear();
    sizes_.clear();
    for (size_t i = 0; i < alive.size(); ++i) {
        Module& m = *alive[i];
        Undo u{&m, {}, {}};
        {
            std::lock_guard lock(m.mutex);
            if (m.writes.empty()) continue;
            u.writes.swap(m.writes);
            for (const auto& [point, w] : u.writes) {
                const PointRef& p = m.points[point].ref;
                uint32_t before = 0;
                ZEBGetPoint(m.image.get(), p.slot, p.kind, p.index, &before);
                ZEBSetPoint(m.image.get(), p.slot, p.kind, p.index, w.value);
                u.old.emplace_back(point, before);
            }
        }
        const size_t k = undo.size();
        if (out_.size() <= k) break;
        uint16_t length = static_cast<uint16_t>(out_[k].size());
        ZEBEncodeOutputs(m.image.get(), out_[k].data(), &length);
        in_[k][0] = items::kExtendedMarker;
        in_[k][1] = 0;
        devices_.push_back(&m.device);
        sources_.push_back(out_[k].data());
        lengths_.push_back(length);
        buffers_.push_back(in_[k].data());
        sizes_.push_back(static_cast<uint16_t>(in_[k].size()));
        undo.push_back(std::move(u));
    }
    if (undo.empty()) return;
    results_.assign(undo.size(), 0);
    ZEBWriteIOEx(devices_.data(), sources_.data(), lengths_.data(), buffers_.data(), sizes_.data(),
                 results_.data(), static_cast<int32_t>(undo.size()));
    const uint64_t now = wall_ms();
    for (size_t k = 0; k < undo.size(); ++k) {
        Undo& u = undo[k];
        Module& m = *u.module;
        m.metrics.resends.fetch_add(m.device.FromAddressSize, std::memory_order_relaxed);
        if (!failed(results_[k])) {
            if (sizes_[k]) ZEBDecodeStream(m.image.get(), in_[k].data(), sizes_[k]);
            publish_metrics_.writes_done.fetch_add(u.writes.size(), std::memory_order_relaxed);
            continue;
        }
        // Not taken: the image goes back to what the module holds, and every writer hears why.
        m.metrics.errors.fetch_add(1, std::memory_order_relaxed);
        publish_metrics_.writes_failed.fetch_add(u.writes.size(), std::memory_order_relaxed);
        for (const auto& [point, before] : u.old) {
            const PointRef& p = m.points[point].ref;
            ZEBSetPoint(m.image.get(), p.slot, p.kind, p.index, before);
        }
        for (const auto& [point, w] : u.writes) {
            Event e;
            e.kind = Event::Kind::write_result;
            e.module = m.index();
            e.time_ms = now;
            e.point = w.asked_as;
            e.requested = w.value;
            e.result = result_text(results_[k]);
            publisher_.enqueue(std::move(e));
        }
    }
}

void ScanGroup::read(std::vector<Module*>& alive) {
    devices_.clear();
    buffers_.clear();
    sizes_.clear();
    const size_t n = std::min(alive.size(), in_.size());
    for (size_t i = 0; i < n; ++i) {
        // The marker asks for the extended item format; the reply overwrites it.
        in_[i][0] = items::kExtendedMarker;
        in_[i][1] = 0;
        devices_.push_back(&alive[i]->device);
        buffers_.push_back(in_[i].data());
        sizes_.push_back(static_cast<uint16_t>(in_[i].size()));
    }
    results_.assign(n, 0);
    ZEBReadIOEx(devices_.data(), buffers_.data(), sizes_.data(), results_.data(),
                static_cast<int32_t>(n));
    const uint64_t now = wall_ms();
    for (size_t i = 0; i < n; ++i) {
        Module& m = *alive[i];
        const uint32_t r = results_[i];
        m.last_result.store(r, std::memory_order_relaxed);
        m.metrics.reads.fetch_add(1, std::memory_order_relaxed);
        m.metrics.resends.fetch_add(m.device.FromAddressSize, std::memory_order_relaxed);
        const uint16_t crc = m.device.CrcErrorCount;
        m.metrics.crc_errors.fetch_add(static_cast<uint16_t>(crc - crc_seen_[i]),
                                       std::memory_order_relaxed);
        crc_seen_[i] = crc;
        if (unanswered(r)) {
            m.metrics.errors.fetch_add(1, std::memory_order_relaxed);
            if (++m.misses >= config_.dead_after) declare_dead(m, now);
            continue;
        }
        m.misses = 0;
        if (failed(r)) m.metrics.errors.fetch_add(1, std::memory_order_relaxed);
        if (sizes_[i]) ZEBDecodeStream(m.image.get(), in_[i].data(), sizes_[i]);
        publish_changes(m, now);
    }
}

void ScanGroup::publish_changes(Module& m, uint64_t now_ms) {
    Event e;
    {
        std::lock_guard lock(m.mutex);
        for (uint32_t i = 0; i < m.points.size(); ++i) {
            const Point& p = m.points[i];
            if (!p.published) continue;
            uint32_t v = 0;
            ZEBGetPoint(m.image.get(), p.ref.slot, p.ref.kind, p.ref.index, &v);
            if (!worth_publishing(is_bit(p.ref.kind), m.published[i], v, m.config().deadband)) {
                continue;
            }
            m.published[i] = v;
            e.values.push_back({i, v});
        }
    }
    if (e.values.empty()) return;
    e.kind = Event::Kind::data;
    e.module = m.index();
    e.time_ms = now_ms;
    publisher_.enqueue(std::move(e));
}

void ScanGroup::declare_dead(Module& m, uint64_t now_ms) {
    m.misses = 0;
    m.metrics.deaths.fetch_add(1, std::memory_order_relaxed);
    std::vector<PendingWrite> refused;
    {
        std::lock_guard lock(m.mutex);
        for (auto& [point, w] : m.writes) refused.push_back(std::move(w));
        m.writes.clear();
    }
    m.search_delay_ms = std::max<uint32_t>(group_.period_ms, 100);
    m.next_search = std::chrono::steady_clock::now() + std::chrono::milliseconds(m.search_delay_ms);
    Event e;
    e.kind = Event::Kind::death;
    e.module = m.index();
    e.time_ms = now_ms;
    publisher_.enqueue(std::move(e));
    for (auto& w : refused) {
        Event r;
        r.kind = Event::Kind::write_result;
        r.module = m.index();
        r.time_ms = now_ms;
        r.point = w.asked_as;
        r.requested = w.value;
        r.result = "the module stopped answering";
        publisher_.enqueue(std::move(r));
        publish_metrics_.writes_failed.fetch_add(1, std::memory_order_relaxed);
    }
    // From here on the searcher owns the module.
    m.state.store(ModuleState::searching, std::memory_order_release);
}

}  // namespace zebgw
