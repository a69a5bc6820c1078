// Every operation against every fault a RackSim module plays, in every manner a module may
// answer in, on the virtual clock: the result, the device's counters and what reaches the
// caller, byte for byte.
//
// An operation is one row, a fault one column, and the whole table runs once per manner. The
// expected outcome of a cell is not written out: it follows from the fault's effect, the
// manner the module drew for each request it answered, and a few properties of the row (how
// the operation meets the network, whether it warns after re-sends, what a clean exchange
// delivers, whether it honours the device's no-wait mode, how it takes a refusal). A new
// operation is one more row, a new manner one more table. Two columns are no reply fault: the
// module refusing every request, and the device's no-wait mode, for the rows that say how they
// meet it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
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
#include "manner.h"
#include "remote_master.h"
#include "sim_device.h"
#include "sim_network.h"
#include "sim_rack.h"
#include "temp_folder.h"
#include "zeb.h"
#include "zeb_points.h"

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
constexpr uint32_t kHeldLastError = 0x0000BEEF;

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
// It is also a controller module whose files live in `root`.
racksim::Rack table_rack(const std::string& root) {
    racksim::Module m("press", kModuleNumber, racksim::kKindNode);  // with a program space
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
    install_remote_master(m.shared_ram, {0, 0, 0});
    m.controller_os.root = root;
    m.controller_os.last_error = kHeldLastError;
    racksim::Rack rack;
    rack.add_module(std::move(m));
    return rack;
}

// One cell: a simulated network with the table's module on it, and a device opened on it. The
// module answers one keep-alive in its manner before the faults start, so that it has a reply
// to copy when its manner sends the previous reply first; what it serves from then on is
// recorded.
struct Cell {
    Cell(const racksim::Faults& faults, const racksim::MannerSetting& manner)
        : sim(*net, table_rack(files().path())), dev(sim.endpoint(0), {kTimeout, kRetries, 0}) {
        racksim::Module& m = sim.module(0);
        m.manner = manner;
        racksim::start_manner(manner, m.faults.seed, m.manner_state);
        primed = ZEBPetDevice(&dev.device);
        dev.device.ResendCount = dev.device.CrcErrorCount = dev.device.LateReplyCount = 0;
        m.faults = faults;
        m.faults.rng_state = faults.seed;
        sim.record(true);
    }

    const racksim::Module& module() { return sim.module(0); }

    // The controller's folder, one for every cell: no call of the table touches its files.
    static const TempFolder& files() {
        static const TempFolder folder;
        return folder;
    }

    ScopedSimNetwork net;
    SimRack sim;
    IpDevice dev;
    uint32_t primed = 0;
};

// How an operation meets the network.
enum class Shape {
    single,        // one request, one reply
    acknowledged,  // one request, an acknowledgement at once, then the final reply
    parallel,      // the multi-device scheduler (here with one device)
    discovery,     // one broadcast query; the answers are listed
    mailbox,       // `exchanges` single exchanges in a row, none of them warning
};

enum class Warns { no, yes };  // a reply that needed re-sends gives ZEBWARN_RETRIED

// What an operation does on a device in no-wait mode: sends and returns ZEBERR_NO_PACKET
// without waiting (honoured), or runs as usual (ignored).
enum class NoWait { unstated, ignored, honoured };

// What reaches the caller after a clean exchange: bytes at the start of its buffer, worked out
// from the module as it is after the call (and the faults it played), and whether *size (or
// the count) says how many, in entries of `entry_size` bytes.
struct Delivery {
    std::function<Bytes(Cell&, const racksim::Faults&)> data;  // empty: the call takes no buffer
    bool sized = false;
    size_t entry_size = 1;
};

// How an operation takes a module's refusal (a nonzero status word) into its result.
enum class StatusRule {
    none,    // its replies carry no status word: a refusing module serves it as usual
    unread,  // it does not read its reply: the result is the exchange's
    io,      // bit 15 set, then sign-extended
    sign,    // sign-extended
};

// What a refusal leaves the caller besides the result.
enum class RefusedDelivery {
    nothing,  // the buffer and size as they were
    empty,    // a size of 0 (the reply's data after the status word: none)
    count,    // the count the reply carries (0) when it carries one; as it was for the status
              // word alone
    outputs,  // the outputs the reply carries (the failure value 0) when it carries them; none
              // for the status word alone
};

struct Refused {
    StatusRule rule = StatusRule::none;
    RefusedDelivery delivers = RefusedDelivery::nothing;
};
constexpr Refused kServed{};
constexpr Refused kUnreadStatus{StatusRule::unread};
constexpr Refused kIo{StatusRule::io, RefusedDelivery::empty};
constexpr Refused kIoNoData{StatusRule::io};
constexpr Refused kSigned{StatusRule::sign};
constexpr Refused kSignedEmpty{StatusRule::sign, RefusedDelivery::empty};
constexpr Refused kSignedCount{StatusRule::sign, RefusedDelivery::count};
constexpr Refused kSignedOutputs{StatusRule::sign, RefusedDelivery::outputs};

struct Operation {
    const char* name;
    Shape shape;
    Warns warns;
    Bytes prefix;  // what the caller's buffer starts with
    uint32_t (*call)(Cell&, CallerBuffer&);
    Delivery delivers;
    NoWait no_wait = NoWait::unstated;
    uint16_t exchanges = 1;
    Refused refused;
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

// ---- I/O as points ----
// The caller's image is larger than its buffer: what a call leaves in it is laid out in the
// buffer, and an image the call left alone lays out as kUnwritten bytes.

// The table's module's image as its base definition lays it out, every value kUnwritten (the
// outputs a write sends, recognisable wherever they land).
ZEBImage module_image(const racksim::Module& m) {
    ZEBImage image;
    const Bytes def = racksim::encode_base_def(m, true);
    ZEBImageFromBaseDef(&image, def.data(), static_cast<uint16_t>(def.size()));
    std::fill(image.Values, image.Values + image.ValueBytes, kUnwritten);
    return image;
}

// The image's head: its counts, then the records of as many slots as the module has.
Bytes image_head(const ZEBImage& image, const racksim::Module& m) {
    const auto* raw = reinterpret_cast<const uint8_t*>(&image);
    return Bytes(raw,
                 raw + offsetof(ZEBImage, Slots) + m.base.slots.size() * sizeof(ZEBSlotPoints));
}

Bytes image_values(const ZEBImage& image) {
    return Bytes(image.Values, image.Values + std::min<size_t>(image.ValueBytes, kCapacity));
}

void into(CallerBuffer& b, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), b.bytes.begin());
}

uint32_t read_image_layout(Cell& c, CallerBuffer& b) {
    ZEBImage image;
    std::memset(&image, kUnwritten, sizeof image);
    const uint32_t result = ZEBReadImageLayout(&c.dev.device, &image);
    into(b, image_head(image, c.module()));
    return result;
}

uint32_t read_inputs(Cell& c, CallerBuffer& b) {
    ZEBImage image = module_image(c.module());
    const uint32_t result = ZEBReadInputs(&c.dev.device, &image);
    into(b, image_values(image));
    return result;
}

uint32_t write_outputs(Cell& c, CallerBuffer& b) {
    ZEBImage image = module_image(c.module());
    const uint32_t result = ZEBWriteOutputs(&c.dev.device, &image);
    into(b, image_values(image));
    return result;
}

// ---- Controller requests, memory and serial pass-through ----

// Bytes the caller sends, recognisable wherever they land.
const Bytes kBlock = {0x5A, 0xA5, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xF0, 0x0F};
const Bytes kMessage = {0x4E, 0x21, 0x10, 0x00, 0x17};

// Places in the module the calls below use: the controller's registers (type 1) and outputs
// (type 3), RAM (memory type 1) and ROM (type 3, from 0x8000), and shared RAM of base 0, slot 0.
constexpr uint16_t kControllerAddress = 0x20;
constexpr uint32_t kRamAddress = 0x100;
constexpr uint32_t kRomAddress = 0x8020;
constexpr uint16_t kSharedAddress = 0x10;
constexpr uint16_t kFlagged = 0x8000;
// Plain serial operations go to the module's default port, 1; the Ex rows name port 2.
constexpr int kNamedPort = 2;

racksim::Module& module_of(Cell& c) {
    return c.sim.module(0);
}

Bytes slice(const Bytes& b, size_t at, size_t n) {
    if (at > b.size() || n > b.size() - at) {
        ADD_FAILURE() << "no bytes " << at << " to " << at + n << " in " << b.size();
        return {};
    }
    return Bytes(b.begin() + static_cast<ptrdiff_t>(at),
                 b.begin() + static_cast<ptrdiff_t>(at + n));
}

// A count the caller passes by pointer, laid out at the start of its buffer after the call; it
// starts out as kUnwritten bytes, so an untouched count reads as an untouched buffer.
template <class Call>
uint32_t count_into(CallerBuffer& b, Call call) {
    uint16_t n = kUnwritten * 0x101;
    const uint32_t result = call(&n);
    b.bytes[0] = static_cast<uint8_t>(n);
    b.bytes[1] = static_cast<uint8_t>(n >> 8);
    return result;
}

racksim::SerialPort& port_of(Cell& c, int n) {
    return module_of(c).serial.ports.at(n);
}

// Bytes that came in on a port before the call.
void received(Cell& c, int port, const Bytes& bytes) {
    port_of(c, port).deliver(bytes.data(), bytes.size());
}

// Bytes a port still has to send before the call: at 9600 baud a second's worth.
void queued(Cell& c, int port) {
    const Bytes bytes(960, 0x55);
    port_of(c, port).transmit(c.sim.rack().clock().now_ms(), bytes.data(), bytes.size());
}

uint32_t ccm_read(Cell& c, CallerBuffer& b) {
    Bytes& registers = module_of(c).controller.areas.at(1).data;
    std::copy(kBlock.begin(), kBlock.end(), registers.begin() + kControllerAddress);
    return ZEBCCMRequest(&c.dev.device, 0, 1, kControllerAddress, 12, b.data());
}

uint32_t ccm_write(Cell& c, CallerBuffer& b) {
    return ZEBCCMRequest(&c.dev.device, 1, 3, kControllerAddress, 12, b.data());
}

uint32_t kseq_request(Cell& c, CallerBuffer& b) {
    return ZEBKSEQRequest(&c.dev.device, static_cast<uint32_t>(kMessage.size()), b.data(), &b.size);
}

uint32_t read_memory(Cell& c, CallerBuffer& b) {
    return ZEBReadMemory(&c.dev.device, 3, kRomAddress, 16, b.data());
}

uint32_t write_memory(Cell& c, CallerBuffer& b) {
    return ZEBWriteMemory(&c.dev.device, 1, kRamAddress, 12, b.data());
}

// Writes the block into RAM, then reads it back with the bytes around it, and reads ROM.
uint32_t access_memory(Cell& c, CallerBuffer& b) {
    Bytes source = kBlock;
    ZEBMemoryItem items[] = {
        {1, 1, kRamAddress, 12, source.data()},
        {0, 1, kRamAddress - 2, 16, b.data()},
        {0, 3, kRomAddress, 8, b.data() + 16},
    };
    return ZEBAccessMemory(&c.dev.device, items, 3);
}

// The count of entries, then the entries.
uint32_t enum_memory(Cell& c, CallerBuffer& b) {
    auto* areas = reinterpret_cast<ZEBMemoryArea*>(b.data() + 2);
    return count_into(b, [&](uint16_t* n) { return ZEBENumMemory(&c.dev.device, n, areas); });
}

uint32_t read_shared_ram(Cell& c, CallerBuffer& b) {
    Bytes& plain = module_of(c).shared_ram.regions.at({0, 0}).plain;
    std::copy(kBlock.begin(), kBlock.end(), plain.begin() + kSharedAddress);
    return ZEBReadSharedRAM(&c.dev.device, 0, 0, kSharedAddress, 12, b.data());
}

uint32_t write_shared_ram(Cell& c, CallerBuffer& b) {
    return ZEBWriteSharedRAM(&c.dev.device, 0, 0, kFlagged | kSharedAddress, 12, b.data());
}

uint32_t write_comm(Cell& c, CallerBuffer& b) {
    return ZEBWriteComm(&c.dev.device, 12, b.data());
}

uint32_t write_comm_ex(Cell& c, CallerBuffer& b) {
    return ZEBWriteCommEx(&c.dev.device, kNamedPort, 12, b.data());
}

uint32_t read_comm(Cell& c, CallerBuffer& b) {
    received(c, 1, kBlock);
    return ZEBReadComm(&c.dev.device, &b.size, b.data());
}

uint32_t read_comm_ex(Cell& c, CallerBuffer& b) {
    received(c, kNamedPort, kBlock);
    return ZEBReadCommEx(&c.dev.device, kNamedPort, &b.size, b.data());
}

uint32_t rx_available(Cell& c, CallerBuffer& b) {
    received(c, 1, kBlock);
    return count_into(b, [&](uint16_t* n) { return ZEBGetRXAvailable(&c.dev.device, n); });
}

uint32_t rx_available_ex(Cell& c, CallerBuffer& b) {
    received(c, kNamedPort, kBlock);
    return count_into(
        b, [&](uint16_t* n) { return ZEBGetRXAvailableEx(&c.dev.device, kNamedPort, n); });
}

uint32_t tx_left(Cell& c, CallerBuffer& b) {
    queued(c, 1);
    return count_into(b, [&](uint16_t* n) { return ZEBGetTXLeft(&c.dev.device, n); });
}

uint32_t tx_left_ex(Cell& c, CallerBuffer& b) {
    queued(c, kNamedPort);
    return count_into(b, [&](uint16_t* n) { return ZEBGetTXLeftEx(&c.dev.device, kNamedPort, n); });
}

uint32_t flush_rx(Cell& c, CallerBuffer&) {
    received(c, 1, kBlock);
    return ZEBFlushRXQueue(&c.dev.device);
}

uint32_t flush_rx_ex(Cell& c, CallerBuffer&) {
    received(c, kNamedPort, kBlock);
    return ZEBFlushRXQueueEx(&c.dev.device, kNamedPort);
}

uint32_t flush_tx_ex(Cell& c, CallerBuffer&) {
    queued(c, kNamedPort);
    return ZEBFlushTXQueueEx(&c.dev.device, kNamedPort);
}

ZEBSerialSetup* setup_in(CallerBuffer& b) {
    return reinterpret_cast<ZEBSerialSetup*>(b.data());
}

uint32_t setup_port(Cell& c, CallerBuffer& b) {
    return ZEBSetupSerialPort(&c.dev.device, setup_in(b), 0);
}

// Waits for the port to take the setup: an acknowledgement, then the answer.
uint32_t setup_port_ex(Cell& c, CallerBuffer& b) {
    return ZEBSetupSerialPortEx(&c.dev.device, kNamedPort, setup_in(b), 1);
}

uint32_t read_port_setup(Cell& c, CallerBuffer& b) {
    return ZEBReadSerialPortSetup(&c.dev.device, setup_in(b));
}

uint32_t read_port_setup_ex(Cell& c, CallerBuffer& b) {
    return ZEBReadSerialPortSetupEx(&c.dev.device, kNamedPort, setup_in(b));
}

// The remote master behind shared RAM base 0, slot 0: a 12-byte chunk of area 2 travels in four
// exchanges (control block, data or start, poll, start or data); a command takes three
// (control block, start, poll). Command 3 to a node that is not in the rack completes.
constexpr uint16_t kMailboxWindow = 0x3C;
const Bytes kForwardParams = {0x99, 0, 0, 0, 4, 0, 0, 0, 0, 8};

uint32_t write_vireo(Cell& c, CallerBuffer& b) {
    return ZEBWriteVireoData(&c.dev.device, 0, 0, 2, b.data(), 12, 0x20);
}
uint32_t read_vireo(Cell& c, CallerBuffer& b) {
    return ZEBReadVireoData(&c.dev.device, 0, 0, 2, b.data(), 12, 0x20);
}
uint32_t vireo_command(Cell& c, CallerBuffer&) {
    return ZEBDoVireoCommand(&c.dev.device, 0, 0, 3);
}
uint32_t vireo_command_ex(Cell& c, CallerBuffer&) {
    return ZEBDoVireoCommandEx(&c.dev.device, 0, 0, 3, kForwardParams.data(), 10);
}
uint32_t xcpu_write_vireo(Cell& c, CallerBuffer& b) {
    return XCPUWriteVireoData(&c.dev.device, 0, 0, 2, b.data(), 12, 0x20);
}
uint32_t xcpu_read_vireo(Cell& c, CallerBuffer& b) {
    return XCPUReadVireoData(&c.dev.device, 0, 0, 2, b.data(), 12, 0x20);
}
uint32_t xcpu_vireo_command(Cell& c, CallerBuffer&) {
    return XCPUDoVireoCommand(&c.dev.device, 0, 0, 3);
}
uint32_t xcpu_vireo_command_ex(Cell& c, CallerBuffer&) {
    return XCPUDoVireoCommandEx(&c.dev.device, 0, 0, 3, kForwardParams.data(), 10);
}

// The controller services' result is a signed 32-bit value; the table compares it as the
// library's unsigned result.
uint32_t xcpu_get_last_error(Cell& c, CallerBuffer& b) {
    return static_cast<uint32_t>(
        XCPUGetLastError(&c.dev.device, reinterpret_cast<uint32_t*>(b.data())));
}

uint32_t xcpu_set_last_error(Cell& c, CallerBuffer&) {
    return static_cast<uint32_t>(XCPUSetLastError(&c.dev.device, 0x1234));
}

uint32_t xcpu_run_program(Cell& c, CallerBuffer&) {
    return static_cast<uint32_t>(XCPURunProgram(&c.dev.device, "logger.exe -v"));
}

uint32_t xcpu_set_os_load(Cell& c, CallerBuffer&) {
    return static_cast<uint32_t>(XCPUSetOSLoad(&c.dev.device, 7));
}

uint32_t xcpu_reboot(Cell& c, CallerBuffer&) {
    return static_cast<uint32_t>(XCPUReboot(&c.dev.device));
}

uint32_t write_program_space(Cell& c, CallerBuffer& b) {
    return ZEBWriteTaviethernetPgmSpace(&c.dev.device, b.data(),
                                        static_cast<uint16_t>(kBlock.size()));
}

// What it writes comes back through the port's loopback.
uint32_t access_comm(Cell& c, CallerBuffer& b) {
    return ZEBAccessComm(&c.dev.device, 12, kBlock.data(), &b.size, b.data());
}

const racksim::LineSetup kFastSetup = racksim::line_setup(19200);
const racksim::LineSetup kSevenEvenSetup = racksim::line_setup(38400, 7, 2);
const Bytes kFastPrefix(kFastSetup.begin(), kFastSetup.end());
const Bytes kSevenEvenPrefix(kSevenEvenSetup.begin(), kSevenEvenSetup.end());

// What the module holds after the call, read where the caller's buffer was written from or to.
Delivery module_bytes(Bytes (*of)(Cell&)) {
    return {[of](Cell& c, const racksim::Faults&) { return of(c); }, false};
}

Delivery fixed(const Bytes& bytes, bool sized) {
    return {[bytes](Cell&, const racksim::Faults&) { return bytes; }, sized};
}

// A count laid out by count_into.
Delivery count_of(size_t (*of)(Cell&)) {
    return {[of](Cell& c, const racksim::Faults&) {
                const size_t n = of(c);
                return Bytes{static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
            },
            false};
}

Bytes controller_registers(Cell& c) {
    return slice(module_of(c).controller.areas.at(1).data, kControllerAddress, 12);
}

Bytes controller_outputs(Cell& c) {
    return slice(module_of(c).controller.areas.at(3).data, kControllerAddress, 12);
}

Bytes ram_block(Cell& c) {
    return slice(module_of(c).memory.areas.at(0).data, kRamAddress, 12);
}

Bytes rom_block(Cell& c) {
    return slice(module_of(c).memory.areas.at(2).data, kRomAddress - 0x8000, 16);
}

Bytes batch_reads(Cell& c) {
    Bytes b = slice(module_of(c).memory.areas.at(0).data, kRamAddress - 2, 16);
    const Bytes rom = slice(module_of(c).memory.areas.at(2).data, kRomAddress - 0x8000, 8);
    b.insert(b.end(), rom.begin(), rom.end());
    return b;
}

Bytes listing(Cell& c) {
    const std::vector<racksim::MemoryArea>& areas = module_of(c).memory.areas;
    Bytes b{static_cast<uint8_t>(areas.size()), 0};
    for (const racksim::MemoryArea& a : areas) {
        const Bytes e = racksim::listing_entry(a);
        b.insert(b.end(), e.begin(), e.end());
    }
    return b;
}

Bytes shared_flagged(Cell& c) {
    return slice(module_of(c).shared_ram.regions.at({0, 0}).flagged, kSharedAddress, 12);
}

// The mailbox's data window, where the last chunk of a transfer passed.
Bytes mailbox_window(Cell& c) {
    return slice(module_of(c).shared_ram.regions.at({0, 0}).flagged, kMailboxWindow, 12);
}

Bytes program_space(Cell& c) {
    return module_of(c).program.last_write;
}

Bytes shared_plain(Cell& c) {
    return slice(module_of(c).shared_ram.regions.at({0, 0}).plain, kSharedAddress, 12);
}

// What a port holds: received, then still to send. A write lands there once.
Bytes port_bytes(Cell& c, int n) {
    racksim::SerialPort copy = port_of(c, n);
    Bytes b = copy.receive(racksim::kSerialQueueSize);
    copy.advance(UINT64_MAX);
    const Bytes rest = copy.receive(racksim::kSerialQueueSize);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

Bytes setup_of(Cell& c, int n) {
    const racksim::LineSetup& s = port_of(c, n).setup();
    return Bytes(s.begin(), s.end());
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

// The record counts the traffic before its own reply left, when the module took the request:
// the datagrams that went with the reply (copies before it, padding) are taken back.
Delivery ethernet_stats() {
    return {[](Cell& c, const racksim::Faults&) {
                racksim::Module m = c.module();
                const SimRack::Served& last = c.sim.served().back();
                for (const racksim::Outgoing& o : last.replies) {
                    --m.diagnostics.ethernet.frames_out;
                    m.diagnostics.ethernet.bytes_out -= static_cast<uint32_t>(o.bytes.size());
                }
                return racksim::ethernet_stats(m, last.at);
            },
            true};
}

// The block as it was when the module took the request, however late its reply.
Delivery module_status() {
    return {[](Cell& c, const racksim::Faults&) {
                return racksim::module_status(c.module(), c.sim.served().back().at);
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

// The image laid out from the module's base definition.
Delivery image_layout() {
    return {[](Cell& c, const racksim::Faults&) {
                ZEBImage image;
                std::memset(&image, kUnwritten, sizeof image);
                const Bytes def = racksim::encode_base_def(c.module(), true);
                ZEBImageFromBaseDef(&image, def.data(), static_cast<uint16_t>(def.size()));
                return image_head(image, c.module());
            },
            false};
}

// The caller's image with the inputs the module holds after the call taken into it.
Delivery inputs_taken() {
    return {[](Cell& c, const racksim::Faults&) {
                ZEBImage image = module_image(c.module());
                const Bytes in = racksim::encode_inputs(c.module(), true);
                ZEBDecodeStream(&image, in.data(), static_cast<uint16_t>(in.size()));
                return image_values(image);
            },
            false};
}

const Delivery kEmpty{[](Cell&, const racksim::Faults&) { return Bytes{}; }, true};
const Delivery kNoBuffer{};

// clang-format off
const std::vector<Operation>& operations() {
    using S = Shape;
    static const std::vector<Operation> rows = {
        // name                  shape            warns      prefix   call              delivers; no wait, exchanges, refused
        {"ZEBReadVersionInfo",  S::single,       Warns::no,  {},      read_version,     block(racksim::version_block), NoWait::unstated, 1, kServed},
        {"ZEBReadSupportInfo",  S::single,       Warns::no,  {},      read_support,     block(racksim::support_block), NoWait::unstated, 1, kServed},
        {"ZEBReadDeviceDef",    S::single,       Warns::no,  {},      read_device_def,  block(racksim::device_definition), NoWait::unstated, 1, kServed},
        {"ZEBReadBaseDef",      S::single,       Warns::no,  kMarker, read_base_def,    base_def(true), NoWait::unstated, 1, kServed},
        {"ZEBInitBaseDef",      S::single,       Warns::no,  {},      init_base_def,    base_def(false), NoWait::unstated, 1, kServed},
        {"ZEBRescanBase",       S::single,       Warns::no,  {},      rescan_base,      base_def(false), NoWait::unstated, 1, kServed},
        {"ZEBWriteBaseDef",     S::acknowledged, Warns::yes, {},      write_base_def,   kEmpty, NoWait::unstated, 1, kSigned},
        {"ZEBReadIO",           S::single,       Warns::yes, kMarker, read_io,          inputs(true),  NoWait::honoured, 1, kIo},
        {"ZEBWriteIO",          S::single,       Warns::yes, {},      write_io,         inputs(true),  NoWait::honoured, 1, kIo},
        {"ZEBWriteIONoRead",    S::single,       Warns::yes, {},      write_io_no_read, kNoBuffer,     NoWait::honoured, 1, kIoNoData},
        {"ZEBReadIOEx",         S::parallel,     Warns::no,  {},      read_io_ex,       inputs(false), NoWait::ignored, 1, kIo},
        {"ZEBWriteIOEx",        S::parallel,     Warns::no,  {},      write_io_ex,      inputs(false), NoWait::ignored, 1, kIo},
        {"ZEBCCMRequestRead",   S::acknowledged, Warns::no,  {},      ccm_read,         module_bytes(controller_registers), NoWait::honoured, 1, kSigned},
        {"ZEBCCMRequestWrite",  S::acknowledged, Warns::no,  kBlock,  ccm_write,        module_bytes(controller_outputs), NoWait::honoured, 1, kSigned},
        {"ZEBKSEQRequest",      S::acknowledged, Warns::no,  kMessage, kseq_request,    fixed(kMessage, true), NoWait::honoured, 1, kSigned},
        {"ZEBReadMemory",       S::single,       Warns::no,  {},      read_memory,      module_bytes(rom_block),      NoWait::ignored, 1, kSigned},
        {"ZEBWriteMemory",      S::single,       Warns::no,  kBlock,  write_memory,     module_bytes(ram_block),      NoWait::ignored, 1, kSigned},
        {"ZEBAccessMemory",     S::single,       Warns::no,  {},      access_memory,    module_bytes(batch_reads),    NoWait::ignored, 1, kSigned},
        {"ZEBENumMemory",       S::single,       Warns::no,  {},      enum_memory,      module_bytes(listing),        NoWait::ignored, 1, kSignedCount},
        {"ZEBReadSharedRAM",    S::single,       Warns::no,  {},      read_shared_ram,  module_bytes(shared_plain),   NoWait::ignored, 1, kSigned},
        {"ZEBWriteSharedRAM",   S::single,       Warns::no,  kBlock,  write_shared_ram, module_bytes(shared_flagged), NoWait::ignored, 1, kSigned},
        {"ZEBWriteComm",        S::single,       Warns::no,  kBlock,  write_comm,       module_bytes([](Cell& c) { return port_bytes(c, 1); }), NoWait::ignored, 1, kSigned},
        {"ZEBReadComm",         S::single,       Warns::no,  {},      read_comm,        fixed(kBlock, true),          NoWait::ignored, 1, kSignedCount},
        {"ZEBGetRXAvailable",   S::single,       Warns::no,  {},      rx_available,     count_of([](Cell& c) { return port_of(c, 1).rx_count(); }), NoWait::ignored, 1, kSignedCount},
        {"ZEBFlushRXQueue",     S::single,       Warns::no,  {},      flush_rx,         kNoBuffer,                    NoWait::ignored, 1, kSigned},
        {"ZEBSetupSerialPort",  S::single,       Warns::no,  kFastPrefix, setup_port,   module_bytes([](Cell& c) { return setup_of(c, 1); }), NoWait::ignored, 1, kSigned},
        {"ZEBReadSerialPortSetup", S::single,    Warns::no,  {},      read_port_setup,       module_bytes([](Cell& c) { return setup_of(c, 1); }), NoWait::ignored, 1, kServed},
        {"ZEBGetTXLeft",        S::single,       Warns::no,  {},      tx_left,          count_of([](Cell& c) { return port_of(c, 1).tx_count(); }), NoWait::ignored, 1, kSignedCount},
        {"ZEBWriteCommEx",      S::single,       Warns::no,  kBlock,  write_comm_ex,    module_bytes([](Cell& c) { return port_bytes(c, kNamedPort); }), NoWait::ignored, 1, kSigned},
        {"ZEBReadCommEx",       S::single,       Warns::no,  {},      read_comm_ex,     fixed(kBlock, true),          NoWait::ignored, 1, kSignedCount},
        {"ZEBGetRXAvailableEx", S::single,       Warns::no,  {},      rx_available_ex,  count_of([](Cell& c) { return port_of(c, kNamedPort).rx_count(); }), NoWait::ignored, 1, kSignedCount},
        {"ZEBFlushRXQueueEx",   S::single,       Warns::no,  {},      flush_rx_ex,      kNoBuffer,                    NoWait::ignored, 1, kSigned},
        {"ZEBFlushTXQueueEx",   S::single,       Warns::no,  {},      flush_tx_ex,      kNoBuffer,                    NoWait::ignored, 1, kSigned},
        {"ZEBSetupSerialPortEx", S::acknowledged, Warns::no, kSevenEvenPrefix, setup_port_ex, module_bytes([](Cell& c) { return setup_of(c, kNamedPort); }), NoWait::ignored, 1, kSigned},
        {"ZEBReadSerialPortSetupEx", S::single,  Warns::no,  {},      read_port_setup_ex, module_bytes([](Cell& c) { return setup_of(c, kNamedPort); }), NoWait::ignored, 1, kServed},
        {"ZEBGetTXLeftEx",      S::single,       Warns::no,  {},      tx_left_ex,       count_of([](Cell& c) { return port_of(c, kNamedPort).tx_count(); }), NoWait::ignored, 1, kSignedCount},
        {"ZEBAccessComm",       S::single,       Warns::no,  {},      access_comm,      fixed(kBlock, true),          NoWait::ignored, 1, kSignedCount},
        {"ZEBQueryDevices",     S::discovery,    Warns::no,  {},      query_devices,    listed(), NoWait::unstated, 1, kServed},
        {"ZEBQueryDeviceData",  S::discovery,    Warns::no,  {},      query_device_data, listed(), NoWait::unstated, 1, kServed},
        {"ZEBReadSetupData",    S::single,       Warns::no,  {},      read_setup,       record(kHeldType), NoWait::ignored, 1, kSignedEmpty},
        {"ZEBWriteSetupData",   S::acknowledged, Warns::yes, {},      write_setup,      kNoBuffer,     NoWait::ignored, 1, kSigned},
        {"ZEBDeleteSetupData",  S::acknowledged, Warns::yes, {},      delete_setup,     kNoBuffer,     NoWait::ignored, 1, kSigned},
        {"ZEBEnumSetupData",    S::single,       Warns::no,  {},      enum_setup,       types(),       NoWait::ignored, 1, kSignedCount},
        {"ZEBReadConfigData",   S::single,       Warns::yes, kMarker, read_config,      config(),      NoWait::honoured, 1, kIo},
        {"ZEBWriteConfigData",  S::single,       Warns::yes, {},      write_config,     config(),      NoWait::honoured, 1, kIo},
        {"ZEBPetDevice",        S::single,       Warns::no,  {},      pet,              kNoBuffer,     NoWait::ignored, 1, kUnreadStatus},
        {"ZEBReadEthernetStats", S::single,      Warns::no,  {},      read_ethernet_stats, ethernet_stats(), NoWait::ignored, 1, kServed},
        {"ZEBReadModuleStatus", S::single,       Warns::no,  {},      read_module_status, module_status(), NoWait::ignored, 1, kSignedEmpty},
        {"ZEBWriteVireoData",   S::mailbox,      Warns::no,  kBlock,  write_vireo,      module_bytes(mailbox_window), NoWait::ignored, 4, kSigned},
        {"ZEBReadVireoData",    S::mailbox,      Warns::no,  {},      read_vireo,       module_bytes(mailbox_window), NoWait::ignored, 4, kSigned},
        {"ZEBDoVireoCommand",   S::mailbox,      Warns::no,  {},      vireo_command,    kNoBuffer,     NoWait::ignored, 3, kSigned},
        {"ZEBDoVireoCommandEx", S::mailbox,      Warns::no,  {},      vireo_command_ex, kNoBuffer,     NoWait::ignored, 3, kSigned},
        {"XCPUWriteVireoData",  S::mailbox,      Warns::no,  kBlock,  xcpu_write_vireo, module_bytes(mailbox_window), NoWait::ignored, 4, kSigned},
        {"XCPUReadVireoData",   S::mailbox,      Warns::no,  {},      xcpu_read_vireo,  module_bytes(mailbox_window), NoWait::ignored, 4, kSigned},
        {"XCPUDoVireoCommand",  S::mailbox,      Warns::no,  {},      xcpu_vireo_command, kNoBuffer,   NoWait::ignored, 3, kSigned},
        {"XCPUDoVireoCommandEx", S::mailbox,     Warns::no,  {},      xcpu_vireo_command_ex, kNoBuffer, NoWait::ignored, 3, kSigned},
        {"XCPUGetLastError",    S::single,       Warns::no,  {},      xcpu_get_last_error, fixed({0xEF, 0xBE, 0, 0}, false), NoWait::ignored, 1, kSignedOutputs},
        {"XCPUSetLastError",    S::single,       Warns::no,  {},      xcpu_set_last_error, kNoBuffer,  NoWait::ignored, 1, kSigned},
        {"XCPURunProgram",      S::single,       Warns::no,  {},      xcpu_run_program, kNoBuffer,     NoWait::ignored, 1, kSigned},
        {"XCPUSetOSLoad",       S::single,       Warns::no,  {},      xcpu_set_os_load, kNoBuffer,     NoWait::ignored, 1, kUnreadStatus},
        {"XCPUReboot",          S::single,       Warns::no,  {},      xcpu_reboot,      kNoBuffer,     NoWait::ignored, 1, kUnreadStatus},
        {"ZEBWriteTaviethernetPgmSpace", S::acknowledged, Warns::yes, kBlock, write_program_space, module_bytes(program_space), NoWait::ignored, 1, kSigned},
        {"ZEBReadImageLayout",  S::single,       Warns::no,  {},      read_image_layout, image_layout(), NoWait::unstated, 1, kServed},
        {"ZEBReadInputs",       S::single,       Warns::yes, {},      read_inputs,      inputs_taken(), NoWait::honoured, 1, kIoNoData},
        {"ZEBWriteOutputs",     S::single,       Warns::yes, {},      write_outputs,    inputs_taken(), NoWait::honoured, 1, kIoNoData},
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
    refused,  // every request whose replies carry a status word is refused, nothing carried out
    no_wait,  // no fault: the device is in no-wait mode
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

// A refusal whose conversions differ by rule: 0x8042 with bit 15 set, 0x42 sign-extended.
constexpr uint16_t kRefusal = 0x0042;

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
        {"refused", with([](auto& f) { f.refuse_status = kRefusal; }), Effect::refused},
        {"no_wait", {}, Effect::no_wait},
    };
    return cases;
}

// The manners the table runs in: every named one, and manners drawn for each request (from a
// seed of each cell's own).
struct MannerCase {
    std::string name;
    racksim::MannerSetting setting;
};

const std::vector<MannerCase>& manner_cases() {
    static const std::vector<MannerCase> cases = [] {
        std::vector<MannerCase> v;
        for (const racksim::NamedManner& n : racksim::named_manners()) {
            v.push_back({n.name, {n.manner, false, 0}});
        }
        v.push_back({racksim::kRandomManner, racksim::random_manner()});
        return v;
    }();
    return cases;
}

// The manners the module draws for the requests it answers, in order, replayed from its
// generator as it stood before the call.
class Draws {
  public:
    Draws(const racksim::MannerSetting& setting, const racksim::MannerState& state)
        : setting_(setting), state_(state) {}
    const racksim::Manner& operator[](size_t k) {
        while (drawn_.size() <= k) drawn_.push_back(racksim::next_manner(setting_, state_));
        return drawn_[k];
    }
    // Copies of the previous reply sent first by the first n requests answered.
    uint16_t copies(size_t n) {
        uint16_t sum = 0;
        for (size_t k = 0; k < n; ++k) sum = static_cast<uint16_t>(sum + (*this)[k].previous_first);
        return sum;
    }

  private:
    racksim::MannerSetting setting_;
    racksim::MannerState state_;
    std::vector<racksim::Manner> drawn_;
};

// How many requests in a row the module loses from now on (up to all the tries a call makes),
// by replaying a copy of its faults.
uint32_t losses_in_a_row(racksim::Faults faults) {
    uint32_t lost = 0;
    std::string why;
    while (lost <= kRetries && racksim::drop_request(faults, &why)) ++lost;
    return lost;
}

// Replays the module's faults over `exchanges` exchanges in a row: the re-sends they need, how
// many were answered, and whether one of them loses every try (which ends the run).
struct RunLosses {
    uint16_t resends = 0;
    uint16_t answered = 0;
    bool timed_out = false;
};
RunLosses losses_over(racksim::Faults faults, uint16_t exchanges) {
    RunLosses r;
    std::string why;
    for (uint16_t k = 0; k < exchanges; ++k) {
        uint32_t lost = 0;
        while (lost <= kRetries && racksim::drop_request(faults, &why)) ++lost;
        if (lost > kRetries) {
            r.resends = static_cast<uint16_t>(r.resends + kRetries);
            r.timed_out = true;
            return r;
        }
        r.resends = static_cast<uint16_t>(r.resends + lost);
        ++r.answered;
    }
    return r;
}

// The datagrams the module sent that reached the host before the call gave up: every one of
// them is a reply to an earlier try when no reply is taken.
uint16_t arrived_before(Cell& c, uint64_t end) {
    uint16_t n = 0;
    for (const SimRack::Served& s : c.sim.served()) {
        for (const racksim::Outgoing& o : s.replies)
            n = static_cast<uint16_t>(n + (s.at + o.delay_ms < end));
    }
    return n;
}

// Copies passed over when the module sends each reply of the first request it answered twice.
// The copy of a single reply stays queued after the call. The acknowledgement's copy, which
// comes while the final reply is awaited, is held a moment in case a different reply follows:
// the final reply's copy does, so the held one is passed over and the other copy stays queued.
// When the acknowledgement is the final reply byte for byte, the held copy is the final reply,
// and the copies of the final reply that came with it were met while it was held.
uint16_t copies_passed_over(Cell& c, bool copy_first) {
    for (const SimRack::Served& s : c.sim.served()) {
        if (s.replies.empty()) continue;
        const size_t first = copy_first ? 1 : 0;
        if (s.replies.size() - first < 4) return 0;
        const racksim::Outgoing& ack = s.replies[first];
        if (ack.bytes != s.replies.back().bytes) return 1;
        uint16_t met = 0;
        for (size_t k = first + 2; k < s.replies.size(); ++k) {
            met = static_cast<uint16_t>(met + (s.replies[k].delay_ms == ack.delay_ms));
        }
        return met;
    }
    return 0;
}

struct Outcome {
    uint32_t result = 0;
    uint16_t resends = 0;
    uint16_t crc_errors = 0;
    uint16_t late = 0;
    Bytes buffer;  // the caller's whole buffer, guard byte included
    uint16_t size = kCapacity;
};

uint32_t converted(StatusRule rule, uint16_t status) {
    const auto extended = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(status)));
    switch (rule) {
        case StatusRule::io:
            return extended | 0x8000;
        case StatusRule::sign:
            return extended;
        default:
            return 0;  // the exchange's own result
    }
}

// What a refused call gives: the converted status, and what the refusal carried in the form the
// module chose for it.
void refused(const Operation& op, const racksim::Manner& manner, Outcome& e) {
    e.result = converted(op.refused.rule, kRefusal);
    const bool alone = manner.refusal == racksim::RefusalForm::status_alone;
    switch (op.refused.delivers) {
        case RefusedDelivery::nothing:
            break;
        case RefusedDelivery::empty:
            e.size = 0;
            break;
        case RefusedDelivery::count:
            if (alone) break;
            if (op.delivers.sized) {
                e.size = 0;
            } else {
                e.buffer[0] = e.buffer[1] = 0;
            }
            break;
        case RefusedDelivery::outputs:
            if (!alone) std::fill(e.buffer.begin(), e.buffer.begin() + 4, uint8_t{0});
            break;
    }
}

// What a cell must give, from the fault's effect, the manners drawn and the operation's
// properties.
Outcome expected(const Operation& op, const FaultCase& fault, uint32_t losses,
                 const racksim::Faults& faults_before, Draws& drawn, Cell& c, uint64_t end) {
    Outcome e;
    e.buffer = CallerBuffer(op.prefix).bytes;
    auto deliver = [&] {
        if (!op.delivers.data) return;
        const Bytes data = op.delivers.data(c, fault.faults);
        std::copy(data.begin(), data.end(), e.buffer.begin());
        if (!op.delivers.sized) return;
        e.size = static_cast<uint16_t>(data.size() / op.delivers.entry_size);
    };
    // A module refuses only what has a status word; the rest it serves as usual.
    const Effect effect = fault.effect == Effect::refused && op.refused.rule == StatusRule::none
                              ? Effect::none
                              : fault.effect;
    if (op.shape == Shape::discovery) {
        // One query, no re-send: a lost query finds nothing; a late answer is still within the
        // query time. A damaged answer is passed over and a doubled one listed once. Copies of
        // earlier replies are no answers.
        e.size = 0;
        const bool listed = (effect == Effect::lost ? losses == 0 : effect != Effect::bad_crc);
        if (listed) deliver();
        return e;
    }
    if (op.shape == Shape::mailbox) {
        // A run of exchanges that stops at the first failed one. Re-sends do not warn; a stray
        // packet comes before every reply, and the copy of each reply is taken as a stray by
        // the next exchange. A timed-out poll of a command is passed over, but by then the
        // command's own time has run out too. A refusal ends the run at its first exchange.
        switch (effect) {
            case Effect::none:
            case Effect::no_wait:
                deliver();
                e.late = drawn.copies(op.exchanges);
                break;
            case Effect::lost: {
                const RunLosses run = losses_over(faults_before, op.exchanges);
                e.resends = run.resends;
                e.late = drawn.copies(run.answered);
                if (run.timed_out) {
                    e.result = ZEBERR_TIMEOUT;
                } else {
                    deliver();
                }
                break;
            }
            case Effect::late:
                e.result = ZEBERR_TIMEOUT;
                e.resends = kRetries;
                e.late = arrived_before(c, end);
                break;
            case Effect::bad_crc:
                e.result = ZEBERR_BAD_CRC;
                e.crc_errors = 1;
                e.late = drawn.copies(1);
                break;
            case Effect::stray:
                deliver();
                e.late = static_cast<uint16_t>(op.exchanges + drawn.copies(op.exchanges));
                break;
            case Effect::twice:
                deliver();
                e.late = static_cast<uint16_t>(op.exchanges - 1 + drawn.copies(op.exchanges));
                break;
            case Effect::refused:
                refused(op, drawn[0], e);
                e.late = drawn.copies(1);
                break;
        }
        return e;
    }
    switch (effect) {
        case Effect::none:
            deliver();
            e.late = drawn.copies(1);
            break;
        case Effect::no_wait:
            // Sent once, not waited for: the reply is left for a later collect.
            if (op.no_wait == NoWait::honoured) {
                e.result = ZEBERR_NO_PACKET;
            } else {
                deliver();
                e.late = drawn.copies(1);
            }
            break;
        case Effect::lost:
            if (losses > kRetries) {
                e.result = ZEBERR_TIMEOUT;
                e.resends = kRetries;
            } else {
                e.result = losses > 0 && op.warns == Warns::yes ? ZEBWARN_RETRIED : 0;
                e.resends = static_cast<uint16_t>(losses);
                e.late = drawn.copies(1);
                deliver();
            }
            break;
        case Effect::late:
            // Each try's replies arrive half a time-out after the next try was sent, except
            // those of the last try, which come after the call has given up (and so do final
            // replies the manner makes later still).
            e.result = ZEBERR_TIMEOUT;
            e.resends = kRetries;
            e.late = arrived_before(c, end);
            break;
        case Effect::bad_crc:
            e.result = ZEBERR_BAD_CRC;
            e.crc_errors = 1;
            e.late = drawn.copies(1);
            if (op.shape == Shape::parallel) e.size = 0;  // the collecting step clears it
            break;
        case Effect::stray:
            deliver();
            e.late = static_cast<uint16_t>(1 + drawn.copies(1));
            break;
        case Effect::twice:
            deliver();
            e.late = static_cast<uint16_t>(drawn.copies(1) +
                                           copies_passed_over(c, drawn[0].previous_first));
            break;
        case Effect::refused:
            refused(op, drawn[0], e);
            e.late = drawn.copies(1);
            break;
    }
    return e;
}

// The one case in which the library is known to take something else for the answer. Without
// echo bytes a module may answer with its acknowledgement's very bytes, so a packet identical to
// the acknowledgement is the answer unless another comes within a short grace; a copy made by
// the network, with the module's answer later than that, is then taken for it. The CCM and
// K-sequence acknowledgements carry echo bytes.
constexpr uint32_t kIdenticalAnswerGraceMs = 20;
bool takes_a_copy_for_the_answer(const Operation& op, const racksim::Manner& manner) {
    const std::string name = op.name;
    const bool echoes = name.rfind("ZEBCCM", 0) == 0 || name.rfind("ZEBKSEQ", 0) == 0;
    return op.shape == Shape::acknowledged && !echoes &&
           manner.final_late_ms > kIdenticalAnswerGraceMs;
}

using CellParam = std::tuple<size_t, size_t, size_t>;  // operation, fault, manner

std::string cell_name(const ::testing::TestParamInfo<CellParam>& info) {
    std::string manner = manner_cases()[std::get<2>(info.param)].name;
    std::replace(manner.begin(), manner.end(), '-', '_');
    return std::string(operations()[std::get<0>(info.param)].name) + "_" +
           fault_cases()[std::get<1>(info.param)].name + "_" + manner;
}

class RackFaults : public ::testing::TestWithParam<CellParam> {};

TEST_P(RackFaults, ResultCountersAndDelivery) {
    const auto [o, f, mc] = GetParam();
    const Operation& op = operations()[o];
    const FaultCase& fault = fault_cases()[f];
    racksim::MannerSetting manner = manner_cases()[mc].setting;
    if (manner.random) manner.seed = 1 + o * 64 + f;
    Cell c(fault.faults, manner);
    ASSERT_EQ(c.dev.device_result, 0u);
    ASSERT_EQ(c.primed, 0u);
    if (fault.effect == Effect::no_wait) c.dev.device.NoWait = 1;
    const uint32_t losses = losses_in_a_row(c.module().faults);
    const racksim::Faults faults_before = c.module().faults;
    Draws drawn(c.module().manner, c.module().manner_state);
    if (fault.effect == Effect::twice && takes_a_copy_for_the_answer(op, drawn[0])) {
        GTEST_SKIP() << "a network copy of an acknowledgement without echo bytes, with the "
                        "module's answer later than the grace, is taken for the answer: the "
                        "trade zeb.h states at SendPacketTwoResponses()";
    }

    CallerBuffer b(op.prefix);
    Outcome got;
    got.result = op.call(c, b);
    const uint64_t end = c.net->now();
    got.resends = c.dev.device.ResendCount;
    got.crc_errors = c.dev.device.CrcErrorCount;
    got.late = c.dev.device.LateReplyCount;
    got.buffer = b.bytes;
    got.size = b.size;

    const Outcome want = expected(op, fault, losses, faults_before, drawn, c, end);
    SCOPED_TRACE("manner of the first request answered: {" + racksim::manner_note(drawn[0]) + "}");
    EXPECT_EQ(got.result, want.result) << std::hex << "0x" << got.result << " vs 0x" << want.result;
    EXPECT_EQ(got.resends, want.resends) << "ResendCount";
    EXPECT_EQ(got.crc_errors, want.crc_errors) << "CrcErrorCount";
    EXPECT_EQ(got.late, want.late) << "LateReplyCount";
    EXPECT_EQ(got.size, want.size) << "size";
    EXPECT_EQ(got.buffer.back(), kUnwritten) << "wrote past the caller's buffer";
    EXPECT_EQ(got.buffer, want.buffer) << "the caller's buffer";
}

// Every row against every fault in every manner; the no-wait column for the rows that say how
// they meet it.
std::vector<CellParam> cells() {
    std::vector<CellParam> out;
    for (size_t m = 0; m < manner_cases().size(); ++m) {
        for (size_t op = 0; op < operations().size(); ++op) {
            for (size_t f = 0; f < fault_cases().size(); ++f) {
                const bool stated = operations()[op].no_wait != NoWait::unstated;
                if (fault_cases()[f].effect != Effect::no_wait || stated)
                    out.emplace_back(op, f, m);
            }
        }
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, RackFaults, ::testing::ValuesIn(cells()), cell_name);

TEST(RackFaultsTable, TheFractionColumnLosesSomeButNotAllTries) {
    // Otherwise it would repeat another column.
    for (const FaultCase& f : fault_cases()) {
        if (std::string(f.name) != "drop_fraction") continue;
        Cell c(f.faults, {});
        const uint32_t losses = losses_in_a_row(c.module().faults);
        EXPECT_GE(losses, 1u);
        EXPECT_LE(losses, kRetries);
    }
}

}  // namespace
}  // namespace zebtest
