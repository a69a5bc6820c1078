// Writes the datagrams RackSim receives and sends to a capture file (classic pcap, raw IPv4),
// so that a session can be opened in Wireshark or read by tshark.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace racksim {

class PcapWriter {
  public:
    PcapWriter() = default;
    ~PcapWriter();
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // Creates the file and writes its header; false (with *error) when it cannot.
    bool open(const std::string& path, std::string* error);
    bool is_open() const { return file_ != nullptr; }

    // One UDP datagram between two IPv4 endpoints (addresses and ports in host order), stamped
    // with the wall-clock time. Each record is flushed, so a capture survives a hard stop.
    void write(uint32_t from_ip, uint16_t from_port, uint32_t to_ip, uint16_t to_port,
               const uint8_t* payload, size_t length);

  private:
    std::FILE* file_ = nullptr;
    uint16_t next_id_ = 1;
};

}  // namespace racksim
