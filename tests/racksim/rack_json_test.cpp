// Rack descriptions: what they build, and errors that name their place.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "rack.h"
#include "test_util.h"

namespace racksim {
namespace {

std::string error_of(const std::string& text) {
    std::string error;
    const auto rack = Rack::parse(text, &error);
    EXPECT_FALSE(rack) << text;
    return error;
}

Rack parsed(const std::string& text) {
    std::string error;
    auto rack = Rack::parse(text, &error);
    EXPECT_TRUE(rack) << error;
    return rack ? std::move(*rack) : Rack{};
}

TEST(RackJson, SampleRackLoads) {
    std::string error;
    auto rack = Rack::load(RACKSIM_SAMPLE_RACK, &error);
    ASSERT_TRUE(rack) << error;
    ASSERT_EQ(rack->modules().size(), 3u);
    const Module& press = rack->module(0);
    EXPECT_EQ(press.name(), "press-line");
    EXPECT_EQ(press.number(), 1u);
    EXPECT_EQ(press.identity.kind, kKindQxRio);
    EXPECT_GE(press.slot(0).counts().bit_in, 8);
    EXPECT_GE(press.slot(1).counts().bit_in, 8);
    EXPECT_GT(press.slot(3).counts().bit_out, 0);
    EXPECT_EQ(rack->module(2).identity.kind, kKindNode);
    const Module& packer = rack->module(1);
    EXPECT_EQ(packer.setup.types(), (std::vector<uint16_t>{0x16, 0x20, 0x30, 0x31}));
    EXPECT_EQ(*packer.setup.find(0x31), (Bytes{0x00, 0x0A, 0x01, 0xFF}));
    EXPECT_EQ(std::string(packer.config.begin(), packer.config.end()), "mode=auto;rate=20");
    // The demo road: outputs written to slot 3 come back on slot 1's inputs.
    const auto r = test::ask(*rack, test::kModuleA, {0x06, 0x03, 0x41, 0x06, 0xFF});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(rack->module(0).slot(1).io.bit_in, Bytes{0x06});
}

TEST(RackJson, DefaultsFillAddressesNamesAndNumbers) {
    Rack rack = parsed(R"({"modules": [{}, {"address": "127.0.0.2"}, {}], "crc": false,
                           "key": "abc"})");
    ASSERT_EQ(rack.modules().size(), 3u);
    EXPECT_EQ(ip_text(rack.module(0).identity.ip), "127.0.0.3");  // .2 is taken by the second
    EXPECT_EQ(ip_text(rack.module(1).identity.ip), "127.0.0.2");
    EXPECT_EQ(ip_text(rack.module(2).identity.ip), "127.0.0.4");
    EXPECT_EQ(rack.module(0).name(), "module1");
    EXPECT_EQ(rack.module(2).number(), 3u);
    EXPECT_EQ(hw_text(rack.module(0).identity.hw), "02:52:53:00:00:01");
    EXPECT_EQ(hw_text(rack.module(2).identity.hw), "02:52:53:00:00:03");
    EXPECT_EQ(rack.module(0).base.base_slots, 8);
    EXPECT_FALSE(rack.settings().crc);
    EXPECT_EQ(rack.settings().key, "abc");
}

TEST(RackJson, ReadsSlotsImagesBehaviourAndFaults) {
    Rack rack = parsed(R"({"modules": [{
        "name": "m", "number": -1, "kind": 6, "hardware_address": "0a:0B:0c:0d:0e:0f",
        "base_slots": 16,
        "slots": [
          {"slot": 12, "record": {"kind": 5, "id": 7, "bit_in": 10, "bit_out": 3, "word_in": 2,
                                  "word_out": 1, "dword_in": 1, "dword_out": 1},
           "inputs": {"bits": [0, 1, 1], "words": [500], "dwords": [4000000000]},
           "outputs": {"bits": 5}, "counter": true, "wired_from": 12},
          {"slot": 0, "record": {"kind": 255}}
        ],
        "version_block": [1, 2], "device_def": [9, 9, 9],
        "faults": {"drop_first": 3, "drop_fraction": 0.25, "seed": 7, "delay_ms": 40,
                   "final_delay_ms": 900, "corrupt_crc": true, "stray_before_reply": true,
                   "answer_twice": true, "magic_zqq": true, "broadcast_only": true,
                   "refuse_status": 66}}]})");
    const Module& m = rack.module(0);
    EXPECT_EQ(m.number(), 0xFFFFFFFFu);
    EXPECT_EQ(m.identity.kind, 6);
    EXPECT_EQ(hw_text(m.identity.hw), "0A:0B:0C:0D:0E:0F");
    const Slot& s = m.slot(12);
    EXPECT_EQ(s.counts(), (IoCounts{10, 3, 2, 1, 1, 1}));
    EXPECT_EQ(s.io.bit_in, (Bytes{0x06, 0x00}));
    EXPECT_EQ(s.io.word_in, (std::vector<uint16_t>{500, 0}));
    EXPECT_EQ(s.io.dword_in, std::vector<uint32_t>{4000000000u});
    EXPECT_EQ(s.io.bit_out, Bytes{0x05});
    EXPECT_TRUE(s.behaviour.counter);
    EXPECT_EQ(s.behaviour.wired_from, 12);
    EXPECT_EQ(m.slot(0).record.kind, 255);
    EXPECT_EQ(m.identity.version_block, (Bytes{1, 2}));
    const Faults& f = m.faults;
    EXPECT_EQ(f.drop_first, 3u);
    EXPECT_DOUBLE_EQ(f.drop_fraction, 0.25);
    EXPECT_EQ(f.seed, 7u);
    EXPECT_EQ(f.delay_ms, 40u);
    EXPECT_EQ(f.final_delay_ms, 900u);
    EXPECT_TRUE(f.corrupt_crc && f.stray_before_reply && f.answer_twice && f.magic_zqq &&
                f.broadcast_only);
    EXPECT_EQ(f.refuse_status, 66);
    EXPECT_EQ(m.base.installed.size(), 2u);
}

TEST(RackJson, MannersByNameOrByChoices) {
    Rack rack = parsed(R"({"modules": [
        {"manner": "ack-status"},
        {"manner": "random"},
        {"manner": {"ack": "final", "padding": "fixed", "pad_to": 32, "refusal": "status_alone",
                    "crc": "never", "controller_refusal": "after_ack", "unread": "empty",
                    "previous_first": true, "late_ms": 30, "final_late_ms": 2000}},
        {"manner": {"random": true, "late_ms": 10, "seed": 12}, "faults": {"seed": 4}},
        {}]})");
    EXPECT_EQ(rack.module(0).manner.manner.ack, AckForm::status);
    EXPECT_TRUE(rack.module(1).manner.random);
    const Manner& m = rack.module(2).manner.manner;
    EXPECT_EQ(m.ack, AckForm::final);
    EXPECT_EQ(m.padding, Padding::fixed);
    EXPECT_EQ(m.pad_to, 32);
    EXPECT_EQ(m.refusal, RefusalForm::status_alone);
    EXPECT_EQ(m.crc, CrcForm::never);
    EXPECT_EQ(m.controller_refusal, ControllerRefusal::after_ack);
    EXPECT_TRUE(m.unread_empty && m.previous_first);
    EXPECT_EQ(m.late_ms, 30u);
    EXPECT_EQ(m.final_late_ms, 2000u);
    const Module& drawn = rack.module(3);
    EXPECT_TRUE(drawn.manner.random);
    EXPECT_EQ(drawn.manner.manner.late_ms, 10u);
    EXPECT_EQ(drawn.manner.manner.final_late_ms, kDefaultFinalLateMs);
    // Its own seed, not the faults' one.
    MannerState own, from_faults;
    start_manner(drawn.manner, 99, own);
    start_manner(MannerSetting{}, 4, from_faults);
    EXPECT_EQ(drawn.manner_state.rng, own.rng);
    EXPECT_NE(drawn.manner_state.rng, from_faults.rng);
    EXPECT_EQ(rack.module(4).manner, MannerSetting{});
}

TEST(RackJson, FaultsByFunctionStartFromTheModuleFaults) {
    Rack rack = parsed(R"({"modules": [{
        "faults": {"delay_ms": 30, "seed": 4},
        "faults_by_function": {"0x07": {"drop_first": 2}, "4": {"delay_ms": 0},
                               "0X0f": {"final_delay_ms": 900}}}]})");
    const Module& m = rack.module(0);
    ASSERT_EQ(m.faults_by_function.size(), 3u);
    const Faults& io = m.faults_by_function.at(0x07);
    EXPECT_EQ(io.drop_first, 2u);
    EXPECT_EQ(io.delay_ms, 30u);
    EXPECT_EQ(io.rng_state, 4u);
    EXPECT_EQ(m.faults_by_function.at(0x04).delay_ms, 0u);
    EXPECT_EQ(m.faults_by_function.at(0x0F).final_delay_ms, 900u);
    EXPECT_EQ(m.faults.drop_first, 0u);
}

TEST(RackJson, FaultsByFunctionErrorsNameTheirPlace) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"modules": [{"faults_by_function": {"x7": {}}}]})",
         "modules[0].faults_by_function: \"x7\" is not a function code (0 to 255, or 0x00 to "
         "0xFF)"},
        {R"({"modules": [{"faults_by_function": {"256": {}}}]})",
         "modules[0].faults_by_function: \"256\" is not a function code (0 to 255, or 0x00 to "
         "0xFF)"},
        {R"({"modules": [{"faults_by_function": {"0x": {}}}]})",
         "modules[0].faults_by_function: \"0x\" is not a function code (0 to 255, or 0x00 to "
         "0xFF)"},
        {R"({"modules": [{"faults_by_function": {"7": {}, "0x07": {}}}]})",
         "modules[0].faults_by_function: function code 7 given twice"},
        {R"({"modules": [{"faults_by_function": {"0x07": {"delay_ms": -1}}}]})",
         "modules[0].faults_by_function.0x07.delay_ms: must be from 0 to 600000"},
        {R"({"modules": [{"faults_by_function": [7]}]})",
         "modules[0].faults_by_function: expected an object"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(error_of(text), expected) << text;
}

TEST(RackJson, DerivedHardwareAddressesAvoidExplicitOnes) {
    Rack rack = parsed(R"({"modules": [{"hardware_address": "02:52:53:00:00:02"}, {}, {}]})");
    EXPECT_EQ(hw_text(rack.module(1).identity.hw), "02:52:53:00:00:01");
    EXPECT_EQ(hw_text(rack.module(2).identity.hw), "02:52:53:00:00:03");
}

TEST(RackJson, KindSevenPairs) {
    Rack rack = parsed(R"({"modules": [{"slots": [
        {"slot": 1, "record": {"kind": 7, "id": 3, "pairs": [[5, 4], [6, 2], [7, 9]]}}]}]})");
    const Slot& s = rack.module(0).slot(1);
    EXPECT_EQ(s.counts(), (IoCounts{0, 0, 4, 2, 0, 0}));
    EXPECT_EQ(s.record.pairs.size(), 3u);
}

TEST(RackJson, ErrorsNameTheirPlace) {
    const std::string slot = R"({"modules": [{}, {"slots": [{"slot": 0, "record": )";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {slot + R"({"kind": 9}}]}]})", "modules[1].slots[0].record: unknown record kind 9"},
        {slot + R"({"kind": 3, "word_in": 2}}]}]})",
         "modules[1].slots[0].record: unknown key \"word_in\" for a record of kind 3"},
        {slot + R"({"kind": 1, "bit_in": 300}}]}]})",
         "modules[1].slots[0].record.bit_in: must be from 0 to 255"},
        {slot + R"({"kind": 1, "bit_in": 4}, "inputs": {"bits": [1,1,1,1,1]}}]}]})",
         "modules[1].slots[0].inputs.bits: 5 values for 4 bits"},
        {slot + R"({"kind": 1, "bit_in": 4}, "inputs": {"bits": 16}}]}]})",
         "modules[1].slots[0].inputs.bits: mask sets bit 4 of 4 bits"},
        {slot + R"({"kind": 1, "bit_in": 4}, "counter": true}]}]})",
         "modules[1].slots[0].counter: needs a word or 32-bit input"},
        {slot + R"({"kind": 1, "bit_in": 4}, "wired_from": 5}]}]})",
         "modules[1].slots[0].wired_from: no slot 5 in this module"},
        {slot + R"({"kind": 1, "bit_in": 4}, "wired_from": 0}]}]})",
         "modules[1].slots[0].wired_from: slot 0 has no outputs"},
        {slot + R"({"kind": 7, "pairs": [[3]]}}]}]})",
         "modules[1].slots[0].record.pairs[0]: expected [item type, count]"},
        {R"({"modules": [{"slots": [{"slot": 8, "record": {"kind": 255}}]}]})",
         "modules[0].slots[0].slot: must be from 0 to 7"},
        {R"({"modules": [{"slots": [{"slot": 1, "record": {"kind": 255}},
                                    {"slot": 1, "record": {"kind": 255}}]}]})",
         "modules[0].slots[1].slot: slot 1 given twice"},
        {R"({"modules": [{"slots": [{"record": {"kind": 255}}]}]})",
         "modules[0].slots[0]: missing \"slot\""},
        {R"({"modules": [{"address": "127.0.0.2"}, {"address": "127.0.0.2"}]})",
         "modules[1].address: 127.0.0.2 is already used by modules[0]"},
        {R"({"modules": [{"address": "127.0.0.256"}]})",
         "modules[0].address: expected an IPv4 address such as \"127.0.0.2\""},
        {R"({"modules": [{"address": "127.0.0.255"}]})",
         "modules[0].address: 127.0.0.255 cannot be a module's address"},
        {R"({"modules": [{"hardware_address": "02:52:53:00:00:09"}, {},
                         {"hardware_address": "02:52:53:00:00:09"}]})",
         "modules[2].hardware_address: 02:52:53:00:00:09 is already used by modules[0]"},
        {R"({"modules": [{"hardware_address": "02-52-53"}]})",
         "modules[0].hardware_address: expected a nonzero address such as "
         "\"02:52:53:00:00:01\""},
        {R"({"modules": [{"nmae": "x"}]})", "modules[0]: unknown key \"nmae\""},
        {R"({"modules": [{"kind": "plc"}]})",
         "modules[0].kind: unknown kind \"plc\" (Qx-RIO, node or a number)"},
        {R"({"modules": [{"base_slots": 33}]})", "modules[0].base_slots: must be from 1 to 32"},
        {R"({"modules": [{"faults": {"drop_fraction": 2}}]})",
         "modules[0].faults.drop_fraction: must be a number from 0 to 1"},
        {R"({"modules": [{"faults": {"twice": true}}]})",
         "modules[0].faults: unknown key \"twice\""},
        {R"({"modules": [{"manner": "polite"}]})",
         "modules[0].manner: unknown manner \"polite\" (" + manner_names() + ")"},
        {R"({"modules": [{"manner": {"ack": "echo"}}]})",
         "modules[0].manner.ack: expected one of served, code, status, final, empty"},
        {R"({"modules": [{"manner": {"pad_to": 200}}]})",
         "modules[0].manner.pad_to: must be from 0 to 191"},
        {R"({"modules": [{"manner": {"loud": true}}]})", "modules[0].manner: unknown key \"loud\""},
        {R"({"modules": [{"manner": 3}]})",
         "modules[0].manner: expected a manner's name or an object of choices"},
        {R"({"modules": [{"device_def": [1, 2]}]})",
         "modules[0].device_def: must hold 3 to 191 bytes"},
        {R"({"modules": [{"name": 5}]})", "modules[0].name: expected text"},
        {R"({"modules": []})", "modules: no modules"},
        {R"({"crc": "yes", "modules": [{}]})", "crc: expected true or false"},
        {R"({"key": "0123456789012345678901234567890123456789012345678901234567890",
             "modules": [{}]})",
         "key: must be at most 59 characters without a zero byte"},
        {R"([1, 2])", "rack: expected an object"},
        {R"({"moduls": []})", "rack: unknown key \"moduls\""},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(error_of(text), expected) << text;
}

TEST(RackJson, InvalidJsonSaysWhere) {
    const std::string e = error_of("{\n  \"modules\": [\n    {,}\n  ]\n}");
    EXPECT_EQ(e.rfind("not valid JSON: ", 0), 0u) << e;
    EXPECT_NE(e.find("line 3"), std::string::npos) << e;
}

TEST(RackJson, CommentsAreAllowed) {
    Rack rack = parsed("{ // a rack\n \"modules\": [{} /* one */] }");
    EXPECT_EQ(rack.modules().size(), 1u);
}

TEST(RackJson, LoadNamesTheFile) {
    std::string error;
    EXPECT_FALSE(Rack::load("/nonexistent/rack.json", &error));
    EXPECT_EQ(error.rfind("cannot read /nonexistent/rack.json", 0), 0u) << error;
}

// A scratch directory for rack files, removed with everything in it at the end of the scope.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = ::testing::TempDir() + "racksim_XXXXXX";
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchDir() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    std::string file(const std::string& name, const std::string& contents) const {
        const std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary) << contents;
        return p;
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

TEST(RackJson, LoadSaysWhatIsWrongWithTheFile) {
    ScratchDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string sub = dir.path() + "/rack.json";
    std::filesystem::create_directory(sub);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {sub, sub + ": is a directory"},
        {dir.file("nul.json", std::string("\0{}", 3)),
         dir.path() + "/nul.json: not a text file (NUL byte at offset 0)"},
        {dir.file("late.json", std::string("{\"mo\0", 5)),
         dir.path() + "/late.json: not a text file (NUL byte at offset 4)"},
        {dir.file("empty.json", ""), dir.path() + "/empty.json: empty file"},
    };
    for (const auto& [path, expected] : cases) {
        std::string error;
        EXPECT_FALSE(Rack::load(path, &error)) << path;
        EXPECT_EQ(error, expected);
    }
    std::string error;
    EXPECT_TRUE(Rack::load(dir.file("ok.json", R"({"modules": [{}]})"), &error)) << error;
}

TEST(RackJson, AddressesAreParsedStrictly) {
    uint32_t ip = 0;
    EXPECT_TRUE(parse_ip("127.0.0.2", &ip));
    EXPECT_EQ(ip, 0x7F000002u);
    for (const char* bad : {"", "127.0.0", "127.0.0.2.", " 127.0.0.2", "127.0.0.-1", "1.2.3.4x",
                            "1..2.3", "1234.0.0.1"}) {
        EXPECT_FALSE(parse_ip(bad, &ip)) << bad;
    }
    HwAddress hw{};
    EXPECT_TRUE(parse_hw("02-aa-BB-00-10-ff", &hw));
    EXPECT_EQ(hw_text(hw), "02:AA:BB:00:10:FF");
    EXPECT_FALSE(parse_hw("02:aa:bb:00:10:fg", &hw));
    EXPECT_FALSE(parse_hw("02:aa:bb:00:10", &hw));
}

}  // namespace
}  // namespace racksim
