// What a host takes and sends bounds what a rack may hold: a rack description whose replies (or
// the write of all its outputs) would not fit a host's buffers is refused, and so is a base
// definition written at run time that would make them too large.
#include <gtest/gtest.h>

#include <string>

#include "rack.h"
#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::kModuleA;

std::string error_of(const std::string& text) {
    std::string error;
    EXPECT_FALSE(Rack::parse(text, &error)) << text;
    return error;
}

bool accepted(const std::string& text) {
    std::string error;
    const bool ok = Rack::parse(text, &error).has_value();
    EXPECT_TRUE(ok) << error;
    return ok;
}

std::string one_module(const std::string& body) {
    return R"({"modules": [{"name": "small"}, {"name": "big", )" + body + "}]}";
}

// A kind-5 record in slot `n` with the given counts.
std::string full_slot(int n, int bit_in, int word_in, int dword_in, int bit_out = 0,
                      int word_out = 0, int dword_out = 0) {
    return R"({"slot": )" + std::to_string(n) + R"(, "record": {"kind": 5, "bit_in": )" +
           std::to_string(bit_in) + ", \"word_in\": " + std::to_string(word_in) +
           ", \"dword_in\": " + std::to_string(dword_in) +
           ", \"bit_out\": " + std::to_string(bit_out) +
           ", \"word_out\": " + std::to_string(word_out) +
           ", \"dword_out\": " + std::to_string(dword_out) + "}}";
}

TEST(Limits, InputReplyTooLargeInTheCompactFormat) {
    // 255 points of every input type: 1612 bytes in the compact format, 1596 in the extended.
    EXPECT_EQ(error_of(one_module(R"("slots": [)" + full_slot(0, 255, 255, 255) + "]")),
              "modules[1] (\"big\"): its I/O reply in the compact item format would be 1612 "
              "bytes; a host takes at most 1200 (header included)");
}

TEST(Limits, InputReplyTooLargeInTheExtendedFormatOnly) {
    // Ten slots whose items each fit one compact header, and one with 30 words: 1165 bytes
    // compact, but the extended format's two-byte headers make it 1208.
    std::string slots;
    for (int n = 0; n < 10; ++n) slots += full_slot(n, 120, 15, 15) + ", ";
    slots += R"({"slot": 10, "record": {"kind": 1, "word_in": 30}})";
    EXPECT_EQ(error_of(one_module(R"("base_slots": 16, "slots": [)" + slots + "]")),
              "modules[1] (\"big\"): its I/O reply in the extended item format would be 1208 "
              "bytes; a host takes at most 1200 (header included)");
}

TEST(Limits, InputReplyOfExactlyTheLimitIsAccepted) {
    // Compact: 1 + (1 + 8) + (8 + 214) + (16 + 940) + 1 stream bytes, a status word and the
    // header make 1200; the extended reply is 1190.
    EXPECT_TRUE(accepted(one_module(R"("slots": [)" + full_slot(0, 64, 107, 235) + "]")));
    EXPECT_EQ(error_of(one_module(R"("slots": [)" + full_slot(0, 64, 107, 236) + "]")),
              "modules[1] (\"big\"): its I/O reply in the compact item format would be 1204 "
              "bytes; a host takes at most 1200 (header included)");
}

TEST(Limits, WriteOfAllOutputsTooLarge) {
    EXPECT_EQ(error_of(one_module(R"("slots": [)" + full_slot(0, 0, 0, 0, 255, 255, 255) + "]")),
              "modules[1] (\"big\"): a write of all its outputs in the compact item format would "
              "be 1611 bytes; a host sends at most 1200 (header included)");
}

TEST(Limits, BaseDefinitionTooLargeForTheReplyToInit) {
    // 32 slots with the longest record (kind 7, seven pairs): 652 bytes in the compact format,
    // which init answers with; the extended read (684 bytes) would still fit its 1000.
    std::string slots;
    for (int n = 0; n < 32; ++n) {
        if (n) slots += ", ";
        slots +=
            R"({"slot": )" + std::to_string(n) +
            R"(, "record": {"kind": 7, "pairs": [[7,0],[7,0],[7,0],[7,0],[7,0],[7,0],[7,0]]}})";
    }
    EXPECT_EQ(error_of(one_module(R"("base_slots": 32, "slots": [)" + slots + "]")),
              "modules[1] (\"big\"): its base definition in the compact item format would be 652 "
              "bytes in the reply to init; a host takes at most 600 (header included)");
}

TEST(Limits, WrittenBaseDefinitionWhoseInputsWouldNotFitIsRefused) {
    Rack rack = test::three_modules();
    std::vector<std::string> log;
    rack.set_log([&](const std::string& line) { log.push_back(line); });
    // Slot 0: a kind-5 record with 255 of every input and output.
    const Bytes def = {0x00, 0x16, 0x05, 0x77, 255, 255, 255, 255, 255, 255};
    const Bytes request = test::concat({{0x0F, 0x00, static_cast<uint8_t>(def.size()), 0x00}, def});
    const auto replies = ask(rack, kModuleA, request);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].status(), 0x0003);
    EXPECT_EQ(rack.module(0).base.slots.size(), 5u);  // the old base stays
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("refused (its I/O reply in the compact item format would be 1612 bytes"),
              std::string::npos)
        << log[0];
}

}  // namespace
}  // namespace racksim
