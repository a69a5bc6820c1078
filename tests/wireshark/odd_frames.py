#!/usr/bin/env python3
"""Writes a capture of frames that a sound sender does not make, for check.sh to show that the
dissector reads every one of them without an error: each controller service call and its reply
cut short at every length, fields that announce more bytes than follow, every function code
with stray bytes, headers alone or cut inside the extended header, datagrams quoted by ICMP.

Usage: odd_frames.py FILE   (pcap, raw IPv4, as RackSim's --pcap writes)
"""
import random
import struct
import sys

PORT = 28784
HOST, MODULE = bytes([127, 0, 0, 1]), bytes([127, 0, 0, 3])
HOST_PORT = 40000


def crc16(data):
    """CRC-16/XMODEM: polynomial 0x1021, initial value 0."""
    c = 0
    for b in data:
        c ^= b << 8
        for _ in range(8):
            c = ((c << 1) ^ 0x1021 if c & 0x8000 else c << 1) & 0xFFFF
    return c


def internet_checksum(data):
    data += b"\0" * (len(data) % 2)
    total = sum(struct.unpack(f">{len(data) // 2}H", data))
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def frame(seq, payload):
    return b"ZQK" + struct.pack("<HHH", seq, crc16(payload), len(payload)) + payload


class Capture:
    def __init__(self):
        self.records = []
        self.seq = 0

    def datagram(self, data, request):
        src, dst = (HOST, MODULE) if request else (MODULE, HOST)
        sport, dport = (HOST_PORT, PORT) if request else (PORT, HOST_PORT)
        udp = struct.pack(">HHHH", sport, dport, 8 + len(data), 0) + data
        ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0, src, dst)
        self.records.append(ip + udp)

    def unreachable(self):
        """An ICMP "port unreachable" that quotes the last datagram, from the host it was for."""
        quote = self.records[-1]
        icmp = struct.pack(">BBHI", 3, 3, 0, 0) + quote
        icmp = icmp[:2] + struct.pack(">H", internet_checksum(icmp)) + icmp[4:]
        src = quote[16:20]
        self.records.append(struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(icmp), 0, 0, 64, 1, 0,
                                        src, quote[12:16]) + icmp)

    def request(self, payload, raw=None):
        self.seq = self.seq % 0xFFFF + 1
        self.datagram(raw if raw is not None else frame(self.seq, payload), True)
        return self.seq

    def reply(self, seq, payload):
        self.datagram(frame(seq, payload), False)

    def write(self, path):
        with open(path, "wb") as f:
            f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 228))
            for i, r in enumerate(self.records):
                f.write(struct.pack("<IIII", i, 0, len(r), len(r)))
                f.write(r)


def cuts(data):
    """data cut at every length up to 40 bytes, then every 13th, then whole."""
    lengths = sorted(set(list(range(min(len(data), 40))) + list(range(40, len(data), 13))))
    return [data[:n] for n in lengths] + [data]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    rng = random.Random(20)
    cap = Capture()

    # Service calls: a path, then numbers that serve as handles and counts, then room for the
    # largest record; replies: status, return value, a count of 4 and its bytes, then room.
    arguments = struct.pack("<H", 6) + b"a.txt\0" + struct.pack("<IIII", 1, 4, 4, 0) + bytes(600)
    outputs = struct.pack("<hII", 0, 1, 4) + b"zeb!" + bytes(600)
    for service in list(range(0x00, 0x1F)) + [0x42, 0xFF]:
        head = bytes([0x35, 0xCA]) + struct.pack("<H", service)
        for cut in cuts(head + arguments):
            cap.request(cut)
        seq = cap.request(head + arguments)
        for cut in cuts(outputs):
            cap.reply(seq, cut)
    # A path whose length promises more than follows, or nothing at all.
    for length in (0, 1, 200, 0xFFFF):
        cap.request(bytes([0x35, 0xCA, 0x18, 0]) + struct.pack("<H", length) + b"b.txt")

    # Every function code with stray bytes, answered with stray bytes.
    codes = [0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C,
             0x0D, 0x0E, 0x0F, 0x14, 0x17, 0x18, 0x19, 0x1A, 0x23, 0x24, 0x25, 0x26, 0x27,
             0x28, 0x29, 0x30, 0x34, 0x60, 0x61, 0x62, 0x7F, 0xF9, 0xFA, 0xFF]
    for code in codes:
        for n in (0, 1, 2, 3, 5, 8, 13, 70, 300):
            body = bytes([code]) + bytes(rng.randrange(256) for _ in range(n))
            seq = cap.request(body)
            cap.reply(seq, bytes(rng.randrange(256) for _ in range(n)))
            cap.reply(seq, bytes([code, 0]))
    # Answers to discovery cut short.
    seq = cap.request(b"\x05")
    for cut in cuts(b"\x55\xAA\x02\x52\x53\x00\x00\x01\x00"):
        cap.reply(seq, cut)

    # Headers alone, frames shorter than a header, a header cut inside its extension, a key's
    # XOR (the length does not match), and a reply to nothing.
    for n in range(0, 9):
        cap.datagram(b"ZQK\x01\x00\x00\x00\x00\x00"[:n], True)
    cap.request(b"")
    cap.reply(cap.seq, b"")
    for n in range(1, 8):
        cap.request(b"\x15" + bytes([2, 0x52, 0x53, 0, 0, 1])[:n - 1])
    cap.request(None, raw=b"ZQK\x07\x00" + bytes([0x41, 0x62, 0x61, 0x62, 0x44]))
    cap.reply(0xFFFF, b"\x00\x00")
    # Datagrams quoted by ICMP errors: a request, and a reply that came after the host gave up.
    cap.request(b"\x01")
    cap.unreachable()
    cap.reply(cap.seq, b"\x00\x00")
    cap.unreachable()
    cap.write(sys.argv[1])


if __name__ == "__main__":
    main()
