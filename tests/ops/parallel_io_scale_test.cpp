// The parallel I/O scheduler over a thousand devices on the simulated network: which entries
// finish with which results, how many requests each device is sent, how long the call takes
// on the virtual clock, and that the library receives only where a datagram waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "frames.h"
#include "sim_device.h"
#include "sim_network.h"
#include "zeb.h"

namespace zebtest {
namespace {

constexpr int kDevices = 1024;
constexpr uint32_t kFirstIp = ipv4(127, 0, 16, 0);
const Bytes kInputs = {0x00, 0x00, 0x00, 0x01, 0x31, 0x5A, 0xFF};
const Bytes kStream = {0x00, 0x01, 0x31, 0x5A, 0xFF};  // kInputs without the status word

Endpoint module_at(int i) {
    return {kFirstIp + uint32_t(i), kModulePort};
}

// How the module at index i behaves, by i modulo 8.
enum class Kind { answers, silent, loses_first, answers_twice, stray_first };
Kind kind_of(int i) {
    switch (i % 8) {
        case 1:
            return Kind::silent;
        case 2:
            return Kind::loses_first;
        case 3:
            return Kind::answers_twice;
        case 4:
            return Kind::stray_first;
        default:
            return Kind::answers;
    }
}

// A thousand modules behind one range peer; each request to a module is counted. Run with
// lasting watches, as on Linux, and with watches armed after each report, as on Windows.
class ManyDevices : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        net_->set_lasting_watches(GetParam());
        net_->set_spin_limit(20000);  // a scheduler that polls without sleeping trips this
        requests_.assign(kDevices, 0);
        net_->add_peer_range(kFirstIp, kFirstIp + kDevices - 1, kModulePort,
                             [this](const Datagram& d, PeerReply& out) { answer(d, out); });
    }

    void answer(const Datagram& d, PeerReply& out) {
        const int i = int(d.to.ip - kFirstIp);
        const int seen = ++requests_[size_t(i)];
        const uint16_t seq = sequence_of(d.bytes);
        uint64_t delay = 1 + uint64_t(i % 7);
        switch (kind_of(i)) {
            case Kind::silent:
                return;
            case Kind::loses_first:
                if (seen == 1) return;
                break;
            case Kind::answers_twice:
                out.send(make_reply(seq, kInputs), delay);
                break;
            case Kind::stray_first:
                out.send(make_reply(uint16_t(seq + 1000), kInputs), 1);
                delay += 10;
                break;
            case Kind::answers:
                break;
        }
        out.send(make_reply(seq, kInputs), delay);
    }

    // Opens every device with the given time-out and re-sends.
    void open_all(uint16_t timeout, uint16_t retries) {
        for (int i = 0; i < kDevices; ++i) {
            devices_.push_back(
                std::make_unique<IpDevice>(module_at(i), DeviceOptions{timeout, retries, 0}));
            pointers_.push_back(&devices_.back()->device);
        }
        buffers_.assign(kDevices, std::vector<uint8_t>(64, 0));
        for (auto& b : buffers_) buffer_pointers_.push_back(b.data());
        sizes_.assign(kDevices, 64);
        results_.assign(kDevices, 0xDEAD);
    }

    uint32_t read_all() {
        return ZEBReadIOEx(pointers_.data(), buffer_pointers_.data(), sizes_.data(),
                           results_.data(), kDevices);
    }

    ScopedSimNetwork net_;
    std::vector<int> requests_;
    std::vector<std::unique_ptr<IpDevice>> devices_;
    std::vector<ZEBDevice*> pointers_;
    std::vector<std::vector<uint8_t>> buffers_;
    std::vector<uint8_t*> buffer_pointers_;
    std::vector<uint16_t> sizes_;
    std::vector<uint32_t> results_;
};

TEST_P(ManyDevices, EachEntryEndsAsItsDeviceBehavesWithRetriesPlusOneSendsAtMost) {
    open_all(100, 2);
    // The second call lists the devices in the opposite order and finds every one watched by
    // the first, with copies the first left unread still waiting in some sockets.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        if (round == 1) std::reverse(pointers_.begin(), pointers_.end());
        requests_.assign(kDevices, 0);
        results_.assign(kDevices, 0xDEAD);
        sizes_.assign(kDevices, 64);
        std::vector<int> resends, late;
        for (const ZEBDevice* d : pointers_) {
            resends.push_back(d->ResendCount);
            late.push_back(d->LateReplyCount);
        }
        const uint64_t start = net_->now();
        EXPECT_EQ(read_all(), 0u);
        const uint64_t took = net_->now() - start;

        for (int at = 0; at < kDevices; ++at) {
            const int i = round == 0 ? at : kDevices - 1 - at;  // the module listed there
            SCOPED_TRACE(i);
            const ZEBDevice& d = *pointers_[size_t(at)];
            const int resent = d.ResendCount - resends[size_t(at)];
            EXPECT_EQ(+d.NoWait, 0);
            if (kind_of(i) == Kind::silent) {
                EXPECT_EQ(results_[size_t(at)], ZEBERR_TIMEOUT);
                EXPECT_EQ(requests_[size_t(i)], 3);
                EXPECT_EQ(resent, 2);
                EXPECT_EQ(+d.FromAddressSize, 2u);
                continue;
            }
            // A reply after a re-send ends with 0 here, not with the warning.
            EXPECT_EQ(results_[size_t(at)], 0u);
            EXPECT_EQ(sizes_[size_t(at)], kStream.size());
            EXPECT_EQ(Bytes(buffers_[size_t(at)].begin(), buffers_[size_t(at)].begin() + 5),
                      kStream);
            const int sends = kind_of(i) == Kind::loses_first ? 2 : 1;
            EXPECT_EQ(requests_[size_t(i)], sends);
            EXPECT_EQ(resent, sends - 1);
            // The stray copy went to the asynchronous handler's counter, the call went on; the
            // second call may also count a copy the first left unread.
            const int strays = d.LateReplyCount - late[size_t(at)];
            const int expected = kind_of(i) == Kind::stray_first ? 1 : 0;
            EXPECT_GE(strays, expected);
            EXPECT_LE(strays, expected + round);
        }
        // Three waits of 100 ms for the silent ones, all started at once.
        EXPECT_GE(took, 300u);
        EXPECT_LE(took, 302u);
    }
}

TEST_P(ManyDevices, RequestsGoOutBeforeAnyTimePassesAndSilentDevicesCostNoReceive) {
    open_all(200, 0);
    // Every module silent: nothing to read, ever.
    net_->remove_peer(1);
    net_->add_peer_range(kFirstIp, kFirstIp + kDevices - 1, kModulePort,
                         [](const Datagram&, PeerReply&) {});
    const uint64_t start = net_->now();
    const uint64_t receives = net_->receive_calls();
    read_all();
    for (int i = 0; i < kDevices; ++i) EXPECT_EQ(results_[size_t(i)], ZEBERR_TIMEOUT) << i;
    const std::vector<Datagram>& sent = net_->sent();
    ASSERT_EQ(sent.size(), size_t(kDevices));
    for (const Datagram& d : sent) EXPECT_EQ(d.time, start);
    // The call ends at the time-out, having slept once rather than polled every socket.
    EXPECT_EQ(net_->now() - start, 200u);
    EXPECT_EQ(net_->receive_calls() - receives, 0u);
    EXPECT_LE(net_->ready_set_sleeps(), 2u);
    // The thread keeps one set for its next call, which adds nothing to it: where watches
    // last it makes no call at all to watch the devices, else it arms each once.
    EXPECT_EQ(net_->ready_sets_open(), 1u);
    const uint64_t adds = net_->ready_set_adds();
    const uint64_t watch_calls = net_->ready_set_watch_calls();
    read_all();
    EXPECT_EQ(net_->ready_set_adds(), adds);
    EXPECT_EQ(net_->ready_set_watch_calls() - watch_calls, GetParam() ? 0u : uint64_t(kDevices));
    EXPECT_EQ(net_->ready_sets_open(), 1u);
    // Any device closed makes the set anew, since the system may give its socket's number to
    // the next socket opened.
    ZEBDevice other = devices_[0]->device;  // a second device on the first one's transport
    ASSERT_EQ(ZEBOpenDevice(other.Transport, &other, ZEB_API_VERSION, 50, 0, 0), 0u);
    ASSERT_EQ(ZEBCloseDevice(&other), 0u);
    read_all();
    EXPECT_EQ(net_->ready_set_adds(), adds + kDevices);
    EXPECT_EQ(net_->ready_sets_open(), 1u);
    // Closing a transport lets go of it: nothing stays open behind a closed library.
    devices_.clear();
    EXPECT_EQ(net_->ready_sets_open(), 0u);
}

TEST_P(ManyDevices, AWatchTheSystemLostIsMadeAgainWithTheResend) {
    open_all(50, 1);
    read_all();
    net_->forget_watches(devices_[0]->socket());
    results_.assign(kDevices, 0xDEAD);
    const uint16_t resends = devices_[0]->device.ResendCount;
    read_all();
    // A lasting watch is not renewed by a call: the reply to the first request is never
    // reported, the re-send's is. An armed one is found missing when armed, and added again.
    EXPECT_EQ(results_[0], 0u);
    EXPECT_EQ(devices_[0]->device.ResendCount, resends + (GetParam() ? 1 : 0));
    EXPECT_EQ(results_[8], 0u);
}

TEST_P(ManyDevices, ADeviceTheSetCouldNotTakeIsServedAndOfferedAgain) {
    open_all(50, 0);
    net_->fail_next(SimNetwork::Op::watch, 10055);  // WSAENOBUFS
    read_all();
    // Looked at on every pass instead, and served.
    EXPECT_EQ(results_[0], 0u);
    const uint64_t adds = net_->ready_set_adds();
    read_all();
    EXPECT_EQ(results_[0], 0u);
    EXPECT_EQ(net_->ready_set_adds(), adds + 1);
}

TEST_P(ManyDevices, ReceivesStayInProportionToTheDatagramsThatArrive) {
    open_all(100, 2);
    const uint64_t receives = net_->receive_calls();
    read_all();
    // Per device at most: its reply, a duplicate or stray, and one look that finds nothing.
    EXPECT_LE(net_->receive_calls() - receives, uint64_t(3 * kDevices));
}

TEST_P(ManyDevices, ADeviceListedTwiceEndsBothEntriesWithoutSpinning) {
    open_all(50, 0);
    pointers_[1] = pointers_[0];  // one socket, two entries: only one can be watched
    read_all();
    // The second request's number replaced the first's, so one entry takes the reply to the
    // second and the other times out; every other entry is served as usual.
    EXPECT_EQ(requests_[0], 2);
    EXPECT_TRUE((results_[0] == 0 && results_[1] == ZEBERR_TIMEOUT) ||
                (results_[0] == ZEBERR_TIMEOUT && results_[1] == 0));
    EXPECT_EQ(results_[2], ZEBERR_TIMEOUT);  // loses the first request, has no re-send
    EXPECT_EQ(results_[8], 0u);
}

INSTANTIATE_TEST_SUITE_P(Watches, ManyDevices, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Lasting" : "Armed"; });

}  // namespace
}  // namespace zebtest
