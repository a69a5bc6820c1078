// zeb ccm read|write and zeb kseq: requests to the controller behind a module.
#include <array>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "output.h"
#include "record_view.h"
#include "session.h"

namespace zeb::cli {

namespace {

constexpr uint32_t kMaxCount = 256;  // data bytes of one controller request

struct CcmReadOptions {
    std::string module;
    uint32_t data_type = 1;
    std::string address;
    uint32_t count = 0;
    bool raw = false;
};

uint32_t address_argument(const std::string& text) {
    const auto address = parse_unsigned(text, 0xFFFFFFFFu);
    if (!address) fail_usage("'" + text + "' is no address");
    return static_cast<uint32_t>(*address);
}

void run_ccm_read(const CcmReadOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    const uint32_t address = address_argument(o.address);
    Session session(g);
    auto device = session.open(ref);
    Bytes data(o.count);
    check(
        "reading controller data type " + std::to_string(o.data_type) + " of " + device->address(),
        ZEBCCMRequest(device->get(), 0, o.data_type, address, o.count, data.data()));
    if (g.json) {
        print_json({{"address", address}, {"length", data.size()}, {"hex", hex_text(data)}});
    } else if (o.raw) {
        print(std::string(data.begin(), data.end()));
    } else {
        print(hex_dump(data, address));
    }
}

struct CcmWriteOptions {
    std::string module;
    uint32_t data_type = 1;
    std::string address;
    std::optional<std::string> data;
    bool text = false;
};

void run_ccm_write(const CcmWriteOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    const uint32_t address = address_argument(o.address);
    Bytes data = value_argument(o.data, !o.text, std::nullopt);
    if (data.empty() || data.size() > kMaxCount) fail_usage("DATA: 1 to 256 bytes");
    Session session(g);
    auto device = session.open(ref);
    check(
        "writing controller data type " + std::to_string(o.data_type) + " of " + device->address(),
        ZEBCCMRequest(device->get(), 1, o.data_type, address, static_cast<uint32_t>(data.size()),
                      data.data()));
}

struct KseqOptions {
    std::string module;
    std::string message;
    bool hex = false;
};

void run_kseq(const KseqOptions& o, const GlobalOptions& g) {
    const ModuleRef ref = module_argument(o.module);
    Bytes message;
    if (o.hex) {
        message = value_argument(o.message, true, std::nullopt);
    } else {
        const auto text = parse_escaped_text(o.message);
        if (!text) fail_usage("'" + o.message + "': a bad escape (\\n \\r \\t \\0 \\\\ \\xHH)");
        message = *text;
    }
    if (message.empty() || message.size() > kMaxCount) fail_usage("MESSAGE: 1 to 256 bytes");
    Session session(g);
    auto device = session.open(ref);
    std::array<uint8_t, kMaxCount> buffer{};
    std::copy(message.begin(), message.end(), buffer.begin());
    uint16_t size = kMaxCount;
    check(
        "K-sequence request to " + device->address(),
        ZEBKSEQRequest(device->get(), static_cast<uint32_t>(message.size()), buffer.data(), &size));
    const auto answer = std::span(buffer).first(std::min<uint16_t>(size, kMaxCount));
    if (g.json) {
        print_json(record_json(answer));
    } else if (o.hex) {
        print(hex_text(answer) + "\n");
    } else {
        print(escaped_text(answer) + "\n");
    }
}

}  // namespace

void add_controller(CLI::App& app, const GlobalOptions& options) {
    CLI::App* ccm = app.add_subcommand("ccm",
                                       "Read and write the data areas of the controller "
                                       "behind a module");
    ccm->require_subcommand(1);

    auto read = std::make_shared<CcmReadOptions>();
    CLI::App* cmd = ccm->add_subcommand("read", "Show COUNT bytes of a data area from ADDRESS on");
    cmd->add_option("MODULE", read->module, kModuleHelp)->required();
    cmd->add_option("ADDRESS", read->address, "first byte address")->required();
    cmd->add_option("COUNT", read->count, "bytes to read, 1 to 256")
        ->required()
        ->check(CLI::Range(1u, kMaxCount));
    cmd->add_option("--type", read->data_type, "the data area's type")->capture_default_str();
    cmd->add_flag("--raw", read->raw, "write the bytes as they are");
    cmd->callback([read, &options] { run_ccm_read(*read, options); });

    auto write = std::make_shared<CcmWriteOptions>();
    cmd = ccm->add_subcommand("write", "Write bytes into a data area from ADDRESS on");
    cmd->add_option("MODULE", write->module, kModuleHelp)->required();
    cmd->add_option("ADDRESS", write->address, "first byte address")->required();
    cmd->add_option("DATA", write->data, "hex bytes, e.g. \"00 0A FF\" (text with --text)")
        ->required();
    cmd->add_option("--type", write->data_type, "the data area's type")->capture_default_str();
    cmd->add_flag("--text", write->text, "DATA is text");
    cmd->callback([write, &options] { run_ccm_write(*write, options); });

    auto kseq = std::make_shared<KseqOptions>();
    cmd = app.add_subcommand("kseq",
                             "Send a K-sequence message to the controller and show its "
                             "answer");
    cmd->add_option("MODULE", kseq->module, kModuleHelp)->required();
    cmd->add_option("MESSAGE", kseq->message,
                    "text with \\r \\n \\t \\0 \\\\ \\xHH escapes (hex with --hex)")
        ->required();
    cmd->add_flag("--hex", kseq->hex, "MESSAGE is hex bytes, and the answer is shown so");
    cmd->callback([kseq, &options] { run_kseq(*kseq, options); });
}

}  // namespace zeb::cli
