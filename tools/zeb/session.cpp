#include "session.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "failure.h"
#include "vocab/capacities.h"
#include "vocab/setup_types.h"

namespace zeb::cli {

namespace {

constexpr uint16_t kVersion = ZEB_API_VERSION;
using vocab::setup::kNameQuerySize;
constexpr uint16_t kFirstCapacity = 64;
// A lookup listens this long first, and the whole query time only when nothing answered: a
// module on the local network answers within milliseconds.
constexpr uint32_t kFirstLookMs = 100;

// ZEB_TRACE set to anything but "" or "0" turns the library's frame trace on.
bool trace_asked() {
    const char* value = std::getenv("ZEB_TRACE");
    return value && *value && std::strcmp(value, "0") != 0;
}

std::string ipx_text(const ZEBDevice& d) {
    const uint8_t* a = d.Address.Raw;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X", a[2], a[3], a[4],
                  a[5], a[6], a[7], a[8], a[9], a[10], a[11]);
    return buf;
}

// Restores the query time-out on every path.
class QueryTimeout {
  public:
    explicit QueryTimeout(std::optional<uint32_t> ms) : set_(ms.has_value()) {
        if (set_) previous_ = ZEBSetQueryTimeout(*ms);
    }
    ~QueryTimeout() {
        if (set_) ZEBSetQueryTimeout(previous_);
    }
    QueryTimeout(const QueryTimeout&) = delete;
    QueryTimeout& operator=(const QueryTimeout&) = delete;

  private:
    bool set_;
    uint32_t previous_ = 0;
};

uint32_t run_query(ZEBTransport& transport, const Query& query, std::vector<ZEBDevice>& list,
                   uint16_t& count) {
    if (!query.item_type) {
        return ZEBQueryDevices(&transport, list.data(), &count, kVersion);
    }
    return ZEBQueryDeviceData(&transport, list.data(), &count, kVersion, *query.item_type,
                              query.item.data(), static_cast<uint16_t>(query.item.size()));
}

}  // namespace

Query Query::by_number(uint32_t number) {
    Query q;
    q.item_type = vocab::setup::kNumberRecord;
    q.item = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
              static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
    return q;
}

Query Query::by_name(const std::string& name) {
    Query q;
    q.item_type = vocab::setup::kNameRecord;
    q.item.assign(kNameQuerySize, 0);
    std::copy_n(name.begin(), std::min(name.size(), kNameQuerySize - 1), q.item.begin());
    return q;
}

Device::~Device() {
    forget_open_device(record_.get());
    ZEBCloseDevice(record_.get());
}

Session::Session(const GlobalOptions& options, uint16_t protocol) : options_(options) {
    ZEBOpen(kVersion);
    if (options.verbose || trace_asked()) ZEBSetTrace(1);
    transport_.Kind = ZEB_TRANSPORT_WINSOCK;
    transport_.Protocol = protocol;
    void* source = nullptr;
    if (!options.local.empty()) {
        const auto ip = parse_ipv4(options.local);
        if (!ip) {
            ZEBClose();
            fail_usage("--local " + options.local + ": not an IPv4 address");
        }
        if (protocol != ZEB_PROTOCOL_IP) {
            ZEBClose();
            fail_usage("--local binds an IP transport only");
        }
        put_socket_address(source_, *ip, 0);
        source = source_;
    }
    const uint32_t result = ZEBOpenTransport(&transport_, kVersion, source);
    if (result != 0) {
        ZEBClose();
        fail_result("cannot open the transport", result);
    }
}

Session::~Session() {
    ZEBCloseTransport(&transport_);
    ZEBClose();
}

std::vector<Found> Session::discover(const Query& query, std::optional<uint32_t> listen_ms) {
    QueryTimeout timeout(listen_ms);
    std::vector<ZEBDevice> list(kFirstCapacity);
    uint16_t count = kFirstCapacity;
    uint32_t result = run_query(transport_, query, list, count);
    if (result == ZEBERR_BUFFER_TOO_SMALL) {
        // The count says how many answered: ask again with room for them all.
        const uint16_t capacity = std::max<uint16_t>(count, kFirstCapacity);
        list.assign(capacity, ZEBDevice{});
        count = capacity;
        result = run_query(transport_, query, list, count);
    }
    if (result == kNetworkUnreachable) {
        throw Failure(kExitNoReply, "discovery from " + local_text(), result,
                      discovery_hint(options_.local));
    }
    if (result != 0 && result != ZEBERR_BUFFER_TOO_SMALL) fail_result("discovery", result);
    list.resize(std::min<std::size_t>(count, list.size()));

    const bool ip = transport_.Protocol == ZEB_PROTOCOL_IP;
    std::vector<Found> found;
    for (const ZEBDevice& d : list) {
        Found f;
        f.record = d;
        f.ip = ip ? device_ip(d) : 0;
        f.address = ip ? ipv4_text(f.ip) : ipx_text(d);
        f.hw = device_hw(d);
        f.broadcast_only = ip && d.Address.Ip.BroadcastOnly == 1;
        // A module that answered twice is listed once.
        const bool seen = std::any_of(found.begin(), found.end(), [&](const Found& other) {
            return other.address == f.address && other.hw == f.hw;
        });
        if (!seen) found.push_back(f);
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.ip != b.ip ? a.ip < b.ip : a.address < b.address;
    });
    return found;
}

std::vector<Found> Session::lookup(const Query& query,
                                   const std::function<bool(const Found&)>& wanted) {
    const uint32_t whole = ZEBGetQueryTimeout();
    for (const uint32_t listen : {std::min(kFirstLookMs, whole), whole}) {
        std::vector<Found> found;
        for (const Found& f : discover(query, listen)) {
            if (wanted(f)) found.push_back(f);
        }
        if (!found.empty() || listen == whole) return found;
    }
    return {};
}

std::unique_ptr<Device> Session::open(const ModuleRef& ref) {
    if (const auto* by_address = std::get_if<ByAddress>(&ref)) return open_address(by_address->ip);

    std::vector<Found> found;
    const auto anyone = [](const Found&) { return true; };
    if (const auto* by_number = std::get_if<ByNumber>(&ref)) {
        found = lookup(Query::by_number(by_number->number), anyone);
    } else if (const auto* by_name = std::get_if<ByName>(&ref)) {
        found = lookup(Query::by_name(by_name->name), anyone);
    } else {
        const HwAddress hw = std::get<ByHardware>(ref).hw;
        found = lookup(Query::everyone(), [&](const Found& f) { return f.hw == hw; });
    }
    const std::string name = module_ref_text(ref);
    if (found.empty()) {
        throw Failure(kExitNoReply, "no module answers to '" + name + "' on " + local_text(), {},
                      discovery_hint(options_.local));
    }
    if (found.size() > 1) {
        std::string addresses;
        for (const Found& f : found) addresses += (addresses.empty() ? "" : ", ") + f.address;
        fail_usage(std::to_string(found.size()) + " modules answer to '" + name + "' (" +
                   addresses + "); name one by its address");
    }
    return open(found.front());
}

std::string Session::local_text() const {
    return options_.local.empty() ? "0.0.0.0" : options_.local;
}

std::unique_ptr<Device> Session::open(const Found& found) {
    // A module that takes broadcasts only is reached by broadcast with its hardware address.
    return open_record(found.record, found.broadcast_only, found.address);
}

std::unique_ptr<Device> Session::open_address(uint32_t ip) {
    ZEBDevice record{};
    put_socket_address(record.Address.Raw, ip, ZEB_MODULE_PORT);
    return open_record(record, false, ipv4_text(ip));
}

std::unique_ptr<Device> Session::open_record(const ZEBDevice& record, bool broadcast,
                                             std::string address) {
    auto device = std::make_unique<ZEBDevice>(record);
    const uint32_t result = ZEBOpenDevice(&transport_, device.get(), kVersion, options_.timeout_ms,
                                          options_.retries, broadcast ? 1 : 0);
    if (result != 0) fail_result("cannot open " + address, result);
    note_open_device(device.get(), address);
    return std::unique_ptr<Device>(new Device(std::move(device), std::move(address)));
}

}  // namespace zeb::cli
