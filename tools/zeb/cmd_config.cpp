// zeb config get|set: the module's configuration block, read and written whole.
#include <array>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "output.h"
#include "record_view.h"
#include "session.h"
#include "vocab/capacities.h"

namespace zeb::cli {

namespace {

constexpr uint16_t kMaxBlock = vocab::kMaxConfigBlock;

struct GetOptions {
    bool hex = false;
    bool raw = false;
};

void run_get(const GetOptions& o, Context& c) {
    Device* device = c.device;
    // Zeroed: a first byte that is the extended-format marker would ask for another format.
    std::array<uint8_t, kMaxBlock> buffer{};
    uint16_t size = kMaxBlock;
    check("configuration of " + device->address(),
          ZEBReadConfigData(device->get(), buffer.data(), &size));
    const auto block = std::span(buffer).first(std::min<uint16_t>(size, kMaxBlock));
    if (c.options.json) {
        print_json(record_json(block));
    } else if (block.empty() && !o.raw) {
        print("The configuration block is empty.\n");
    } else {
        print(record_text(block, o.raw ? Show::kRaw : o.hex ? Show::kHex : Show::kAuto));
    }
}

struct SetOptions {
    std::optional<std::string> value;
    bool hex = false;
    std::optional<std::string> file;
    Bytes block;  // from the three above
};

void run_set(const SetOptions& o, Context& c) {
    check("writing the configuration of " + c.device->address(),
          ZEBWriteConfigData(c.device->get(), o.block.data(), static_cast<uint32_t>(o.block.size()),
                             nullptr, nullptr));
}

}  // namespace

Command config_get(CLI::App& cmd) {
    auto o = std::make_shared<GetOptions>();
    auto* hex = cmd.add_flag("--hex", o->hex, "show hex bytes");
    cmd.add_flag("--raw", o->raw, "write the bytes as they are")->excludes(hex);
    return {.run = [o](Context& c) { run_get(*o, c); }};
}

Command config_set(CLI::App& cmd) {
    auto o = std::make_shared<SetOptions>();
    cmd.add_option("VALUE", o->value, "the block: text, or hex bytes with --hex");
    cmd.add_flag("--hex", o->hex, "VALUE is hex bytes");
    cmd.add_option("--file", o->file, "take the block from this file");
    return {.read_arguments = [o] { o->block = value_argument(o->value, o->hex, o->file); },
            .run = [o](Context& c) { run_set(*o, c); }};
}

}  // namespace zeb::cli
