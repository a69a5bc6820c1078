// Rack descriptions written back: what hosts wrote is kept, everything else stays as described,
// and what is written reads back as the same rack.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "functions.h"
#include "rack.h"
#include "test_util.h"

namespace racksim {
namespace {

using test::ask;

Rack parsed(const std::string& text) {
    std::string error;
    auto rack = Rack::parse(text, &error);
    EXPECT_TRUE(rack) << error;
    return rack ? std::move(*rack) : Rack{};
}

std::string described(const Rack& rack) {
    std::string text, error;
    EXPECT_TRUE(rack.describe(&text, &error)) << error;
    return text;
}

std::string error_of(const std::string& text) {
    std::string error;
    EXPECT_FALSE(Rack::parse(text, &error)) << text;
    return error;
}

std::string sample_text() {
    std::ifstream in(RACKSIM_SAMPLE_RACK);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Bytes write_setup(uint16_t type, const Bytes& data) {
    const Bytes head{0x0C, 0x00, static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8)};
    return test::concat({head, data});
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// What a description gives: everything a module is made of but its live state.
void expect_same_modules(const Rack& a, const Rack& b) {
    ASSERT_EQ(a.modules().size(), b.modules().size());
    EXPECT_EQ(a.settings().key, b.settings().key);
    EXPECT_EQ(a.settings().crc, b.settings().crc);
    for (size_t i = 0; i < a.modules().size(); ++i) {
        const Module& x = a.modules()[i];
        const Module& y = b.modules()[i];
        SCOPED_TRACE("module " + std::to_string(i));
        EXPECT_EQ(x.setup, y.setup);
        EXPECT_EQ(x.config, y.config);
        EXPECT_EQ(x.identity.kind, y.identity.kind);
        EXPECT_EQ(x.identity.ip, y.identity.ip);
        EXPECT_EQ(x.identity.hw, y.identity.hw);
        EXPECT_EQ(x.identity.device_def, y.identity.device_def);
        EXPECT_EQ(x.base.base_slots, y.base.base_slots);
        ASSERT_EQ(x.base.installed.size(), y.base.installed.size());
        for (const auto& [n, slot] : x.base.installed) {
            const Slot& other = y.base.installed.at(n);
            EXPECT_EQ(slot.record, other.record) << "slot " << n;
            EXPECT_EQ(slot.behaviour, other.behaviour) << "slot " << n;
            EXPECT_EQ(slot.io.bit_in, other.io.bit_in) << "slot " << n;
            EXPECT_EQ(slot.io.word_in, other.io.word_in) << "slot " << n;
        }
        EXPECT_EQ(x.faults.drop_first, y.faults.drop_first);
        EXPECT_EQ(x.faults_by_function.size(), y.faults_by_function.size());
    }
}

TEST(RackSave, KeepsWhatHostsWroteAndTheRestAsDescribed) {
    Rack rack = parsed(sample_text());
    const Rack original = parsed(sample_text());
    // What hosts write that a module keeps...
    ask(rack, test::kModuleA, write_setup(0x30, text("line A")));
    ask(rack, test::kModuleA, write_setup(0x31, {0x00, 0x01, 0x02, 0xFF}));
    ask(rack, test::kModuleA, write_setup(0x16, text("press-2")));
    ask(rack, test::kModuleB, test::concat({Bytes{0x61}, Bytes(100, 0xA5)}));
    ask(rack, test::kModuleC, {0x0D, 0x00, 0x20, 0x00});
    // ... and what it does not: outputs, a base definition, faults counting down.
    ask(rack, test::kModuleA, {0x06, 0x03, 0x41, 0x06, 0xFF});
    ask(rack, test::kModuleB, {0x0F, 0x00, 0x05, 0x00, 0x00, 0x1F, 0xFF, 0x01, 0xFF});
    rack.module(0).faults.drop_first = 0;

    const std::string text_out = described(rack);
    Rack back = parsed(text_out);
    EXPECT_EQ(back.module(0).name(), "press-2");
    EXPECT_EQ(*back.module(0).setup.find(0x30), text("line A"));
    EXPECT_EQ(*back.module(0).setup.find(0x31), (Bytes{0x00, 0x01, 0x02, 0xFF}));
    EXPECT_EQ(back.module(1).config, Bytes(100, 0xA5));
    EXPECT_EQ(back.module(2).setup.find(kSetupNumber), nullptr);
    EXPECT_EQ(back.module(1).base.installed.size(), 2u);
    EXPECT_TRUE(back.module(0).slot(3).io.bit_out == Bytes{0});
    for (size_t i = 0; i < rack.modules().size(); ++i) {
        EXPECT_EQ(back.module(i).setup, rack.module(i).setup);
        EXPECT_EQ(back.module(i).config, rack.module(i).config);
    }
    // Written again, the description does not change.
    EXPECT_EQ(described(back), text_out);
    // Untouched, a rack reads back as itself.
    expect_same_modules(parsed(described(original)), original);
}

TEST(RackSave, RecordsAreTextWhereReadableElseHex) {
    Rack rack = parsed(R"({"modules": [{"name": "a", "number": 5}]})");
    ask(rack, test::kModuleA, write_setup(0x0030, text("line A\tnorth")));
    ask(rack, test::kModuleA, write_setup(0x0031, {0x00, 0x01, 0xFF}));
    ask(rack, test::kModuleA, test::concat({Bytes{0x61}, Bytes(40, 0x80)}));
    const std::string out = described(rack);
    EXPECT_NE(out.find(R"("name": "a")"), std::string::npos) << out;
    EXPECT_NE(out.find(R"("number": 5)"), std::string::npos) << out;
    EXPECT_NE(out.find(R"("0x0030": "line A\tnorth")"), std::string::npos) << out;
    EXPECT_NE(out.find(R"("0x0031": {"hex": "00 01 FF"})"), std::string::npos) << out;
    // A longer block is a list of lines.
    EXPECT_NE(out.find("\"config\": {\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\"hex\": [\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" 80\"\n"), std::string::npos) << out;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 100u) << line;
}

TEST(RackSave, NamesAndNumbersThatNameAndNumberCannotHoldGoWithTheRecords) {
    Rack rack = parsed(R"({"modules": [{"name": "a"}, {"name": "b"}, {"name": "c"}]})");
    ask(rack, test::kModuleA, write_setup(0x16, {'x', 0x00, 'y'}));
    ask(rack, test::kModuleA, write_setup(0x20, {7}));  // one byte: not how "number" writes it
    ask(rack, test::kModuleB, {0x0D, 0x00, 0x16, 0x00});
    ask(rack, test::kModuleB, write_setup(0x20, {1, 0, 0, 0}));
    ask(rack, test::kModuleC, write_setup(0x20, {0x70, 0x11, 0x01, 0x00}));
    const std::string out = described(rack);
    EXPECT_NE(out.find(R"("0x0016": {"hex": "78 00 79"})"), std::string::npos) << out;
    EXPECT_NE(out.find(R"("0x0020": {"hex": "07"})"), std::string::npos) << out;
    EXPECT_NE(out.find(R"("name": null)"), std::string::npos) << out;
    EXPECT_NE(out.find(R"("0x0020": {"hex": "01 00 00 00"})"), std::string::npos) << out;
    EXPECT_NE(out.find(R"("number": 70000)"), std::string::npos) << out;
    Rack back = parsed(out);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(back.module(i).setup, rack.module(i).setup) << i;
    EXPECT_EQ(back.module(1).name(), "");  // no name record, rather than a default name
}

TEST(RackSave, RecordsAndBlocksInADescriptionAreChecked) {
    const std::string m = R"({"modules": [{)";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {m + R"("setup": {"0x10000": "x"}}]})",
         "modules[0].setup: \"0x10000\" is not a setup type (0 to 65535, or 0x0000 to 0xFFFF)"},
        {m + R"("setup": {"ab": "x"}}]})",
         "modules[0].setup: \"ab\" is not a setup type (0 to 65535, or 0x0000 to 0xFFFF)"},
        {m + R"("setup": {"48": "x", "0x30": "y"}}]})",
         "modules[0].setup.48: setup type 48 given twice"},
        {m + R"("name": "a", "setup": {"0x16": "b"}}]})",
         "modules[0].setup.0x16: the name record, already given as \"name\""},
        {m + R"("number": null, "setup": {"32": "b"}}]})",
         "modules[0].setup.32: the number record, already given as \"number\""},
        {m + R"("setup": {"1": {"hex": "0G"}}}]})",
         "modules[0].setup.1.hex: \"G\" at 1 is not a hex digit"},
        {m + R"("setup": {"1": {"hex": "012"}}}]})",
         "modules[0].setup.1.hex: a byte needs two hex digits (at 2)"},
        {m + R"("setup": {"1": {"hex": ["01", 2]}}}]})",
         "modules[0].setup.1.hex[1]: expected hex digits as text"},
        {m + R"("setup": {"1": [1, 2]}}]})",
         "modules[0].setup.1: expected text or {\"hex\": \"01 02 ...\"}"},
        {m + R"("setup": {"1": ")" + std::string(590, 'x') + R"("}}]})",
         "modules[0].setup.1: 590 bytes; a host reads at most 589"},
        {m + R"("config": ")" + std::string(1190, 'x') + R"("}]})",
         "modules[0].config: 1190 bytes; a host reads at most 1189"},
        {m + R"("name": "a", "number": -1}]})", ""},
    };
    for (const auto& [text, expected] : cases) {
        if (expected.empty()) continue;
        EXPECT_EQ(error_of(text), expected) << text.substr(0, 120);
    }
    std::string many = m + R"("setup": {)";
    for (int t = 100; t < 100 + 292; ++t)
        many += (t > 100 ? ", \"" : "\"") + std::to_string(t) + R"(": "x")";
    EXPECT_EQ(error_of(many + "}}]}"),
              "modules[0]: more than 293 setup records; a host lists at most that many");

    // Text and hex, split over lines, make the same bytes.
    Rack rack = parsed(m + R"("setup": {"0x40": {"hex": ["4142 43", " 44"]}, "65": "ABCD"},
                          "config": {"hex": "00ff"}}]})");
    EXPECT_EQ(*rack.module(0).setup.find(0x40), text("ABCD"));
    EXPECT_EQ(*rack.module(0).setup.find(65), text("ABCD"));
    EXPECT_EQ(rack.module(0).config, (Bytes{0x00, 0xFF}));
    EXPECT_EQ(rack.module(0).name(), "module1");
}

TEST(RackSave, SavesToAFileThatLoadsBackAndFailsWithoutTouchingIt) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("racksim-save-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "rack.json").string();
    Rack rack = parsed(R"({"modules": [{"name": "a"}]})");
    ask(rack, test::kModuleA, write_setup(0x30, text("kept")));
    std::string error;
    ASSERT_TRUE(rack.save(path, &error)) << error;
    auto back = Rack::load(path, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back->module(0).setup.find(0x30), text("kept"));
    EXPECT_FALSE(std::filesystem::exists(path + ".saving"));

    // Nowhere to write: an error, and nothing left behind.
    EXPECT_FALSE(rack.save((folder / "missing" / "rack.json").string(), &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    // A rack built in code has no description to write back.
    Rack built;
    built.add_module(Module("m", 1));
    EXPECT_FALSE(built.save(path, &error));
    EXPECT_EQ(error, "the rack was not read from a description");
    EXPECT_EQ(Rack::load(path, &error)->module(0).name(), "a");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace racksim
