// zeb mem list|read|write: the module's typed memory and its shared RAM.
#include <array>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "output.h"
#include "record_view.h"
#include "session.h"

namespace zeb::cli {

namespace {

constexpr uint32_t kReadChunk = 512;  // a read delivers at most 589 bytes
constexpr uint32_t kMemoryWriteChunk = 512;
constexpr uint32_t kSharedWriteChunk = 256;
constexpr uint16_t kMaxAreas = 26;  // what one listing reply holds
constexpr std::size_t kAreaNameSize = 10;

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

struct ListOptions {
    std::string module;
};

void run_list(const ListOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    Session session(g);
    auto device = session.open(ref);
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
    if (g.json) {
        print_json(list);
    } else if (count == 0) {
        print("No memory areas.\n");
    } else {
        print(table.render());
    }
}

struct ReadOptions {
    std::string module;
    Target target;
    std::string address;
    std::string count;
    bool raw = false;
};

void run_read(const ReadOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    const auto shared = shared_argument(o.target);
    const uint64_t limit = shared ? 0xFFFF : 0xFFFFFFFFu;
    const auto address = parse_unsigned(o.address, limit);
    const auto count = parse_unsigned(o.count, 1 << 20);
    if (!address) fail_usage("'" + o.address + "' is no address");
    if (!count || *count == 0) fail_usage("COUNT: 1 to 1048576 bytes");
    if (*address + *count - 1 > limit)
        fail_usage("the bytes run past the end of the address space");

    Session session(g);
    auto device = session.open(ref);
    Bytes data;
    uint32_t failure = 0;
    for (uint64_t done = 0; done < *count && failure == 0;) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(kReadChunk, *count - done));
        Bytes chunk(n);
        const uint64_t at = *address + done;
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
    if (g.json) {
        print_json({{"address", *address}, {"length", data.size()}, {"hex", hex_text(data)}});
    } else if (o.raw) {
        print(std::string(data.begin(), data.end()));
    } else {
        print(hex_dump(data, *address));
    }
    if (failure != 0) fail_result("reading " + what(o.target, device->address()), failure);
}

struct WriteOptions {
    std::string module;
    Target target;
    std::string address;
    std::optional<std::string> data;
    bool text = false;
    std::optional<std::string> file;
};

void run_write(const WriteOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    const auto shared = shared_argument(o.target);
    const uint64_t limit = shared ? 0xFFFF : 0xFFFFFFFFu;
    const auto address = parse_unsigned(o.address, limit);
    if (!address) fail_usage("'" + o.address + "' is no address");
    const Bytes data = value_argument(o.data, !o.text, o.file);
    if (data.empty()) fail_usage("nothing to write");
    if (*address + data.size() - 1 > limit)
        fail_usage("the bytes run past the end of the address space");

    Session session(g);
    auto device = session.open(ref);
    const uint32_t chunk = shared ? kSharedWriteChunk : kMemoryWriteChunk;
    for (std::size_t done = 0; done < data.size();) {
        const auto n = static_cast<uint32_t>(std::min<std::size_t>(chunk, data.size() - done));
        const uint64_t at = *address + done;
        const uint32_t result =
            shared ? ZEBWriteSharedRAM(device->get(), shared->base, shared->slot,
                                       static_cast<uint16_t>(at), n, data.data() + done)
                   : ZEBWriteMemory(device->get(), o.target.memory_type, static_cast<uint32_t>(at),
                                    n, data.data() + done);
        check("writing " + what(o.target, device->address()), result);
        done += n;
    }
}

void add_target(CLI::App* cmd, Target& target) {
    auto* type =
        cmd->add_option("--type", target.memory_type, "memory type")->capture_default_str();
    cmd->add_option("--shared", target.shared,
                    "shared RAM of BASE.SLOT instead of typed memory (addresses of 16 bits; bit "
                    "15 is the address flag)")
        ->excludes(type);
}

}  // namespace

void add_mem(CLI::App& app, const GlobalOptions& options) {
    CLI::App* mem = app.add_subcommand("mem", "List, read and write memory and shared RAM");
    mem->require_subcommand(1);

    auto list = std::make_shared<ListOptions>();
    CLI::App* cmd = mem->add_subcommand("list", "List the module's memory areas");
    cmd->add_option("MODULE", list->module, kModuleHelp)->required();
    cmd->callback([list, &options] { run_list(*list, options); });

    auto read = std::make_shared<ReadOptions>();
    cmd = mem->add_subcommand("read", "Show COUNT bytes from ADDRESS on");
    cmd->add_option("MODULE", read->module, kModuleHelp)->required();
    cmd->add_option("ADDRESS", read->address, "first address (0x1000 or 4096)")->required();
    cmd->add_option("COUNT", read->count, "bytes to read")->required();
    add_target(cmd, read->target);
    cmd->add_flag("--raw", read->raw, "write the bytes as they are");
    cmd->callback([read, &options] { run_read(*read, options); });

    auto write = std::make_shared<WriteOptions>();
    cmd = mem->add_subcommand("write", "Write bytes from ADDRESS on");
    cmd->add_option("MODULE", write->module, kModuleHelp)->required();
    cmd->add_option("ADDRESS", write->address, "first address")->required();
    cmd->add_option("DATA", write->data, "hex bytes, e.g. \"00 0A FF\" (text with --text)");
    cmd->add_flag("--text", write->text, "DATA is text");
    cmd->add_option("--file", write->file, "take the bytes from this file");
    add_target(cmd, write->target);
    cmd->callback([write, &options] { run_write(*write, options); });
}

}  // namespace zeb::cli
