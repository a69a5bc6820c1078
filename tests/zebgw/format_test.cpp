// Commands from the broker are untrusted: every payload either becomes a write request with a
// value or says why not, and nothing else on the topic tree is taken for a command.
#include "format.h"

#include <gtest/gtest.h>

#include <string>

#include "sparkplug_alias.h"
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

std::string dcmd(const char* name, uint32_t datatype, int value_case, uint64_t value,
                 std::optional<uint64_t> alias = std::nullopt) {
    Zebgw__Sparkplug__Payload__Metric m;
    zebgw__sparkplug__payload__metric__init(&m);
    m.name = const_cast<char*>(name);
    if (alias) {
        m.has_alias = 1;
        m.alias = *alias;
    }
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

// What one payload carries of each metric: its name ("" for none) and its alias (0 for none).
std::vector<std::pair<std::string, uint64_t>> named(const std::string& payload) {
    std::vector<std::pair<std::string, uint64_t>> out;
    Zebgw__Sparkplug__Payload* p = zebgw__sparkplug__payload__unpack(
        nullptr, payload.size(), reinterpret_cast<const uint8_t*>(payload.data()));
    EXPECT_NE(p, nullptr);
    if (!p) return out;
    for (size_t i = 0; i < p->n_metrics; ++i) {
        const auto& m = *p->metrics[i];
        out.emplace_back(m.name ? m.name : "", m.has_alias ? m.alias : 0);
    }
    zebgw__sparkplug__payload__free_unpacked(p, nullptr);
    return out;
}

TEST(Sparkplug, BirthsGiveNameAndAliasDataAndCommandsTheAliasAlone) {
    ModuleConfig mc;
    mc.id = "press";
    Module m(mc, 2);  // the third module: its aliases are unlike the first two's
    for (const char* name : {"slot1/bit_in/0", "slot3/word_out/1"}) {
        Point p;
        p.ref = *parse_point_name(name);
        p.name = name;
        p.published = true;
        m.points.push_back(p);
    }
    const uint64_t a0 = point_alias(2, 0);
    const uint64_t a1 = point_alias(2, 1);
    EXPECT_NE(a0, 0u);
    EXPECT_NE(point_alias(0, 0), 0u);
    EXPECT_NE(point_alias(1, 0), point_alias(0, 0x8000));
    ASSERT_TRUE(alias_place(a1));
    EXPECT_EQ(alias_place(a1)->module, 2u);
    EXPECT_EQ(alias_place(a1)->point, 1u);
    EXPECT_FALSE(alias_place(5));  // below the first module's: no alias of ours
    Event birth;
    birth.kind = Event::Kind::birth;
    birth.values = {{0, 1}, {1, 7}};
    Event data;
    data.kind = Event::Kind::data;
    data.values = {{1, 8}};
    using Named = std::vector<std::pair<std::string, uint64_t>>;
    struct Row {
        bool aliases;
        Named birth, data;
    } rows[] = {
        {true,
         {{"slot1/bit_in/0", a0}, {"slot3/word_out/1", a1}, {"zebgw/write_result", 0}},
         {{"", a1}}},
        {false,
         {{"slot1/bit_in/0", 0}, {"slot3/word_out/1", 0}, {"zebgw/write_result", 0}},
         {{"slot3/word_out/1", 0}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.aliases ? "aliases on" : "aliases off");
        Config c = config();
        c.sparkplug_aliases = r.aliases;
        auto sp = make_sparkplug_format(c);
        std::vector<Message> out;
        sp->encode(birth, m, out);
        sp->encode(data, m, out);
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(named(out[0].payload), r.birth);
        EXPECT_EQ(named(out[1].payload), r.data);

        // A command by alias alone: taken as the alias with aliases on, refused without.
        const auto c1 = sp->command(
            "spBv1.0/plant/DCMD/cell/press",
            dcmd(nullptr, 6, ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_INT_VALUE, 9, a1));
        ASSERT_TRUE(c1);
        ASSERT_EQ(c1->writes.size(), 1u);
        EXPECT_EQ(c1->writes[0].alias, r.aliases ? std::optional<uint64_t>(a1) : std::nullopt);
        EXPECT_EQ(c1->writes[0].problem.empty(), r.aliases) << c1->writes[0].problem;
        // By name and alias: the alias counts when aliases are on, the name otherwise.
        const auto c2 =
            sp->command("spBv1.0/plant/DCMD/cell/press",
                        dcmd("slot1/bit_in/0", 11,
                             ZEBGW__SPARKPLUG__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE, 1, a1));
        ASSERT_TRUE(c2);
        EXPECT_EQ(c2->writes[0].point, "slot1/bit_in/0");
        EXPECT_EQ(c2->writes[0].alias.has_value(), r.aliases);
        EXPECT_TRUE(c2->writes[0].problem.empty());
    }
}

}  // namespace
}  // namespace zebgw
