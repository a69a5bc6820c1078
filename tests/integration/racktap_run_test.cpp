// RackTap, the program, run against RackSim on loopback.
#include <cstdio>
#include <string>

#include "rack_fixture.h"

namespace zebtest {
namespace {

struct TapRun {
    std::string out;
    int status;
};

TapRun racktap(const std::string& args) {
    const std::string command = std::string(RACKTAP_PATH) + " " + args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    TapRun run{{}, -1};
    if (!p) return run;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) run.out.append(buf, n);
    run.status = pclose(p);
    return run;
}

const char* const kIntro = "Executes IO transaction on specified Qx-RIO device\n\n";

class RackTapRun : public RackTest {
  protected:
    void SetUp() override {
        auto node = racksim::Module("conveyor", 7, racksim::kKindNode);
        serve({qx_module("press", 1), std::move(node)});
    }
};

TEST_F(RackTapRun, CopiesFourInputsToOutputsOfTheModuleFoundByNumber) {
    // Inputs: slot 0 bits 2 and 3 (global inputs 2 and 3) and slot 1 bits 0 and 1.
    rack([](racksim::Rack& r) {
        auto& m = r.module(0);
        m.slot(0).io.bit_in[0] = 0b1100;
        m.slot(1).behaviour.wired_from = -1;
        m.slot(1).io.bit_in[0] = 0b01;
    });
    const TapRun run = racktap("/PI /I1 /L127.0.0.1");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kIntro);  // nothing else without /V
    const auto out = rack([](racksim::Rack& r) { return r.module(0).slot(3).io.bit_out.at(0); });
    // Slot 3 bit 1 <- slot 1 bit 0 (1), bit 2 <- slot 1 bit 1 (0); global outputs 3 and 4 are
    // slot 3 bits 3 and 4 <- global inputs 2 and 3 (1, 1).
    EXPECT_EQ(out, 0b11010);
}

TEST_F(RackTapRun, SelectsByNameAndRefusesANode) {
    const TapRun run = racktap("/PI /Nconveyor /L127.0.0.1");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              std::string(kIntro) + "Module conveyor is not an Qx-RIO. Cannot continue...\n");
    const TapRun by_number = racktap("-pi -i7 /L127.0.0.1");
    EXPECT_EQ(by_number.out,
              std::string(kIntro) + "Module number 7 is not an Qx-RIO. Cannot continue...\n");
}

TEST_F(RackTapRun, ReportsNoModuleAndAFailingDeviceDefinition) {
    EXPECT_EQ(racktap("/PI /I42 /L127.0.0.1").out,
              std::string(kIntro) + "Sorry! No ethernet devices found\n");
    // A device definition longer than the 42 bytes RackTap reads is a failed read.
    rack([](racksim::Rack& r) { r.module(0).identity.device_def.assign(50, 0); });
    EXPECT_EQ(racktap("/PI /I1 /L127.0.0.1").out,
              std::string(kIntro) + "Error! Unable to read device def.\n");
}

TEST_F(RackTapRun, FindsTheModuleByTheNameAndNumberAHostWrote) {
    open_transport();
    ZEBDevice& d = open_device(0x7F000002);
    ASSERT_EQ(ZEBWriteSetupData(&d, 0x16, reinterpret_cast<const uint8_t*>("mill"), 4), 0u);
    const uint8_t number[] = {42, 0};  // 16 bits, as a node list reads it
    ASSERT_EQ(ZEBWriteSetupData(&d, 0x20, number, sizeof number), 0u);
    auto transactions = [&] {
        return rack([](racksim::Rack& r) { return r.module(0).counters.by_function[0x06]; });
    };
    EXPECT_EQ(racktap("/PI /Nmill /L127.0.0.1").out, kIntro);
    EXPECT_EQ(transactions(), 1u);
    EXPECT_EQ(racktap("/PI /I42 /L127.0.0.1").out, kIntro);  // sent as 32 bits
    EXPECT_EQ(transactions(), 2u);
    EXPECT_EQ(racktap("/PI /Npress /L127.0.0.1").out,
              std::string(kIntro) + "Sorry! No ethernet devices found\n");
}

TEST_F(RackTapRun, VerboseReportShowsWhatWasFoundAndMoved) {
    const TapRun run = racktap("/PI /I1 /L127.0.0.1 /V");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("127.0.0.2"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace zebtest
