// Commands from the broker are untrusted: every payload either becomes a write request with a
// value or says why not, and nothing else on the topic tree is taken for a command.
#include "format.h"

#include <gtest/gtest.h>

#include <string>

#include "sparkplug_b.pb-c.h"

namespace zebgw {
namespace {

Config config() {
    Config c;
    c.gateway = "cell";
    c.edge_node = "cell";
    c.sparkplug_group = "plant";
    return c;
}

TEST(Commands, JsonPayloads) {
    auto json = make_json_format(config());
    struct Row {
        const char* payload;
        std::optional<int64_t> value;
    };
    const Row rows[] = {
        {"1", 1},
        {"true", 1},
        {"false", 0},
        {"{\"value\": 5}", 5},
        {"-3", -3},  // taken as it is; the range check refuses it
        {"9223372036854775807", INT64_MAX},
        {"18446744073709551615", std::nullopt},  // past int64
        {"1.5", std::nullopt},
        {"\"1\"", std::nullopt},
        {"", std::nullopt},
        {"{\"value\": {\"value\": 1}}", std::nullopt},
        {"[1]", std::nullopt},
        {"{", std::nullopt},
    };
    for (const Row& r : rows) {
        const auto c = json->command("zeb/cell/press/slot3/bit_out/1/set", r.payload);
        ASSERT_TRUE(c) << r.payload;
        ASSERT_EQ(c->writes.size(), 1u);
        const WriteRequest& w = c->writes[0];
        EXPECT_EQ(w.module, "press");
        EXPECT_EQ(w.point, "slot3/bit_out/1");
        EXPECT_EQ(w.value, r.value) << r.payload;
        EXPECT_EQ(w.problem.empty(), r.value.has_value()) << r.payload;
    }
    // Not a command of this gateway.
    for (const char* topic :
         {"zeb/other/press/slot3/bit_out/1/set", "zeb/cell/press/slot3/bit_out/1", "zeb/cell/set",
          "zeb/cell/press/status"}) {
        EXPECT_FALSE(json->command(topic, "1")) << topic;
    }
}

std::string dcmd(const char* name, uint32_t datatype, int value_case, uint64_t value) {
    Zebgw__Sparkplug__Payload__Metric m;
    zebgw__sparkplug__payload__metric__init(&m);
    m.name = const_cast<char*>(name);
    m.has_datatype = 1;
    m.datatype = datatype;
    m.value_case = static_cast<Zebgw__Sparkplug__Payload__Metric__ValueCase>(value_case);
    // The value's fields share a union: set only the one the case names.
    switch (value_case) {
        case ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_INT_VALUE:
            m.int_value = static_cast<uint32_t>(value);
            break;
        case ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_LONG_VALUE:
            m.long_value = value;
            break;
        case ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE:
            m.boolean_value = value != 0;
            break;
        case ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_STRING_VALUE:
            m.string_value = const_cast<char*>("7");
            break;
    }
    Zebgw__Sparkplug__Payload__Metric* list[] = {&m};
    Zebgw__Sparkplug__Payload p;
    zebgw__sparkplug__payload__init(&p);
    p.n_metrics = 1;
    p.metrics = list;
    std::string out(zebgw__sparkplug__payload__get_packed_size(&p), '\0');
    zebgw__sparkplug__payload__pack(&p, reinterpret_cast<uint8_t*>(out.data()));
    return out;
}

TEST(Commands, SparkplugMetrics) {
    auto sp = make_sparkplug_format(config());
    constexpr int kInt = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_INT_VALUE;
    constexpr int kLong = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_LONG_VALUE;
    constexpr int kBool = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE;
    constexpr int kString = ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_STRING_VALUE;
    struct Row {
        uint32_t datatype;
        int value_case;
        uint64_t value;
        std::optional<int64_t> expected;
    };
    const Row rows[] = {
        {11, kBool, 1, 1},
        {6, kInt, 65535, 65535},            // UInt16
        {2, kInt, 0xFFFFFFFF, -1},          // Int16 -1 travels as its two's complement
        {3, kInt, 0x80000000, INT32_MIN},   // Int32
        {7, kInt, 0xFFFFFFFF, 0xFFFFFFFF},  // UInt32
        {4, kLong, ~0ull, -1},              // Int64
        {8, kLong, ~0ull, std::nullopt},    // UInt64 past int64
        {8, kLong, 42, 42},
        {12, kString, 0, std::nullopt},  // a string is no value to write
        {6, 0, 0, std::nullopt},         // no value at all
    };
    for (const Row& r : rows) {
        const auto c = sp->command("spBv1.0/plant/DCMD/cell/press",
                                   dcmd("slot4/word_out/0", r.datatype, r.value_case, r.value));
        ASSERT_TRUE(c);
        ASSERT_EQ(c->writes.size(), 1u);
        EXPECT_EQ(c->writes[0].module, "press");
        EXPECT_EQ(c->writes[0].value, r.expected) << r.datatype << " " << r.value;
        EXPECT_FALSE(c->rebirth);
    }
    // Rebirth is asked for by a true Node Control/Rebirth, and by nothing else.
    auto asked = sp->command("spBv1.0/plant/NCMD/cell", dcmd("Node Control/Rebirth", 11, kBool, 1));
    ASSERT_TRUE(asked);
    EXPECT_TRUE(asked->rebirth);
    EXPECT_TRUE(asked->writes.empty());
    EXPECT_FALSE(sp->command("spBv1.0/plant/NCMD/cell", dcmd("Node Control/Rebirth", 11, kBool, 0))
                     ->rebirth);
    EXPECT_FALSE(
        sp->command("spBv1.0/plant/NCMD/cell", dcmd("slot3/bit_out/0", 11, kBool, 1))->rebirth);
    // Bytes that are no payload, and other nodes' commands, are no commands.
    EXPECT_FALSE(sp->command("spBv1.0/plant/DCMD/cell/press", std::string("\xff\xff\xff\x0f", 4)));
    EXPECT_FALSE(sp->command("spBv1.0/plant/DCMD/other/press", dcmd("x", 11, kBool, 1)));
    EXPECT_FALSE(
        sp->command("spBv1.0/other/NCMD/cell", dcmd("Node Control/Rebirth", 11, kBool, 1)));
}

TEST(Sparkplug, SequenceCountsTo255AndRoundAgainFromEachBirth) {
    auto sp = make_sparkplug_format(config());
    ModuleConfig mc;
    mc.id = "press";
    Module m(mc, 0);
    std::vector<Message> out;
    sp->will();
    sp->node_birth(out);
    Event death;
    death.kind = Event::Kind::death;
    for (int i = 0; i < 300; ++i) sp->encode(death, m, out);
    ASSERT_EQ(out.size(), 301u);
    for (size_t i = 0; i < out.size(); ++i) {
        Zebgw__Sparkplug__Payload* p = zebgw__sparkplug__payload__unpack(
            nullptr, out[i].payload.size(),
            reinterpret_cast<const uint8_t*>(out[i].payload.data()));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->seq, i % 256) << i;
        zebgw__sparkplug__payload__free_unpacked(p, nullptr);
    }
    EXPECT_EQ(out[0].topic, "spBv1.0/plant/NBIRTH/cell");
    EXPECT_EQ(out[1].topic, "spBv1.0/plant/DDEATH/cell/press");
    out.clear();
    sp->node_birth(out);  // a rebirth starts again from 0
    sp->encode(death, m, out);
    Zebgw__Sparkplug__Payload* p = zebgw__sparkplug__payload__unpack(
        nullptr, out[1].payload.size(), reinterpret_cast<const uint8_t*>(out[1].payload.data()));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->seq, 1u);
    zebgw__sparkplug__payload__free_unpacked(p, nullptr);
}

}  // namespace
}  // namespace zebgw
