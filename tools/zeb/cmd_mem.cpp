// zeb mem list|read|write: the module's typed memory and its shared RAM.
#include <array>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "output.h"
#include "record_view.h"
#include "session.h"
#include "vocab/capacities.h"

namespace zeb::cli {

namespace {

constexpr uint32_t kReadChunk = 512;  // whole halves of a KiB
static_assert(kReadChunk <= vocab::kMaxMemoryRead);
constexpr uint32_t kMemoryWriteChunk = vocab::kMaxMemoryWrite;
constexpr uint32_t kSharedWriteChunk = vocab::kMaxSharedRamWrite;
constexpr uint16_t kMaxAreas = vocab::kMaxMemoryAreas;
static_assert(sizeof(ZEBMemoryArea) == vocab::kMemoryAreaSize);
constexpr std::size_t kAreaNameSize = 10;  // our modules' entries: the name is the last field

std::string hex32(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

// Where a read or write goes: a memory type, or shared RAM by base and slot.
struct Target {
    uint16_t memory_type = 1;
    std::optional<std::string> shared;  // "BASE.SLOT"
};

struct SharedRam {
    uint16_t base = 0;
    uint16_t slot = 0;
};

std::optional<SharedRam> shared_argument(const Target& t) {
    if (!t.shared) return std::nullopt;
    const std::size_t dot = t.shared->find('.');
    const auto base = parse_unsigned(std::string_view(*t.shared).substr(0, dot), 0xFFFF);
    const auto slot = dot == std::string::npos
                          ? std::nullopt
                          : parse_unsigned(std::string_view(*t.shared).substr(dot + 1), 0xFFFF);
    if (!base || !slot) fail_usage("--shared " + *t.shared + ": expected BASE.SLOT, e.g. 0.2");
    return SharedRam{static_cast<uint16_t>(*base), static_cast<uint16_t>(*slot)};
}

// A read whose status word has its low 12 bits clear, or is 0x0086, still delivered its data.
bool delivered(uint32_t result) {
    return (result & 0x0FFFu) == 0 || result == 0x0086u;
}

std::string what(const Target& t, const std::string& address) {
    return (t.shared ? "shared RAM " + *t.shared : "memory type " + std::to_string(t.memory_type)) +
           " of " + address;
}

void run_list(Context& c) {
    Device* device = c.device;
    std::array<ZEBMemoryArea, kMaxAreas> areas{};
    uint16_t count = kMaxAreas;
    check("memory areas of " + device->address(),
          ZEBENumMemory(device->get(), &count, areas.data()));

    Json list = Json::array();
    Table table({"TYPE", "NAME", "START", "SIZE", "ACCESS"});
    for (uint16_t i = 0; i < count && i < kMaxAreas; ++i) {
        const std::span<const uint8_t> e(areas[i].Data, sizeof areas[i].Data);
        const uint16_t type = le16(e, 0);
        const uint32_t start = le32(e, 2);
        const uint32_t size = le32(e, 6);
        const uint16_t flags = le16(e, 10);
        const std::string name = text_up_to_zero(e.subspan(12, kAreaNameSize));
        const bool readable = flags & 1;
        const bool writable = flags & 2;
        list.push_back({{"type", type},
                        {"name", name},
                        {"start", start},
                        {"size", size},
                        {"readable", readable},
                        {"writable", writable}});
        table.add({std::to_string(type), name, hex32(start), std::to_string(size),
                   std::string(readable ? "r" : "-") + (writable ? "w" : "-")});
    }
    if (c.options.json) {
        print_json(list);
    } else if (count == 0) {
        print("No memory areas.\n");
    } else {
        print(table.render());
    }
}

struct ReadOptions {
    Target target;
    std::string address_text;
    std::string count_text;
    bool raw = false;
    // Read from the above:
    std::optional<SharedRam> shared;
    uint64_t address = 0;
    uint64_t count = 0;
};

void read_arguments(ReadOptions& o) {
    o.shared = shared_argument(o.target);
    const uint64_t limit = o.shared ? 0xFFFF : 0xFFFFFFFFu;
    const auto address = parse_unsigned(o.address_text, limit);
    const auto count = parse_unsigned(o.count_text, 1 << 20);
    if (!address) fail_usage("'" + o.address_text + "' is no address");
    if (!count || *count == 0) fail_usage("COUNT: 1 to 1048576 bytes");
    if (*address + *count - 1 > limit)
        fail_usage("the bytes run past the end of the address space");
    o.address = *address;
    o.count = *count;
}

void run_read(const ReadOptions& o, Context& c) {
    Device* device = c.device;
    const auto& shared = o.shared;
    Bytes data;
    uint32_t failure = 0;
    for (uint64_t done = 0; done < o.count && failure == 0;) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(kReadChunk, o.count - done));
        Bytes chunk(n);
        const uint64_t at = o.address + done;
        const uint32_t result = shared
                                    ? ZEBReadSharedRAM(device->get(), shared->base, shared->slot,
                                                       static_cast<uint16_t>(at), n, chunk.data())
                                    : ZEBReadMemory(device->get(), o.target.memory_type,
                                                    static_cast<uint32_t>(at), n, chunk.data());
        if (!delivered(result)) fail_result("reading " + what(o.target, device->address()), result);
        data.insert(data.end(), chunk.begin(), chunk.end());
        done += n;
        failure = result;  // a notice ends the read with what came with it
    }
    if (c.options.json) {
        print_json({{"address", o.address}, {"length", data.size()}, {"hex", hex_text(data)}});
    } else if (o.raw) {
        print(std::string(data.begin(), data.end()));
    } else {
        print(hex_dump(data, o.address));
    }
    if (failure != 0) fail_result("reading " + what(o.target, device->address()), failure);
}

struct WriteOptions {
    Target target;
    std::string address_text;
    std::optional<std::string> data_text;
    bool text = false;
    std::optional<std::string> file;
    // Read from the above:
    std::optional<SharedRam> shared;
    uint64_t address = 0;
    Bytes data;
};

void read_arguments(WriteOptions& o) {
    o.shared = shared_argument(o.target);
    const uint64_t limit = o.shared ? 0xFFFF : 0xFFFFFFFFu;
    const auto address = parse_unsigned(o.address_text, limit);
    if (!address) fail_usage("'" + o.address_text + "' is no address");
    o.data = value_argument(o.data_text, !o.text, o.file);
    if (o.data.empty()) fail_usage("nothing to write");
    if (*address + o.data.size() - 1 > limit)
        fail_usage("the bytes run past the end of the address space");
    o.address = *address;
}

void run_write(const WriteOptions& o, Context& c) {
    Device* device = c.device;
    const auto& shared = o.shared;
    const Bytes& data = o.data;
    const uint32_t chunk = shared ? kSharedWriteChunk : kMemoryWriteChunk;
    for (std::size_t done = 0; done < data.size();) {
        const auto n = static_cast<uint32_t>(std::min<std::size_t>(chunk, data.size() - done));
        const uint64_t at = o.address + done;
        const uint32_t result =
            shared ? ZEBWriteSharedRAM(device->get(), shared->base, shared->slot,
                                       static_cast<uint16_t>(at), n, data.data() + done)
                   : ZEBWriteMemory(device->get(), o.target.memory_type, static_cast<uint32_t>(at),
                                    n, data.data() + done);
        check("writing " + what(o.target, device->address()), result);
        done += n;
    }
}

void add_target(CLI::App& cmd, Target& target) {
    auto* type = cmd.add_option("--type", target.memory_type, "memory type")->capture_default_str();
    cmd.add_option("--shared", target.shared,
                   "shared RAM of BASE.SLOT instead of typed memory (addresses of 16 bits; bit "
                   "15 is the address flag)")
        ->excludes(type);
}

}  // namespace

Command mem_list(CLI::App&) {
    return {.run = run_list};
}

Command mem_read(CLI::App& cmd) {
    auto o = std::make_shared<ReadOptions>();
    cmd.add_option("ADDRESS", o->address_text, "first address (0x1000 or 4096)")->required();
    cmd.add_option("COUNT", o->count_text, "bytes to read")->required();
    add_target(cmd, o->target);
    cmd.add_flag("--raw", o->raw, "write the bytes as they are");
    return {.read_arguments = [o] { read_arguments(*o); },
            .run = [o](Context& c) { run_read(*o, c); }};
}

Command mem_write(CLI::App& cmd) {
    auto o = std::make_shared<WriteOptions>();
    cmd.add_option("ADDRESS", o->address_text, "first address")->required();
    cmd.add_option("DATA", o->data_text, "hex bytes, e.g. \"00 0A FF\" (text with --text)");
    cmd.add_flag("--text", o->text, "DATA is text");
    cmd.add_option("--file", o->file, "take the bytes from this file");
    add_target(cmd, o->target);
    return {.read_arguments = [o] { read_arguments(*o); },
            .run = [o](Context& c) { run_write(*o, c); }};
}

}  // namespace zeb::cli
