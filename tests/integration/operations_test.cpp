// One module, opened directly: identity, base definition and I/O over loopback.
#include <unistd.h>

#include <cstring>

#include "rack_fixture.h"

namespace zebtest {
namespace {

constexpr uint32_t kPress = 0x7F000002;

class Operations : public RackTest {
  protected:
    void SetUp() override {
        serve({qx_module("press", 1)});
        open_transport();
        open_at(device_, kPress);
    }
    ZEBDevice device_{};
};

TEST_F(Operations, IdentityBlocksAreDelivered) {
    uint8_t def[42] = {};
    EXPECT_EQ(ZEBReadDeviceDef(&device_, def, sizeof def), 0u);
    EXPECT_EQ(def[2], 0);  // a Qx-RIO module
    uint8_t version[191] = {};
    EXPECT_EQ(ZEBReadVersionInfo(&device_, version, sizeof version), 0u);
    uint8_t one = 0;
    EXPECT_EQ(ZEBReadSupportInfo(&device_, &one, 1), ZEBERR_BUFFER_TOO_SMALL);
}

TEST_F(Operations, BaseDefinitionInBothItemFormats) {
    uint8_t compact[1000] = {};
    uint16_t size = sizeof compact;
    ASSERT_EQ(ZEBReadBaseDef(&device_, compact, &size), 0u);
    // Slot 0: select, then a kind-1 record with 16 bit inputs.
    ASSERT_GE(size, 8);
    EXPECT_EQ(compact[0], 0x00);
    EXPECT_EQ(compact[1], 0x14);
    EXPECT_EQ(compact[2], 1);
    EXPECT_EQ(compact[4], 16);

    uint8_t extended[1000] = {0xB1, 0x00};
    size = sizeof extended;
    ASSERT_EQ(ZEBReadBaseDef(&device_, extended, &size), 0u);
    EXPECT_EQ(extended[0], 0xB1);
    EXPECT_EQ(extended[size - 1], 0xF0);

    uint8_t small[10] = {};
    size = sizeof small;
    EXPECT_EQ(ZEBReadBaseDef(&device_, small, &size), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 10);
}

TEST_F(Operations, OutputsWrittenComeBackOnWiredInputs) {
    // Extended item format: slot 3 bit outputs = 0x5A.
    const uint8_t out[] = {0xB1, 0x00, 0x00, 0x03, 0x04, 0x01, 0x5A, 0xFF};
    uint8_t in[1000] = {};
    uint16_t size = sizeof in;
    ASSERT_EQ(ZEBWriteIO(&device_, out, sizeof out, in, &size), 0u);
    const auto written = rack([](racksim::Rack& r) { return r.module(0).slot(3).io.bit_out; });
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], 0x5A);

    uint8_t inputs[1000] = {0xB1, 0x00};
    size = sizeof inputs;
    ASSERT_EQ(ZEBReadIO(&device_, inputs, &size), 0u);
    // Find slot 1's bit inputs in the extended stream.
    bool seen = false;
    for (uint16_t i = 2; i + 1 < size;) {
        const uint8_t type = inputs[i], len = inputs[i + 1];
        if (type == 0x00 && len == 1 && i + 4 < size && inputs[i + 2] == 0x03) {
            EXPECT_EQ(inputs[i + 4], 0x5A);
            seen = true;
        }
        if (type == 0xFF) break;
        i += type == 0x00 ? 2 : 2 + len;
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(ZEBWriteIONoRead(&device_, out, sizeof out), 0u);
}

TEST_F(Operations, WritesThatDoNotFitAreRefusedBeforeSending) {
    std::vector<uint8_t> big(1191, 0xFF);
    const auto before = rack([](racksim::Rack& r) { return r.module(0).counters.requests; });
    EXPECT_EQ(ZEBWriteIO(&device_, big.data(), 1191, nullptr, nullptr), ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(ZEBWriteBaseDef(&device_, big.data(), 588, nullptr, nullptr),
              ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(rack([](racksim::Rack& r) { return r.module(0).counters.requests; }), before);
}

TEST_F(Operations, BaseDefinitionWriteIsAcknowledgedThenAnswered) {
    // Slot 0: a kind-1 record with 8 bit inputs and 8 bit outputs.
    const uint8_t def[] = {0x00, 0x14, 0x01, 0x23, 8, 8, 0, 0, 0xFF};
    EXPECT_EQ(ZEBWriteBaseDef(&device_, def, sizeof def, nullptr, nullptr), 0u);
    const auto counts = rack([](racksim::Rack& r) { return r.module(0).slot(0).counts(); });
    EXPECT_EQ(counts.bit_in, 8);
    EXPECT_EQ(counts.bit_out, 8);
}

TEST_F(Operations, NoWaitSendsAndTheReplyIsCollectedLater) {
    device_.NoWait = 1;
    uint8_t in[1000] = {};
    uint16_t size = sizeof in;
    EXPECT_EQ(ZEBReadIO(&device_, in, &size), ZEBERR_NO_PACKET);
    device_.NoWait = 0;
    uint8_t reply[1200];
    int32_t length = 0;
    uint32_t result = ZEBERR_NO_PACKET;
    for (int i = 0; i < 200 && result == ZEBERR_NO_PACKET; ++i) {
        length = sizeof reply;
        result = ZEBGetResponse(&device_, reply, &length, 1);
        if (result == ZEBERR_NO_PACKET) usleep(5000);
    }
    ASSERT_EQ(result, 0u);
    EXPECT_GE(length, 11);
    EXPECT_EQ(reply[3] | reply[4] << 8, +device_.LastSequence);
}

}  // namespace
}  // namespace zebtest
