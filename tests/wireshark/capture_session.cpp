// One call of every function family against RackSim's sample rack, for a capture that the
// dissector test reads: press-line (1) at 127.0.0.2 with a remote master, packer (2) at
// 127.0.0.3 with a controller, memory, shared RAM and a serial port, conveyor-node (3) at
// 127.0.0.4. Also one device with the extended header and one transport with a key, a file's
// life on the controller, a reply whose CRC is 0, a request without a CRC, and a request that
// nothing answers, sent twice.
#include <cstdio>
#include <cstring>

#include "zeb.h"

namespace {

void set_ip(uint8_t* out16, uint8_t last, uint16_t port) {
    std::memset(out16, 0, 16);
    out16[0] = 2;
    out16[2] = static_cast<uint8_t>(port >> 8);
    out16[3] = static_cast<uint8_t>(port);
    out16[4] = 127;
    out16[7] = last;
}

bool open_at(ZEBTransport& t, ZEBDevice& d, uint8_t last) {
    set_ip(d.Address.Raw, last, ZEB_MODULE_PORT);
    return ZEBOpenDevice(&t, &d, ZEB_API_VERSION, 200, 1, 0) == 0;
}

}  // namespace

int main() {
    uint8_t source[16];
    set_ip(source, 1, 0);
    ZEBOpen(ZEB_API_VERSION);
    ZEBTransport t{};
    t.Kind = ZEB_TRANSPORT_WINSOCK;
    t.Protocol = ZEB_PROTOCOL_IP;
    if (ZEBOpenTransport(&t, ZEB_API_VERSION, source) != 0) return 1;
    ZEBSetQueryTimeout(200);
    ZEBDevice found[8] = {};
    uint16_t count = 8;
    ZEBQueryDevices(&t, found, &count, ZEB_API_VERSION);

    ZEBDevice press{}, packer{}, node{};
    if (!open_at(t, press, 2) || !open_at(t, packer, 3) || !open_at(t, node, 4)) return 1;
    uint8_t buf[1200];
    uint16_t size = sizeof buf;
    ZEBReadVersionInfo(&press, buf, 191);
    ZEBReadSupportInfo(&press, buf, sizeof buf);
    ZEBReadDeviceDef(&press, buf, 42);
    size = sizeof buf;
    ZEBReadBaseDef(&press, buf, &size);
    size = sizeof buf;
    ZEBReadIO(&press, buf, &size);
    const uint8_t outputs[] = {0x03, 0x41, 0x5A, 0xFF};
    size = sizeof buf;
    ZEBWriteIO(&press, outputs, sizeof outputs, buf, &size);

    uint16_t types[16];
    uint16_t type_count = 16;
    ZEBEnumSetupData(&packer, types, &type_count);
    const uint8_t record[] = {'c', 'a', 'p'};
    ZEBWriteSetupData(&packer, 0x46, record, sizeof record);
    size = sizeof buf;
    ZEBReadSetupData(&packer, 0x46, buf, &size);
    ZEBDeleteSetupData(&packer, 0x46);
    size = sizeof buf;
    ZEBReadConfigData(&packer, buf, &size);
    ZEBPetDevice(&packer);
    size = sizeof buf;
    ZEBReadEthernetStats(&packer, buf, &size, 0);
    size = sizeof buf;
    ZEBReadModuleStatus(&packer, buf, &size, 0);

    uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ZEBCCMRequest(&packer, 1, 1, 0x10, sizeof block, block);
    uint8_t message[16] = {'S', 'T', '?'};
    uint16_t message_size = sizeof message;
    ZEBKSEQRequest(&packer, 3, message, &message_size);
    ZEBWriteMemory(&packer, 1, 0x20, 4, block);
    ZEBReadMemory(&packer, 1, 0x20, 4, buf);
    ZEBMemoryArea areas[8];
    uint16_t area_count = 8;
    ZEBENumMemory(&packer, &area_count, areas);
    ZEBWriteSharedRAM(&packer, 0, 2, 0x10, 4, block);
    ZEBReadSharedRAM(&packer, 0, 2, 0x10, 4, buf);
    uint16_t available = 0;
    ZEBGetRXAvailable(&packer, &available);
    ZEBWriteComm(&packer, 3, block);

    uint32_t last_error = 0;
    XCPUGetLastError(&packer, &last_error);
    uint32_t attributes = 0;
    XCPUGetFileAttributes(&packer, "capture.txt", &attributes);
    // A file's life on the controller: a path, the handle it gives, counts and data.
    constexpr uint32_t kGenericReadWrite = 0xC0000000, kCreateAlways = 2, kFileBegin = 0;
    uint32_t file = 0, done = 0, result = 0;
    const int32_t opened =
        XCPUCreateFile(&packer, "dissect.txt", kGenericReadWrite, 0, kCreateAlways, 0, &file);
    if (opened == 0) {
        const uint8_t text[] = {'z', 'e', 'b', '!'};
        XCPUWriteFile(&packer, file, text, sizeof text, &done, &result);
        XCPUSetFilePointer(&packer, file, 0, nullptr, kFileBegin, &result);
        XCPUReadFile(&packer, file, buf, 16, &done, &result);
        uint32_t size_high = 0;
        XCPUGetFileSize(&packer, file, &size_high, &result);
        XCPUCloseHandle(&packer, file, &result);
    }
    ZEBFindData entry{};
    uint32_t search = 0;
    if (XCPUFindFirstFile(&packer, "dissect.txt", &entry, &search) == 0) {
        XCPUFindClose(&packer, search, &result);
    }
    ZEBReadVireoData(&press, 0, 0, 2, buf, 16, 0);
    ZEBWriteTaviethernetPgmSpace(&node, block, sizeof block);

    // The extended header names the module by its hardware address.
    // Opening sets the header form from the broadcast flag; a unicast device is switched after.
    ZEBDevice named{};
    if (open_at(t, named, 2)) {
        std::memcpy(named.NodeAddress, found[0].NodeAddress, 6);
        named.ExtendedHeader = 1;
        named.DataOffset = 16;
        ZEBReadDeviceDef(&named, buf, 42);
    }

    // A transport with a key XOR-s its frames; RackSim (without that key) cannot read them.
    // (Opening the transport clears its key mode, so the key is set after.)
    ZEBTransport keyed{};
    keyed.Kind = ZEB_TRANSPORT_WINSOCK;
    keyed.Protocol = ZEB_PROTOCOL_IP;
    ZEBDevice secret{};
    if (ZEBOpenTransport(&keyed, ZEB_API_VERSION, source) == 0 && open_at(keyed, secret, 2)) {
        keyed.KeyMode = 1;
        std::strcpy(keyed.Key, "ab");
        secret.Retries = 0;
        secret.Timeout = 50;
        ZEBReadDeviceDef(&secret, buf, 42);
    }
    // A setup record that ends in its own CRC (big-endian): the reply that carries it back has
    // a payload whose CRC is 0.
    const uint8_t crc_zero[] = {'z', 'e', 'r', 'o', 0xA9, 0x37};
    ZEBWriteSetupData(&packer, 0x47, crc_zero, sizeof crc_zero);
    size = sizeof buf;
    ZEBReadSetupData(&packer, 0x47, buf, &size);
    ZEBDeleteSetupData(&packer, 0x47);

    // A request sent without a CRC.
    SetCRCMode(0);
    ZEBPetDevice(&packer);
    SetCRCMode(1);

    // Nothing answers at 127.0.0.9: the request goes out twice, the same but for its sequence
    // number, and neither try is answered.
    ZEBDevice silent{};
    if (open_at(t, silent, 9)) {
        silent.Timeout = 50;
        silent.Retries = 1;
        ZEBReadDeviceDef(&silent, buf, 42);
    }
    std::puts("session done");
    return 0;
}
