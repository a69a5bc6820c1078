// zeb ccm read|write and zeb kseq: requests to the controller behind a module.
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

constexpr uint32_t kMaxCount = vocab::kMaxControllerData;

// What a request carries, for the messages.
std::string count_range() {
    return "1 to " + std::to_string(kMaxCount) + " bytes";
}

struct CcmReadOptions {
    uint32_t data_type = 1;
    std::string address_text;
    uint32_t address = 0;  // the text read
    uint32_t count = 0;
    bool raw = false;
};

uint32_t address_argument(const std::string& text) {
    const auto address = parse_unsigned(text, 0xFFFFFFFFu);
    if (!address) fail_usage("'" + text + "' is no address");
    return static_cast<uint32_t>(*address);
}

void run_ccm_read(const CcmReadOptions& o, Context& c) {
    Device* device = c.device;
    const uint32_t address = o.address;
    Bytes data(o.count);
    check(
        "reading controller data type " + std::to_string(o.data_type) + " of " + device->address(),
        ZEBCCMRequest(device->get(), 0, o.data_type, address, o.count, data.data()));
    if (c.options.json) {
        print_json({{"address", address}, {"length", data.size()}, {"hex", hex_text(data)}});
    } else if (o.raw) {
        print(std::string(data.begin(), data.end()));
    } else {
        print(hex_dump(data, address));
    }
}

struct CcmWriteOptions {
    uint32_t data_type = 1;
    std::string address_text;
    std::optional<std::string> data_text;
    bool text = false;
    // Read from the above:
    uint32_t address = 0;
    Bytes data;
};

void read_arguments(CcmWriteOptions& o) {
    o.address = address_argument(o.address_text);
    o.data = value_argument(o.data_text, !o.text, std::nullopt);
    if (o.data.empty() || o.data.size() > kMaxCount) fail_usage("DATA: " + count_range());
}

void run_ccm_write(CcmWriteOptions& o, Context& c) {
    check("writing controller data type " + std::to_string(o.data_type) + " of " +
              c.device->address(),
          ZEBCCMRequest(c.device->get(), 1, o.data_type, o.address,
                        static_cast<uint32_t>(o.data.size()), o.data.data()));
}

struct KseqOptions {
    std::string text;
    bool hex = false;
    Bytes message;  // the text read
};

void read_arguments(KseqOptions& o) {
    if (o.hex) {
        o.message = value_argument(o.text, true, std::nullopt);
    } else {
        const auto text = parse_escaped_text(o.text);
        if (!text) fail_usage("'" + o.text + "': a bad escape (\\n \\r \\t \\0 \\\\ \\xHH)");
        o.message = *text;
    }
    if (o.message.empty() || o.message.size() > kMaxCount) fail_usage("MESSAGE: " + count_range());
}

void run_kseq(const KseqOptions& o, Context& c) {
    Device* device = c.device;
    const Bytes& message = o.message;
    std::array<uint8_t, kMaxCount> buffer{};
    std::copy(message.begin(), message.end(), buffer.begin());
    uint16_t size = kMaxCount;
    check(
        "K-sequence request to " + device->address(),
        ZEBKSEQRequest(device->get(), static_cast<uint32_t>(message.size()), buffer.data(), &size));
    const auto answer = std::span(buffer).first(std::min<uint16_t>(size, kMaxCount));
    if (c.options.json) {
        print_json(record_json(answer));
    } else if (o.hex) {
        print(hex_text(answer) + "\n");
    } else {
        print(escaped_text(answer) + "\n");
    }
}

}  // namespace

Command ccm_read(CLI::App& cmd) {
    auto o = std::make_shared<CcmReadOptions>();
    cmd.add_option("ADDRESS", o->address_text, "first byte address")->required();
    cmd.add_option("COUNT", o->count, "bytes to read, 1 to " + std::to_string(kMaxCount))
        ->required()
        ->check(CLI::Range(1u, kMaxCount));
    cmd.add_option("--type", o->data_type, "the data area's type")->capture_default_str();
    cmd.add_flag("--raw", o->raw, "write the bytes as they are");
    return {.read_arguments = [o] { o->address = address_argument(o->address_text); },
            .run = [o](Context& c) { run_ccm_read(*o, c); }};
}

Command ccm_write(CLI::App& cmd) {
    auto o = std::make_shared<CcmWriteOptions>();
    cmd.add_option("ADDRESS", o->address_text, "first byte address")->required();
    cmd.add_option("DATA", o->data_text, "hex bytes, e.g. \"00 0A FF\" (text with --text)")
        ->required();
    cmd.add_option("--type", o->data_type, "the data area's type")->capture_default_str();
    cmd.add_flag("--text", o->text, "DATA is text");
    return {.read_arguments = [o] { read_arguments(*o); },
            .run = [o](Context& c) { run_ccm_write(*o, c); }};
}

Command kseq(CLI::App& cmd) {
    auto o = std::make_shared<KseqOptions>();
    cmd.add_option("MESSAGE", o->text,
                   "text with \\r \\n \\t \\0 \\\\ \\xHH escapes (hex with --hex)")
        ->required();
    cmd.add_flag("--hex", o->hex, "MESSAGE is hex bytes, and the answer is shown so");
    return {.read_arguments = [o] { read_arguments(*o); },
            .run = [o](Context& c) { run_kseq(*o, c); }};
}

}  // namespace zeb::cli
