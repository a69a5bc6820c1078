// Setup records, the configuration block and diagnostics of modules that RackSim plays on
// loopback, through the library's public header: the bytes and results a host program gets.
#include <cstring>
#include <string>

#include "rack_fixture.h"

namespace zebtest {
namespace {

constexpr uint32_t kPress = 0x7F000002;
constexpr uint32_t kPacker = 0x7F000003;

uint32_t u32_at(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

class SetupConfig : public RackTest {
  protected:
    void SetUp() override {
        serve({qx_module("press", 1), qx_module("packer", 2)});
        open_transport();
        open_at(press_, kPress);
        previous_timeout_ = ZEBSetQueryTimeout(150);
    }
    void TearDown() override {
        ZEBSetQueryTimeout(previous_timeout_);
        RackTest::TearDown();
    }

    // The modules a search by (type, data) finds, by the first byte after 127.0.0.
    std::vector<int> search(uint16_t type, const void* data, uint16_t length) {
        ZEBDevice list[4] = {};
        uint16_t count = 4;
        EXPECT_EQ(ZEBQueryDeviceData(&transport_, list, &count, ZEB_API_VERSION, type,
                                     static_cast<const uint8_t*>(data), length),
                  0u);
        std::vector<int> found;
        for (uint16_t i = 0; i < count && i < 4; ++i) found.push_back(list[i].Address.Raw[7]);
        return found;
    }

    ZEBDevice press_{};
    uint32_t previous_timeout_ = 0;
};

TEST_F(SetupConfig, RecordsAreListedReadWrittenAndDeleted) {
    uint16_t types[8] = {};
    uint16_t count = 8;
    ASSERT_EQ(ZEBEnumSetupData(&press_, types, &count), 0u);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(types[0], 0x16);
    EXPECT_EQ(types[1], 0x20);
    uint8_t buf[600] = {};
    uint16_t size = 20;  // as a node list reads the name
    ASSERT_EQ(ZEBReadSetupData(&press_, 0x16, buf, &size), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), size), "press");
    size = 2;  // and the number, 16 bits
    ASSERT_EQ(ZEBReadSetupData(&press_, 0x20, buf, &size), 0u);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(buf[0] | buf[1] << 8, 1);

    const uint8_t record[] = {'l', 'i', 'n', 'e', '-', 'A', 0x00, 0xFF};
    EXPECT_EQ(ZEBWriteSetupData(&press_, 0x0130, record, sizeof record), 0u);
    count = 8;
    ASSERT_EQ(ZEBEnumSetupData(&press_, types, &count), 0u);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(types[2], 0x0130);
    size = sizeof buf;
    ASSERT_EQ(ZEBReadSetupData(&press_, 0x0130, buf, &size), 0u);
    ASSERT_EQ(size, sizeof record);
    EXPECT_EQ(std::memcmp(buf, record, sizeof record), 0);
    size = 4;
    EXPECT_EQ(ZEBReadSetupData(&press_, 0x0130, buf, &size), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 4);
    count = 1;
    EXPECT_EQ(ZEBEnumSetupData(&press_, types, &count), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 1);

    // The largest record a 9-byte header carries, and back whole.
    std::vector<uint8_t> largest(587, 0x6B);
    EXPECT_EQ(ZEBWriteSetupData(&press_, 0x0131, largest.data(), 587), 0u);
    size = sizeof buf;
    EXPECT_EQ(ZEBReadSetupData(&press_, 0x0131, buf, &size), 0u);
    EXPECT_EQ(size, 587);

    // Deleted, it is gone: the module's refusal comes back sign-extended.
    EXPECT_EQ(ZEBDeleteSetupData(&press_, 0x0130), 0u);
    size = sizeof buf;
    EXPECT_EQ(ZEBReadSetupData(&press_, 0x0130, buf, &size), 0xFFFF8101u);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(ZEBDeleteSetupData(&press_, 0x0130), 0xFFFF8101u);
    EXPECT_EQ(+press_.Timeout, 200);  // raised for each call, and given back
}

TEST_F(SetupConfig, AModuleIsFoundByAnyRecordItHolds) {
    const char line[] = "line-A";
    ASSERT_EQ(ZEBWriteSetupData(&press_, 0x0130, reinterpret_cast<const uint8_t*>(line), 6), 0u);
    EXPECT_EQ(search(0x0130, line, 6), std::vector<int>{2});
    EXPECT_TRUE(search(0x0130, "line-B", 6).empty());
    EXPECT_TRUE(search(0x0131, line, 6).empty());

    // By number, as a console tool sends it: 32 bits against the module's 16-bit record.
    const uint32_t two = 2;
    EXPECT_EQ(search(0x20, &two, 4), std::vector<int>{3});

    // A name a host wrote is the name a search by name finds, in the tool's 256-byte buffer.
    ZEBDevice& packer = open_device(kPacker);
    ASSERT_EQ(ZEBWriteSetupData(&packer, 0x16, reinterpret_cast<const uint8_t*>("boxer"), 5), 0u);
    char name[256] = "boxer";
    EXPECT_EQ(search(0x16, name, 256), std::vector<int>{3});
    std::strcpy(name, "packer");
    EXPECT_TRUE(search(0x16, name, 256).empty());
    uint8_t def[42] = {};
    ASSERT_EQ(ZEBReadDeviceDef(&packer, def, sizeof def), 0u);
    EXPECT_STREQ(reinterpret_cast<char*>(def + 14), "boxer");
}

TEST_F(SetupConfig, ConfigurationBlockIsWrittenAndReadWhole) {
    uint8_t buf[1200] = {};
    uint16_t size = sizeof buf;
    EXPECT_EQ(ZEBReadConfigData(&press_, buf, &size), 0u);
    EXPECT_EQ(size, 0);

    std::vector<uint8_t> block(300);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    size = sizeof buf;
    ASSERT_EQ(ZEBWriteConfigData(&press_, block.data(), 300, buf, &size), 0u);
    ASSERT_EQ(size, 300);  // the block as the module now holds it
    EXPECT_EQ(std::memcmp(buf, block.data(), 300), 0);
    EXPECT_EQ(ZEBWriteConfigData(&press_, block.data(), 300, nullptr, nullptr), 0u);

    uint8_t marked[1200] = {0xB1, 0x00};
    size = sizeof marked;
    ASSERT_EQ(ZEBReadConfigData(&press_, marked, &size), 0u);
    ASSERT_EQ(size, 300);
    EXPECT_EQ(std::memcmp(marked, block.data(), 300), 0);

    // One byte more than a read could carry back: refused, and the block stays.
    std::vector<uint8_t> over(1190, 1);
    EXPECT_EQ(ZEBWriteConfigData(&press_, over.data(), 1190, nullptr, nullptr), 0xFFFF8105u);
    size = sizeof buf;
    EXPECT_EQ(ZEBReadConfigData(&press_, buf, &size), 0u);
    EXPECT_EQ(size, 300);
}

TEST_F(SetupConfig, DiagnosticsWatchTheModule) {
    EXPECT_EQ(ZEBPetDevice(&press_), 0u);
    EXPECT_EQ(ZEBPetDevice(&press_), 0u);

    uint8_t stats[191] = {};
    uint16_t size = sizeof stats;
    ASSERT_EQ(ZEBReadEthernetStats(&press_, stats, &size, 0), 0u);
    ASSERT_EQ(size, 48);
    const uint32_t frames_in = u32_at(stats + 4);
    EXPECT_GE(frames_in, 3u);
    EXPECT_EQ(u32_at(stats + 8), frames_in - 1);  // every request answered, but this one yet
    const auto hw = rack([](racksim::Rack& r) { return r.module(0).identity.hw; });
    EXPECT_EQ(std::memcmp(stats + 40, hw.data(), 6), 0);
    size = sizeof stats;
    ASSERT_EQ(ZEBReadEthernetStats(&press_, stats, &size, 1), 0u);  // and clear
    EXPECT_EQ(u32_at(stats + 4), frames_in + 1);
    size = sizeof stats;
    ASSERT_EQ(ZEBReadEthernetStats(&press_, stats, &size, 0), 0u);
    EXPECT_EQ(u32_at(stats + 4), 1u);

    uint8_t status[600] = {};
    size = 8;
    EXPECT_EQ(ZEBReadModuleStatus(&press_, status, &size, 0), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 8);
    size = sizeof status;
    ASSERT_EQ(ZEBReadModuleStatus(&press_, status, &size, 0), 0u);
    ASSERT_EQ(size, 32);
    EXPECT_EQ(status[8], 0);             // a Qx-RIO module
    EXPECT_EQ(status[9], 0);             // on its installed base
    EXPECT_EQ(u32_at(status + 20), 2u);  // keep-alives
    EXPECT_LT(u32_at(status + 24), 10000u);
    EXPECT_EQ(status[28], 2);  // setup records
}

}  // namespace
}  // namespace zebtest
