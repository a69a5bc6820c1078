#include "pcap_writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "bytes.h"

namespace racksim {
namespace {

constexpr uint32_t kMagic = 0xA1B2C3D4;
constexpr uint32_t kLinkTypeIpv4 = 228;
constexpr uint32_t kSnapLength = 65535;
constexpr size_t kIpHeader = 20;
constexpr size_t kUdpHeader = 8;

void put_be16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void put_be32(uint8_t* p, uint32_t v) {
    put_be16(p, static_cast<uint16_t>(v >> 16));
    put_be16(p + 2, static_cast<uint16_t>(v));
}

uint16_t ip_checksum(const uint8_t* header) {
    uint32_t sum = 0;
    for (size_t i = 0; i < kIpHeader; i += 2) sum += uint32_t(header[i] << 8 | header[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

}  // namespace

PcapWriter::~PcapWriter() {
    if (file_) std::fclose(file_);
}

bool PcapWriter::open(const std::string& path, std::string* error) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        *error = "--pcap: cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t header[24] = {};
    set_u32(header, kMagic);
    set_u16(header + 4, 2);
    set_u16(header + 6, 4);
    set_u32(header + 16, kSnapLength);
    set_u32(header + 20, kLinkTypeIpv4);
    std::fwrite(header, 1, sizeof header, file_);
    std::fflush(file_);
    return true;
}

void PcapWriter::write(uint32_t from_ip, uint16_t from_port, uint32_t to_ip, uint16_t to_port,
                       const uint8_t* payload, size_t length) {
    if (!file_) return;
    length = std::min<size_t>(length, kSnapLength - kIpHeader - kUdpHeader);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    const auto total = static_cast<uint32_t>(kIpHeader + kUdpHeader + length);

    uint8_t record[16 + kIpHeader + kUdpHeader] = {};
    set_u32(record, static_cast<uint32_t>(micros / 1000000));
    set_u32(record + 4, static_cast<uint32_t>(micros % 1000000));
    set_u32(record + 8, total);
    set_u32(record + 12, total);
    uint8_t* ip = record + 16;
    ip[0] = 0x45;  // version 4, 20-byte header
    put_be16(ip + 2, static_cast<uint16_t>(total));
    put_be16(ip + 4, next_id_++);
    ip[8] = 64;  // time to live
    ip[9] = 17;  // UDP
    put_be32(ip + 12, from_ip);
    put_be32(ip + 16, to_ip);
    put_be16(ip + 10, ip_checksum(ip));
    uint8_t* udp = ip + kIpHeader;
    put_be16(udp, from_port);
    put_be16(udp + 2, to_port);
    put_be16(udp + 4, static_cast<uint16_t>(kUdpHeader + length));  // checksum 0: not computed
    std::fwrite(record, 1, sizeof record, file_);
    std::fwrite(payload, 1, length, file_);
    std::fflush(file_);
}

}  // namespace racksim
