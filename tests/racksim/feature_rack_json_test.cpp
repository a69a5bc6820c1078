// Rack descriptions of what sits behind a module: its controller, memory areas, shared RAM and
// serial ports, what a module has when its entry names none, and errors that name their place.
#include <gtest/gtest.h>

#include "rack.h"
#include "statuses.h"
#include "test_util.h"

namespace racksim {
namespace {

Rack parsed(const std::string& text) {
    std::string error;
    auto rack = Rack::parse(text, &error);
    EXPECT_TRUE(rack) << error;
    return rack ? std::move(*rack) : Rack{};
}

std::string error_of(const std::string& text) {
    std::string error;
    EXPECT_FALSE(Rack::parse(text, &error)) << text;
    return error;
}

TEST(FeatureRackJson, AModuleThatNamesNoneHasTheStandardOnes) {
    Rack rack = parsed(R"({"modules": [{}]})");
    const Module& m = rack.module(0);
    EXPECT_EQ(m.controller, Controller::standard());
    EXPECT_EQ(m.memory, Memory::standard());
    EXPECT_EQ(m.shared_ram.regions.size(), 1u);
    EXPECT_EQ(m.serial.ports.size(), 2u);
    EXPECT_EQ(m.serial.default_port, 1);
}

TEST(FeatureRackJson, ControllerAreasAndScripts) {
    Rack rack = parsed(R"({"modules": [{"controller": {
        "areas": [{"type": 8, "name": "timers", "size": 4, "writable": false, "contents": [1, 2]},
                  {"type": 9, "size": 3, "contents": "ok"}],
        "kseq": [{"message": [78, 33], "answer": "ACK"}]}}]})");
    const Controller& c = rack.module(0).controller;
    EXPECT_TRUE(c.present);
    ASSERT_EQ(c.areas.size(), 2u);
    EXPECT_EQ(c.areas.at(8), (ControllerArea{"timers", {1, 2, 0, 0}, false}));
    EXPECT_EQ(c.areas.at(9).data, (Bytes{'o', 'k', 0}));
    EXPECT_EQ(c.kseq_answer(Bytes{78, 33}.data(), 2), (Bytes{'A', 'C', 'K'}));

    const Rack none = parsed(R"({"modules": [{"controller": {"present": false}}]})");
    EXPECT_FALSE(none.modules()[0].controller.present);
}

TEST(FeatureRackJson, MemoryAreasReplaceTheStandardOnes) {
    Rack rack = parsed(R"({"modules": [{"memory": [
        {"type": 5, "name": "flash", "start": 4096, "size": 8, "writable": false,
         "contents": [9, 8, 7]},
        {"type": 5, "start": 4104, "size": 2}]}]})");
    const Memory& m = rack.module(0).memory;
    ASSERT_EQ(m.areas.size(), 2u);
    EXPECT_EQ(m.areas[0], (MemoryArea{5, 4096, {9, 8, 7, 0, 0, 0, 0, 0}, false, "flash"}));
    EXPECT_TRUE(m.areas[1].writable);
    // What a host reads of it.
    const test::Reply r =
        test::ask_one(rack, test::kModuleA, {0x25, 0x00, 0x05, 0x00, 0x02, 0x00, 0x00, 0x10, 0, 0});
    EXPECT_EQ(r.payload, (Bytes{0, 0, 9, 8}));
    EXPECT_TRUE(parsed(R"({"modules": [{"memory": []}]})").module(0).memory.areas.empty());
}

TEST(FeatureRackJson, SharedRamRegionsAndSerialPorts) {
    Rack rack = parsed(R"({"modules": [{
        "shared_ram": [{"base": 1, "slot": 4, "size": 16, "flagged_size": 64,
                        "flagged_contents": [1, 2]}, {"slot": 5}],
        "serial": {"default_port": 3,
                   "ports": [{"port": 3, "baud": 19200, "data_bits": 7, "parity": 2,
                              "stop_bits": 2, "flow": 1, "received": "hello"}, {"port": 8}]}}]})");
    Module& m = rack.module(0);
    ASSERT_EQ(m.shared_ram.regions.size(), 2u);
    SharedRamRegion* r = m.shared_ram.find(1, 4);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->plain.size(), 16u);
    EXPECT_EQ(r->flagged.size(), 0x40u);
    EXPECT_EQ(r->flagged[1], 2);
    EXPECT_EQ(m.shared_ram.find(0, 5)->plain.size(), 1024u);
    EXPECT_EQ(m.serial.default_port, 3);
    SerialPort& p3 = m.serial.ports.at(3);
    EXPECT_EQ(p3.setup(), line_setup(19200, 7, 2, 2, 1));
    EXPECT_EQ(p3.receive(100), (Bytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(m.serial.ports.at(8).setup(), kDefaultLineSetup);
    EXPECT_EQ(m.serial.ports.count(1), 0u);
}

TEST(FeatureRackJson, TheSampleRacksPackerHasAControllerMemoryAndAPort) {
    std::string error;
    auto rack = Rack::load(RACKSIM_SAMPLE_RACK, &error);
    ASSERT_TRUE(rack) << error;
    Module* packer = rack->find("packer");
    ASSERT_TRUE(packer);
    const Bytes status = {'S', 'T', '?'};
    EXPECT_EQ(packer->controller.kseq_answer(status.data(), status.size()), (Bytes{'R', 'U', 'N'}));
    EXPECT_EQ(packer->memory.areas.size(), 2u);
    EXPECT_TRUE(packer->shared_ram.find(0, 2));
    EXPECT_EQ(packer->serial.ports.at(1).receive(100),
              (Bytes{'R', 'E', 'A', 'D', 'Y', '\r', '\n'}));
}

TEST(FeatureRackJson, ErrorsNameTheirPlace) {
    const std::string mod = R"({"modules": [{}, {)";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {mod + R"("controller": {"areas": [{"type": 1}]}}]})",
         "modules[1].controller.areas[0]: missing \"size\""},
        {mod + R"("controller": {"areas": [{"type": 1, "size": 65537}]}}]})",
         "modules[1].controller.areas[0].size: must be from 1 to 65536"},
        {mod + R"("controller": {"areas": [{"type": 1, "size": 2, "contents": [1, 2, 3]}]}}]})",
         "modules[1].controller.areas[0].contents: must hold 0 to 2 bytes"},
        {mod + R"("controller": {"areas": [{"type": 1, "size": 2}, {"type": 1, "size": 2}]}}]})",
         "modules[1].controller.areas[1].type: data type 1 given twice"},
        {mod + R"("controller": {"kseq": [{"message": [1]}]}}]})",
         "modules[1].controller.kseq[0]: missing \"answer\""},
        {mod + R"("controller": {"cpu": 1}}]})", "modules[1].controller: unknown key \"cpu\""},
        {mod + R"("memory": [{"type": 1, "size": 0}]}]})",
         "modules[1].memory[0].size: must be from 1 to 1048576"},
        {mod + R"("memory": [{"type": 1, "start": 4294967295, "size": 2}]}]})",
         "modules[1].memory[0].size: the area would end past address 0xFFFFFFFF"},
        {mod + R"("memory": [{"type": 1, "size": 8}, {"type": 1, "start": 7, "size": 8}]}]})",
         "modules[1].memory[1]: overlaps modules[1].memory[0] of the same type"},
        {mod + R"("memory": [{"type": 1, "size": 8, "name": "eleven char"}]}]})",
         "modules[1].memory[0].name: at most 10 characters"},
        {mod + R"("memory": {}}]})", "modules[1].memory: expected a list"},
        {mod + R"("shared_ram": [{"size": 32769}]}]})",
         "modules[1].shared_ram[0].size: must be from 0 to 32768"},
        {mod + R"("shared_ram": [{"slot": 2}, {"slot": 2}]}]})",
         "modules[1].shared_ram[1]: base 0 slot 2 given twice"},
        {mod + R"("serial": {"ports": [{"port": 0}]}}]})",
         "modules[1].serial.ports[0].port: must be from 1 to 256"},
        {mod + R"("serial": {"ports": [{"port": 1, "baud": 10}]}}]})",
         "modules[1].serial.ports[0].baud: must be from 50 to 4000000"},
        {mod + R"("serial": {"default_port": 3}}]})", "modules[1].serial.default_port: no port 3"},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(error_of(text), message) << text;
    // Twenty-seven areas would not fit one listing.
    std::string areas;
    for (int i = 0; i < 27; ++i) {
        areas +=
            (i ? ", " : "") + std::string(R"({"type": )") + std::to_string(i) + ", \"size\": 1}";
    }
    EXPECT_EQ(error_of(R"({"modules": [{"memory": [)" + areas + "]}]}"),
              "modules[0].memory: at most 26 areas (what a listing holds)");
}

}  // namespace
}  // namespace racksim
