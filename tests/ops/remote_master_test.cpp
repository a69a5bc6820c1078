// The remote-master mailbox and the tunnel through it, against a simulated remote master: a
// module whose flagged shared RAM holds the control block and data window, and which carries
// out data transfers and commands when the host writes a command byte.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "frames.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_network.h"
#include "zeb.h"

namespace zebtest {
namespace {

constexpr Endpoint kModule{ipv4(127, 0, 0, 2), kModulePort};
constexpr uint16_t kBase = 0x0102;
constexpr uint16_t kSlot = 0x0304;
constexpr size_t kControl = 0x30;
constexpr size_t kWindow = 0x3C;

uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

// One shared-RAM request as the module reads it.
struct RamRequest {
    uint8_t function;
    bool flagged;
    uint16_t base, slot, address, count;
    Bytes data;
};

RamRequest parse(const Bytes& body) {
    RamRequest r{};
    if (body.size() < 10) return r;
    r.function = body[0];
    r.flagged = body[1] == 1;
    r.base = le16(&body[2]);
    r.slot = le16(&body[4]);
    r.address = le16(&body[6]);
    r.count = le16(&body[8]);
    r.data.assign(body.begin() + 10, body.end());
    return r;
}

// A remote master behind a module's shared RAM. Every answer takes 1 ms, so polls move the
// clock like real exchanges do.
struct RemoteMaster {
    Bytes ram = Bytes(0x10000, 0);
    std::map<uint8_t, Bytes> areas;
    // A node behind the master: gets the forwarded request, fills the answer head's status and
    // the answer.
    std::function<void(const Bytes& request, uint16_t& status, Bytes& answer)> node;
    bool never_done = false;
    int polls_before_done = 0;      // state 0 for this many reads of the block
    uint8_t fail_code[2] = {0, 0};  // state 3 with these error bytes when set
    bool fail = false;
    uint16_t command_error = 0;     // commands (not data transfers) fail with this 16-bit code
    int failing_block_reads = 0;    // reads of the block answered with a module error
    int failing_window_writes = 0;  // writes to the window answered with a module error
    struct Run {
        uint8_t command;
        Bytes block;  // the control block when it ran
    };
    std::vector<Run> runs;
    int pending = -1;  // command byte waiting to be carried out
    uint64_t delay_ms = 1;

    Bytes& area(uint8_t a) {
        Bytes& b = areas[a];
        if (b.empty()) b.assign(0x10000 + 256, 0);
        return b;
    }

    void carry_out(uint8_t command) {
        runs.push_back({command, Bytes(ram.begin() + kControl, ram.begin() + kWindow)});
        uint8_t* block = &ram[kControl];
        if (fail) {
            block[1] = 3;
            block[2] = fail_code[0];
            block[3] = fail_code[1];
            return;
        }
        if (command == 6 && command_error) {
            block[1] = 3;
            block[2] = uint8_t(command_error);
            block[3] = uint8_t(command_error >> 8);
            return;
        }
        const uint16_t a = le16(block + 4), off = le16(block + 6), len = le16(block + 8);
        if (command == 8) std::memcpy(&area(uint8_t(a))[off], &ram[kWindow], len);
        if (command == 7) std::memcpy(&ram[kWindow], &area(uint8_t(a))[off], len);
        if (command == 6 && le16(block + 4) == 3 && node) {
            const uint16_t length = le16(block + 10);
            Bytes& fwd = area(4);
            const Bytes request(fwd.begin(), fwd.begin() + length);
            uint16_t status = 0;
            Bytes answer;
            node(request, status, answer);
            fwd[0] = uint8_t(status);
            fwd[1] = uint8_t(status >> 8);
            fwd[2] = uint8_t(answer.size());
            fwd[3] = uint8_t(answer.size() >> 8);
            std::copy(answer.begin(), answer.end(), fwd.begin() + 4);
        }
        block[1] = 2;
    }

    Bytes handle(const Bytes& body) {
        const RamRequest r = parse(body);
        const size_t at = r.address + (r.flagged ? 0 : 0x8000);  // unflagged RAM elsewhere
        if (r.function == 0x29) {
            if (at == kWindow && failing_window_writes > 0) {
                --failing_window_writes;
                return {0x01, 0x80};
            }
            std::copy(r.data.begin(), r.data.end(), ram.begin() + at);
            if (at == kControl && !r.data.empty() && r.data[0] != 0) {
                if (r.data.size() == 2 || r.data.size() == 1) pending = r.data[0];
            }
            if (at == kControl && !r.data.empty() && r.data[0] == 0) pending = -1;
            return {0, 0};
        }
        if (r.function == 0x28) {
            if (at == kControl) {
                if (failing_block_reads > 0) {
                    --failing_block_reads;
                    return {0x01, 0x80};
                }
                if (pending >= 0 && !never_done) {
                    if (polls_before_done > 0) {
                        --polls_before_done;
                    } else {
                        carry_out(uint8_t(pending));
                        pending = -1;
                    }
                }
            }
            Bytes reply{0, 0};
            reply.insert(reply.end(), ram.begin() + at, ram.begin() + at + r.count);
            return reply;
        }
        return {0x05, 0x00};
    }

    PeerHandler peer() {
        return [this](const Datagram& d, PeerReply& out) {
            out.send(make_reply(sequence_of(d.bytes), handle(payload_of(d.bytes))), delay_ms);
        };
    }
};

// The shared-RAM requests the library sent, in order.
std::vector<RamRequest> requests(SimNetwork& net) {
    std::vector<RamRequest> out;
    for (const Datagram& d : net.sent()) out.push_back(parse(payload_of(d.bytes)));
    return out;
}

Bytes pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + 3);
    return b;
}

struct Fixture {
    ScopedSimNetwork net;
    RemoteMaster master;
    std::unique_ptr<IpDevice> dev;
    Fixture(uint16_t timeout = 100) {
        net->add_peer(kModule, master.peer());
        dev = std::make_unique<IpDevice>(kModule, DeviceOptions{timeout, 0, 0});
    }
    ZEBDevice* device() { return &dev->device; }
};

// ---- Data transfers ----------------------------------------------------------------------

TEST(VireoData, SixHundredBytesAtOffset100GoAsThreeChunks) {
    Fixture f;
    const Bytes data = pattern(600);
    ASSERT_EQ(ZEBWriteVireoData(f.device(), kBase, kSlot, 9, data.data(), 600, 100), 0u);
    ASSERT_EQ(f.master.runs.size(), 3u);
    const uint16_t offsets[] = {100, 356, 612}, lengths[] = {256, 256, 88};
    for (int i = 0; i < 3; ++i) {
        const Bytes& block = f.master.runs[i].block;
        EXPECT_EQ(f.master.runs[i].command, 8);
        EXPECT_EQ(le16(&block[4]), 9);
        EXPECT_EQ(le16(&block[6]), offsets[i]);
        EXPECT_EQ(le16(&block[8]), lengths[i]);
        EXPECT_EQ(le16(&block[10]), 0);
    }
    EXPECT_TRUE(std::equal(data.begin(), data.end(), f.master.area(9).begin() + 100));
    // Every request goes to the selected shared RAM's flagged region, the chunk to the window.
    for (const RamRequest& r : requests(*f.net)) {
        EXPECT_TRUE(r.flagged);
        EXPECT_EQ(r.base, kBase);
        EXPECT_EQ(r.slot, kSlot);
        EXPECT_TRUE(r.address == kControl || r.address == kWindow);
    }

    Bytes back(601, 0xCC);
    ASSERT_EQ(ZEBReadVireoData(f.device(), kBase, kSlot, 9, back.data(), 600, 100), 0u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
    EXPECT_EQ(back[600], 0xCC);
    ASSERT_EQ(f.master.runs.size(), 6u);
    EXPECT_EQ(f.master.runs[5].command, 7);
    EXPECT_EQ(le16(&f.master.runs[5].block[6]), 612);
}

TEST(VireoData, ZeroCountSendsNothing) {
    Fixture f;
    uint8_t b = 0;
    EXPECT_EQ(ZEBWriteVireoData(f.device(), kBase, kSlot, 1, &b, 0, 0), 0u);
    EXPECT_EQ(ZEBReadVireoData(f.device(), kBase, kSlot, 1, &b, 0, 0), 0u);
    EXPECT_EQ(ZEBReadVireoData(f.device(), kBase, kSlot, 1, nullptr, 4, 0), ZEBERR_BAD_PARAMETER);
    EXPECT_TRUE(f.net->sent().empty());
}

TEST(VireoData, OffsetWrapsAt16Bits) {
    Fixture f;
    const Bytes data = pattern(300);
    ASSERT_EQ(ZEBWriteVireoData(f.device(), kBase, kSlot, 2, data.data(), 300, 0xFF80), 0u);
    ASSERT_EQ(f.master.runs.size(), 2u);
    EXPECT_EQ(le16(&f.master.runs[1].block[6]), uint16_t(0xFF80 + 256));
}

TEST(VireoData, AFailedPollEndsATransferButNotACommand) {
    Fixture f;
    const Bytes data = pattern(10);
    f.master.failing_block_reads = 1;
    EXPECT_EQ(ZEBWriteVireoData(f.device(), kBase, kSlot, 2, data.data(), 10, 0), 0xFFFF8001u);
    f.master.pending = -1;
    f.master.failing_block_reads = 2;
    EXPECT_EQ(ZEBDoVireoCommand(f.device(), kBase, kSlot, 5), 0u);
    f.master.failing_block_reads = 2;
    EXPECT_EQ(ZEBDoVireoCommandEx(f.device(), kBase, kSlot, 5, data.data(), 4), 0u);
}

TEST(VireoData, AFailedChunkWriteStopsTheTransferWithItsResult) {
    Fixture f;
    const Bytes data = pattern(600);
    f.master.failing_window_writes = 0;
    // The second chunk's data write fails: the first chunk stays written, no third one runs.
    int writes_seen = 0;
    f.net->remove_peer(1);
    f.net->add_peer(kModule, [&](const Datagram& d, PeerReply& out) {
        const RamRequest r = parse(payload_of(d.bytes));
        if (r.function == 0x29 && r.address == kWindow && ++writes_seen == 2) {
            out.send(make_reply(sequence_of(d.bytes), {0x02, 0x80}), 1);
            return;
        }
        out.send(make_reply(sequence_of(d.bytes), f.master.handle(payload_of(d.bytes))), 1);
    });
    EXPECT_EQ(ZEBWriteVireoData(f.device(), kBase, kSlot, 2, data.data(), 600, 0), 0xFFFF8002u);
    EXPECT_EQ(f.master.runs.size(), 1u);
}

// ---- Commands ----------------------------------------------------------------------------

TEST(VireoCommand, WritesTheCommandThenStartsIt) {
    Fixture f;
    const Bytes params = {1, 2, 3};
    f.master.polls_before_done = 3;
    ASSERT_EQ(ZEBDoVireoCommandEx(f.device(), kBase, kSlot, 0x1234, params.data(), 3), 0u);
    const auto sent = requests(*f.net);
    ASSERT_GE(sent.size(), 6u);  // block, start, four polls
    EXPECT_EQ(sent[0].data, (Bytes{0, 0, 0, 0, 0x34, 0x12, 1, 2, 3}));
    EXPECT_EQ(sent[1].data, (Bytes{6, 0}));
    EXPECT_EQ(sent.size(), 6u);
    for (size_t i = 2; i < sent.size(); ++i) EXPECT_EQ(sent[i].count, 4);
}

TEST(VireoCommand, ParametersAbove250AreRefusedBeforeSending) {
    Fixture f;
    const Bytes params(251, 0x11);
    EXPECT_EQ(ZEBDoVireoCommandEx(f.device(), kBase, kSlot, 1, params.data(), 251),
              ZEBERR_PACKET_TOO_LARGE);
    EXPECT_TRUE(f.net->sent().empty());
    EXPECT_EQ(ZEBDoVireoCommandEx(f.device(), kBase, kSlot, 1, params.data(), 250), 0u);
    EXPECT_EQ(requests(*f.net)[0].data.size(), 256u);
}

TEST(VireoCommand, ErrorBytesAreOneByteForThePlainFormAndSixteenBitsForTheExtended) {
    Fixture f;
    f.master.fail = true;
    f.master.fail_code[0] = 0x34;
    f.master.fail_code[1] = 0x12;
    EXPECT_EQ(ZEBDoVireoCommandEx(f.device(), kBase, kSlot, 1, nullptr, 0), 0x1234u);
    EXPECT_EQ(ZEBDoVireoCommand(f.device(), kBase, kSlot, 1), 0x34u);
    EXPECT_EQ(XCPUDoVireoCommand(f.device(), kBase, kSlot, 1), 0x34u);
    uint8_t b[4] = {};
    EXPECT_EQ(ZEBReadVireoData(f.device(), kBase, kSlot, 1, b, 4, 0), 0x34u);
}

TEST(VireoCommand, AMasterStuckInStateZeroTimesOutAfterTimeout) {
    Fixture f(50);
    f.master.never_done = true;
    const uint64_t start = f.net->now();
    EXPECT_EQ(ZEBDoVireoCommand(f.device(), kBase, kSlot, 1), ZEBERR_TIMEOUT);
    const uint64_t took = f.net->now() - start;
    EXPECT_GE(took, 50u);
    EXPECT_LE(took, 55u);
    const size_t polls = f.net->sent().size() - 2;
    EXPECT_GT(polls, 10u);  // one every exchange, none faster

    uint8_t b[4] = {};
    EXPECT_EQ(ZEBReadVireoData(f.device(), kBase, kSlot, 1, b, 4, 0), ZEBERR_TIMEOUT);
}

TEST(VireoCommand, ATimeoutOfZeroEndsThePlainCommandBeforeItsFirstPoll) {
    Fixture f(0);
    f.master.never_done = true;
    f.master.delay_ms = 0;  // answers within the engine's Timeout of 0
    EXPECT_EQ(ZEBDoVireoCommand(f.device(), kBase, kSlot, 1), ZEBERR_TIMEOUT);
    auto sent = requests(*f.net);
    ASSERT_EQ(sent.size(), 2u);  // the block and its start, no poll
    EXPECT_EQ(sent[1].data, (Bytes{6, 0}));

    // The extended command polls first and tests the time after: one poll.
    f.net->clear_records();
    EXPECT_EQ(ZEBDoVireoCommandEx(f.device(), kBase, kSlot, 1, nullptr, 0), ZEBERR_TIMEOUT);
    sent = requests(*f.net);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].function, 0x28);
}

// ---- XCPU twins --------------------------------------------------------------------------

TEST(VireoTwins, SendTheSameRequestsAsTheZebOperations) {
    const Bytes data = pattern(300);
    const Bytes params = {9, 8, 7};
    using Call = std::function<uint32_t(ZEBDevice*, bool)>;
    const std::vector<Call> calls = {
        [&](ZEBDevice* d, bool x) {
            return (x ? XCPUWriteVireoData : ZEBWriteVireoData)(d, kBase, kSlot, 3, data.data(),
                                                                300, 5);
        },
        [&](ZEBDevice* d, bool x) {
            Bytes b(300);
            return (x ? XCPUReadVireoData : ZEBReadVireoData)(d, kBase, kSlot, 3, b.data(), 300, 5);
        },
        [&](ZEBDevice* d, bool x) {
            return (x ? XCPUDoVireoCommand : ZEBDoVireoCommand)(d, kBase, kSlot, 0x77);
        },
        [&](ZEBDevice* d, bool x) {
            return (x ? XCPUDoVireoCommandEx : ZEBDoVireoCommandEx)(d, kBase, kSlot, 0x77,
                                                                    params.data(), 3);
        },
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<Bytes> bodies[2];
        uint32_t results[2];
        for (int x = 0; x < 2; ++x) {
            Fixture f;
            results[x] = calls[i](f.device(), x == 1);
            for (const Datagram& d : f.net->sent()) bodies[x].push_back(payload_of(d.bytes));
        }
        EXPECT_EQ(results[0], 0u);
        EXPECT_EQ(results[1], results[0]);
        EXPECT_EQ(bodies[1], bodies[0]);
    }
}

// ---- The tunnel --------------------------------------------------------------------------

struct TunnelFixture : Fixture {
    Bytes forwarded;
    TunnelFixture() {
        dev->device.Tunnel = 1;
        dev->device.TunnelBase = uint8_t(kBase);
        dev->device.TunnelSlot = uint8_t(kSlot);
        dev->device.TunnelNode = 7;
    }
    void fail_commands_with(uint16_t code) { master.command_error = code; }
    void node_answers(uint16_t status, Bytes answer) {
        master.node = [this, status, answer](const Bytes& request, uint16_t& s, Bytes& a) {
            forwarded = request;
            s = status;
            a = answer;
        };
    }
};

TEST(Tunnel, ReadIOGoesThroughTheRemoteMasterAndLeavesTunnelSet) {
    TunnelFixture f;
    f.node_answers(0, {0, 0, 0x10, 0x11, 0xFF});
    uint8_t buf[16] = {};
    std::memset(buf, 0xCC, sizeof buf);
    uint16_t size = 10;
    EXPECT_EQ(ZEBReadIO(f.device(), buf, &size), 0u);
    EXPECT_EQ(size, 3);
    EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{0x10, 0x11, 0xFF}));
    EXPECT_EQ(f.forwarded, Bytes{0x07});
    EXPECT_EQ(+f.dev->device.Tunnel, 1);
    // No frame of the tunnelled request went out by itself: every datagram is a mailbox one.
    for (const RamRequest& r : requests(*f.net))
        EXPECT_TRUE(r.function == 0x28 || r.function == 0x29);
    // Command 3 names the node, the request length and the forwarding flags.
    const auto& runs = f.master.runs;
    ASSERT_EQ(runs.size(), 4u);  // write chunk, command, head, answer
    EXPECT_EQ(runs[1].command, 6);
    EXPECT_EQ(Bytes(runs[1].block.begin() + 4, runs[1].block.end()),
              (Bytes{3, 0, 7, 0, 0, 0, 1, 0}));
    bool command_written = false;
    for (const RamRequest& r : requests(*f.net)) {
        if (r.function == 0x29 && r.data.size() == 16) {
            EXPECT_EQ(r.data, (Bytes{0, 0, 0, 0, 3, 0, 7, 0, 0, 0, 1, 0, 0, 0, 0, 8}));
            command_written = true;
        }
    }
    EXPECT_TRUE(command_written);
}

TEST(Tunnel, EveryFailureLeavesTunnelSetAndStopsTheSteps) {
    {
        SCOPED_TRACE("request write fails");
        TunnelFixture f;
        f.node_answers(0, {0, 0});
        f.master.failing_window_writes = 1;
        uint8_t buf[8] = {};
        uint16_t size = 8;
        EXPECT_EQ(ZEBReadIO(f.device(), buf, &size), 0xFFFF8001u);
        EXPECT_EQ(+f.dev->device.Tunnel, 1);
        EXPECT_TRUE(f.master.runs.empty());
    }
    {
        SCOPED_TRACE("command fails");
        TunnelFixture f;
        f.master.fail = true;
        f.master.fail_code[0] = 9;
        uint8_t buf[8] = {};
        uint16_t size = 8;
        EXPECT_EQ(ZEBReadIO(f.device(), buf, &size), 9u);
        EXPECT_EQ(+f.dev->device.Tunnel, 1);
        EXPECT_EQ(f.master.runs.size(), 1u);  // the first chunk fails, nothing follows
    }
    {
        SCOPED_TRACE("remote master never answers");
        TunnelFixture f;
        f.master.never_done = true;
        uint8_t buf[8] = {};
        uint16_t size = 8;
        EXPECT_EQ(ZEBReadIO(f.device(), buf, &size), ZEBERR_TIMEOUT);
        EXPECT_EQ(+f.dev->device.Tunnel, 1);
    }
}

TEST(Tunnel, ANodeStatusGivesNoDataNotTheOldBuffer) {
    TunnelFixture f;
    f.node_answers(0, {0, 0, 0x21, 0xFF});
    uint8_t buf[8] = {};
    uint16_t size = 8;
    ASSERT_EQ(ZEBReadIO(f.device(), buf, &size), 0u);
    f.node_answers(5, {0, 0, 0x22, 0xFF});
    size = 8;
    std::memset(buf, 0xCC, sizeof buf);
    // A failed exchange: nothing delivered, the size left as it was, as after a time-out.
    EXPECT_EQ(ZEBReadIO(f.device(), buf, &size), ZEBERR_NO_DATA);
    EXPECT_EQ(size, 8);
    EXPECT_EQ(buf[0], 0xCC);
    EXPECT_EQ(+f.dev->device.Tunnel, 1);

    // Straight through the engine, and for an operation that does not read its reply: no
    // data either, not a success for a node that never answered.
    uint8_t request[10] = {};
    request[9] = 0x07;
    uint8_t reply[32];
    int32_t length = 32;
    EXPECT_EQ(_SendPacket(f.device(), request, 10, reply, &length, 1, 0), ZEBERR_NO_DATA);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(ZEBPetDevice(f.device()), ZEBERR_NO_DATA);
    EXPECT_EQ(XCPUReboot(f.device()), static_cast<int32_t>(ZEBERR_NO_DATA));
    EXPECT_EQ(+f.dev->device.Tunnel, 1);
}

TEST(Tunnel, AMasterErrorWithThe0x2000BitStopsTheForwarding) {
    TunnelFixture f;
    f.node_answers(0, {0, 0, 0x21, 0xFF});
    uint8_t buf[8];
    uint16_t size = 8;
    ASSERT_EQ(ZEBReadIO(f.device(), buf, &size), 0u);
    // The forwarding command now fails with a 16-bit code that has the 0x2000 bit set: the
    // previous answer still in the area must not come back as this one's.
    f.fail_commands_with(0x2001);
    size = 8;
    std::memset(buf, 0xCC, sizeof buf);
    EXPECT_EQ(ZEBReadIO(f.device(), buf, &size), ZEBERR_NO_DATA);
    EXPECT_EQ(size, 0);  // the I/O rule: a result with the 0x2000 bit reads an empty reply
    EXPECT_EQ(buf[0], 0xCC);
    uint8_t request[10] = {};
    request[9] = 0x07;
    uint8_t reply[32];
    int32_t length = 32;
    EXPECT_EQ(_SendPacket(f.device(), request, 10, reply, &length, 1, 0), 0x2001u);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(+f.dev->device.Tunnel, 1);
}

TEST(Tunnel, AnAnswerLongerThanTheReplyBufferIsCut) {
    TunnelFixture f;
    f.node_answers(0, pattern(50));
    uint8_t request[10] = {};
    request[9] = 0x07;
    uint8_t reply[33];
    std::memset(reply, 0xCC, sizeof reply);
    int32_t length = 32;
    EXPECT_EQ(_SendPacket(f.device(), request, 10, reply, &length, 1, 0), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 32);
    EXPECT_TRUE(std::equal(reply + 9, reply + 32, pattern(50).begin()));
    EXPECT_EQ(reply[32], 0xCC);
    EXPECT_EQ(reply[0], 0xCC);  // the header bytes are not written
    EXPECT_EQ(+f.dev->device.Tunnel, 1);

    // A capacity below the header takes nothing, and claims nothing.
    length = 5;
    EXPECT_EQ(_SendPacket(f.device(), request, 10, reply, &length, 1, 0), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(reply[32], 0xCC);
}

TEST(Tunnel, ALongRequestIsWrittenInChunksBeforeTheCommand) {
    TunnelFixture f;
    f.node_answers(0, {0, 0});
    Bytes request(9 + 600);
    const Bytes body = pattern(600);
    std::copy(body.begin(), body.end(), request.begin() + 9);
    uint8_t reply[64];
    int32_t length = 64;
    EXPECT_EQ(
        _SendPacket(f.device(), request.data(), uint16_t(request.size()), reply, &length, 1, 0),
        0u);
    EXPECT_EQ(length, 11);
    ASSERT_GE(f.master.runs.size(), 4u);
    const uint16_t lengths[] = {256, 256, 88};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.master.runs[i].command, 8);
        EXPECT_EQ(le16(&f.master.runs[i].block[8]), lengths[i]);
    }
    EXPECT_EQ(f.master.runs[3].command, 6);
    EXPECT_EQ(f.forwarded, body);
}

TEST(Tunnel, AnAcknowledgedExchangeGoesThroughTheTunnelOnce) {
    TunnelFixture f;
    f.node_answers(0, {0, 0});
    const uint8_t data[3] = {1, 2, 3};
    EXPECT_EQ(ZEBWriteSetupData(f.device(), 0x20, data, 3), 0u);
    ASSERT_FALSE(f.forwarded.empty());
    EXPECT_EQ(f.forwarded[0], 0x0C);
    EXPECT_EQ(f.master.runs.back().command, 7);  // the answer, read once: no second pass
    EXPECT_EQ(+f.dev->device.Tunnel, 1);
}

TEST(Tunnel, ATunnelledEntryOfReadIOExIsFinishedByItsStartStep) {
    TunnelFixture f;
    f.node_answers(0, {0, 0, 0x42, 0xFF});
    ZEBDevice* devices[1] = {f.device()};
    uint8_t buf[8] = {};
    uint8_t* buffers[1] = {buf};
    uint16_t sizes[1] = {8};
    uint32_t results[1] = {0xDEAD};
    EXPECT_EQ(ZEBReadIOEx(devices, buffers, sizes, results, 1), 0u);
    EXPECT_EQ(results[0], 0u);
    EXPECT_EQ(sizes[0], 2);
    EXPECT_EQ(buf[0], 0x42);
    EXPECT_EQ(+f.dev->device.Tunnel, 1);
    EXPECT_EQ(+f.dev->device.NoWait, 0);
}

TEST(Tunnel, AControllerServiceWithoutAnAnswerGivesNoDataAndWritesNothing) {
    TunnelFixture f;
    f.node_answers(0, {0, 0, 0x05, 0, 0, 0});
    uint32_t last_error = 0xCCCCCCCC;
    EXPECT_EQ(XCPUGetLastError(f.device(), &last_error), 0);
    EXPECT_EQ(last_error, 5u);
    EXPECT_EQ(f.forwarded, (Bytes{0x35, 0xCA, 0x04, 0x00}));

    // The node did not answer: the engine succeeds with an empty reply.
    f.node_answers(5, {0, 0, 0x07, 0, 0, 0});
    last_error = 0xCCCCCCCC;
    EXPECT_EQ(static_cast<uint32_t>(XCPUGetLastError(f.device(), &last_error)), ZEBERR_NO_DATA);
    EXPECT_EQ(last_error, 0xCCCCCCCCu);
    uint32_t size_high = 0xCCCCCCCC, size_low = 0xCCCCCCCC;
    EXPECT_EQ(static_cast<uint32_t>(XCPUGetFileSize(f.device(), 1, &size_high, &size_low)),
              ZEBERR_NO_DATA);
    EXPECT_EQ(size_high, 0xCCCCCCCCu);
    EXPECT_EQ(size_low, 0xCCCCCCCCu);
    EXPECT_EQ(+f.dev->device.Tunnel, 1);
}

}  // namespace
}  // namespace zebtest
