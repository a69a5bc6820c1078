// A rack of simulated modules behind one network endpoint. Knows nothing of sockets: it takes
// request datagrams and gives back the reply datagrams to send.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "context.h"
#include "functions.h"
#include "module.h"

namespace racksim {

inline constexpr uint32_t kBroadcastIp = 0xFFFFFFFF;
inline constexpr uint32_t kFirstModuleIp = 0x7F000002;  // 127.0.0.2

// One reply datagram to send back to the requester.
struct Outgoing {
    uint32_t from_ip;  // the answering module's IPv4 address, host byte order
    Bytes bytes;
    uint32_t delay_ms;  // send this long after the request arrived (0 = at once)
};

// The reply datagrams of one request, in storage kept from one request to the next, so that
// serving a request need not allocate.
class Replies {
  public:
    void clear() { used_ = 0; }
    // A new reply with empty bytes (their storage kept from an earlier use).
    Outgoing& add(uint32_t from_ip, uint32_t delay_ms) {
        if (used_ == slots_.size()) slots_.emplace_back();
        Outgoing& o = slots_[used_++];
        o.from_ip = from_ip;
        o.delay_ms = delay_ms;
        o.bytes.clear();
        return o;
    }
    size_t size() const { return used_; }
    bool empty() const { return used_ == 0; }
    // Drops the replies from the n-th on (their storage stays for later use).
    void truncate(size_t n) { used_ = std::min(used_, n); }
    const Outgoing& operator[](size_t i) const { return slots_[i]; }
    Bytes& bytes_of(size_t i) { return slots_[i].bytes; }
    const Outgoing* begin() const { return slots_.data(); }
    const Outgoing* end() const { return slots_.data() + used_; }

  private:
    std::vector<Outgoing> slots_;
    size_t used_ = 0;
};

using LogSink = std::function<void(const std::string&)>;

struct RackSettings {
    std::string key;  // XOR key of requests; empty = none
    bool crc = true;  // replies carry a CRC (else the field is 0)
};

class Rack {
  public:
    // Runs on the steady clock and keeps its files in memory until told otherwise.
    Rack();

    // Parses a rack description; on error returns nullopt and sets *error to a message naming
    // the place (e.g. "modules[1].slots[0]: unknown record kind 9"). Relative folders in it
    // (a controller module's root) are taken from `base_dir`, else from the current folder;
    // load() gives the rack file's own folder.
    static std::optional<Rack> parse(const std::string& text, std::string* error,
                                     const std::string& base_dir = "");
    static std::optional<Rack> load(const std::string& path, std::string* error);

    // The description the rack was read from, with what hosts changed that a module keeps: its
    // setup records (name and number among them) and its configuration block. Everything else
    // stays as described (comments excepted): the installed base, initial images, faults.
    // False, with the reason, for a rack that was not read from a description.
    bool describe(std::string* text, std::string* error) const;
    // Writes that description to a file: to a temporary file beside it, then renamed over it,
    // so that a failed save leaves the file as it was.
    bool save(const std::string& path, std::string* error) const;

    // Adds a module. An address of 0 becomes the next free one from 127.0.0.2, an all-zero
    // hardware address a free derived one; its current base becomes the installed base that
    // init restores, and each fault seed starts its drop generator.
    Module& add_module(Module m);

    // One request datagram arrived for `to_ip` (a module's own address, or a broadcast
    // address). Returns the replies: none, or several modules' for a broadcast.
    std::vector<Outgoing> handle(uint32_t to_ip, const uint8_t* data, size_t len);
    // The same into `out` (cleared first). Serving an I/O read or a discovery query this way
    // allocates nothing once the storage has grown, unless a log sink is set.
    void handle(uint32_t to_ip, const uint8_t* data, size_t len, Replies& out);

    // Called with one line per request served, dropped or refused. Log text is built only
    // while a sink is set.
    void set_log(LogSink sink) { log_ = std::move(sink); }
    bool logging() const { return static_cast<bool>(log_); }

    // The clock and the file store that handlers are given. A new clock starts the modules'
    // uptime and the age of their Ethernet counters afresh.
    void set_clock(std::shared_ptr<const Clock> clock);
    const Clock& clock() const { return *clock_; }
    void set_files(std::shared_ptr<FileStore> files) { files_ = std::move(files); }
    FileStore& files() { return *files_; }

    RackSettings& settings() { return settings_; }
    const RackSettings& settings() const { return settings_; }
    std::deque<Module>& modules() { return modules_; }
    const std::deque<Module>& modules() const { return modules_; }
    Module& module(size_t i) { return modules_.at(i); }
    Module* find(const std::string& name);
    Module* find_ip(uint32_t ip);
    Module* find_hw(const HwAddress& hw);

    // Datagrams dropped before reaching any module (bad frame, bad CRC, wrong key).
    uint64_t bad_frames() const { return bad_frames_; }

    // 255.255.255.255, or an address ending in .255 that no module owns.
    bool is_broadcast(uint32_t ip) const;

  private:
    void log(const std::string& line) const {
        if (log_) log_(line);
    }
    // Serves a request of `len` datagram bytes that reached module m; adds its replies to out.
    void serve(Module& m, const Request& req, size_t len, bool broadcast, Replies& out);
    // Counts a datagram that reached m's interface.
    static EthernetCounters& count_in(Module& m, size_t len, bool broadcast);

    RackSettings settings_;
    std::string description_;  // the text the rack was read from, if any
    std::deque<Module> modules_;
    std::shared_ptr<const Clock> clock_;
    std::shared_ptr<FileStore> files_;
    LogSink log_;
    uint64_t bad_frames_ = 0;
    // Calls f for each module at `ip`, in rack order: through an index of addresses, rebuilt
    // when modules come or go, and by a look at every module when an address has changed.
    template <class F>
    void for_each_at(uint32_t ip, F f);
    void reindex();
    std::vector<std::pair<uint32_t, size_t>> by_ip_;  // (address, place), sorted
    size_t indexed_ = 0;                              // modules in the index

    // Kept from one request to the next.
    Request request_;
    Bytes keyed_;
    Execution spare_;
};

// Dotted-quad text of a host-order address, and back (false if malformed).
std::string ip_text(uint32_t ip);
bool parse_ip(const std::string& text, uint32_t* ip);
std::string hw_text(const HwAddress& hw);
// The default hardware address number `serial` (02:52:53:00:hi:lo).
HwAddress derived_hw(uint16_t serial);
bool parse_hw(const std::string& text, HwAddress* hw);

}  // namespace racksim
