// The controller services on the simulated network: for every member, the request body it
// sends, the reply it gets, and the result and outputs it gives back; then, for the whole table
// at once, what failed exchanges, short replies, refusals, re-sends and the extended header do.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "frames.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_network.h"
#include "zeb.h"

namespace zebtest {
namespace {

constexpr Endpoint kModule{ipv4(127, 0, 0, 2), kModulePort};
constexpr uint8_t kUnwritten = 0xCC;

// ---- Bytes ----

Bytes le16(uint16_t v) {
    return {uint8_t(v), uint8_t(v >> 8)};
}
Bytes le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes pattern(uint8_t first, size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(first + i * 3);
    return b;
}
Bytes unwritten(size_t n) {
    return Bytes(n, kUnwritten);
}
// A path argument: length with the zero byte, the characters, the zero byte.
Bytes path_arg(std::string_view path) {
    Bytes b(path.size() + 3, 0);
    b[0] = uint8_t(path.size() + 1);
    b[1] = uint8_t((path.size() + 1) >> 8);
    std::copy(path.begin(), path.end(), b.begin() + 2);
    return b;
}
// A service call's request body.
Bytes service(uint8_t number, std::initializer_list<Bytes> args = {}) {
    Bytes b = {0x35, 0xCA, number, 0x00};
    for (const Bytes& a : args) b.insert(b.end(), a.begin(), a.end());
    return b;
}
// A service reply body: status word, return value, output data.
Bytes answer(uint16_t status, uint32_t value, std::initializer_list<Bytes> outputs = {}) {
    Bytes b = cat({le16(status), le32(value)});
    for (const Bytes& o : outputs) b.insert(b.end(), o.begin(), o.end());
    return b;
}
template <class Record>
Record record_of(const Bytes& bytes) {
    Record r;
    EXPECT_EQ(bytes.size(), sizeof r);
    std::memcpy(&r, bytes.data(), sizeof r);
    return r;
}

// The caller's output places for one call: each starts as kUnwritten and has a guard byte
// behind it. What they hold afterwards is read as one byte string, in the order taken.
class Outputs {
  public:
    Outputs() { std::memset(storage_, kUnwritten, sizeof storage_); }

    template <class T>
    T* take() {
        const size_t at = next_;
        next_ = (at + sizeof(T) + 1 + 7) / 8 * 8;
        if (next_ > sizeof storage_) throw std::length_error("output places");
        places_.push_back({at, sizeof(T)});
        return reinterpret_cast<T*>(storage_ + at);
    }
    uint8_t* bytes(size_t n) {
        const size_t at = next_;
        next_ = (at + n + 1 + 7) / 8 * 8;
        if (next_ > sizeof storage_) throw std::length_error("output places");
        places_.push_back({at, n});
        return storage_ + at;
    }

    Bytes delivered() const {
        Bytes out;
        for (const Place& p : places_)
            out.insert(out.end(), storage_ + p.at, storage_ + p.at + p.size);
        return out;
    }
    bool guards_intact() const {
        for (const Place& p : places_)
            if (storage_[p.at + p.size] != kUnwritten) return false;
        return true;
    }

  private:
    struct Place {
        size_t at, size;
    };
    alignas(8) uint8_t storage_[4096];
    size_t next_ = 0;
    std::vector<Place> places_;
};

using Call = std::function<int32_t(ZEBDevice*, Outputs&)>;

constexpr size_t kWholeReply = SIZE_MAX;

struct Row {
    std::string name;
    Call call;
    Bytes request;  // body the module must see
    Bytes reply;    // body it answers with
    uint32_t result;
    Bytes delivered;             // what the output places hold afterwards
    size_t reads = kWholeReply;  // reply bytes the member needs; 0: it does not look
};

size_t needs(const Row& row) {
    return row.reads == kWholeReply ? row.reply.size() : row.reads;
}

// The records the calls send, recognisable on the wire.
const Bytes kTime1 = pattern(0x10, 8);
const Bytes kTime2 = pattern(0x20, 8);
const Bytes kTime3 = pattern(0x30, 8);
const Bytes kDcb = pattern(0x40, 28);
const Bytes kTimeouts = pattern(0x50, 20);
const Bytes kSecurity = {12, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
constexpr uint32_t kFile = 0x11223344;
constexpr uint32_t kPort = 0x00C0FFEE;

std::vector<Row> control_rows() {
    Bytes name_field(64, 0);
    std::memcpy(name_field.data(), "ladder.exe", 10);
    return {
        {"XCPUSetOSLoad: the reply is not examined",
         [](ZEBDevice* d, Outputs&) { return XCPUSetOSLoad(d, 0x01020304); },
         {0xF9, 0x06, 0x04, 0x03, 0x02, 0x01},
         {0x05, 0x00},
         0,
         {},
         0},
        {"XCPUReboot",
         [](ZEBDevice* d, Outputs&) { return XCPUReboot(d); },
         {0xFA, 0x05},
         {},
         0,
         {},
         0},
        {"XCPURunProgram",
         [](ZEBDevice* d, Outputs&) { return XCPURunProgram(d, "ladder.exe -r fast"); },
         cat({{0x34, 0xCB}, name_field, {'-', 'r', ' ', 'f', 'a', 's', 't', 0}}),
         {0x00, 0x00},
         0,
         {}},
        {"XCPURunProgram, refused",
         [](ZEBDevice* d, Outputs&) { return XCPURunProgram(d, "ladder.exe"); },
         cat({{0x34, 0xCB}, name_field, {0}}),
         {0x02, 0x00, 0x99},
         2,
         {},
         2},
        {"XCPUGetLastError",
         [](ZEBDevice* d, Outputs& o) { return XCPUGetLastError(d, o.take<uint32_t>()); },
         service(0x04), answer(0, 183), 0, le32(183)},
        {"XCPUSetLastError",
         [](ZEBDevice* d, Outputs&) { return XCPUSetLastError(d, 0x12345678); },
         service(0x0A, {le32(0x12345678)}),
         {0x00, 0x00},
         0,
         {}},
    };
}

std::vector<Row> file_rows() {
    const Bytes times = pattern(0x60, 24);
    const Bytes info = pattern(0x70, 52);
    const Bytes found = pattern(0x01, 560);
    return {
        {"XCPUCreateFile: the values follow the path's zero, unaligned",
         [](ZEBDevice* d, Outputs& o) {
             return XCPUCreateFile(d, "\\Temp\\a.txt", 0x80000000, 1, 3, 0x80, o.take<uint32_t>());
         },
         service(0x01, {path_arg("\\Temp\\a.txt"), le32(0x80000000), le32(1), le32(3), le32(0x80)}),
         answer(0, 0xABCD), 0, le32(0xABCD)},
        {"XCPUReadFile",
         [](ZEBDevice* d, Outputs& o) {
             uint8_t* buffer = o.bytes(5);
             uint32_t* got = o.take<uint32_t>();
             return XCPUReadFile(d, kFile, buffer, 5, got, o.take<uint32_t>());
         },
         service(0x02, {le32(kFile), le32(5)}), answer(0, 1, {le32(3), {'a', 'b', 'c'}}), 0,
         cat({{'a', 'b', 'c'}, unwritten(2), le32(3), le32(1)}), 10},
        {"XCPUReadFile at the end of the file",
         [](ZEBDevice* d, Outputs& o) {
             uint8_t* buffer = o.bytes(4);
             uint32_t* got = o.take<uint32_t>();
             return XCPUReadFile(d, kFile, buffer, 4, got, o.take<uint32_t>());
         },
         service(0x02, {le32(kFile), le32(4)}), answer(0, 1, {le32(0)}), 0,
         cat({unwritten(4), le32(0), le32(1)})},
        {"XCPUReadFile: more than asked for is cut",
         [](ZEBDevice* d, Outputs& o) {
             uint8_t* buffer = o.bytes(2);
             uint32_t* got = o.take<uint32_t>();
             return XCPUReadFile(d, kFile, buffer, 2, got, o.take<uint32_t>());
         },
         service(0x02, {le32(kFile), le32(2)}), answer(0, 1, {le32(4), {'w', 'x', 'y', 'z'}}),
         ZEBERR_BUFFER_TOO_SMALL, cat({{'w', 'x'}, le32(2), le32(1)}), 10},
        {"XCPUReadFile: a count beyond the bytes that came",
         [](ZEBDevice* d, Outputs& o) {
             uint8_t* buffer = o.bytes(8);
             uint32_t* got = o.take<uint32_t>();
             return XCPUReadFile(d, kFile, buffer, 8, got, o.take<uint32_t>());
         },
         service(0x02, {le32(kFile), le32(8)}), answer(0, 1, {le32(0x7FFFFFFF), {'p', 'q'}}),
         ZEBERR_NO_DATA, cat({{'p', 'q'}, unwritten(6), le32(2), le32(1)}), 10},
        {"XCPUWriteFile",
         [](ZEBDevice* d, Outputs& o) {
             const uint8_t data[] = {7, 8, 9};
             uint32_t* written = o.take<uint32_t>();
             return XCPUWriteFile(d, kFile, data, 3, written, o.take<uint32_t>());
         },
         service(0x03, {le32(kFile), le32(3), {7, 8, 9}}), answer(0, 1, {le32(3)}), 0,
         cat({le32(3), le32(1)})},
        {"XCPUWriteFile of nothing",
         [](ZEBDevice* d, Outputs& o) {
             uint32_t* written = o.take<uint32_t>();
             return XCPUWriteFile(d, kFile, nullptr, 0, written, o.take<uint32_t>());
         },
         service(0x03, {le32(kFile), le32(0)}), answer(0, 1, {le32(0)}), 0,
         cat({le32(0), le32(1)})},
        {"XCPUCloseHandle",
         [](ZEBDevice* d, Outputs& o) { return XCPUCloseHandle(d, kFile, o.take<uint32_t>()); },
         service(0x05, {le32(kFile)}), answer(0, 1), 0, le32(1)},
        {"XCPUGetFileTime",
         [](ZEBDevice* d, Outputs& o) {
             ZEBFileTime* c = o.take<ZEBFileTime>();
             ZEBFileTime* a = o.take<ZEBFileTime>();
             ZEBFileTime* w = o.take<ZEBFileTime>();
             return XCPUGetFileTime(d, kFile, c, a, w, o.take<uint32_t>());
         },
         service(0x0B, {le32(kFile)}), answer(0, 1, {times}), 0, cat({times, le32(1)})},
        {"XCPUSetFileTime",
         [](ZEBDevice* d, Outputs& o) {
             const auto c = record_of<ZEBFileTime>(kTime1);
             const auto a = record_of<ZEBFileTime>(kTime2);
             const auto w = record_of<ZEBFileTime>(kTime3);
             return XCPUSetFileTime(d, kFile, &c, &a, &w, o.take<uint32_t>());
         },
         service(0x0C, {le32(kFile), kTime1, kTime2, kTime3}), answer(0, 1), 0, le32(1)},
        {"XCPUFindFirstFile sends the caller's record and takes the module's",
         [](ZEBDevice* d, Outputs& o) {
             ZEBFindData* f = o.take<ZEBFindData>();
             return XCPUFindFirstFile(d, "\\*.txt", f, o.take<uint32_t>());
         },
         service(0x0D, {path_arg("\\*.txt"), unwritten(560)}), answer(0, 0x4000, {found}), 0,
         cat({found, le32(0x4000)})},
        {"XCPUFindNextFile",
         [](ZEBDevice* d, Outputs& o) {
             ZEBFindData* f = o.take<ZEBFindData>();
             return XCPUFindNextFile(d, 0x4000, f, o.take<uint32_t>());
         },
         service(0x0F, {le32(0x4000), unwritten(560)}), answer(0, 1, {found}), 0,
         cat({found, le32(1)})},
        {"XCPUFindClose",
         [](ZEBDevice* d, Outputs& o) { return XCPUFindClose(d, 0x4000, o.take<uint32_t>()); },
         service(0x0E, {le32(0x4000)}), answer(0, 1), 0, le32(1)},
        {"XCPUDeleteFile",
         [](ZEBDevice* d, Outputs& o) { return XCPUDeleteFile(d, "old.log", o.take<uint32_t>()); },
         service(0x10, {path_arg("old.log")}), answer(0, 0), 0, le32(0)},
        {"XCPUSetEndOfFile",
         [](ZEBDevice* d, Outputs& o) { return XCPUSetEndOfFile(d, kFile, o.take<uint32_t>()); },
         service(0x11, {le32(kFile)}), answer(0, 1), 0, le32(1)},
        {"XCPUSetFilePointer sends the high part and takes the new one",
         [](ZEBDevice* d, Outputs& o) {
             int32_t* high = o.take<int32_t>();
             return XCPUSetFilePointer(d, kFile, -2, high, 1, o.take<uint32_t>());
         },
         service(0x12, {le32(kFile), le32(0xFFFFFFFE), unwritten(4), le32(1)}),
         answer(0, 0x1000, {le32(2)}), 0, cat({le32(2), le32(0x1000)})},
        {"XCPUSetFilePointer without a high part sends 0",
         [](ZEBDevice* d, Outputs& o) {
             return XCPUSetFilePointer(d, kFile, 100, nullptr, 0, o.take<uint32_t>());
         },
         service(0x12, {le32(kFile), le32(100), le32(0), le32(0)}), answer(0, 100), 0, le32(100)},
        {"XCPUFlushFileBuffers",
         [](ZEBDevice* d, Outputs& o) {
             return XCPUFlushFileBuffers(d, kFile, o.take<uint32_t>());
         },
         service(0x13, {le32(kFile)}), answer(0, 1), 0, le32(1)},
        {"XCPUGetFileSize",
         [](ZEBDevice* d, Outputs& o) {
             uint32_t* high = o.take<uint32_t>();
             return XCPUGetFileSize(d, kFile, high, o.take<uint32_t>());
         },
         service(0x14, {le32(kFile)}), answer(0, 0x2000, {le32(1)}), 0,
         cat({le32(1), le32(0x2000)})},
        {"XCPUGetFileSize, low part only",
         [](ZEBDevice* d, Outputs& o) {
             return XCPUGetFileSize(d, kFile, nullptr, o.take<uint32_t>());
         },
         service(0x14, {le32(kFile)}), answer(0, 0x2000), 0, le32(0x2000)},
        {"XCPUGetFileInformationByHandle",
         [](ZEBDevice* d, Outputs& o) {
             ZEBFileInfo* info = o.take<ZEBFileInfo>();
             return XCPUGetFileInformationByHandle(d, kFile, info, o.take<uint32_t>());
         },
         service(0x16, {le32(kFile)}), answer(0, 1, {info}), 0, cat({info, le32(1)})},
        {"XCPUSetFileAttributes",
         [](ZEBDevice* d, Outputs& o) {
             return XCPUSetFileAttributes(d, "a.txt", 0x21, o.take<uint32_t>());
         },
         service(0x17, {path_arg("a.txt"), le32(0x21)}), answer(0, 1), 0, le32(1)},
        {"XCPUGetFileAttributes",
         [](ZEBDevice* d, Outputs& o) {
             return XCPUGetFileAttributes(d, "a.txt", o.take<uint32_t>());
         },
         service(0x18, {path_arg("a.txt")}), answer(0, 0x20), 0, le32(0x20)},
        {"XCPUCreateDirectory",
         [](ZEBDevice* d, Outputs& o) {
             const auto sa = record_of<ZEBSecurityAttributes>(kSecurity);
             return XCPUCreateDirectory(d, "\\Logs", &sa, o.take<uint32_t>());
         },
         service(0x19, {path_arg("\\Logs"), kSecurity}), answer(0, 1), 0, le32(1)},
        {"XCPUCreateDirectory without security sends zeros",
         [](ZEBDevice* d, Outputs& o) {
             return XCPUCreateDirectory(d, "\\Logs", nullptr, o.take<uint32_t>());
         },
         service(0x19, {path_arg("\\Logs"), Bytes(12, 0)}), answer(0, 1), 0, le32(1)},
        {"XCPURemoveDirectory",
         [](ZEBDevice* d, Outputs& o) {
             return XCPURemoveDirectory(d, "\\Logs", o.take<uint32_t>());
         },
         service(0x1A, {path_arg("\\Logs")}), answer(0, 1), 0, le32(1)},
    };
}

std::vector<Row> comm_rows() {
    const Bytes status = pattern(0x80, 12);
    const Bytes properties = pattern(0x90, 64);
    return {
        {"XCPUSetCommState",
         [](ZEBDevice* d, Outputs& o) {
             const auto dcb = record_of<ZEBCommState>(kDcb);
             return XCPUSetCommState(d, kPort, &dcb, o.take<uint32_t>());
         },
         service(0x06, {le32(kPort), kDcb}), answer(0, 1), 0, le32(1)},
        {"XCPUGetCommState",
         [](ZEBDevice* d, Outputs& o) {
             ZEBCommState* dcb = o.take<ZEBCommState>();
             return XCPUGetCommState(d, kPort, dcb, o.take<uint32_t>());
         },
         service(0x07, {le32(kPort)}), answer(0, 1, {kDcb}), 0, cat({kDcb, le32(1)})},
        {"XCPUSetCommTimeouts",
         [](ZEBDevice* d, Outputs& o) {
             const auto t = record_of<ZEBCommTimeouts>(kTimeouts);
             return XCPUSetCommTimeouts(d, kPort, &t, o.take<uint32_t>());
         },
         service(0x08, {le32(kPort), kTimeouts}), answer(0, 1), 0, le32(1)},
        {"XCPUGetCommTimeouts",
         [](ZEBDevice* d, Outputs& o) {
             ZEBCommTimeouts* t = o.take<ZEBCommTimeouts>();
             return XCPUGetCommTimeouts(d, kPort, t, o.take<uint32_t>());
         },
         service(0x09, {le32(kPort)}), answer(0, 1, {kTimeouts}), 0, cat({kTimeouts, le32(1)})},
        {"XCPUPurgeComm",
         [](ZEBDevice* d, Outputs& o) { return XCPUPurgeComm(d, kPort, 0x0F, o.take<uint32_t>()); },
         {0x35, 0xCA, 0x1B, 0x00, 0xEE, 0xFF, 0xC0, 0x00, 0x0F, 0x00, 0x00, 0x00},
         answer(0, 1),
         0,
         le32(1)},
        {"XCPUClearCommError",
         [status](ZEBDevice* d, Outputs& o) {
             uint32_t* errors = o.take<uint32_t>();
             ZEBCommStatus* s = o.take<ZEBCommStatus>();
             return XCPUClearCommError(d, kPort, errors, s, o.take<uint32_t>());
         },
         service(0x1C, {le32(kPort)}), answer(0, 1, {le32(0x0A), status}), 0,
         cat({le32(0x0A), status, le32(1)})},
        {"XCPUClearCommError, error flags only",
         [](ZEBDevice* d, Outputs& o) {
             uint32_t* errors = o.take<uint32_t>();
             return XCPUClearCommError(d, kPort, errors, nullptr, o.take<uint32_t>());
         },
         service(0x1C, {le32(kPort)}), answer(0, 1, {le32(0x0A)}), 0, cat({le32(0x0A), le32(1)})},
        {"XCPUGetCommProperties",
         [](ZEBDevice* d, Outputs& o) {
             ZEBCommProperties* p = o.take<ZEBCommProperties>();
             return XCPUGetCommProperties(d, kPort, p, o.take<uint32_t>());
         },
         service(0x1D, {le32(kPort)}), answer(0, 1, {properties}), 0, cat({properties, le32(1)})},
    };
}

std::vector<Row> all_rows() {
    std::vector<Row> all = control_rows();
    for (auto rows : {file_rows(), comm_rows()})
        for (Row& r : rows) all.push_back(std::move(r));
    return all;
}

struct Outcome {
    uint32_t result;
    Bytes delivered;
    std::vector<Datagram> sent;
    uint16_t resends;
};

// Runs one row's call on a fresh network where the module behaves as `module` (none: silent).
Outcome run(const Row& row, PeerHandler module, DeviceOptions options = {100, 0, 0}) {
    ScopedSimNetwork net;
    if (module) net->add_peer(kModule, std::move(module));
    IpDevice dev(kModule, options);
    Outputs out;
    const auto result = static_cast<uint32_t>(row.call(&dev.device, out));
    EXPECT_TRUE(out.guards_intact()) << "wrote past an output";
    return {result, out.delivered(), net->sent(), dev.device.ResendCount};
}

Bytes with_status(Bytes reply, uint16_t status) {
    if (reply.size() < 2) reply.resize(2);
    reply[0] = uint8_t(status);
    reply[1] = uint8_t(status >> 8);
    return reply;
}

// ---- The table ----

TEST(XcpuOperations, RequestReplyResultAndOutputsOfEachMember) {
    for (const Row& row : all_rows()) {
        SCOPED_TRACE(row.name);
        const Outcome got = run(row, answer_with(row.reply));
        EXPECT_EQ(got.result, row.result);
        EXPECT_EQ(got.delivered, row.delivered);
        ASSERT_EQ(got.sent.size(), 1u);
        EXPECT_EQ(payload_of(got.sent[0].bytes), row.request);
    }
}

TEST(XcpuOperations, EveryOneOfTheThirtyOneMembersIsInTheTable) {
    std::set<std::string> members;
    for (const Row& row : all_rows())
        members.insert(row.name.substr(0, row.name.find_first_of(" ,:")));
    EXPECT_EQ(members.size(), 31u);
}

TEST(XcpuOperations, AFailedExchangeIsTheResultAndLeavesEveryOutputAlone) {
    for (const Row& row : all_rows()) {
        SCOPED_TRACE(row.name);
        const Outcome silent = run(row, nullptr);
        EXPECT_EQ(silent.result, ZEBERR_TIMEOUT);
        EXPECT_EQ(silent.delivered, unwritten(row.delivered.size()));
        EXPECT_EQ(silent.sent.size(), 1u);

        // A Winsock number carries the 0x2000 bit, but here it ends the call like any failure.
        ScopedSimNetwork net;
        net->add_peer(kModule, answer_with(row.reply));
        IpDevice dev(kModule, {100, 0, 0});
        net->fail_next(SimNetwork::Op::receive, 10054);
        Outputs out;
        EXPECT_EQ(static_cast<uint32_t>(row.call(&dev.device, out)), 10054u);
        EXPECT_EQ(out.delivered(), unwritten(row.delivered.size()));

        // A reply whose CRC is wrong.
        const Outcome bad_crc = run(row, [&row](const Datagram& d, PeerReply& reply) {
            reply.send(make_bad_crc_reply(sequence_of(d.bytes), row.reply));
        });
        EXPECT_EQ(bad_crc.result, ZEBERR_BAD_CRC);
        EXPECT_EQ(bad_crc.delivered, unwritten(row.delivered.size()));
    }
}

TEST(XcpuOperations, AReplyShortOfTheFieldsReadWritesNothing) {
    for (const Row& row : all_rows()) {
        SCOPED_TRACE(row.name);
        const size_t need = needs(row);
        if (need == 0) {
            // The reply is not looked at: an empty one is as good as any.
            EXPECT_EQ(run(row, answer_with({})).result, 0u);
            continue;
        }
        for (size_t length : {size_t{0}, size_t{1}, need - 1}) {
            SCOPED_TRACE(length);
            // Cut short, with an accepting status word where one is left.
            Bytes cut(row.reply.begin(), row.reply.begin() + length);
            if (length >= 2) cut = with_status(cut, 0);
            const Outcome got = run(row, answer_with(cut));
            EXPECT_EQ(got.result, ZEBERR_NO_DATA);
            EXPECT_EQ(got.delivered, unwritten(row.delivered.size()));
        }
    }
}

TEST(XcpuOperations, ARefusalAsTheStatusWordAloneIsTheResultAndWritesNothing) {
    // Alone, or with part of the fields: the module's refusal says more than the missing bytes.
    for (const Row& row : all_rows()) {
        if (needs(row) <= 2) continue;
        SCOPED_TRACE(row.name);
        for (size_t length : {size_t{2}, needs(row) - 1}) {
            Bytes cut(row.reply.begin(), row.reply.begin() + length);
            const Outcome got = run(row, answer_with(with_status(cut, 0x8005)));
            EXPECT_EQ(got.result, 0xFFFF8005u);
            EXPECT_EQ(got.delivered, unwritten(row.delivered.size()));
        }
    }
}

TEST(XcpuOperations, ANegativeStatusIsSignExtendedAndTheOutputsAreStillDelivered) {
    for (const Row& row : all_rows()) {
        SCOPED_TRACE(row.name);
        const Outcome got = run(row, answer_with(with_status(row.reply, 0x8000)));
        EXPECT_EQ(got.result, needs(row) == 0 ? row.result : 0xFFFF8000u);
        EXPECT_EQ(got.delivered, row.delivered);
    }
}

TEST(XcpuOperations, ASuccessAfterReSendsIsZero) {
    for (const Row& row : all_rows()) {
        SCOPED_TRACE(row.name);
        const Outcome got = run(row, lose_first(1, answer_with(row.reply)), {100, 2, 0});
        EXPECT_EQ(got.result, row.result);
        EXPECT_NE(got.result, ZEBWARN_RETRIED);
        EXPECT_EQ(got.delivered, row.delivered);
        EXPECT_EQ(got.sent.size(), 2u);
        EXPECT_EQ(got.resends, 1);
    }
}

TEST(XcpuOperations, TheExtendedHeaderMovesTheRequestBodyButNotTheReply) {
    for (const Row& row : all_rows()) {
        SCOPED_TRACE(row.name);
        const Outcome got = run(row, answer_with(row.reply), {100, 0, 1});
        EXPECT_EQ(got.result, row.result);
        EXPECT_EQ(got.delivered, row.delivered);
        ASSERT_EQ(got.sent.size(), 1u);
        const Bytes& frame = got.sent[0].bytes;
        ASSERT_GE(frame.size(), 16u);
        EXPECT_EQ(frame[9], 0x15);
        EXPECT_EQ(Bytes(frame.begin() + 16, frame.end()), row.request);
    }
}

TEST(XcpuOperations, NoWaitPlaysNoPart) {
    const Row row = file_rows()[0];
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with(row.reply, 5));
    IpDevice dev(kModule, {100, 0, 0});
    dev.device.NoWait = 1;
    Outputs out;
    EXPECT_EQ(row.call(&dev.device, out), 0);
    EXPECT_EQ(out.delivered(), row.delivered);
}

// ---- One member at a time ----

TEST(XcpuControl, GetLastErrorSendsThirteenBytes) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with(answer(0, 5)));
    IpDevice dev(kModule, {100, 0, 0});
    uint32_t last = 0;
    EXPECT_EQ(XCPUGetLastError(&dev.device, &last), 0);
    EXPECT_EQ(last, 5u);
    ASSERT_EQ(net->sent().size(), 1u);
    const Bytes& f = net->sent()[0].bytes;
    ASSERT_EQ(f.size(), 13u);
    const uint16_t seq = sequence_of(f);
    EXPECT_EQ(f, (Bytes{'Z', 'Q', 'K', uint8_t(seq), uint8_t(seq >> 8), 0x5E, 0xBD, 0x04, 0x00,
                        0x35, 0xCA, 0x04, 0x00}));
}

struct Split {
    std::string line;
    std::string name;  // what the 64-byte name field holds before its zero fill
    Bytes arguments;   // from body byte 66 on, the zero included
};

TEST(XcpuControl, RunProgramSplitsItsCommandLine) {
    const Split cases[] = {
        {"   ", "", {0}},
        {"  ladder  -r fast ", "ladder", cat({text_bytes("-r fast "), {0}})},
        {"ladder", "ladder", {0}},
        {"ladder\t-r", "ladder\t-r", {0}},
        {"\tladder -r", "\tladder", cat({text_bytes("-r"), {0}})},
        {"ladder \t\n\v\f\r x", "ladder", {'x', 0}},
        {"ladder x\ty", "ladder", {'x', '\t', 'y', 0}},
        {std::string(64, 'n'), std::string(64, 'n'), {0}},
    };
    for (const Split& c : cases) {
        SCOPED_TRACE(c.line);
        ScopedSimNetwork net;
        net->add_peer(kModule, answer_with({0x00, 0x00}));
        IpDevice dev(kModule, {100, 0, 0});
        EXPECT_EQ(XCPURunProgram(&dev.device, c.line.c_str()), 0);
        ASSERT_EQ(net->sent().size(), 1u);
        const Bytes body = payload_of(net->sent()[0].bytes);
        ASSERT_EQ(body.size(), 66u + c.arguments.size());
        EXPECT_EQ(body[0], 0x34);
        EXPECT_EQ(body[1], 0xCB);
        Bytes field(64, 0);
        std::copy(c.name.begin(), c.name.end(), field.begin());
        EXPECT_EQ(Bytes(body.begin() + 2, body.begin() + 66), field);
        EXPECT_EQ(Bytes(body.begin() + 66, body.end()), c.arguments);
    }
}

TEST(XcpuControl, RunProgramRefusesWhatItCannotSendAndSendsNothing) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0x00, 0x00}));
    IpDevice dev(kModule, {100, 0, 0});
    EXPECT_EQ(XCPURunProgram(&dev.device, ""), -1);
    EXPECT_EQ(static_cast<uint32_t>(XCPURunProgram(&dev.device, nullptr)), ZEBERR_BAD_PARAMETER);
    const std::string long_name(65, 'n');
    EXPECT_EQ(static_cast<uint32_t>(XCPURunProgram(&dev.device, long_name.c_str())),
              ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(static_cast<uint32_t>(XCPURunProgram(&dev.device, (long_name + " x").c_str())),
              ZEBERR_PACKET_TOO_LARGE);
    EXPECT_TRUE(net->sent().empty());
    EXPECT_EQ(static_cast<uint32_t>(XCPURunProgram(nullptr, "x")), ZEBERR_BAD_DEVICE);
}

TEST(XcpuControl, RunProgramTimesOut) {
    ScopedSimNetwork net;
    IpDevice dev(kModule, {100, 1, 0});
    EXPECT_EQ(static_cast<uint32_t>(XCPURunProgram(&dev.device, "ladder")), ZEBERR_TIMEOUT);
    EXPECT_EQ(net->sent().size(), 2u);
}

TEST(XcpuFiles, AReadOf1581BytesFillsTheWholeReply) {
    const Bytes data = pattern(0x05, 1581);
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with(answer(0, 1, {le32(1581), data})));
    IpDevice dev(kModule, {100, 0, 0});
    Bytes buffer(1582, kUnwritten);
    uint32_t got = 0, result = 0;
    EXPECT_EQ(XCPUReadFile(&dev.device, kFile, buffer.data(), 1581, &got, &result), 0);
    EXPECT_EQ(got, 1581u);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 1581), data);
    EXPECT_EQ(buffer[1581], kUnwritten);
    ASSERT_EQ(net->received().size(), 1u);
    EXPECT_EQ(net->received()[0].bytes.size(), 1600u);

    // One byte more cannot come back in one reply.
    EXPECT_EQ(
        static_cast<uint32_t>(XCPUReadFile(&dev.device, kFile, buffer.data(), 1582, &got, &result)),
        ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(net->sent().size(), 1u);
}

// Each request-side limit: the largest input that fits with the 9-byte header, and a call of
// a given input size.
struct Limit {
    const char* member;
    size_t largest;  // with the 9-byte header; 7 less with the 16-byte one
    size_t buffer;   // the request buffer it fills exactly
    std::function<int32_t(ZEBDevice*, size_t)> call;
    Bytes reply = answer(0, 1, {le32(0)});
};

TEST(XcpuLimits, EveryRequestSideLimitIsRefusedBeforeSendingAndMovesWithTheHeader) {
    static ZEBFindData find;
    static uint8_t data[1600];
    static uint32_t out;
    const auto text = [](size_t n) { return std::string(n, 'p'); };
    const Limit limits[] = {
        {"XCPUCreateFile", 468, 500,
         [&](ZEBDevice* d, size_t n) {
             return XCPUCreateFile(d, text(n).c_str(), 0, 0, 0, 0, &out);
         }},
        {"XCPUDeleteFile", 484, 500,
         [&](ZEBDevice* d, size_t n) { return XCPUDeleteFile(d, text(n).c_str(), &out); }},
        {"XCPUGetFileAttributes", 484, 500,
         [&](ZEBDevice* d, size_t n) { return XCPUGetFileAttributes(d, text(n).c_str(), &out); }},
        {"XCPURemoveDirectory", 484, 500,
         [&](ZEBDevice* d, size_t n) { return XCPURemoveDirectory(d, text(n).c_str(), &out); }},
        {"XCPUSetFileAttributes", 480, 500,
         [&](ZEBDevice* d, size_t n) {
             return XCPUSetFileAttributes(d, text(n).c_str(), 0, &out);
         }},
        {"XCPUCreateDirectory", 472, 500,
         [&](ZEBDevice* d, size_t n) {
             return XCPUCreateDirectory(d, text(n).c_str(), nullptr, &out);
         }},
        {"XCPUFindFirstFile", 424, 1000,
         [&](ZEBDevice* d, size_t n) { return XCPUFindFirstFile(d, text(n).c_str(), &find, &out); },
         answer(0, 1, {Bytes(560, 0)})},
        {"XCPUWriteFile", 1579, 1600,
         [&](ZEBDevice* d, size_t n) {
             return XCPUWriteFile(d, 1, data, static_cast<uint32_t>(n), &out, &out);
         }},
        {"XCPURunProgram's argument text", 424, 500,
         [&](ZEBDevice* d, size_t n) { return XCPURunProgram(d, ("p " + text(n)).c_str()); }},
    };
    for (const Limit& limit : limits) {
        for (int32_t extended : {0, 1}) {
            SCOPED_TRACE(std::string(limit.member) + (extended ? ", 16-byte header" : ""));
            const size_t largest = limit.largest - (extended ? 7 : 0);
            ScopedSimNetwork net;
            net->add_peer(kModule, answer_with(limit.reply));
            IpDevice dev(kModule, {100, 0, extended});
            EXPECT_EQ(static_cast<uint32_t>(limit.call(&dev.device, largest + 1)),
                      ZEBERR_PACKET_TOO_LARGE);
            EXPECT_EQ(static_cast<uint32_t>(limit.call(&dev.device, largest + 5000)),
                      ZEBERR_PACKET_TOO_LARGE);
            EXPECT_TRUE(net->sent().empty());
            EXPECT_EQ(limit.call(&dev.device, largest), 0);
            ASSERT_EQ(net->sent().size(), 1u);
            EXPECT_EQ(net->sent()[0].bytes.size(), limit.buffer);
        }
    }
}

TEST(XcpuFiles, NullPointersWhereTheRequestNeedsDataAreRefusedBeforeSending) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with(answer(0, 1, {le32(0)})));
    IpDevice dev(kModule, {100, 0, 0});
    ZEBDevice* d = &dev.device;
    const ZEBFileTime t{};
    uint32_t out = 0;
    uint8_t byte = 0;
    const int32_t refused[] = {
        XCPUCreateFile(d, nullptr, 0, 0, 0, 0, &out), XCPUDeleteFile(d, nullptr, &out),
        XCPUFindFirstFile(d, nullptr, nullptr, &out), XCPUFindFirstFile(d, "*", nullptr, &out),
        XCPUFindNextFile(d, 1, nullptr, &out),        XCPUSetFileTime(d, 1, &t, nullptr, &t, &out),
        XCPUSetFileTime(d, 1, nullptr, &t, &t, &out), XCPUSetCommState(d, 1, nullptr, &out),
        XCPUSetCommTimeouts(d, 1, nullptr, &out),     XCPUWriteFile(d, 1, nullptr, 1, &out, &out),
        XCPUReadFile(d, 1, nullptr, 1, &out, &out),
    };
    for (int32_t r : refused) EXPECT_EQ(static_cast<uint32_t>(r), ZEBERR_BAD_PARAMETER);
    EXPECT_TRUE(net->sent().empty());
    // A read of nothing needs no buffer; a null device is refused as such.
    EXPECT_EQ(XCPUReadFile(d, 1, nullptr, 0, &out, &out), 0);
    EXPECT_EQ(static_cast<uint32_t>(XCPUReadFile(nullptr, 1, &byte, 1, &out, &out)),
              ZEBERR_BAD_DEVICE);
    EXPECT_EQ(static_cast<uint32_t>(XCPUGetLastError(nullptr, &out)), ZEBERR_BAD_DEVICE);
}

}  // namespace
}  // namespace zebtest
