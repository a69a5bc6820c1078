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
#include "vocab/capacities.h"

namespace zeb::cli {

namespace {

constexpr uint16_t kMaxRecord = vocab::kMaxSetupRecord;
constexpr uint16_t kMaxTypes = vocab::kMaxSetupTypes;

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

void run_list(Context& c) {
    Device* device = c.device;
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
    if (c.options.json) {
        print_json(list);
    } else if (count == 0) {
        print("No setup records.\n");
    } else {
        print(table.render());
    }
}

// TYPE, the record's type, read before anything is opened.
struct TypeArgument {
    std::string text;
    uint16_t number = 0;
};

void add_type(CLI::App& cmd, TypeArgument& type) {
    char help[80];
    std::snprintf(help, sizeof help,
                  "record type: a number (0x30, 48), 'name' (0x%02X) or 'number' (0x%02X)",
                  kSetupName, kSetupNumber);
    cmd.add_option("TYPE", type.text, help)->required();
}

struct GetOptions {
    TypeArgument type;
    bool hex = false;
    bool raw = false;
};

void run_get(const GetOptions& o, Context& c) {
    const uint16_t type = o.type.number;
    const Bytes record = read_record(*c.device, type);
    const auto number = as_number(type, record);
    if (c.options.json) {
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
    TypeArgument type;
    std::optional<std::string> value;
    bool hex = false;
    bool integer = false;
    std::optional<std::string> file;
    Bytes record;  // from the four above
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

void read_arguments(SetOptions& o) {
    const uint16_t type = o.type.number = type_argument(o.type.text);
    const bool integer = o.integer || (type == kSetupNumber && !o.hex && !o.file);
    o.record = integer && o.value && !o.file ? integer_record(*o.value)
                                             : value_argument(o.value, o.hex, o.file);
}

void run_set(const SetOptions& o, Context& c) {
    check("writing setup record " + type_text(o.type.number) + " of " + c.device->address(),
          ZEBWriteSetupData(c.device->get(), o.type.number, o.record.data(),
                            static_cast<uint32_t>(o.record.size())));
}

void run_delete(const TypeArgument& o, Context& c) {
    check("deleting setup record " + type_text(o.number) + " of " + c.device->address(),
          ZEBDeleteSetupData(c.device->get(), o.number));
}

}  // namespace

Command setup_list(CLI::App&) {
    return {.run = run_list};
}

Command setup_get(CLI::App& cmd) {
    auto o = std::make_shared<GetOptions>();
    add_type(cmd, o->type);
    auto* hex = cmd.add_flag("--hex", o->hex, "show hex bytes");
    cmd.add_flag("--raw", o->raw, "write the bytes as they are")->excludes(hex);
    return {.read_arguments = [o] { o->type.number = type_argument(o->type.text); },
            .run = [o](Context& c) { run_get(*o, c); }};
}

Command setup_set(CLI::App& cmd) {
    auto o = std::make_shared<SetOptions>();
    add_type(cmd, o->type);
    cmd.add_option("VALUE", o->value, "the record: text, or hex bytes with --hex");
    auto* hex = cmd.add_flag("--hex", o->hex, "VALUE is hex bytes, e.g. \"00 0A FF\"");
    cmd.add_flag("--int", o->integer,
                 "VALUE is a number, written little-endian in 16 bits (32 when larger); the "
                 "default for 'number'")
        ->excludes(hex);
    cmd.add_option("--file", o->file, "take the record from this file");
    return {.read_arguments = [o] { read_arguments(*o); },
            .run = [o](Context& c) { run_set(*o, c); }};
}

Command setup_delete(CLI::App& cmd) {
    auto o = std::make_shared<TypeArgument>();
    add_type(cmd, *o);
    return {.read_arguments = [o] { o->number = type_argument(o->text); },
            .run = [o](Context& c) { run_delete(*o, c); }};
}

}  // namespace zeb::cli
