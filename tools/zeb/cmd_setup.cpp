// zeb setup list|get|set|delete: the module's setup records, filed by type number.
#include <array>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "module_facts.h"
#include "output.h"
#include "record_view.h"
#include "session.h"

namespace zeb::cli {

namespace {

constexpr uint16_t kMaxRecord = 589;  // the most a read delivers
constexpr uint16_t kMaxTypes = 300;   // a list reply names at most 293

uint16_t type_argument(const std::string& text) {
    if (text == "name") return kSetupName;
    if (text == "number") return kSetupNumber;
    const auto type = parse_unsigned(text, 0xFFFF);
    if (!type) fail_usage("'" + text + "' is no setup type (0 to 0xFFFF, 'name' or 'number')");
    return static_cast<uint16_t>(*type);
}

std::string type_text(uint16_t type) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", type);
    return buf;
}

const char* type_name(uint16_t type) {
    return type == kSetupName ? "name" : type == kSetupNumber ? "number" : "";
}

// A number record reads best as a number.
std::optional<uint32_t> as_number(uint16_t type, std::span<const uint8_t> bytes) {
    if (type != kSetupNumber || bytes.empty() || bytes.size() > 4) return std::nullopt;
    uint32_t n = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) n |= uint32_t{bytes[i]} << (8 * i);
    return n;
}

Bytes read_record(Device& device, uint16_t type) {
    std::array<uint8_t, kMaxRecord> buffer{};
    uint16_t size = kMaxRecord;
    check("setup record " + type_text(type) + " of " + device.address(),
          ZEBReadSetupData(device.get(), type, buffer.data(), &size));
    return Bytes(buffer.begin(), buffer.begin() + std::min<uint16_t>(size, kMaxRecord));
}

struct ListOptions {
    std::string module;
};

void run_list(const ListOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    Session session(g);
    auto device = session.open(ref);
    std::array<uint16_t, kMaxTypes> types{};
    uint16_t count = kMaxTypes;
    check("setup types of " + device->address(),
          ZEBEnumSetupData(device->get(), types.data(), &count));

    Json list = Json::array();
    Table table({"TYPE", "NAME", "LENGTH", "VALUE"});
    for (uint16_t i = 0; i < count && i < kMaxTypes; ++i) {
        const uint16_t type = types[i];
        const Bytes record = read_record(*device, type);
        const auto number = as_number(type, record);
        Json entry = record_json(record);
        entry["type"] = type;
        entry["name"] = type_name(type);
        if (number) entry["number"] = *number;
        list.push_back(entry);
        table.add({type_text(type), type_name(type), std::to_string(record.size()),
                   number ? std::to_string(*number) : record_preview(record)});
    }
    if (g.json) {
        print_json(list);
    } else if (count == 0) {
        print("No setup records.\n");
    } else {
        print(table.render());
    }
}

struct GetOptions {
    std::string module;
    std::string type;
    bool hex = false;
    bool raw = false;
};

void run_get(const GetOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    const uint16_t type = type_argument(o.type);
    Session session(g);
    auto device = session.open(ref);
    const Bytes record = read_record(*device, type);
    const auto number = as_number(type, record);
    if (g.json) {
        Json out = record_json(record);
        out["type"] = type;
        if (number) out["number"] = *number;
        print_json(out);
    } else if (number && !o.hex && !o.raw) {
        print(std::to_string(*number) + "\n");
    } else {
        print(record_text(record, o.raw ? Show::kRaw : o.hex ? Show::kHex : Show::kAuto));
    }
}

struct SetOptions {
    std::string module;
    std::string type;
    std::optional<std::string> value;
    bool hex = false;
    bool integer = false;
    std::optional<std::string> file;
};

Bytes integer_record(const std::string& text) {
    const auto n = parse_unsigned(text, 0xFFFFFFFFu);
    if (!n) fail_usage("'" + text + "' is no number (0 to 4294967295)");
    // 16 bits when it fits, as modules and node lists read a number; else 32.
    const std::size_t width = *n <= 0xFFFF ? 2 : 4;
    Bytes out;
    for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(*n >> (8 * i)));
    return out;
}

void run_set(const SetOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    const uint16_t type = type_argument(o.type);
    const bool integer = o.integer || (type == kSetupNumber && !o.hex && !o.file);
    const Bytes record = integer && o.value && !o.file ? integer_record(*o.value)
                                                       : value_argument(o.value, o.hex, o.file);
    Session session(g);
    auto device = session.open(ref);
    check("writing setup record " + type_text(type) + " of " + device->address(),
          ZEBWriteSetupData(device->get(), type, record.data(),
                            static_cast<uint32_t>(record.size())));
}

struct DeleteOptions {
    std::string module;
    std::string type;
};

void run_delete(const DeleteOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    const uint16_t type = type_argument(o.type);
    Session session(g);
    auto device = session.open(ref);
    check("deleting setup record " + type_text(type) + " of " + device->address(),
          ZEBDeleteSetupData(device->get(), type));
}

constexpr const char* kTypeHelp =
    "record type: a number (0x30, 48), 'name' (0x16) or 'number' (0x20)";

}  // namespace

void add_setup(CLI::App& app, const GlobalOptions& options) {
    CLI::App* setup = app.add_subcommand("setup", "List, read, write and delete setup records");
    setup->require_subcommand(1);

    auto list = std::make_shared<ListOptions>();
    CLI::App* cmd = setup->add_subcommand("list", "List the setup records with their values");
    cmd->add_option("MODULE", list->module, kModuleHelp)->required();
    cmd->callback([list, &options] { run_list(*list, options); });

    auto get = std::make_shared<GetOptions>();
    cmd = setup->add_subcommand("get", "Show one setup record (text, or hex when not text)");
    cmd->add_option("MODULE", get->module, kModuleHelp)->required();
    cmd->add_option("TYPE", get->type, kTypeHelp)->required();
    auto* hex = cmd->add_flag("--hex", get->hex, "show hex bytes");
    cmd->add_flag("--raw", get->raw, "write the bytes as they are")->excludes(hex);
    cmd->callback([get, &options] { run_get(*get, options); });

    auto set = std::make_shared<SetOptions>();
    cmd = setup->add_subcommand("set", "Write one setup record");
    cmd->add_option("MODULE", set->module, kModuleHelp)->required();
    cmd->add_option("TYPE", set->type, kTypeHelp)->required();
    cmd->add_option("VALUE", set->value, "the record: text, or hex bytes with --hex");
    auto* set_hex = cmd->add_flag("--hex", set->hex, "VALUE is hex bytes, e.g. \"00 0A FF\"");
    cmd->add_flag("--int", set->integer,
                  "VALUE is a number, written little-endian in 16 bits (32 when larger); the "
                  "default for 'number'")
        ->excludes(set_hex);
    cmd->add_option("--file", set->file, "take the record from this file");
    cmd->callback([set, &options] { run_set(*set, options); });

    auto del = std::make_shared<DeleteOptions>();
    cmd = setup->add_subcommand("delete", "Delete one setup record");
    cmd->add_option("MODULE", del->module, kModuleHelp)->required();
    cmd->add_option("TYPE", del->type, kTypeHelp)->required();
    cmd->callback([del, &options] { run_delete(*del, options); });
}

}  // namespace zeb::cli
