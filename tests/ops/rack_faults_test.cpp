// Every operation against every fault a RackSim module plays, on the virtual clock: the
// result, the device's counters and what reaches the caller, byte for byte.
//
// An operation is one row, a fault one column. The expected outcome of a cell is not written
// out: it follows from the fault's effect and a few properties of the row (how the operation
// meets the network, whether it warns after re-sends, what a clean exchange delivers). A new
// operation is one more row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "base_def.h"
#include "diagnostics.h"
#include "faults.h"
#include "identity.h"
#include "io_image.h"
#include "sim_device.h"
#include "sim_network.h"
#include "sim_rack.h"
#include "zeb.h"

namespace zebtest {
namespace {

constexpr uint16_t kTimeout = 100;
constexpr uint16_t kRetries = 2;
constexpr uint16_t kCapacity = 1200;  // of the caller's buffer
constexpr uint8_t kUnwritten = 0xCC;  // what the caller's buffer holds before the call
constexpr uint16_t kListCapacity = 4;
constexpr uint32_t kModuleNumber = 7;
constexpr uint16_t kHeldType = 0x30;     // a setup record the module holds
constexpr uint16_t kWrittenType = 0x40;  // one the calls write

// The caller's side of one call: kCapacity bytes that start with a prefix (the 0xB1 marker) and
// hold kUnwritten after it, one guard byte past the end, and a size of kCapacity.
struct CallerBuffer {
    explicit CallerBuffer(const Bytes& prefix) : bytes(kCapacity + 1, kUnwritten) {
        std::copy(prefix.begin(), prefix.end(), bytes.begin());
    }
    uint8_t* data() { return bytes.data(); }

    Bytes bytes;
    uint16_t size = kCapacity;
};

// A module with inputs and outputs of every width, in the compact and the extended item
// format's range of slots; slot 1's bit inputs show what was written to slot 3's bit outputs.
// No input counts by itself, so what a reply carries is the module's state after the call.
racksim::Rack table_rack(const racksim::Faults& faults) {
    racksim::Module m("press", kModuleNumber);
    m.base.base_slots = 32;
    racksim::Slot& s0 = m.add_slot(0, racksim::SlotRecord::full(0x25, {12, 4, 2, 1, 1, 1}));
    s0.io.bit_in = {0xA5, 0x03};
    s0.io.word_in = {0x1234, 0xBEEF};
    s0.io.dword_in = {0xCAFEF00D};
    m.add_slot(1, racksim::SlotRecord::basic(0x22, 8, 0, 0, 0)).behaviour.wired_from = 3;
    m.add_slot(3, racksim::SlotRecord::basic(0x24, 0, 8, 0, 0));
    m.add_slot(9, racksim::SlotRecord::paired(0x50, {{5, 3}, {9, 2}})).io.word_in = {1, 2, 3};
    m.add_slot(20, racksim::SlotRecord::wide(0x40, 16, 0, 2, 0)).io.bit_in = {0x0F, 0xF0};
    m.setup.put(kHeldType, {'b', 'e', 'l', 't', '-', '7'});
    m.config = {0x10, 0x20, 0x30, 0x40, 0x50};
    m.faults = faults;
    racksim::Rack rack;
    rack.add_module(std::move(m));
    return rack;
}

// One cell: a simulated network with the table's module on it, and a device opened on it.
struct Cell {
    explicit Cell(const racksim::Faults& faults)
        : sim(*net, table_rack(faults)), dev(sim.endpoint(0), {kTimeout, kRetries, 0}) {}

    const racksim::Module& module() { return sim.module(0); }

    ScopedSimNetwork net;
    SimRack sim;
    IpDevice dev;
};

// How an operation meets the network.
enum class Shape {
    single,        // one request, one reply
    acknowledged,  // one request, an acknowledgement at once, then the final reply
    parallel,      // the multi-device scheduler (here with one device)
    discovery,     // one broadcast query; the answers are listed
};

enum class Warns { no, yes };  // a reply that needed re-sends gives ZEBWARN_RETRIED

// What reaches the caller after a clean exchange: bytes at the start of its buffer, worked out
// from the module as it is after the call (and the faults it played), and whether *size (or
// the count) says how many, in entries of `entry_size` bytes.
struct Delivery {
    std::function<Bytes(Cell&, const racksim::Faults&)> data;  // empty: the call takes no buffer
    bool sized = false;
    size_t entry_size = 1;
};

struct Operation {
    const char* name;
    Shape shape;
    Warns warns;
    Bytes prefix;  // what the caller's buffer starts with
    uint32_t (*call)(Cell&, CallerBuffer&);
    Delivery delivers;
};

// ---- The calls ----

// Extended: slot 3 bit outputs 0x5A. Compact: slot 3 bit outputs 0xA5.
const Bytes kExtendedOutputs = {0xB1, 0x00, 0x00, 0x03, 0x04, 0x01, 0x5A, 0xFF};
const Bytes kCompactOutputs = {0x03, 0x41, 0xA5, 0xFF};
const Bytes kMarker = {0xB1, 0x00};

uint32_t read_version(Cell& c, CallerBuffer& b) {
    return ZEBReadVersionInfo(&c.dev.device, b.data(), kCapacity);
}

uint32_t read_support(Cell& c, CallerBuffer& b) {
    return ZEBReadSupportInfo(&c.dev.device, b.data(), kCapacity);
}

uint32_t read_device_def(Cell& c, CallerBuffer& b) {
    return ZEBReadDeviceDef(&c.dev.device, b.data(), kCapacity);
}

uint32_t read_base_def(Cell& c, CallerBuffer& b) {
    return ZEBReadBaseDef(&c.dev.device, b.data(), &b.size);
}

uint32_t init_base_def(Cell& c, CallerBuffer& b) {
    return ZEBInitBaseDef(&c.dev.device, b.data(), &b.size);
}

uint32_t rescan_base(Cell& c, CallerBuffer& b) {
    return ZEBRescanBase(&c.dev.device, 1, b.data(), &b.size);
}

uint32_t write_base_def(Cell& c, CallerBuffer& b) {
    // The module's own base again, so that the write changes nothing else.
    const Bytes def = racksim::encode_base_def(c.module(), false);
    return ZEBWriteBaseDef(&c.dev.device, def.data(), static_cast<uint32_t>(def.size()), b.data(),
                           &b.size);
}

uint32_t read_io(Cell& c, CallerBuffer& b) {
    return ZEBReadIO(&c.dev.device, b.data(), &b.size);
}

uint32_t write_io(Cell& c, CallerBuffer& b) {
    return ZEBWriteIO(&c.dev.device, kExtendedOutputs.data(),
                      static_cast<uint32_t>(kExtendedOutputs.size()), b.data(), &b.size);
}

uint32_t write_io_no_read(Cell& c, CallerBuffer&) {
    return ZEBWriteIONoRead(&c.dev.device, kExtendedOutputs.data(),
                            static_cast<uint32_t>(kExtendedOutputs.size()));
}

uint32_t read_io_ex(Cell& c, CallerBuffer& b) {
    ZEBDevice* devices[] = {&c.dev.device};
    uint8_t* buffers[] = {b.data()};
    uint32_t results[] = {0xDEADBEEF};
    EXPECT_EQ(ZEBReadIOEx(devices, buffers, &b.size, results, 1), 0u);
    return results[0];
}

uint32_t write_io_ex(Cell& c, CallerBuffer& b) {
    ZEBDevice* devices[] = {&c.dev.device};
    const uint8_t* sources[] = {kCompactOutputs.data()};
    const uint16_t lengths[] = {static_cast<uint16_t>(kCompactOutputs.size())};
    uint8_t* buffers[] = {b.data()};
    uint32_t results[] = {0xDEADBEEF};
    EXPECT_EQ(ZEBWriteIOEx(devices, sources, lengths, buffers, &b.size, results, 1), 0u);
    return results[0];
}

// What a listed module's entry holds: the sender's address as the socket layer gives it, the
// hardware address, and the counters, which discovery leaves at 0.
constexpr size_t kEntrySize = sizeof(ZEBAddress) + 6 + 3 * sizeof(uint16_t);

Bytes entry_bytes(const ZEBDevice& d) {
    Bytes b(d.Address.Raw, d.Address.Raw + sizeof d.Address.Raw);
    b.insert(b.end(), d.NodeAddress, d.NodeAddress + 6);
    for (uint16_t counter :
         {uint16_t(d.ResendCount), uint16_t(d.CrcErrorCount), uint16_t(d.LateReplyCount)}) {
        b.push_back(static_cast<uint8_t>(counter));
        b.push_back(static_cast<uint8_t>(counter >> 8));
    }
    return b;
}

// Discovery's list as the caller's buffer: the entries below the count, and the count as the
// size.
uint32_t list_into(uint32_t result, const ZEBDevice* list, uint16_t count, CallerBuffer& b) {
    const uint16_t listed = std::min(count, kListCapacity);
    for (uint16_t i = 0; i < listed; ++i) {
        const Bytes e = entry_bytes(list[i]);
        std::copy(e.begin(), e.end(), b.bytes.begin() + i * kEntrySize);
    }
    b.size = count;
    return result;
}

uint32_t query_devices(Cell& c, CallerBuffer& b) {
    ZEBDevice list[kListCapacity] = {};
    uint16_t count = kListCapacity;
    const uint32_t result = ZEBQueryDevices(&c.dev.transport, list, &count, ZEB_API_VERSION);
    return list_into(result, list, count, b);
}

uint32_t query_device_data(Cell& c, CallerBuffer& b) {
    ZEBDevice list[kListCapacity] = {};
    uint16_t count = kListCapacity;
    const uint8_t number[4] = {kModuleNumber, 0, 0, 0};
    const uint32_t result = ZEBQueryDeviceData(&c.dev.transport, list, &count, ZEB_API_VERSION,
                                               racksim::kQueryByNumber, number, sizeof number);
    return list_into(result, list, count, b);
}

const Bytes kWrittenRecord = {0x01, 0x02, 0x00, 0xFF};
const Bytes kConfig = {0xB1, 0x00, 0x7E, 0x7F};  // a block the module keeps as it is

uint32_t read_setup(Cell& c, CallerBuffer& b) {
    return ZEBReadSetupData(&c.dev.device, kHeldType, b.data(), &b.size);
}

uint32_t write_setup(Cell& c, CallerBuffer&) {
    return ZEBWriteSetupData(&c.dev.device, kWrittenType, kWrittenRecord.data(),
                             static_cast<uint32_t>(kWrittenRecord.size()));
}

uint32_t delete_setup(Cell& c, CallerBuffer&) {
    return ZEBDeleteSetupData(&c.dev.device, kHeldType);
}

// The types as the caller's buffer (little-endian entries), the count as its size. The list
// starts out as unwritten as the buffer.
uint32_t enum_setup(Cell& c, CallerBuffer& b) {
    uint16_t types[kCapacity];
    std::fill(std::begin(types), std::end(types), uint16_t{kUnwritten * 0x101});
    uint16_t count = b.size;
    const uint32_t result = ZEBEnumSetupData(&c.dev.device, types, &count);
    for (uint16_t i = 0; i < count && 2u * i + 1 < kCapacity; ++i) {
        b.bytes[2 * i] = static_cast<uint8_t>(types[i]);
        b.bytes[2 * i + 1] = static_cast<uint8_t>(types[i] >> 8);
    }
    b.size = count;
    return result;
}

uint32_t read_config(Cell& c, CallerBuffer& b) {
    return ZEBReadConfigData(&c.dev.device, b.data(), &b.size);
}

uint32_t write_config(Cell& c, CallerBuffer& b) {
    return ZEBWriteConfigData(&c.dev.device, kConfig.data(), static_cast<uint32_t>(kConfig.size()),
                              b.data(), &b.size);
}

uint32_t pet(Cell& c, CallerBuffer&) {
    return ZEBPetDevice(&c.dev.device);
}

uint32_t read_ethernet_stats(Cell& c, CallerBuffer& b) {
    return ZEBReadEthernetStats(&c.dev.device, b.data(), &b.size, 0);
}

uint32_t read_module_status(Cell& c, CallerBuffer& b) {
    return ZEBReadModuleStatus(&c.dev.device, b.data(), &b.size, 0);
}

// ---- What they deliver ----

Delivery of_module(Bytes (*of)(const racksim::Module&), bool sized) {
    return {[of](Cell& c, const racksim::Faults&) { return of(c.module()); }, sized};
}

Delivery block(Bytes (*of)(const racksim::Module&)) {
    return of_module(of, false);
}

Delivery base_def(bool extended) {
    return {[extended](Cell& c, const racksim::Faults&) {
                return racksim::encode_base_def(c.module(), extended);
            },
            true};
}

Delivery inputs(bool extended) {
    return {[extended](Cell& c, const racksim::Faults&) {
                return racksim::encode_inputs(c.module(), extended);
            },
            true};
}

Delivery record(uint16_t type) {
    return {[type](Cell& c, const racksim::Faults&) { return *c.module().setup.find(type); }, true};
}

Delivery types() {
    return {[](Cell& c, const racksim::Faults&) {
                Bytes b;
                for (uint16_t t : c.module().setup.types()) {
                    b.push_back(static_cast<uint8_t>(t));
                    b.push_back(static_cast<uint8_t>(t >> 8));
                }
                return b;
            },
            true, 2};
}

Delivery config() {
    return of_module([](const racksim::Module& m) { return m.config; }, true);
}

// The record counts the traffic before its own reply left: the datagrams that carried the
// reply (with a stray copy before it, or a second copy) are taken back.
Delivery ethernet_stats() {
    return {[](Cell& c, const racksim::Faults& f) {
                racksim::Module m = c.module();
                const uint32_t copies = 1 + f.stray_before_reply + f.answer_twice;
                m.diagnostics.ethernet.frames_out -= copies;
                m.diagnostics.ethernet.bytes_out -=
                    copies * static_cast<uint32_t>(9 + racksim::kEthernetStatsSize);
                return racksim::ethernet_stats(m, c.net->now());
            },
            true};
}

Delivery module_status() {
    return {[](Cell& c, const racksim::Faults&) {
                return racksim::module_status(c.module(), c.net->now());
            },
            true};
}

// The module's entry in the list.
Delivery listed() {
    return {[](Cell& c, const racksim::Faults&) {
                ZEBDevice d{};
                const SocketAddress a = socket_address(c.sim.endpoint(0));
                std::memcpy(d.Address.Raw, a.data(), a.size());
                std::memcpy(d.NodeAddress, c.module().identity.hw.data(), 6);
                return entry_bytes(d);
            },
            true, kEntrySize};
}

const Delivery kEmpty{[](Cell&, const racksim::Faults&) { return Bytes{}; }, true};
const Delivery kNoBuffer{};

// clang-format off
const std::vector<Operation>& operations() {
    using S = Shape;
    static const std::vector<Operation> rows = {
        // name                  shape            warns      prefix   call              delivers
        {"ZEBReadVersionInfo",  S::single,       Warns::no,  {},      read_version,     block(racksim::version_block)},
        {"ZEBReadSupportInfo",  S::single,       Warns::no,  {},      read_support,     block(racksim::support_block)},
        {"ZEBReadDeviceDef",    S::single,       Warns::no,  {},      read_device_def,  block(racksim::device_definition)},
        {"ZEBReadBaseDef",      S::single,       Warns::no,  kMarker, read_base_def,    base_def(true)},
        {"ZEBInitBaseDef",      S::single,       Warns::no,  {},      init_base_def,    base_def(false)},
        {"ZEBRescanBase",       S::single,       Warns::no,  {},      rescan_base,      base_def(false)},
        {"ZEBWriteBaseDef",     S::acknowledged, Warns::yes, {},      write_base_def,   kEmpty},
        {"ZEBReadIO",           S::single,       Warns::yes, kMarker, read_io,          inputs(true)},
        {"ZEBWriteIO",          S::single,       Warns::yes, {},      write_io,         inputs(true)},
        {"ZEBWriteIONoRead",    S::single,       Warns::yes, {},      write_io_no_read, kNoBuffer},
        {"ZEBReadIOEx",         S::parallel,     Warns::no,  {},      read_io_ex,       inputs(false)},
        {"ZEBWriteIOEx",        S::parallel,     Warns::no,  {},      write_io_ex,      inputs(false)},
        {"ZEBQueryDevices",     S::discovery,    Warns::no,  {},      query_devices,    listed()},
        {"ZEBQueryDeviceData",  S::discovery,    Warns::no,  {},      query_device_data, listed()},
        {"ZEBReadSetupData",    S::single,       Warns::no,  {},      read_setup,       record(kHeldType)},
        {"ZEBWriteSetupData",   S::acknowledged, Warns::yes, {},      write_setup,      kNoBuffer},
        {"ZEBDeleteSetupData",  S::acknowledged, Warns::yes, {},      delete_setup,     kNoBuffer},
        {"ZEBEnumSetupData",    S::single,       Warns::no,  {},      enum_setup,       types()},
        {"ZEBReadConfigData",   S::single,       Warns::yes, kMarker, read_config,      config()},
        {"ZEBWriteConfigData",  S::single,       Warns::yes, {},      write_config,     config()},
        {"ZEBPetDevice",        S::single,       Warns::no,  {},      pet,              kNoBuffer},
        {"ZEBReadEthernetStats", S::single,      Warns::no,  {},      read_ethernet_stats, ethernet_stats()},
        {"ZEBReadModuleStatus", S::single,       Warns::no,  {},      read_module_status, module_status()},
    };
    return rows;
}
// clang-format on

// What a fault does to the exchange.
enum class Effect {
    none,     // nothing the library sees
    lost,     // requests are lost: as many in a row as replaying the module's faults says
    late,     // every reply comes after the device's time-out
    bad_crc,  // every reply's CRC is wrong
    stray,    // a packet with another sequence number comes before the reply
    twice,    // every reply comes twice
};

struct FaultCase {
    const char* name;
    racksim::Faults faults;
    Effect effect;
};

racksim::Faults with(std::function<void(racksim::Faults&)> set) {
    racksim::Faults f;
    set(f);
    return f;
}

const std::vector<FaultCase>& fault_cases() {
    static const std::vector<FaultCase> cases = {
        {"none", {}, Effect::none},
        {"drop_first_within_retries", with([](auto& f) { f.drop_first = kRetries; }), Effect::lost},
        {"drop_first_beyond_retries", with([](auto& f) { f.drop_first = kRetries + 1; }),
         Effect::lost},
        {"drop_fraction", with([](auto& f) {
             f.drop_fraction = 0.5;
             f.seed = 3;
         }),
         Effect::lost},
        {"delay_past_timeout", with([](auto& f) { f.delay_ms = kTimeout * 3 / 2; }), Effect::late},
        {"corrupt_crc", with([](auto& f) { f.corrupt_crc = true; }), Effect::bad_crc},
        {"stray_packets", with([](auto& f) { f.stray_before_reply = true; }), Effect::stray},
        {"answer_twice", with([](auto& f) { f.answer_twice = true; }), Effect::twice},
        {"magic_zqq", with([](auto& f) { f.magic_zqq = true; }), Effect::none},
    };
    return cases;
}

// How many requests in a row the module loses from now on (up to all the tries a call makes),
// by replaying a copy of its faults.
uint32_t losses_in_a_row(racksim::Faults faults) {
    uint32_t lost = 0;
    std::string why;
    while (lost <= kRetries && racksim::drop_request(faults, &why)) ++lost;
    return lost;
}

struct Outcome {
    uint32_t result = 0;
    uint16_t resends = 0;
    uint16_t crc_errors = 0;
    uint16_t late = 0;
    Bytes buffer;  // the caller's whole buffer, guard byte included
    uint16_t size = kCapacity;
};

// What a cell must give, from the fault's effect and the operation's properties.
Outcome expected(const Operation& op, const FaultCase& fault, uint32_t losses, Cell& c) {
    Outcome e;
    e.buffer = CallerBuffer(op.prefix).bytes;
    auto deliver = [&] {
        if (!op.delivers.data) return;
        const Bytes data = op.delivers.data(c, fault.faults);
        std::copy(data.begin(), data.end(), e.buffer.begin());
        if (!op.delivers.sized) return;
        e.size = static_cast<uint16_t>(data.size() / op.delivers.entry_size);
    };
    if (op.shape == Shape::discovery) {
        // One query, no re-send: a lost query finds nothing; a late answer is still within the
        // query time. A damaged answer is passed over and a doubled one listed once.
        e.size = 0;
        const bool listed =
            (fault.effect == Effect::lost ? losses == 0 : fault.effect != Effect::bad_crc);
        if (listed) deliver();
        return e;
    }
    const uint16_t replies_per_request = op.shape == Shape::acknowledged ? 2 : 1;
    switch (fault.effect) {
        case Effect::none:
            deliver();
            break;
        case Effect::lost:
            if (losses > kRetries) {
                e.result = ZEBERR_TIMEOUT;
                e.resends = kRetries;
            } else {
                e.result = losses > 0 && op.warns == Warns::yes ? ZEBWARN_RETRIED : 0;
                e.resends = static_cast<uint16_t>(losses);
                deliver();
            }
            break;
        case Effect::late:
            // Each try's replies arrive half a time-out after the next try was sent, except
            // those of the last try, which come after the call has given up.
            e.result = ZEBERR_TIMEOUT;
            e.resends = kRetries;
            e.late = kRetries * replies_per_request;
            break;
        case Effect::bad_crc:
            e.result = ZEBERR_BAD_CRC;
            e.crc_errors = 1;
            if (op.shape == Shape::parallel) e.size = 0;  // the collecting step clears it
            break;
        case Effect::stray:
            deliver();
            e.late = 1;
            break;
        case Effect::twice:
            // The copy of a single reply stays queued after the call; the copy of an
            // acknowledgement comes while the final reply is awaited, and is passed over.
            deliver();
            e.late = op.shape == Shape::acknowledged ? 1 : 0;
            break;
    }
    return e;
}

std::string cell_name(const ::testing::TestParamInfo<std::tuple<size_t, size_t>>& info) {
    return std::string(operations()[std::get<0>(info.param)].name) + "_" +
           fault_cases()[std::get<1>(info.param)].name;
}

class RackFaults : public ::testing::TestWithParam<std::tuple<size_t, size_t>> {};

TEST_P(RackFaults, ResultCountersAndDelivery) {
    const Operation& op = operations()[std::get<0>(GetParam())];
    const FaultCase& fault = fault_cases()[std::get<1>(GetParam())];
    Cell c(fault.faults);
    ASSERT_EQ(c.dev.device_result, 0u);
    const uint32_t losses = losses_in_a_row(c.module().faults);

    CallerBuffer b(op.prefix);
    Outcome got;
    got.result = op.call(c, b);
    got.resends = c.dev.device.ResendCount;
    got.crc_errors = c.dev.device.CrcErrorCount;
    got.late = c.dev.device.LateReplyCount;
    got.buffer = b.bytes;
    got.size = b.size;

    const Outcome want = expected(op, fault, losses, c);
    EXPECT_EQ(got.result, want.result) << std::hex << "0x" << got.result << " vs 0x" << want.result;
    EXPECT_EQ(got.resends, want.resends) << "ResendCount";
    EXPECT_EQ(got.crc_errors, want.crc_errors) << "CrcErrorCount";
    EXPECT_EQ(got.late, want.late) << "LateReplyCount";
    EXPECT_EQ(got.size, want.size) << "size";
    EXPECT_EQ(got.buffer.back(), kUnwritten) << "wrote past the caller's buffer";
    EXPECT_EQ(got.buffer, want.buffer) << "the caller's buffer";
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, RackFaults,
                         ::testing::Combine(::testing::Range<size_t>(0, operations().size()),
                                            ::testing::Range<size_t>(0, fault_cases().size())),
                         cell_name);

TEST(RackFaultsTable, TheFractionColumnLosesSomeButNotAllTries) {
    // Otherwise it would repeat another column.
    for (const FaultCase& f : fault_cases()) {
        if (std::string(f.name) != "drop_fraction") continue;
        Cell c(f.faults);
        const uint32_t losses = losses_in_a_row(c.module().faults);
        EXPECT_GE(losses, 1u);
        EXPECT_LE(losses, kRetries);
    }
}

}  // namespace
}  // namespace zebtest
