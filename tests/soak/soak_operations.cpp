#include "soak_operations.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "rack.h"

namespace soak {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUnwritten = 0xCC;
constexpr size_t kFixedRead = 256;
constexpr uint16_t kCapacity = 1200;
constexpr uint16_t kSetupType = 0x40;
constexpr uint8_t kCcmType = 3;
constexpr uint32_t kCcmAddress = 0x20;
constexpr uint16_t kRamType = 1;
constexpr uint32_t kRamAddress = 0x100;
constexpr uint16_t kSharedAddress = 0x10;
constexpr uint32_t kSerialPort = 2;
constexpr uint32_t kVireoArea = 2;
constexpr uint16_t kVireoOffset = 0x20;
constexpr size_t kBlock = 12;

Bytes random_bytes(Worker& w, size_t n) {
    Bytes b(n);
    for (uint8_t& x : b) x = static_cast<uint8_t>(w.random());
    return b;
}

// Whatever the module holds, read under the server's lock.
template <class F>
auto module_state(Worker& w, F f) {
    return w.server.with_rack([&](racksim::Rack& rack) { return f(rack.module(w.module)); });
}

Bytes slice(const Bytes& b, size_t at, size_t n) {
    if (at > b.size() || n > b.size() - at) return {};
    return Bytes(b.begin() + ptrdiff_t(at), b.begin() + ptrdiff_t(at + n));
}

Outcome check(uint32_t result, bool matches, const char* what) {
    Outcome o{result, false, {}};
    if (ZEB_SUCCEEDED(result) && !matches) {
        o.wrong_data = true;
        o.what = what;
    }
    return o;
}

// A read into a buffer that holds kUnwritten before the call, with a count of its room.
struct Sized {
    Bytes buffer = Bytes(kCapacity, kUnwritten);
    uint16_t size = kCapacity;
    Bytes delivered() const { return Bytes(buffer.begin(), buffer.begin() + size); }
};

Bytes fixed_read(Worker& w, uint32_t (*call)(ZEBDevice*, uint8_t*, uint32_t), uint32_t* result) {
    Bytes b(kFixedRead, kUnwritten);
    *result = call(&w.device, b.data(), uint32_t(b.size()));
    return b;
}

Bytes sized_read(Worker& w, uint32_t (*call)(ZEBDevice*, uint8_t*, uint16_t*), uint32_t* result) {
    Sized s;
    *result = call(&w.device, s.buffer.data(), &s.size);
    return s.delivered();
}

const Bytes kCleanOutputs = {0x03, 0x41, 0x00, 0xFF};  // slot 3, bit outputs, one byte

Bytes outputs(uint8_t value) {
    Bytes b = kCleanOutputs;
    b[2] = value;
    return b;
}

Outcome write_io(Worker& w) {
    const uint8_t value = static_cast<uint8_t>(w.random());
    const Bytes out = outputs(value);
    Sized s;
    const uint32_t r =
        ZEBWriteIO(&w.device, out.data(), uint32_t(out.size()), s.buffer.data(), &s.size);
    const uint8_t held =
        module_state(w, [](racksim::Module& m) { return m.slot(3).io.bit_out[0]; });
    return check(r, held == value && s.delivered() == w.inputs, "I/O write");
}

Outcome read_io_ex(Worker& w) {
    ZEBDevice* devices[] = {&w.device};
    Sized s;
    uint8_t* buffers[] = {s.buffer.data()};
    uint32_t results[1] = {0xDEADBEEF};
    ZEBReadIOEx(devices, buffers, &s.size, results, 1);
    return check(results[0], s.delivered() == w.inputs, "parallel I/O read");
}

Outcome setup_write(Worker& w) {
    const Bytes record = random_bytes(w, 1 + w.random() % 24);
    const uint32_t r =
        ZEBWriteSetupData(&w.device, kSetupType, record.data(), uint32_t(record.size()));
    const Bytes held = module_state(w, [](racksim::Module& m) {
        const Bytes* b = m.setup.find(kSetupType);
        return b ? *b : Bytes{};
    });
    return check(r, held == record, "setup record write");
}

Outcome setup_read(Worker& w) {
    Sized s;
    const uint32_t r = ZEBReadSetupData(&w.device, kSetupType, s.buffer.data(), &s.size);
    const Bytes held = module_state(w, [](racksim::Module& m) {
        const Bytes* b = m.setup.find(kSetupType);
        return b ? *b : Bytes{};
    });
    return check(r, s.delivered() == held, "setup record read");
}

Outcome ccm_write(Worker& w) {
    Bytes block = random_bytes(w, kBlock);
    const Bytes sent = block;
    const uint32_t r = ZEBCCMRequest(&w.device, 1, kCcmType, kCcmAddress, kBlock, block.data());
    const Bytes held = module_state(w, [](racksim::Module& m) {
        return slice(m.controller.areas.at(kCcmType).data, kCcmAddress, kBlock);
    });
    return check(r, held == sent, "controller write");
}

Outcome ccm_read(Worker& w) {
    Bytes block(kBlock, kUnwritten);
    const uint32_t r = ZEBCCMRequest(&w.device, 0, kCcmType, kCcmAddress, kBlock, block.data());
    const Bytes held = module_state(w, [](racksim::Module& m) {
        return slice(m.controller.areas.at(kCcmType).data, kCcmAddress, kBlock);
    });
    return check(r, block == held, "controller read");
}

Bytes ram(racksim::Module& m) {
    return slice(m.memory.areas.at(0).data, kRamAddress, kBlock);
}

Outcome memory_write(Worker& w) {
    const Bytes block = random_bytes(w, kBlock);
    const uint32_t r = ZEBWriteMemory(&w.device, kRamType, kRamAddress, kBlock, block.data());
    return check(r, module_state(w, ram) == block, "memory write");
}

Outcome memory_read(Worker& w) {
    Bytes block(kBlock, kUnwritten);
    const uint32_t r = ZEBReadMemory(&w.device, kRamType, kRamAddress, kBlock, block.data());
    return check(r, block == module_state(w, ram), "memory read");
}

Bytes shared(racksim::Module& m) {
    return slice(m.shared_ram.regions.at({0, 0}).plain, kSharedAddress, kBlock);
}

Outcome shared_write(Worker& w) {
    const Bytes block = random_bytes(w, kBlock);
    const uint32_t r = ZEBWriteSharedRAM(&w.device, 0, 0, kSharedAddress, kBlock, block.data());
    return check(r, module_state(w, shared) == block, "shared RAM write");
}

Outcome shared_read(Worker& w) {
    Bytes block(kBlock, kUnwritten);
    const uint32_t r = ZEBReadSharedRAM(&w.device, 0, 0, kSharedAddress, kBlock, block.data());
    return check(r, block == module_state(w, shared), "shared RAM read");
}

Outcome serial_setup(Worker& w) {
    ZEBSerialSetup setup;
    std::memset(&setup, kUnwritten, sizeof setup);
    const uint32_t r = ZEBReadSerialPortSetupEx(&w.device, kSerialPort, &setup);
    const Bytes held = module_state(w, [](racksim::Module& m) {
        const racksim::LineSetup& s = m.serial.ports.at(int(kSerialPort)).setup();
        return Bytes(s.begin(), s.end());
    });
    return check(r, Bytes(setup.Data, setup.Data + sizeof setup.Data) == held, "serial setup read");
}

// The remote master's area holds what the last write put there; a write that failed part of
// the way leaves it unknown until the next one lands.
Outcome vireo_write(Worker& w) {
    const Bytes block = random_bytes(w, kBlock);
    const uint32_t r =
        ZEBWriteVireoData(&w.device, 0, 0, kVireoArea, block.data(), kBlock, kVireoOffset);
    w.vireo_known = ZEB_SUCCEEDED(r);
    w.vireo = block;
    return {r, false, {}};
}

Outcome vireo_read(Worker& w) {
    Bytes block(kBlock, kUnwritten);
    const uint32_t r =
        ZEBReadVireoData(&w.device, 0, 0, kVireoArea, block.data(), kBlock, kVireoOffset);
    return check(r, !w.vireo_known || block == w.vireo, "remote master read");
}

Outcome program_space(Worker& w) {
    const Bytes block = random_bytes(w, kBlock);
    const uint32_t r = ZEBWriteTaviethernetPgmSpace(&w.device, block.data(), uint16_t(kBlock));
    const Bytes held = module_state(w, [](racksim::Module& m) { return m.program.last_write; });
    return check(r, held == block, "program space write");
}

// Every module listed must be one of the rack's, and listed once.
Outcome discovery(Worker& w) {
    ZEBDevice list[16] = {};
    uint16_t count = 16;
    const uint32_t r = ZEBQueryDevices(&w.transport, list, &count, ZEB_API_VERSION);
    std::set<uint32_t> seen;
    bool good = count <= 16;
    for (uint16_t i = 0; good && i < count; ++i) {
        const uint8_t* a = list[i].Address.Ip.SocketAddress;
        const uint32_t ip =
            uint32_t(a[4]) << 24 | uint32_t(a[5]) << 16 | uint32_t(a[6]) << 8 | a[7];
        const bool known =
            w.server.with_rack([&](racksim::Rack& rack) { return rack.find_ip(ip) != nullptr; });
        good = known && seen.insert(ip).second;
    }
    return check(r, good, "discovery list");
}

}  // namespace

bool record_clean(Worker& w, std::string* error) {
    uint32_t r[6] = {};
    w.version = fixed_read(w, ZEBReadVersionInfo, &r[0]);
    w.device_def = fixed_read(w, ZEBReadDeviceDef, &r[1]);
    w.base_def = sized_read(w, ZEBReadBaseDef, &r[2]);
    w.inputs = sized_read(w, ZEBReadIO, &r[3]);
    w.config = sized_read(w, ZEBReadConfigData, &r[4]);
    Sized s;
    r[5] = ZEBWriteIO(&w.device, kCleanOutputs.data(), uint32_t(kCleanOutputs.size()),
                      s.buffer.data(), &s.size);
    for (uint32_t x : r) {
        if (x != 0) {
            *error = "a clean exchange failed with " + std::to_string(x);
            return false;
        }
    }
    if (s.delivered() != w.inputs) {
        *error = "the I/O write answers other inputs than the read";
        return false;
    }
    return true;
}

// clang-format off
const std::vector<Operation>& operations() {
    static const std::vector<Operation> table = {
        {"identity", 1, 0, 0, false, [](Worker& w) { uint32_t r; const Bytes b = fixed_read(w, ZEBReadVersionInfo, &r); return check(r, b == w.version, "version"); }},
        {"identity", 1, 0, 0, false, [](Worker& w) { uint32_t r; const Bytes b = fixed_read(w, ZEBReadDeviceDef, &r); return check(r, b == w.device_def, "device definition"); }},
        {"base definition", 1, 0, 0, false, [](Worker& w) { uint32_t r; const Bytes b = sized_read(w, ZEBReadBaseDef, &r); return check(r, b == w.base_def, "base definition"); }},
        {"setup data", 2, 30000, 0, false, setup_write},
        {"setup data", 1, 0, 0, false, setup_read},
        {"configuration", 1, 0, 0, false, [](Worker& w) { uint32_t r; const Bytes b = sized_read(w, ZEBReadConfigData, &r); return check(r, b == w.config, "configuration"); }},
        {"diagnostics", 1, 0, 0, false, [](Worker& w) { return Outcome{ZEBPetDevice(&w.device), false, {}}; }},
        {"I/O", 1, 0, 0, false, [](Worker& w) { uint32_t r; const Bytes b = sized_read(w, ZEBReadIO, &r); return check(r, b == w.inputs, "I/O read"); }},
        {"I/O", 1, 0, 0, false, write_io},
        {"parallel I/O", 1, 0, 0, false, read_io_ex},
        {"controller", 2, 0, 0, false, ccm_write},
        {"controller", 2, 0, 0, false, ccm_read},
        {"memory", 1, 0, 0, false, memory_write},
        {"memory", 1, 0, 0, false, memory_read},
        {"shared RAM", 1, 0, 0, false, shared_write},
        {"shared RAM", 1, 0, 0, false, shared_read},
        {"serial", 1, 0, 0, false, serial_setup},
        {"remote master", 3, 0, 1, false, vireo_write},
        {"remote master", 3, 0, 1, false, vireo_read},
        {"networked nodes", 2, 30000, 0, false, program_space},
        {"discovery", 0, 0, 0, true, discovery},
    };
    return table;
}
// clang-format on

uint64_t bound_ms(const Operation& op, const ZEBDevice& d) {
    const uint64_t tries = uint64_t{d.Retries} + 1;
    const uint64_t exchange = tries * (uint64_t{d.Timeout} + 10);
    uint64_t total =
        op.exchanges * exchange + tries * op.extra_ms + op.polls * (d.Timeout + exchange);
    // The probe's own exchange (20 ms, no re-send), the listening, and the wait under way.
    if (op.discovery) total += 20 + ZEBGetQueryTimeout() + 20;
    return total;
}

}  // namespace soak
