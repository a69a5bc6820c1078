// The library as a Windows host program uses it, against RackSim serving the sample rack
// (tools/racksim/racks/sample.json) on loopback: press-line (number 1) at 127.0.0.2, packer
// (2) at 127.0.0.3 and a networked node (3) at 127.0.0.4. Every socket is bound to 127.0.0.1,
// so broadcasts stay on the loopback interface.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../support/plain_check.h"
#include "zeb.h"

namespace {

using plain_check::check;

void check_eq(uint32_t got, uint32_t want, const std::string& what) {
    char detail[64];
    std::snprintf(detail, sizeof detail, " (got 0x%X, want 0x%X)", got, want);
    check(got == want, what + (got == want ? "" : detail));
}

bool failed(uint32_t r) {
    return !ZEB_SUCCEEDED(r);
}

void set_ip(uint8_t* out16, uint8_t last, uint16_t port) {
    std::memset(out16, 0, 16);
    out16[0] = 2;
    out16[2] = static_cast<uint8_t>(port >> 8);
    out16[3] = static_cast<uint8_t>(port);
    out16[4] = 127;
    out16[7] = last;
}

uint8_t ip_last(const ZEBDevice& d) {
    return d.Address.Raw[4] == 127 ? d.Address.Raw[7] : 0;
}

long long now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The bit-input bytes of `slot` in an extended I/O stream; empty when the slot has none.
std::vector<uint8_t> bit_inputs(const uint8_t* s, size_t len, int slot) {
    std::vector<uint8_t> out;
    if (len < 2 || s[0] != 0xB1) return out;
    int current = -1;
    for (size_t i = 2; i + 1 < len;) {
        const uint8_t type = s[i];
        const uint8_t n = s[i + 1];
        if (type == 0xFF || type == 0x0F) break;
        i += 2;
        if (type == 0) {
            current = n;
        } else if (type == 7 || type > 15) {
            // no data
        } else {
            const size_t size = (type == 1 || type == 14) ? n + 2u : n;
            if (type == 3 && current == slot && i + size <= len) out.assign(s + i, s + i + size);
            i += size;
        }
    }
    return out;
}

struct Session {
    ZEBTransport transport{};
    uint8_t source[16] = {};
};

void open_ip_transport(Session& s) {
    s.transport.Kind = ZEB_TRANSPORT_WINSOCK;
    s.transport.Protocol = ZEB_PROTOCOL_IP;
    set_ip(s.source, 1, 0);
    check_eq(ZEBOpenTransport(&s.transport, ZEB_API_VERSION, s.source), 0, "IP transport opens");
}

uint32_t open_at(Session& s, ZEBDevice& d, uint8_t last, uint16_t timeout = 300) {
    d = ZEBDevice{};
    set_ip(d.Address.Raw, last, ZEB_MODULE_PORT);
    return ZEBOpenDevice(&s.transport, &d, ZEB_API_VERSION, timeout, 2, 0);
}

void library_and_transport_levels() {
    check_eq(ZEBOpen(ZEB_API_VERSION), 0, "ZEBOpen(3)");
    check_eq(ZEBOpen(2), ZEBERR_BAD_VERSION, "ZEBOpen(2)");
    check_eq(ZEBOpenTransport(nullptr, 2, nullptr), ZEBERR_BAD_VERSION,
             "the version is checked before the pointer");
    ZEBTransport bad{};
    bad.Kind = ZEB_TRANSPORT_WINSOCK;
    bad.Protocol = 7;
    check_eq(ZEBOpenTransport(&bad, ZEB_API_VERSION, nullptr), ZEBERR_BAD_PROTOCOL,
             "an unknown protocol is refused");
    // A second Winsock transport opened and closed leaves the socket layer to the first.
    Session first;
    open_ip_transport(first);
    Session second;
    open_ip_transport(second);
    check_eq(ZEBCloseTransport(&second.transport), 0, "second transport closes");
    ZEBDevice d;
    check_eq(open_at(first, d, 2), 0, "a device opens on the transport still open");
    uint8_t def[42] = {};
    check_eq(ZEBReadDeviceDef(&d, def, sizeof def), 0, "and reaches its module");
    check_eq(ZEBCloseDevice(&d), 0, "device closes");
    check_eq(ZEBCloseDevice(&d), 0, "a second close does nothing");
    check_eq(ZEBCloseTransport(&first.transport), 0, "first transport closes");
    check_eq(ZEBCloseTransport(&first.transport), 0, "closing once more changes nothing");
}

void discovery(Session& s) {
    std::vector<ZEBDevice> list(20);
    uint16_t count = 20;
    check_eq(ZEBQueryDevices(&s.transport, list.data(), &count, ZEB_API_VERSION), 0,
             "query of all modules");
    check_eq(count, 3, "three modules answer");
    unsigned seen = 0;
    for (uint16_t i = 0; i < count && i < 20; ++i) seen |= 1u << ip_last(list[i]);
    check_eq(seen, (1u << 2) | (1u << 3) | (1u << 4), "from 127.0.0.2, .3 and .4");

    list.assign(20, ZEBDevice{});
    count = 20;
    const uint8_t number[4] = {1, 0, 0, 0};
    ZEBQueryDeviceData(&s.transport, list.data(), &count, ZEB_API_VERSION, 0x20, number, 4);
    check(count == 1 && ip_last(list[0]) == 2, "module number 1 is press-line at 127.0.0.2");

    list.assign(20, ZEBDevice{});
    count = 20;
    char name[256] = "packer";
    ZEBQueryDeviceData(&s.transport, list.data(), &count, ZEB_API_VERSION, 0x16, name, 256);
    check(count == 1 && ip_last(list[0]) == 3, "the module named packer is at 127.0.0.3");

    // No module has number 42: the query waits out its time-out and finds none.
    ZEBSetQueryTimeout(300);
    check_eq(ZEBGetQueryTimeout(), 300, "query time-out read back");
    list.assign(20, ZEBDevice{});
    count = 20;
    const uint8_t missing[4] = {42, 0, 0, 0};
    const long long start = now_ms();
    ZEBQueryDeviceData(&s.transport, list.data(), &count, ZEB_API_VERSION, 0x20, missing, 4);
    const long long spent = now_ms() - start;
    check(count == 0, "no module number 42");
    check(spent >= 250 && spent < 2000,
          "the empty query took its time-out, not " + std::to_string(spent) + " ms");
}

void identity_and_io(Session& s) {
    ZEBDevice press;
    check_eq(open_at(s, press, 2), 0, "press-line opens");
    check_eq(press.DataOffset, 9, "direct device: payload at 9");
    uint8_t def[42] = {};
    check_eq(ZEBReadDeviceDef(&press, def, sizeof def), 0, "device definition read");
    check_eq(def[2], 0, "press-line is a Qx-RIO");
    uint8_t version[256] = {};
    check_eq(ZEBReadVersionInfo(&press, version, sizeof version), 0, "version block read");

    uint8_t base[1000] = {0xB1, 0x00};
    uint16_t base_size = sizeof base;
    check_eq(ZEBReadBaseDef(&press, base, &base_size), 0, "base definition read");
    check(base_size > 2, "base definition has content");

    // Slot 1's bit inputs are wired to slot 3's bit outputs.
    for (uint8_t value : {uint8_t{0x5A}, uint8_t{0xA5}}) {
        const uint8_t out[] = {0xB1, 0x00, 0x00, 0x03, 0x04, 0x01, value, 0xFF};
        uint8_t in[1000] = {0xB1, 0x00};
        uint16_t in_size = sizeof in;
        check(!failed(ZEBWriteIO(&press, out, sizeof out, in, &in_size)), "outputs written");
        uint8_t again[1000] = {0xB1, 0x00};
        uint16_t again_size = sizeof again;
        check(!failed(ZEBReadIO(&press, again, &again_size)), "inputs read");
        const std::vector<uint8_t> bits = bit_inputs(again, again_size, 1);
        check(bits.size() == 1 && bits[0] == value,
              "slot 1 reads back the value written to slot 3");
    }

    // Both modules at once.
    ZEBDevice packer;
    check_eq(open_at(s, packer, 3), 0, "packer opens");
    ZEBDevice* devices[2] = {&press, &packer};
    uint8_t buf0[1000] = {0xB1, 0x00};
    uint8_t buf1[1000] = {0xB1, 0x00};
    uint8_t* buffers[2] = {buf0, buf1};
    uint16_t sizes[2] = {1000, 1000};
    uint32_t results[2] = {1, 1};
    check(!failed(ZEBReadIOEx(devices, buffers, sizes, results, 2)), "parallel read");
    check(results[0] == 0 && results[1] == 0 && sizes[0] > 2 && sizes[1] > 2,
          "both modules delivered their inputs");

    ZEBDevice node;
    check_eq(open_at(s, node, 4), 0, "the networked node opens");
    std::memset(def, 0, sizeof def);
    check_eq(ZEBReadDeviceDef(&node, def, sizeof def), 0, "node's device definition read");
    check(def[2] != 0, "a networked node is no Qx-RIO");

    for (ZEBDevice* d : {&press, &packer, &node}) ZEBCloseDevice(d);
}

// press-line hides a remote master; conveyor-node (number 3) sits behind it.
void remote_master_and_node(Session& s) {
    ZEBDevice press;
    check_eq(open_at(s, press, 2), 0, "press-line opens");
    std::vector<uint8_t> data(600);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 5 + 1);
    check_eq(ZEBWriteVireoData(&press, 0, 0, 2, data.data(), 600, 100), 0,
             "600 bytes written through the mailbox");
    std::vector<uint8_t> back(600, 0);
    check_eq(XCPUReadVireoData(&press, 0, 0, 2, back.data(), 600, 100), 0,
             "and read back by the controller family's twin");
    check(back == data, "the mailbox gave back what was written");
    check_eq(ZEBDoVireoCommand(&press, 0, 0, 0x55), 1, "an unknown command fails with code 1");

    press.Tunnel = 1;
    press.TunnelNode = 3;
    uint8_t def[42] = {};
    check_eq(ZEBReadDeviceDef(&press, def, sizeof def), 0, "the node's definition, tunnelled");
    check(def[2] == 6, "the tunnelled module is the networked node");
    uint8_t in[64] = {};
    uint16_t in_size = sizeof in;
    press.TunnelNode = 42;
    check_eq(ZEBReadIO(&press, in, &in_size), ZEBERR_NO_DATA, "no node 42 behind the master");
    check(press.Tunnel == 1, "the tunnel stays set after a failure");
    ZEBCloseDevice(&press);

    ZEBDevice node;
    check_eq(open_at(s, node, 4), 0, "conveyor-node opens");
    std::vector<uint8_t> packet(60 + 316, 0xAB);
    uint8_t status = 0x77;
    check(TaviSendPacket(&node, packet.data(), &status, 316) == 1 && status == 0,
          "316 bytes written to the node's program space");
    check_eq(ZEBWriteTaviethernetPgmSpace(&node, packet.data(), 317), ZEBERR_PACKET_TOO_LARGE,
             "317 bytes are refused");
    ZEBCloseDevice(&node);
}

void failures(Session& s) {
    // Nobody at 127.0.0.9: the exchange fails within its time-outs.
    ZEBDevice nobody;
    check_eq(open_at(s, nobody, 9, 100), 0, "a device with no module behind it opens");
    uint8_t def[42] = {};
    const long long start = now_ms();
    const uint32_t r = ZEBReadDeviceDef(&nobody, def, sizeof def);
    const long long spent = now_ms() - start;
    check(failed(r) || r >= 10000, "no module, no success");
    check(spent < 2000, "the failed exchange ended after " + std::to_string(spent) + " ms");
    ZEBCloseDevice(&nobody);

    // IPX, where the system has none, fails at socket creation with the Winsock number.
    ZEBTransport ipx{};
    ipx.Kind = ZEB_TRANSPORT_WINSOCK;
    ipx.Protocol = ZEB_PROTOCOL_IPX;
    check_eq(ZEBOpenTransport(&ipx, ZEB_API_VERSION, nullptr), 0, "IPX transport opens");
    ZEBDevice ipx_device{};
    const uint32_t ipx_open = ZEBOpenDevice(&ipx, &ipx_device, ZEB_API_VERSION, 100, 0, 0);
    if (ipx_open != 0) {
        check(ipx_open >= 10000 && ipx_open < 12000,
              "an IPX socket the system refuses gives its Winsock error, not " +
                  std::to_string(ipx_open));
    }
    check_eq(ZEBCloseDevice(&ipx_device), 0, "the IPX device closes");
    check_eq(ZEBCloseTransport(&ipx), 0, "IPX transport closes");

    // A COM port that does not exist: the system's own error, and the record still closes.
    ZEBTransport serial{};
    serial.Kind = ZEB_TRANSPORT_SERIAL;
    check_eq(ZEBOpenTransport(&serial, ZEB_API_VERSION, nullptr), 0, "serial transport opens");
    ZEBDevice port{};
    port.Address.Serial.ComPort = 9;
    port.Address.Serial.DataBits = 8;
    port.Address.Serial.BaudRate = 9600;
    const uint32_t port_open = ZEBOpenDevice(&serial, &port, ZEB_API_VERSION, 100, 0, 0);
    check(port_open != 0 && port_open < 10000,
          "a missing COM9 gives a system error, not " + std::to_string(port_open));
    check_eq(ZEBCloseDevice(&port), 0, "the unopened port's record closes");
    check_eq(ZEBCloseTransport(&serial), 0, "serial transport closes");
}

// The controller services as far as they go without a controller: what is refused before
// sending, and how a module's answer, or the lack of one, reaches the caller.
void controller_services(Session& s) {
    ZEBDevice press;
    check_eq(open_at(s, press, 2), 0, "press-line opens for the controller services");
    check_eq(static_cast<uint32_t>(XCPURunProgram(&press, "")), 0xFFFFFFFFu,
             "an empty command line starts nothing and gives -1");
    const std::string long_name(65, 'n');
    check_eq(static_cast<uint32_t>(XCPURunProgram(&press, long_name.c_str())),
             ZEBERR_PACKET_TOO_LARGE, "a program name of 65 bytes is refused");
    uint32_t handle = 0xCCCCCCCC;
    check_eq(static_cast<uint32_t>(XCPUCreateFile(&press, nullptr, 0, 0, 0, 0, &handle)),
             ZEBERR_BAD_PARAMETER, "a null path is refused");

    // A module that serves the family answers with its last error; one that does not refuses
    // the call, and the caller's variable keeps its value.
    uint32_t last_error = 0xCCCCCCCC;
    const uint32_t r = static_cast<uint32_t>(XCPUGetLastError(&press, &last_error));
    if (r == 0) {
        check(last_error != 0xCCCCCCCC, "XCPUGetLastError delivers the module's last error");
    } else {
        check(last_error == 0xCCCCCCCC && r != ZEBWARN_RETRIED,
              "XCPUGetLastError refused (" + std::to_string(r) + ") leaves lastError alone");
    }
    ZEBCloseDevice(&press);

    // packer is a controller module: a file's round trip through its folder.
    ZEBDevice packer;
    check_eq(open_at(s, packer, 3), 0, "packer opens for its files");
    uint32_t ok = 0;
    ZEBSecurityAttributes security{};
    check(XCPUCreateDirectory(&packer, "wine", &security, &ok) == 0 && ok != 0,
          "a folder is made on the controller");
    uint32_t file = 0;
    check(XCPUCreateFile(&packer, "wine\\data.bin", 0x40000000, 0, 2, 0, &file) == 0 &&
              file != 0xFFFFFFFF,
          "a file is created in it");
    std::vector<uint8_t> data(2500);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3);
    for (size_t at = 0; at < data.size(); at += 1250) {
        uint32_t written = 0;
        check(XCPUWriteFile(&packer, file, data.data() + at, 1250, &written, &ok) == 0 &&
                  written == 1250,
              "1250 bytes written");
    }
    XCPUCloseHandle(&packer, file, &ok);
    check(XCPUCreateFile(&packer, "wine\\data.bin", 0x80000000, 0, 3, 0, &file) == 0 &&
              file != 0xFFFFFFFF,
          "the file opens for reading");
    std::vector<uint8_t> back;
    for (;;) {
        uint8_t chunk[1581];
        uint32_t got = 0;
        if (XCPUReadFile(&packer, file, chunk, sizeof chunk, &got, &ok) != 0 || got == 0) break;
        back.insert(back.end(), chunk, chunk + got);
    }
    check(back == data, "the file reads back as written");
    XCPUCloseHandle(&packer, file, &ok);
    ZEBFindData found{};
    uint32_t search = 0;
    check(XCPUFindFirstFile(&packer, "wine\\*", &found, &search) == 0 &&
              search != 0xFFFFFFFF && found.FileName[0] == 'd' && found.SizeLow == 2500,
          "a search finds it with its size");
    XCPUFindClose(&packer, search, &ok);
    check(XCPUDeleteFile(&packer, "wine\\data.bin", &ok) == 0 && ok != 0, "the file is deleted");
    check(XCPURemoveDirectory(&packer, "wine", &ok) == 0 && ok != 0, "and the folder");
    check(XCPUCreateFile(&packer, "..\\..\\outside.txt", 0x40000000, 0, 2, 0, &file) == 0 &&
              file == 0xFFFFFFFF,
          "a path that climbs out of the controller's folder is refused");
    ZEBCloseDevice(&packer);
}

}  // namespace

int main() {
    library_and_transport_levels();
    Session s;
    open_ip_transport(s);
    discovery(s);
    identity_and_io(s);
    remote_master_and_node(s);
    controller_services(s);
    failures(s);
    ZEBCloseTransport(&s.transport);
    check_eq(ZEBClose(), 0, "ZEBClose");
    return plain_check::report();
}
