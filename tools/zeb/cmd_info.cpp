// zeb info, zeb base, zeb diag: what a module says about itself, its base of slots, and how
// its network and its work are going.
#include <algorithm>
#include <array>
#include <map>
#include <memory>

#include "blocks.h"
#include "commands.h"
#include "failure.h"
#include "io/item_stream.h"
#include "output.h"
#include "session.h"
#include "vocab/capacities.h"

namespace zeb::cli {

namespace {

constexpr std::size_t kBlockSize = vocab::kMaxIdentityBlock;
constexpr uint16_t kBaseDefSize = vocab::kMaxBaseDef;
constexpr uint16_t kStatsSize = vocab::kMaxStatsRecord;
constexpr uint16_t kStatusSize = vocab::kMaxStatusBlock;

using ReadBlock = uint32_t (*)(ZEBDevice*, uint8_t*, uint32_t);

// The block as delivered; the read does not say its length, so the buffer starts zeroed.
std::array<uint8_t, kBlockSize> read_block(Device& device, ReadBlock read, const char* what) {
    std::array<uint8_t, kBlockSize> block{};
    check(std::string(what) + " of " + device.address(),
          read(device.get(), block.data(), block.size()));
    return block;
}

std::string section(const std::string& title, const Fields& fields) {
    std::string body = render_fields(fields);
    std::string out = title + "\n";
    for (std::size_t start = 0; start < body.size();) {
        const std::size_t end = body.find('\n', start);
        out += "  " + body.substr(start, end - start + 1);
        start = end + 1;
    }
    return out;
}

void run_info(Context& c) {
    Device* device = c.device;
    const auto version = read_block(*device, ZEBReadVersionInfo, "version block");
    const auto def = read_block(*device, ZEBReadDeviceDef, "device definition");
    const auto support = read_block(*device, ZEBReadSupportInfo, "support block");
    const Decoded v = decode_version(version);
    const Decoded d = decode_device_def(def);
    const Decoded s = decode_support(support);
    if (c.options.json) {
        Json out;
        out["address"] = device->address();
        out["version"] = v.json;
        out["device_definition"] = d.json;
        out["support"] = s.json;
        print_json(out);
        return;
    }
    print("Module " + device->address() + "\n\n" + section("Version", v.fields) + "\n" +
          section("Device definition", d.fields) + "\n" + section("Support", s.fields));
}

struct BaseOptions {
    bool init = false;
    std::optional<uint32_t> rescan;
};

// One slot of the base definition: its module record (kind, identification byte, counts).
struct SlotRecord {
    int slot = 0;
    items::ModuleRecord record;
};

// Every slot described, kind 255 and modules without points among them, in slot order; a
// slot described twice keeps its last record.
std::vector<SlotRecord> read_slot_records(Device& device) {
    std::array<uint8_t, kBaseDefSize> buffer{};
    buffer[0] = items::kExtendedMarker;  // asks for the extended item format
    uint16_t size = kBaseDefSize;
    check("base definition of " + device.address(),
          ZEBReadBaseDef(device.get(), buffer.data(), &size));
    std::map<int, items::ModuleRecord> slots;
    items::walk_base_definition(
        buffer.data(), std::min<std::size_t>(size, buffer.size()),
        [&](uint8_t slot, const items::ModuleRecord& r) { slots[slot] = r; });
    std::vector<SlotRecord> out;
    for (const auto& [slot, record] : slots) out.push_back({slot, record});
    return out;
}

void run_base(const BaseOptions& o, Context& c) {
    Device* device = c.device;
    std::array<uint8_t, kBaseDefSize> reply{};
    uint16_t size = kBaseDefSize;
    if (o.init) {
        check("initialising the base of " + device->address(),
              ZEBInitBaseDef(device->get(), reply.data(), &size));
    } else if (o.rescan) {
        check("rescanning the base of " + device->address(),
              ZEBRescanBase(device->get(), *o.rescan, reply.data(), &size));
    }
    const std::vector<SlotRecord> layout = read_slot_records(*device);
    using namespace items;
    if (c.options.json) {
        Json list = Json::array();
        for (const SlotRecord& s : layout) {
            const uint8_t* counts = s.record.counts;
            list.push_back({{"slot", s.slot},
                            {"record_kind", s.record.kind},
                            {"id", s.record.ident},
                            {"bit_inputs", counts[kGroupBitIn]},
                            {"bit_outputs", counts[kGroupBitOut]},
                            {"word_inputs", counts[kGroupWordIn]},
                            {"word_outputs", counts[kGroupWordOut]},
                            {"dword_inputs", counts[kGroupDwordIn]},
                            {"dword_outputs", counts[kGroupDwordOut]}});
        }
        print_json(list);
        return;
    }
    if (layout.empty()) {
        print("No slots described.\n");
        return;
    }
    Table table({"SLOT", "RECORD", "ID", "BIT-IN", "BIT-OUT", "WORD-IN", "WORD-OUT", "32BIT-IN",
                 "32BIT-OUT"});
    for (const SlotRecord& s : layout) {
        std::vector<std::string> row{std::to_string(s.slot), std::to_string(s.record.kind),
                                     std::to_string(s.record.ident)};
        for (const uint8_t count : s.record.counts) row.push_back(std::to_string(count));
        table.add(std::move(row));
    }
    print(table.render());
}

struct DiagOptions {
    bool clear = false;
    bool pet = false;
};

void run_diag(const DiagOptions& o, Context& c) {
    Device* device = c.device;
    if (o.pet) check("keep-alive to " + device->address(), ZEBPetDevice(device->get()));

    std::array<uint8_t, kStatsSize> stats{};
    uint16_t stats_size = kStatsSize;
    check("Ethernet statistics of " + device->address(),
          ZEBReadEthernetStats(device->get(), stats.data(), &stats_size, o.clear ? 1 : 0));
    std::array<uint8_t, kStatusSize> status{};
    uint16_t status_size = kStatusSize;
    check("module status of " + device->address(),
          ZEBReadModuleStatus(device->get(), status.data(), &status_size, o.clear ? 1 : 0));

    const Decoded e = decode_ethernet_stats(std::span(stats).first(stats_size));
    const Decoded s = decode_module_status(std::span(status).first(status_size));
    if (c.options.json) {
        Json out;
        out["address"] = device->address();
        out["ethernet"] = e.json;
        out["status"] = s.json;
        print_json(out);
        return;
    }
    print("Module " + device->address() + "\n\n" + section("Ethernet", e.fields) + "\n" +
          section("Module status", s.fields));
}

}  // namespace

Command info(CLI::App&) {
    return {.run = run_info};
}

Command base(CLI::App& cmd) {
    auto o = std::make_shared<BaseOptions>();
    auto* init =
        cmd.add_flag("--init", o->init, "ask the module to initialise its base definition first");
    cmd.add_option("--rescan", o->rescan,
                   "ask the module to rescan its base first, sending this value")
        ->excludes(init);
    return {.run = [o](Context& c) { run_base(*o, c); }};
}

Command diag(CLI::App& cmd) {
    auto o = std::make_shared<DiagOptions>();
    cmd.add_flag("--clear", o->clear, "clear the counters after reading them");
    cmd.add_flag("--pet", o->pet, "send a keep-alive first");
    return {.run = [o](Context& c) { run_diag(*o, c); }};
}

}  // namespace zeb::cli
