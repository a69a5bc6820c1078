// zeb serial send|recv|setup: the module's own serial ports.
#include <array>
#include <chrono>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "interrupt.h"
#include "output.h"
#include "record_view.h"
#include "session.h"
#include "vocab/capacities.h"
#include "vocab/functions.h"
#include "vocab/serial_ops.h"

namespace zeb::cli {

namespace {

constexpr uint32_t kPlainWriteLimit = vocab::kSerialWriteRoom;  // less the header size
constexpr uint32_t kPortWriteLimit = vocab::kSerialPortWriteRoom;
constexpr uint16_t kReadChunk = vocab::kMaxSerialRead;
constexpr unsigned kPollMs = 20;
constexpr std::size_t kReplyRoom = vocab::capacity::kSerialReply;
constexpr std::size_t kReplyBody = vocab::kReplyHeaderSize;  // where every reply's body starts

constexpr const char* kParities[] = {"none", "odd", "even", "mark", "space"};
constexpr const char* kStopBits[] = {"1", "1.5", "2"};
constexpr const char* kFlows[] = {"none", "rts-cts", "xon-xoff"};

template <std::size_t N>
std::optional<uint8_t> index_of(const char* const (&names)[N], const std::string& text) {
    for (std::size_t i = 0; i < N; ++i) {
        if (text == names[i]) return static_cast<uint8_t>(i);
    }
    return std::nullopt;
}

template <std::size_t N>
std::string name_of(const char* const (&names)[N], uint8_t value) {
    return value < N ? names[value] : std::to_string(value) + "?";
}

std::string port_text(const std::optional<uint32_t>& port) {
    return port ? "port " + std::to_string(*port) : "the default port";
}

// Whether a result is the module's status word, sign-extended: such a reply still carries its
// bytes. Library codes, Winsock numbers and the re-send warning are not.
bool module_status(uint32_t r) {
    const bool positive = r >= 1 && r < 0x8000u && r != ZEBWARN_RETRIED && (r < 10000 || r > 11999);
    return positive || r >= 0xFFFF8000u;
}

struct SendOptions {
    std::optional<uint32_t> port;
    std::optional<std::string> text;
    bool hex = false;
    std::optional<std::string> file;
    Bytes data;  // from the three above
};

void read_arguments(SendOptions& o) {
    if (!o.hex && !o.file && o.text) {
        const auto text = parse_escaped_text(*o.text);
        if (!text) fail_usage("'" + *o.text + "': a bad escape (\\n \\r \\t \\0 \\\\ \\xHH)");
        o.data = *text;
    } else {
        o.data = value_argument(o.text, o.hex, o.file);
    }
}

void run_send(const SendOptions& o, Context& c) {
    Device* device = c.device;
    const Bytes& data = o.data;
    ZEBDevice* d = device->get();
    const uint32_t limit = (o.port ? kPortWriteLimit : kPlainWriteLimit) - d->DataOffset;
    for (std::size_t done = 0; done < data.size();) {
        const auto n = static_cast<uint32_t>(std::min<std::size_t>(limit, data.size() - done));
        const uint32_t result = o.port ? ZEBWriteCommEx(d, *o.port, n, data.data() + done)
                                       : ZEBWriteComm(d, n, data.data() + done);
        check("sending to " + port_text(o.port) + " of " + device->address(), result);
        done += n;
    }
}

struct RecvOptions {
    std::optional<uint32_t> port;
    uint32_t count = 65535;
    unsigned wait_ms = 0;
    bool hex = false;
    bool raw = false;
};

void run_recv(const RecvOptions& o, Context& c) {
    Device* device = c.device;
    ZEBDevice* d = device->get();
    const std::string where = port_text(o.port) + " of " + device->address();
    catch_interrupt();

    Bytes data;
    uint32_t notice = 0;  // a status that came with bytes
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(o.wait_ms);
    while (data.size() < o.count && notice == 0 && !interrupted()) {
        uint16_t available = 0;
        const uint32_t result =
            o.port ? ZEBGetRXAvailableEx(d, *o.port, &available) : ZEBGetRXAvailable(d, &available);
        check("receive queue of " + where, result);
        if (available == 0) {
            if (std::chrono::steady_clock::now() >= deadline) break;
            sleep_ms(kPollMs);
            continue;
        }
        std::array<uint8_t, kReadChunk> chunk{};
        uint16_t n = static_cast<uint16_t>(std::min<uint32_t>(
            {available, kReadChunk, static_cast<uint32_t>(o.count - data.size())}));
        const uint32_t read =
            o.port ? ZEBReadCommEx(d, *o.port, &n, chunk.data()) : ZEBReadComm(d, &n, chunk.data());
        // The bytes come whatever the status says; a status still ends the read.
        if (!ZEB_SUCCEEDED(read) && !module_status(read)) fail_result("reading " + where, read);
        data.insert(data.end(), chunk.begin(), chunk.begin() + std::min<uint16_t>(n, kReadChunk));
        if (!ZEB_SUCCEEDED(read)) notice = read;
    }
    if (c.options.json) {
        print_json(record_json(data));
    } else if (o.raw) {
        print(std::string(data.begin(), data.end()));
    } else if (o.hex) {
        print(hex_text(data) + "\n");
    } else {
        print(escaped_text(data) + "\n");
    }
    if (notice != 0) fail_result("reading " + where, notice);
}

struct SetupOptions {
    std::optional<uint32_t> port;
    std::optional<uint32_t> baud;
    std::optional<unsigned> data_bits;
    std::optional<std::string> parity_text;
    std::optional<std::string> stop_bits_text;
    std::optional<std::string> flow_text;
    // Read from the above:
    std::optional<uint8_t> parity;
    std::optional<uint8_t> stop_bits;
    std::optional<uint8_t> flow;
};

// The reply to a read of the line settings is the settings alone, without a status word, so a
// module that refuses (one without that port, say) answers with a status word alone, which the
// library can only call "no data". The request is sent again here, as it is, to see whether
// the reply is two bytes: then they are told as the status word they are.
std::optional<uint16_t> status_alone(ZEBDevice* d, const std::optional<uint32_t>& port) {
    std::array<uint8_t, 32> request{};
    std::size_t at = d->DataOffset;
    request[at++] = vocab::fn::kSerial;
    request[at++] =
        static_cast<uint8_t>(vocab::serial::kReadSetup | (port ? vocab::serial::kNamesPort : 0));
    if (port) request[at++] = static_cast<uint8_t>(*port - 1);
    request[at++] = 0;
    request[at++] = 0;
    std::array<uint8_t, kReplyRoom> reply{};
    int32_t length = static_cast<int32_t>(reply.size());
    const uint32_t result =
        _SendPacket(d, request.data(), static_cast<uint16_t>(at), reply.data(), &length, 1, 0);
    if (result != 0 || length != static_cast<int32_t>(kReplyBody + 2)) return std::nullopt;
    return static_cast<uint16_t>(reply[kReplyBody] | reply[kReplyBody + 1] << 8);
}

ZEBSerialSetup read_setup(ZEBDevice* d, const std::optional<uint32_t>& port,
                          const std::string& where) {
    ZEBSerialSetup setup{};
    const uint32_t result =
        port ? ZEBReadSerialPortSetupEx(d, *port, &setup) : ZEBReadSerialPortSetup(d, &setup);
    if (result == ZEBERR_NO_DATA) {
        if (const auto status = status_alone(d, port); status && *status != 0) {
            // Sign-extended, as the library gives the serial replies' status words.
            const auto as_result =
                static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(*status)));
            throw Failure(exit_code_for(as_result),
                          "line settings of " + where +
                              ": the module answered with a status word "
                              "alone",
                          as_result,
                          port ? "does the module have a port " + std::to_string(*port) + "?" : "");
        }
    }
    check("line settings of " + where, result);
    return setup;
}

void read_arguments(SetupOptions& o) {
    if (o.parity_text) o.parity = index_of(kParities, *o.parity_text);
    if (o.stop_bits_text) o.stop_bits = index_of(kStopBits, *o.stop_bits_text);
    if (o.flow_text) o.flow = index_of(kFlows, *o.flow_text);
    if (o.parity_text && !o.parity) fail_usage("--parity: none, odd, even, mark or space");
    if (o.stop_bits_text && !o.stop_bits) fail_usage("--stop-bits: 1, 1.5 or 2");
    if (o.flow_text && !o.flow) fail_usage("--flow: none, rts-cts or xon-xoff");
}

void run_setup(const SetupOptions& o, Context& c) {
    Device* device = c.device;
    ZEBDevice* d = device->get();
    const std::string where = port_text(o.port) + " of " + device->address();
    ZEBSerialSetup setup = read_setup(d, o.port, where);
    if (o.baud || o.data_bits || o.parity || o.stop_bits || o.flow) {
        if (o.baud) {
            for (int i = 0; i < 4; ++i) setup.Data[i] = static_cast<uint8_t>(*o.baud >> (8 * i));
        }
        if (o.data_bits) setup.Data[4] = static_cast<uint8_t>(*o.data_bits);
        if (o.parity) setup.Data[5] = *o.parity;
        if (o.stop_bits) setup.Data[6] = *o.stop_bits;
        if (o.flow) setup.Data[7] = *o.flow;
        check("setting up " + where, o.port ? ZEBSetupSerialPortEx(d, *o.port, &setup, 1)
                                            : ZEBSetupSerialPort(d, &setup, 1));
        setup = read_setup(d, o.port, where);
    }
    const std::span<const uint8_t> s(setup.Data, sizeof setup.Data);
    const uint32_t baud = le32(s, 0);
    if (c.options.json) {
        print_json({{"baud", baud},
                    {"data_bits", s[4]},
                    {"parity", name_of(kParities, s[5])},
                    {"stop_bits", name_of(kStopBits, s[6])},
                    {"flow", name_of(kFlows, s[7])}});
        return;
    }
    print(render_fields({{"baud", std::to_string(baud)},
                         {"data bits", std::to_string(s[4])},
                         {"parity", name_of(kParities, s[5])},
                         {"stop bits", name_of(kStopBits, s[6])},
                         {"flow control", name_of(kFlows, s[7])}}));
}

void add_port(CLI::App& cmd, std::optional<uint32_t>& port) {
    cmd.add_option("--port", port, "the port, counted from 1 (default: the module's choice)")
        ->check(CLI::Range(1, 256));
}

}  // namespace

Command serial_send(CLI::App& cmd) {
    auto o = std::make_shared<SendOptions>();
    cmd.add_option("DATA", o->text,
                   "text with \\r \\n \\t \\0 \\\\ \\xHH escapes (hex with --hex)");
    add_port(cmd, o->port);
    cmd.add_flag("--hex", o->hex, "DATA is hex bytes");
    cmd.add_option("--file", o->file, "send the bytes of this file");
    return {.read_arguments = [o] { read_arguments(*o); },
            .run = [o](Context& c) { run_send(*o, c); }};
}

Command serial_recv(CLI::App& cmd) {
    auto o = std::make_shared<RecvOptions>();
    add_port(cmd, o->port);
    cmd.add_option("--count", o->count, "take at most this many bytes")
        ->check(CLI::Range(1, 65535));
    cmd.add_option("--wait", o->wait_ms,
                   "keep waiting this many milliseconds for bytes to come (default: take what "
                   "is there)");
    auto* hex = cmd.add_flag("--hex", o->hex, "show hex bytes");
    cmd.add_flag("--raw", o->raw, "write the bytes as they are")->excludes(hex);
    return {.run = [o](Context& c) { run_recv(*o, c); }};
}

Command serial_setup(CLI::App& cmd) {
    auto o = std::make_shared<SetupOptions>();
    add_port(cmd, o->port);
    cmd.add_option("--baud", o->baud, "bits per second");
    cmd.add_option("--data-bits", o->data_bits, "5 to 8")->check(CLI::Range(5, 8));
    cmd.add_option("--parity", o->parity_text, "none, odd, even, mark or space");
    cmd.add_option("--stop-bits", o->stop_bits_text, "1, 1.5 or 2");
    cmd.add_option("--flow", o->flow_text, "none, rts-cts or xon-xoff");
    cmd.footer("Settings not given stay as they are; the new settings are read back and shown.");
    return {.read_arguments = [o] { read_arguments(*o); },
            .run = [o](Context& c) { run_setup(*o, c); }};
}

}  // namespace zeb::cli
