// zeb config get|set: the module's configuration block, read and written whole.
#include <array>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "output.h"
#include "record_view.h"
#include "session.h"

namespace zeb::cli {

namespace {

constexpr uint16_t kMaxBlock = 1189;  // the most a reply carries

struct GetOptions {
    std::string module;
    bool hex = false;
    bool raw = false;
};

void run_get(const GetOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    Session session(g);
    auto device = session.open(ref);
    std::array<uint8_t, kMaxBlock> buffer{};  // its first byte is not the 0xB1 marker
    uint16_t size = kMaxBlock;
    check("configuration of " + device->address(),
          ZEBReadConfigData(device->get(), buffer.data(), &size));
    const auto block = std::span(buffer).first(std::min<uint16_t>(size, kMaxBlock));
    if (g.json) {
        print_json(record_json(block));
    } else if (block.empty() && !o.raw) {
        print("The configuration block is empty.\n");
    } else {
        print(record_text(block, o.raw ? Show::kRaw : o.hex ? Show::kHex : Show::kAuto));
    }
}

struct SetOptions {
    std::string module;
    std::optional<std::string> value;
    bool hex = false;
    std::optional<std::string> file;
};

void run_set(const SetOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    const Bytes block = value_argument(o.value, o.hex, o.file);
    Session session(g);
    auto device = session.open(ref);
    check("writing the configuration of " + device->address(),
          ZEBWriteConfigData(device->get(), block.data(), static_cast<uint32_t>(block.size()),
                             nullptr, nullptr));
}

}  // namespace

void add_config(CLI::App& app, const GlobalOptions& options) {
    CLI::App* config = app.add_subcommand("config", "Read and write the configuration block");
    config->require_subcommand(1);

    auto get = std::make_shared<GetOptions>();
    CLI::App* cmd = config->add_subcommand("get", "Show the configuration block");
    cmd->add_option("MODULE", get->module, kModuleHelp)->required();
    auto* hex = cmd->add_flag("--hex", get->hex, "show hex bytes");
    cmd->add_flag("--raw", get->raw, "write the bytes as they are")->excludes(hex);
    cmd->callback([get, &options] { run_get(*get, options); });

    auto set = std::make_shared<SetOptions>();
    cmd = config->add_subcommand("set", "Replace the configuration block");
    cmd->add_option("MODULE", set->module, kModuleHelp)->required();
    cmd->add_option("VALUE", set->value, "the block: text, or hex bytes with --hex");
    cmd->add_flag("--hex", set->hex, "VALUE is hex bytes");
    cmd->add_option("--file", set->file, "take the block from this file");
    cmd->callback([set, &options] { run_set(*set, options); });
}

}  // namespace zeb::cli
