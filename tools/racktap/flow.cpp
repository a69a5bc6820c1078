#include "flow.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "options.h"
#include "report.h"
#include "transaction.h"
#include "usage.h"
#include "zeb.h"

namespace racktap {

namespace {

constexpr uint16_t kVersion = ZEB_API_VERSION;
constexpr uint16_t kListCapacity = 20;
constexpr uint16_t kQueryByNumber = 0x20;
constexpr uint16_t kQueryByName = 0x16;
constexpr std::size_t kDeviceDefSize = 42;
constexpr uint8_t kQxRio = 0;  // byte 2 of the device definition: the module's kind
constexpr uint8_t kNoKind = 0xFF;

// Closes the library, the transport and the device on every path, in reverse order of opening.
struct LibraryGuard {
    ~LibraryGuard() { ZEBClose(); }
};
struct TransportGuard {
    ZEBTransport* transport;
    ~TransportGuard() { ZEBCloseTransport(transport); }
};
struct DeviceGuard {
    ZEBDevice* device;
    ~DeviceGuard() { ZEBCloseDevice(device); }
};

// Asks for the selected module. Returns how many modules answered; a query that failed before
// it could count answers found none.
uint16_t find_modules(ZEBTransport& transport, std::array<ZEBDevice, kListCapacity>& list,
                      const Options& options) {
    uint16_t count = kListCapacity;
    uint32_t result = 0;
    if (options.selection == Selection::kByNumber) {
        const auto n = static_cast<uint32_t>(options.number);
        const uint8_t data[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                                 static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
        result = ZEBQueryDeviceData(&transport, list.data(), &count, kVersion, kQueryByNumber, data,
                                    sizeof data);
    } else {
        result = ZEBQueryDeviceData(&transport, list.data(), &count, kVersion, kQueryByName,
                                    options.name.data(), kNameBufferSize);
    }
    if (result != 0 && result != ZEBERR_BUFFER_TOO_SMALL) return 0;
    return count;
}

// Reads the device definition and checks that the module is a Qx-RIO; prints why not. The read
// does not say how many bytes it delivered, so the buffer starts out holding a value that is no
// kind: a definition too short to carry its kind byte is not taken for a Qx-RIO (kind 0).
bool is_qx_rio(ZEBDevice& device, const Options& options, std::FILE* out) {
    std::array<uint8_t, kDeviceDefSize> def;
    def.fill(kNoKind);
    if (ZEBReadDeviceDef(&device, def.data(), def.size()) != 0) {
        std::fputs("Error! Unable to read device def.\n", out);
        return false;
    }
    if (def[2] == kQxRio) return true;
    if (options.selection == Selection::kByNumber) {
        std::fprintf(out, "Module number %u is not an Qx-RIO. Cannot continue...\n",
                     static_cast<unsigned>(options.number));
    } else {
        std::fprintf(out, "Module %s is not an Qx-RIO. Cannot continue...\n", options.name.data());
    }
    return false;
}

void run_with_transport(ZEBTransport& transport, const Options& options, std::FILE* out) {
    std::array<ZEBDevice, kListCapacity> list{};
    if (find_modules(transport, list, options) == 0) {
        std::fputs("Sorry! No ethernet devices found\n", out);
        return;
    }

    ZEBDevice& device = list[0];  // the first module that answered
    DeviceGuard device_guard{&device};
    if (ZEBOpenDevice(&transport, &device, kVersion, 25, 3, 0) != 0) {
        const uint8_t* a = device.NodeAddress;
        std::fprintf(out, "Error! Unable to open device %02X%02X%02X%02X%02X%02X\n", a[0], a[1],
                     a[2], a[3], a[4], a[5]);
        return;
    }
    if (!is_qx_rio(device, options, out)) return;

    const TransactionRecord record = run_io_transaction(device);
    if (options.verbose) std::fputs(format_report(options.protocol, device, record).c_str(), out);
}

}  // namespace

int run_racktap(int argc, char** argv, std::FILE* out) {
    print_intro(out);
    const Options options = parse_options(argc, argv, out);
    if (options.usage) {
        print_usage(out);
        return 0;
    }

    ZEBTransport transport{};
    LibraryGuard library_guard;
    ZEBOpen(kVersion);
    // The frame trace on standard error, for finding out what a module says; standard output
    // stays as it is.
    if (const char* trace = std::getenv("ZEB_TRACE"); trace && *trace && std::strcmp(trace, "0")) {
        ZEBSetTrace(1);
    }
    transport.Kind = ZEB_TRANSPORT_WINSOCK;
    transport.Protocol = options.protocol;
    // The local address is an IPv4 address; it means nothing to an IPX transport.
    SocketAddress source = options.local_address.value_or(SocketAddress{});
    const bool bind_source = options.local_address && options.protocol == ZEB_PROTOCOL_IP;
    if (ZEBOpenTransport(&transport, kVersion, bind_source ? source.data() : nullptr) != 0) {
        std::fputs("Error! Unable to initialize Transport\n", out);
        return 0;
    }
    {
        TransportGuard transport_guard{&transport};
        run_with_transport(transport, options, out);
    }
    return 0;
}

}  // namespace racktap
