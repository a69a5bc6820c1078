#include "searcher.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "vocab/setup_types.h"

namespace zebgw {

namespace {

using namespace zeb::cli;
namespace setup = zeb::vocab::setup;

constexpr size_t kNameQuerySize = 256;
constexpr uint16_t kListRoom = 64;

// The modules that answer a query, as discovery lists them.
std::vector<ZEBDevice> query(ZEBTransport& t, const ModuleRef& ref) {
    std::vector<ZEBDevice> list(kListRoom);
    uint16_t count = kListRoom;
    uint32_t r = 0;
    if (const auto* n = std::get_if<ByNumber>(&ref)) {
        const uint8_t item[4] = {
            static_cast<uint8_t>(n->number), static_cast<uint8_t>(n->number >> 8),
            static_cast<uint8_t>(n->number >> 16), static_cast<uint8_t>(n->number >> 24)};
        r = ZEBQueryDeviceData(&t, list.data(), &count, ZEB_API_VERSION, setup::kNumberRecord, item,
                               sizeof item);
    } else if (const auto* name = std::get_if<ByName>(&ref)) {
        std::vector<uint8_t> item(kNameQuerySize, 0);
        std::copy_n(name->name.begin(), std::min(name->name.size(), kNameQuerySize - 1),
                    item.begin());
        r = ZEBQueryDeviceData(&t, list.data(), &count, ZEB_API_VERSION, setup::kNameRecord,
                               item.data(), static_cast<uint16_t>(item.size()));
    } else {
        r = ZEBQueryDevices(&t, list.data(), &count, ZEB_API_VERSION);
    }
    if (r != 0 && r != ZEBERR_BUFFER_TOO_SMALL) return {};
    list.resize(std::min<size_t>(count, list.size()));
    if (const auto* hw = std::get_if<ByHardware>(&ref)) {
        std::erase_if(list, [&](const ZEBDevice& d) { return device_hw(d) != hw->hw; });
    }
    // A module that answered twice counts once.
    std::vector<ZEBDevice> unique;
    for (const auto& d : list) {
        const bool seen = std::any_of(unique.begin(), unique.end(), [&](const ZEBDevice& u) {
            return device_ip(u) == device_ip(d) && device_hw(u) == device_hw(d);
        });
        if (!seen) unique.push_back(d);
    }
    return unique;
}

}  // namespace

Searcher::Searcher(const Config& config, ZEBTransport& transport,
                   const std::vector<std::unique_ptr<Module>>& modules, Publisher& publisher)
    : config_(config), transport_(transport), modules_(modules), publisher_(publisher) {}

Searcher::~Searcher() {
    stop();
}

void Searcher::start() {
    thread_ = std::thread([this] { run(); });
}

void Searcher::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void Searcher::wait_ms(int ms) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

bool Searcher::open(Module& m) {
    if (m.opened) return true;
    ZEBDevice record{};
    bool broadcast = false;
    if (const auto* a = std::get_if<ByAddress>(&m.config().find)) {
        put_socket_address(record.Address.Raw, a->ip, ZEB_MODULE_PORT);
    } else {
        const auto found = query(transport_, m.config().find);
        if (found.size() != 1) {
            if (found.size() > 1) {
                std::fprintf(stderr, "zebgw: %zu modules answer to '%s'; name one by its address\n",
                             found.size(), m.config().find_text.c_str());
            }
            return false;
        }
        record = found.front();
        // A module that takes broadcasts only is reached by broadcast with its hardware address.
        broadcast = record.Address.Ip.BroadcastOnly == 1;
    }
    m.device = record;
    const uint32_t r = ZEBOpenDevice(&transport_, &m.device, ZEB_API_VERSION, config_.timeout_ms,
                                     config_.retries, broadcast ? 1 : 0);
    if (r != 0) {
        ZEBCloseDevice(&m.device);
        return false;
    }
    m.opened = true;
    std::lock_guard lock(m.mutex);
    m.address = ipv4_text(device_ip(m.device));
    return true;
}

bool Searcher::look_for(Module& m) {
    if (!open(m)) return false;
    uint32_t r = ZEBReadImageLayout(&m.device, m.image.get());
    if (ZEB_SUCCEEDED(r) || r == ZEBERR_BUFFER_TOO_SMALL)
        r = ZEBReadInputs(&m.device, m.image.get());
    if (r == ZEBERR_TIMEOUT || (r != 0 && r < 0x8000u)) {
        // Found by discovery: it may answer elsewhere next time.
        if (!std::holds_alternative<ByAddress>(m.config().find)) {
            ZEBCloseDevice(&m.device);
            m.opened = false;
        }
        return false;
    }
    m.lay_out_points();
    Event e;
    e.kind = Event::Kind::birth;
    e.module = m.index();
    e.time_ms = wall_ms();
    {
        std::lock_guard lock(m.mutex);
        for (uint32_t i = 0; i < m.points.size(); ++i) {
            const PointRef& p = m.points[i].ref;
            uint32_t v = 0;
            ZEBGetPoint(m.image.get(), p.slot, p.kind, p.index, &v);
            m.published[i] = v;
        }
        e.values = m.snapshot();
    }
    m.misses = 0;
    m.search_delay_ms = 0;
    m.metrics.births.fetch_add(1, std::memory_order_relaxed);
    // Alive before the birth is queued: a connection made in between births it from here.
    m.state.store(ModuleState::alive, std::memory_order_release);
    publisher_.enqueue(std::move(e));
    return true;
}

// The queue file's changes wait until every module has been found, or has gone unanswered this
// many looks in a row: on a busy network one look may go unanswered.
constexpr uint32_t kLooksBeforeTheFileGoes = 3;

void Searcher::run() {
    bool announced = false;
    std::vector<uint32_t> unanswered;  // looks in a row, by module, until announced
    while (true) {
        unanswered.resize(modules_.size(), 0);
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        const auto now = std::chrono::steady_clock::now();
        auto next = now + std::chrono::milliseconds(config_.search_max_ms);
        for (size_t i = 0; i < modules_.size(); ++i) {
            Module* m = modules_[i].get();
            {
                std::lock_guard lock(mutex_);
                if (stopping_) return;
            }
            if (m->state.load(std::memory_order_acquire) != ModuleState::searching) continue;
            if (m->next_search > std::chrono::steady_clock::now()) {
                next = std::min(next, m->next_search);
                continue;
            }
            if (look_for(*m)) continue;
            ++unanswered[i];
            m->search_delay_ms = m->search_delay_ms == 0
                                     ? 100
                                     : std::min(config_.search_max_ms, m->search_delay_ms * 2);
            m->next_search =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(m->search_delay_ms);
            next = std::min(next, m->next_search);
        }
        if (!announced) {
            bool settled = true;
            for (size_t i = 0; i < modules_.size(); ++i) {
                settled = settled && (modules_[i]->state.load() != ModuleState::searching ||
                                      unanswered[i] >= kLooksBeforeTheFileGoes);
            }
            if (settled) {
                publisher_.searched();
                announced = true;
            }
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            next - std::chrono::steady_clock::now());
        // The scan groups hand back modules at any time: look at least every 50 ms.
        wait_ms(static_cast<int>(std::clamp<int64_t>(wait.count(), 1, 50)));
    }
}

}  // namespace zebgw
