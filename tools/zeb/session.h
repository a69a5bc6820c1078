// The library, one transport and the modules opened on it, for the length of one command;
// and finding modules: by discovery, or by the MODULE argument.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "addresses.h"
#include "global_options.h"
#include "values.h"
#include "zeb.h"

namespace zeb::cli {

// What discovery asks for: every module, or those to which a data item applies.
struct Query {
    std::optional<uint16_t> item_type;  // none: every module
    Bytes item;

    static Query everyone() { return {}; }
    static Query by_number(uint32_t number);
    static Query by_name(const std::string& name);  // sent as a 256-byte zero-filled buffer
};

// One module that answered discovery.
struct Found {
    ZEBDevice record{};   // as discovery filled it, ready to open
    std::string address;  // dotted quad, or network:node for IPX
    uint32_t ip = 0;      // IP only
    HwAddress hw{};
    bool broadcast_only = false;
};

// An opened module; closed when destroyed.
class Device {
  public:
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device();

    ZEBDevice* get() { return record_.get(); }
    const std::string& address() const { return address_; }

  private:
    friend class Session;
    Device(std::unique_ptr<ZEBDevice> record, std::string address)
        : record_(std::move(record)), address_(std::move(address)) {}
    std::unique_ptr<ZEBDevice> record_;
    std::string address_;
};

class Session {
  public:
    // Opens the library and a UDP/IP (or IPX) transport bound to --local; fails with exit
    // code 2 for a malformed --local and 1 when the transport does not open.
    explicit Session(const GlobalOptions& options, uint16_t protocol = ZEB_PROTOCOL_IP);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Every module that answers, once each, in address order. `listen_ms` replaces the query
    // time-out for this call.
    std::vector<Found> discover(const Query& query, std::optional<uint32_t> listen_ms = {});

    // Opens the module that MODULE names: an address directly, anything else by discovery.
    // Fails with exit code 3 when none answers and 2 when several do.
    std::unique_ptr<Device> open(const ModuleRef& ref);
    std::unique_ptr<Device> open(const Found& found);
    std::unique_ptr<Device> open_address(uint32_t ip);

    uint16_t protocol() const { return transport_.Protocol; }
    // The local address broadcasts leave from, "0.0.0.0" for any.
    std::string local_text() const;

  private:
    // The modules that answer a query and are wanted: after a short first listen when one
    // answered, else after the whole query time.
    std::vector<Found> lookup(const Query& query, const std::function<bool(const Found&)>& wanted);

    std::unique_ptr<Device> open_record(const ZEBDevice& record, bool broadcast,
                                        std::string address);

    GlobalOptions options_;
    ZEBTransport transport_{};
    uint8_t source_[16] = {};
};

}  // namespace zeb::cli
