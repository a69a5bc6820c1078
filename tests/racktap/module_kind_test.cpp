// RackTap drives only a module that says it is a Qx-RIO: run against simulated modules on the
// simulated network.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "capture.h"
#include "flow.h"
#include "frames.h"
#include "peers.h"
#include "sim_network.h"
#include "sim_rack.h"
#include "zeb.h"

namespace racktap {
namespace {

using zebtest::Bytes;

constexpr const char* kIntro = "Executes IO transaction on specified Qx-RIO device\n\n";
constexpr const char* kNotQxRio = "Module number 1 is not an Qx-RIO. Cannot continue...\n";

std::string run(std::vector<std::string> args) {
    args.insert(args.begin(), "RackTap");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Capture out;
    run_racktap(static_cast<int>(args.size()), argv.data(), out.file());
    return out.text();
}

std::string run_module_number_1() {
    return run({"/PI", "/I1", "/L127.0.0.1"});
}

// A module at 127.0.0.2 that answers discovery and gives `device_def` as its device definition;
// it keeps the function code of every request it gets.
zebtest::PeerHandler module_with_device_def(Bytes device_def,
                                            std::shared_ptr<std::vector<uint8_t>> functions) {
    return [device_def, functions](const zebtest::Datagram& d, zebtest::PeerReply& out) {
        const Bytes body = zebtest::payload_of(d.bytes);
        if (body.empty()) return;
        functions->push_back(body[0]);
        const uint16_t seq = zebtest::sequence_of(d.bytes);
        if (body[0] == 0x09) {
            out.send(zebtest::make_reply(seq, {0x55, 0xAA, 0x02, 0, 0, 0, 0, 0x01, 0}));
        } else if (body[0] == 0x04) {
            out.send(zebtest::make_reply(seq, device_def));
        } else {
            out.send(zebtest::make_reply(seq, {0x00, 0x00, 0xFF}));
        }
    };
}

TEST(ModuleKind, DeviceDefinitionWithoutAKindByteIsNoQxRio) {
    // The read gives no count of the bytes it delivered: a body too short to hold byte 2 must
    // not be read as kind 0.
    for (const Bytes& def : {Bytes{}, Bytes{42, 1}}) {
        SCOPED_TRACE(def.size());
        zebtest::ScopedSimNetwork net;
        auto functions = std::make_shared<std::vector<uint8_t>>();
        net->add_peer({zebtest::ipv4(127, 0, 0, 2), zebtest::kModulePort},
                      module_with_device_def(def, functions));
        EXPECT_EQ(run_module_number_1(), std::string(kIntro) + kNotQxRio);
        EXPECT_EQ(*functions, (std::vector<uint8_t>{0x09, 0x04}));  // nothing read or written
    }
}

racksim::Rack one_module(uint8_t kind) {
    racksim::Rack rack;
    racksim::Module m("press", 1, kind);
    m.add_slot(1, racksim::SlotRecord::basic(0x22, 8, 0, 0, 0)).io.bit_in = {0x01};
    m.add_slot(3, racksim::SlotRecord::basic(0x24, 0, 8, 0, 0));
    rack.add_module(std::move(m));
    return rack;
}

TEST(ModuleKind, QxRioIsDrivenAndANodeIsNot) {
    {
        zebtest::ScopedSimNetwork net;
        zebtest::SimRack sim(*net, one_module(racksim::kKindQxRio));
        EXPECT_EQ(run_module_number_1(), kIntro);
        EXPECT_EQ(sim.module(0).counters.by_function[0x06], 1u);
        // Slot 3 bit output 1 takes slot 1 bit input 0.
        EXPECT_EQ(sim.module(0).slot(3).io.bit_out, Bytes{0x02});
    }
    {
        zebtest::ScopedSimNetwork net;
        zebtest::SimRack sim(*net, one_module(racksim::kKindNode));
        EXPECT_EQ(run_module_number_1(), std::string(kIntro) + kNotQxRio);
        EXPECT_EQ(sim.module(0).counters.by_function.count(0x06), 0u);
        EXPECT_EQ(sim.module(0).counters.by_function.count(0x08), 0u);
    }
}

// ZEB_TRACE set to `value`, or removed with null.
void set_trace_variable(const char* value) {
#ifdef _WIN32
    _putenv_s("ZEB_TRACE", value ? value : "");  // an empty value removes it
#else
    if (value) {
        setenv("ZEB_TRACE", value, 1);
    } else {
        unsetenv("ZEB_TRACE");
    }
#endif
}

TEST(ModuleKind, TraceFromTheEnvironmentLeavesTheOutputAsItIs) {
    // The frames go to standard error; standard output is RackTap's, byte for byte.
    zebtest::ScopedSimNetwork net;
    zebtest::SimRack sim(*net, one_module(racksim::kKindQxRio));
    set_trace_variable("1");
    const std::string traced = run_module_number_1();
    set_trace_variable(nullptr);
    EXPECT_EQ(ZEBSetTrace(0), 1) << "the trace was on";
    EXPECT_EQ(traced, kIntro);
    EXPECT_EQ(run_module_number_1(), kIntro);
    EXPECT_EQ(ZEBSetTrace(0), 0) << "and is not turned on without ZEB_TRACE";
}

}  // namespace
}  // namespace racktap
