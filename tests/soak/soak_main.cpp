// The fault soak: the library against RackSim modules served over loopback that lose requests
// and send replies late (after the library gave up, so they arrive out of order), twice,
// damaged, or behind a stray packet, at the rates given, each module answering in a manner (by
// default one drawn for each request). Worker threads, one device and module each, run
// operations of every family until the modules have seen the number of exchanges asked for.
// Every call must succeed with exactly what the module holds or fail with an error code, within
// its bound; afterwards the devices' counters must agree with what RackSim did. Exits non-zero
// when any data was wrong, any call hung, or the counters disagree.
//
//     soak --exchanges N --loss PCT --corrupt PCT --duplicate PCT --late PCT --stray PCT
//          [--manner NAME|random] [--crc on|off] [--threads N] [--timeout MS] [--retries N]
//          [--seed N] [--only FAMILY]
//
// Run it inside a private network namespace (scripts/soak does): it serves the module port.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "manner.h"
#include "rack.h"
#include "remote_master.h"
#include "server.h"
#include "soak_operations.h"
#include "zeb.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

struct Options {
    uint64_t exchanges = 10000;
    double loss = 0, corrupt = 0, duplicate = 0, late = 0, stray = 0;  // percent
    bool crc = true;
    int threads = 8;
    uint16_t timeout_ms = 100;
    uint16_t retries = 3;
    uint64_t seed = 1;
    std::string only;               // one operation family, for a closer look
    std::string manner = "random";  // how the modules answer (racksim::manner_names())
};

// Real time a call may run over its bound: scheduling on a busy machine.
constexpr uint64_t kSlackMs = 500;
// How long past that the watchdog waits before it calls a call stuck for good.
constexpr uint64_t kStuckMs = 10000;
constexpr uint32_t kQueryListenMs = 150;
constexpr uint8_t kDiscoveryCodes[] = {0x05, 0x09};

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "soak: %s\nusage: soak --exchanges N --loss PCT --corrupt PCT --duplicate PCT "
                 "--late PCT --stray PCT [--manner NAME|random] [--crc on|off] [--threads N] "
                 "[--timeout MS] [--retries N] [--seed N] [--only FAMILY]\n",
                 why);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) usage(("no value after " + a).c_str());
        const char* v = argv[++i];
        char* end = nullptr;
        const double x = std::strtod(v, &end);
        const bool number = end && *end == '\0' && x >= 0;
        if (a == "--only") {
            o.only = v;
            continue;
        }
        if (a == "--manner") {
            if (!racksim::manner_named(v)) {
                usage(("--manner: one of " + racksim::manner_names()).c_str());
            }
            o.manner = v;
            continue;
        }
        if (a == "--crc") {
            if (std::strcmp(v, "on") != 0 && std::strcmp(v, "off") != 0) usage("--crc on|off");
            o.crc = std::strcmp(v, "on") == 0;
            continue;
        }
        if (!number) usage(("not a number: " + std::string(v)).c_str());
        if (a == "--exchanges")
            o.exchanges = uint64_t(x);
        else if (a == "--loss")
            o.loss = x;
        else if (a == "--corrupt")
            o.corrupt = x;
        else if (a == "--duplicate")
            o.duplicate = x;
        else if (a == "--late")
            o.late = x;
        else if (a == "--stray")
            o.stray = x;
        else if (a == "--threads")
            o.threads = std::max(1, int(x));
        else if (a == "--timeout")
            o.timeout_ms = uint16_t(std::max(20.0, x));
        else if (a == "--retries")
            o.retries = uint16_t(x);
        else if (a == "--seed")
            o.seed = uint64_t(x);
        else
            usage(("unknown option " + a).c_str());
    }
    if (o.loss + o.corrupt > 100 || o.duplicate + o.stray > 100 || o.late > 100) {
        usage("rates above 100%");
    }
    return o;
}

// A node with static inputs, an output slot, a remote master behind shared RAM base 0, slot 0,
// and the standard controller, memory and serial ports.
racksim::Module soak_module(int i) {
    racksim::Module m("soak-" + std::to_string(i), uint32_t(100 + i), racksim::kKindNode);
    racksim::Slot& s0 = m.add_slot(0, racksim::SlotRecord::full(0x25, {12, 4, 2, 1, 1, 1}));
    s0.io.bit_in = {0xA5, uint8_t(i)};
    s0.io.word_in = {0x1234, uint16_t(0xBE00 + i)};
    s0.io.dword_in = {0xCAFEF00D};
    m.add_slot(3, racksim::SlotRecord::basic(0x24, 0, 8, 0, 0));
    m.config = {0x10, 0x20, 0x30, uint8_t(i)};
    m.identity.ip = racksim::kFirstModuleIp + uint32_t(i);
    install_remote_master(m.shared_ram, {0, 0, 0});
    return m;
}

// The manner the modules answer in, from the start: a host learns whether a module sends CRCs.
// Lateness is scaled to the host's time-out: replies late within it, final replies after an
// acknowledgement late past it (and well within the 30 s a host adds for them). Drawn manners
// come from the soak's seed.
void set_manner(racksim::Rack& rack, const Options& o) {
    racksim::MannerSetting s = *racksim::manner_named(o.manner);
    racksim::Manner& m = s.manner;
    if (s.random || m.late_ms) m.late_ms = o.timeout_ms * 2u / 5u;
    if (s.random || m.final_late_ms) m.final_late_ms = o.timeout_ms * 3u;
    for (size_t i = 0; i < rack.modules().size(); ++i) {
        racksim::Module& mod = rack.module(i);
        mod.manner = s;
        mod.manner.seed = o.seed * 1000 + i + 1;
        racksim::start_manner(mod.manner, mod.faults.seed, mod.manner_state);
    }
}

void set_faults(racksim::Rack& rack, const Options& o, bool on) {
    for (size_t i = 0; i < rack.modules().size(); ++i) {
        racksim::Faults& f = rack.module(i).faults;
        f.drop_fraction = on ? o.loss / 100 : 0;
        f.late_fraction = on ? o.late / 100 : 0;
        f.corrupt_fraction = on ? o.corrupt / 100 : 0;
        f.duplicate_fraction = on ? o.duplicate / 100 : 0;
        f.stray_fraction = on ? o.stray / 100 : 0;
        f.late_ms = 3u * o.timeout_ms;
        if (on) f.seed = f.rng_state = o.seed * 1000 + i;
    }
}

struct Totals {
    std::mutex mutex;
    uint64_t calls = 0, succeeded = 0, failed = 0, timeouts = 0, wrong = 0, hangs = 0;
    std::map<std::string, std::pair<uint64_t, uint64_t>> by_family;  // calls, succeeded
    std::map<uint32_t, uint64_t> failures;                           // by result
    std::vector<std::string> notes;
};

// The call a worker is in, for the watchdog: when it started (ms on the steady clock, -1 when
// between calls) and its bound.
struct Watch {
    std::atomic<int64_t> started{-1};
    std::atomic<uint64_t> bound{0};
};

int64_t steady_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               SteadyClock::now().time_since_epoch())
        .count();
}

// A call still running long past its bound never ends: report it as a hang and stop, since
// its worker cannot be waited for.
void watch_for_hangs(const std::deque<Watch>& watches, const Totals& t) {
    for (const Watch& w : watches) {
        const int64_t started = w.started.load();
        if (started < 0) continue;
        if (uint64_t(steady_ms() - started) > w.bound.load() + kSlackMs + kStuckMs) {
            std::printf("a call has run %lld ms past its bound of %llu ms\n",
                        static_cast<long long>(steady_ms() - started - int64_t(w.bound.load())),
                        static_cast<unsigned long long>(w.bound.load()));
            std::printf("wrong data accepted: %llu\nhangs: %llu\n",
                        static_cast<unsigned long long>(t.wrong),
                        static_cast<unsigned long long>(t.hangs + 1));
            std::fflush(stdout);
            std::_Exit(1);
        }
    }
}

void work(soak::Worker& w, Watch& watch, const std::string& only, const std::atomic<bool>& done,
          Totals& t) {
    std::vector<const soak::Operation*> ops;
    for (const soak::Operation& op : soak::operations()) {
        if (only.empty() || only == op.family) ops.push_back(&op);
    }
    while (!done.load() && !ops.empty()) {
        const soak::Operation& op = *ops[w.random() % ops.size()];
        watch.bound.store(soak::bound_ms(op, w.device));
        watch.started.store(steady_ms());
        const auto start = SteadyClock::now();
        const soak::Outcome out = op.run(w);
        watch.started.store(-1);
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
        const bool hung = uint64_t(took.count()) > soak::bound_ms(op, w.device) + kSlackMs;
        const bool ok = ZEB_SUCCEEDED(out.result);
        if (out.result == ZEBERR_TIMEOUT && !op.discovery) ++w.timeouts;
        std::lock_guard<std::mutex> lock(t.mutex);
        ++t.calls;
        ++(ok ? t.succeeded : t.failed);
        if (!ok) ++t.failures[out.result];
        auto& fam = t.by_family[op.family];
        ++fam.first;
        fam.second += ok;
        if (out.wrong_data) {
            ++t.wrong;
            if (t.notes.size() < 10) t.notes.push_back("wrong data: " + out.what);
        }
        if (hung) {
            ++t.hangs;
            if (t.notes.size() < 10) {
                t.notes.push_back(std::string("hang: ") + op.family + " took " +
                                  std::to_string(took.count()) + " ms");
            }
        }
    }
}

uint64_t requests_seen(racksim::Server& server) {
    return server.with_rack([](racksim::Rack& rack) {
        uint64_t n = 0;
        for (const racksim::Module& m : rack.modules()) n += m.counters.requests;
        return n;
    });
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    racksim::Rack rack;
    for (int i = 0; i < o.threads; ++i) rack.add_module(soak_module(i));
    set_manner(rack, o);
    racksim::Server server(std::move(rack), {});
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "soak: %s\n", error.c_str());
        return 2;
    }
    ZEBSetQueryTimeout(kQueryListenMs);
    SetCRCMode(o.crc ? 1 : 0);

    std::vector<ZEBTransport> transports(size_t(o.threads));
    std::vector<ZEBDevice> devices(size_t(o.threads));
    std::vector<std::array<uint8_t, 16>> sources(size_t(o.threads), {2, 0, 0, 0, 127, 0, 0, 1});
    std::vector<soak::Worker> workers;
    workers.reserve(size_t(o.threads));
    for (int i = 0; i < o.threads; ++i) {
        ZEBTransport& tr = transports[size_t(i)];
        tr.Kind = ZEB_TRANSPORT_WINSOCK;
        tr.Protocol = ZEB_PROTOCOL_IP;
        // The transport keeps pointing at its source address: it lives as long as the transport.
        uint8_t* source = sources[size_t(i)].data();
        ZEBDevice& d = devices[size_t(i)];
        const uint32_t ip = racksim::kFirstModuleIp + uint32_t(i);
        const uint8_t address[16] = {2,
                                     0,
                                     ZEB_MODULE_PORT >> 8,
                                     ZEB_MODULE_PORT & 0xFF,
                                     uint8_t(ip >> 24),
                                     uint8_t(ip >> 16),
                                     uint8_t(ip >> 8),
                                     uint8_t(ip)};
        std::memcpy(d.Address.Ip.SocketAddress, address, sizeof address);
        if (ZEBOpenTransport(&tr, ZEB_API_VERSION, source) != 0 ||
            ZEBOpenDevice(&tr, &d, ZEB_API_VERSION, o.timeout_ms, o.retries, 0) != 0) {
            std::fprintf(stderr, "soak: cannot open device %d\n", i);
            return 2;
        }
        workers.emplace_back(server, tr, d, size_t(i), o.seed * 7919 + uint64_t(i));
        if (!soak::record_clean(workers.back(), &error)) {
            std::fprintf(stderr, "soak: module %d: %s\n", i, error.c_str());
            return 2;
        }
    }
    const uint64_t before = requests_seen(server);
    server.with_rack([&](racksim::Rack& r) { set_faults(r, o, true); });

    const auto started = SteadyClock::now();
    std::atomic<bool> done{false};
    Totals totals;
    std::vector<std::thread> threads;
    std::deque<Watch> watches;
    for (soak::Worker& w : workers)
        threads.emplace_back([&, wp = &w, watch = &watches.emplace_back()] {
            work(*wp, *watch, o.only, done, totals);
        });
    while (requests_seen(server) - before < o.exchanges) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard<std::mutex> lock(totals.mutex);
        watch_for_hangs(watches, totals);
    }
    done.store(true);
    for (std::thread& t : threads) t.join();
    const uint64_t exchanges = requests_seen(server) - before;

    // Faults off; once the last late reply is in, one clean exchange per device takes whatever
    // is still queued, so that every stray, copy and late reply has been met.
    server.with_rack([&](racksim::Rack& r) { set_faults(r, o, false); });
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * o.timeout_ms + 200));
    for (ZEBDevice& d : devices) {
        if (!ZEB_SUCCEEDED(ZEBPetDevice(&d)))
            std::fprintf(stderr, "soak: a final exchange failed\n");
    }
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - started).count();

    // What RackSim did, without discovery (whose replies go to a short-lived probe socket).
    uint64_t dropped = 0, late_requests = 0, late = 0, corrupted = 0, duplicated = 0, strays = 0;
    uint64_t copies = 0;
    server.with_rack([&](racksim::Rack& r) {
        for (const racksim::Module& m : r.modules()) {
            for (const auto& [code, n] : m.counters.dropped_by_function) {
                if (code != kDiscoveryCodes[0] && code != kDiscoveryCodes[1]) dropped += n;
            }
            for (const auto& [code, f] : m.counters.faults_by_function) {
                if (code == kDiscoveryCodes[0] || code == kDiscoveryCodes[1]) continue;
                late_requests += f.late_answers;
                late += f.late;
                corrupted += f.corrupted;
                duplicated += f.duplicated;
                strays += f.strays;
                copies += f.previous;
            }
        }
    });
    uint64_t resends = 0, crc_errors = 0, late_replies = 0, timeouts = 0;
    for (size_t i = 0; i < devices.size(); ++i) {
        resends += devices[i].ResendCount;
        crc_errors += devices[i].CrcErrorCount;
        late_replies += devices[i].LateReplyCount;
        timeouts += workers[i].timeouts;
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        ZEBCloseDevice(&devices[i]);
        ZEBCloseTransport(&transports[i]);
    }
    server.stop();

    const bool resends_agree = resends + timeouts == dropped + late_requests;
    const bool crc_agree = crc_errors == (o.crc ? corrupted : 0);
    const bool late_agree = late_replies == late + duplicated + strays + copies;
    auto row = [](const char* what, uint64_t n, const std::string& note = {}) {
        std::printf("  %-34s %10llu%s\n", what, static_cast<unsigned long long>(n), note.c_str());
    };
    std::printf(
        "soak: %d modules, manner %s, timeout %u ms, %u re-sends, CRC %s, seed %llu, %.1f s\n",
        o.threads, o.manner.c_str(), o.timeout_ms, o.retries, o.crc ? "on" : "off",
        static_cast<unsigned long long>(o.seed), seconds);
    std::printf(
        "  rates: loss %.2f%%, corrupt %.2f%%, duplicate %.2f%%, late %.2f%%, stray %.2f%%\n",
        o.loss, o.corrupt, o.duplicate, o.late, o.stray);
    row("exchanges", exchanges);
    row("calls", totals.calls);
    row("  succeeded", totals.succeeded);
    row("  failed with an error code", totals.failed);
    row("losses injected", dropped);
    row("late answers injected", late_requests, "  (" + std::to_string(late) + " datagrams)");
    row("corrupted replies injected", corrupted);
    row("duplicates injected", duplicated);
    row("stray packets injected", strays);
    row("copies of previous replies (manner)", copies);
    row("re-sends (ResendCount)", resends,
        "  + " + std::to_string(timeouts) + " final time-outs" +
            (resends_agree ? "" : "  DISAGREES"));
    row("CRC errors caught (CrcErrorCount)", crc_errors, crc_agree ? "" : "  DISAGREES");
    row("late replies (LateReplyCount)", late_replies, late_agree ? "" : "  DISAGREES");
    for (const auto& [family, n] : totals.by_family) {
        std::printf("  %-34s %10llu calls, %llu succeeded\n", family.c_str(),
                    static_cast<unsigned long long>(n.first),
                    static_cast<unsigned long long>(n.second));
    }
    // The most frequent failures; a damaged status word can make many different ones.
    std::vector<std::pair<uint64_t, uint32_t>> by_count;
    for (const auto& [code, n] : totals.failures) by_count.emplace_back(n, code);
    std::sort(by_count.rbegin(), by_count.rend());
    std::string codes;
    for (size_t i = 0; i < by_count.size() && i < 6; ++i) {
        char item[48];
        std::snprintf(item, sizeof item, "%s0x%X: %llu", codes.empty() ? "" : ", ",
                      by_count[i].second, static_cast<unsigned long long>(by_count[i].first));
        codes += item;
    }
    if (by_count.size() > 6) codes += ", " + std::to_string(by_count.size() - 6) + " other results";
    if (!codes.empty()) std::printf("  failures by result: %s\n", codes.c_str());
    for (const std::string& note : totals.notes) std::printf("  %s\n", note.c_str());
    std::printf("counters agree: %s\n", resends_agree && crc_agree && late_agree ? "yes" : "no");
    std::printf("wrong data accepted: %llu\n", static_cast<unsigned long long>(totals.wrong));
    std::printf("hangs: %llu\n", static_cast<unsigned long long>(totals.hangs));
    const bool agree = resends_agree && crc_agree && late_agree;
    return totals.wrong == 0 && totals.hangs == 0 && agree ? 0 : 1;
}
