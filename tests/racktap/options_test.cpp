#include "options.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "capture.h"

namespace racktap {
namespace {

struct Parsed {
    Options options;
    std::string printed;
};

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "RackTap");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    Capture out;
    Parsed p{parse_options(static_cast<int>(argv.size()), argv.data(), out.file()), {}};
    p.printed = out.text();
    return p;
}

std::string name_of(const Options& o) {
    return std::string(o.name.data());
}

TEST(Options, DefaultsAreIpxModuleNumberZero) {
    const auto p = parse({});
    EXPECT_EQ(p.options.protocol, ZEB_PROTOCOL_IPX);
    EXPECT_EQ(p.options.selection, Selection::kByNumber);
    EXPECT_EQ(p.options.number, 0);
    EXPECT_EQ(p.options.name, (std::array<char, kNameBufferSize>{}));
    EXPECT_FALSE(p.options.local_address);
    EXPECT_FALSE(p.options.verbose);
    EXPECT_FALSE(p.options.usage);
    EXPECT_EQ(p.printed, "");
}

TEST(Options, DashAndLowerCaseSelectIpAndNumber) {
    const auto p = parse({"-pi", "-i7"});
    EXPECT_EQ(p.options.protocol, ZEB_PROTOCOL_IP);
    EXPECT_EQ(p.options.selection, Selection::kByNumber);
    EXPECT_EQ(p.options.number, 7);
    EXPECT_EQ(p.printed, "");
    EXPECT_EQ(parse({"/PI", "/px"}).options.protocol, ZEB_PROTOCOL_IPX);
}

TEST(Options, LaterSelectionWins) {
    const auto by_name = parse({"/I7", "/Nrack"});
    EXPECT_EQ(by_name.options.selection, Selection::kByName);
    EXPECT_EQ(name_of(by_name.options), "rack");

    const auto by_number = parse({"/Nrack", "/I7"});
    EXPECT_EQ(by_number.options.selection, Selection::kByNumber);
    EXPECT_EQ(by_number.options.number, 7);
}

TEST(Options, UnknownParameterIsReportedAndPreviousValueKept) {
    const auto p = parse({"/PI", "/PZ"});
    EXPECT_EQ(p.printed, "/PZ - Unknown parameter\n");
    EXPECT_EQ(p.options.protocol, ZEB_PROTOCOL_IP);

    EXPECT_EQ(parse({"/P", "/", "-", "/Q5", "-x"}).printed,
              "/P - Unknown parameter\n/ - Unknown parameter\n- - Unknown parameter\n"
              "/Q5 - Unknown parameter\n-x - Unknown parameter\n");
}

TEST(Options, ArgumentsWithoutOptionMarkAreIgnored) {
    const auto p = parse({"rack", "I7", "PI"});
    EXPECT_EQ(p.printed, "");
    EXPECT_EQ(p.options.protocol, ZEB_PROTOCOL_IPX);
    EXPECT_EQ(p.options.number, 0);
}

TEST(Options, UsageStopsReading) {
    for (const char* opt : {"/?", "-?", "/H", "-h"}) {
        const auto p = parse({"/PZ", opt, "/PX", "/QQ"});
        EXPECT_TRUE(p.options.usage) << opt;
        EXPECT_EQ(p.printed, "/PZ - Unknown parameter\n") << opt;
    }
}

TEST(Options, NumberIsReadLikeADecimalInteger) {
    EXPECT_EQ(parse({"/I  -12"}).options.number, -12);
    EXPECT_EQ(parse({"/I+5x9"}).options.number, 5);
    EXPECT_EQ(parse({"/Iabc"}).options.number, 0);
    EXPECT_EQ(parse({"/I"}).options.number, 0);
    EXPECT_EQ(parse({"/I99999999999"}).options.number, INT32_MAX);
    EXPECT_EQ(parse({"/I-99999999999"}).options.number, INT32_MIN);
    EXPECT_EQ(parse({"/I-2147483648"}).options.number, INT32_MIN);
}

TEST(Options, NameIsCutTo255CharactersAndZeroFilled) {
    const auto p = parse({"/N" + std::string(300, 'a')});
    EXPECT_EQ(name_of(p.options), std::string(255, 'a'));
    EXPECT_EQ(p.options.name[255], '\0');

    const auto shorter = parse({"/Nlonger-name", "/Nab"});
    EXPECT_EQ(name_of(shorter.options), "ab");
    for (std::size_t i = 2; i < kNameBufferSize; ++i) EXPECT_EQ(shorter.options.name[i], '\0');

    EXPECT_EQ(parse({"/N"}).options.selection, Selection::kByName);
}

TEST(Options, LocalAddressAndVerbose) {
    const auto p = parse({"/L127.0.0.1", "-v"});
    ASSERT_TRUE(p.options.local_address);
    const SocketAddress expected{2, 0, 0, 0, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(*p.options.local_address, expected);
    EXPECT_TRUE(p.options.verbose);

    const auto bad = parse({"/l127.0.0.2", "/L127.0.0.300"});
    EXPECT_EQ(bad.printed, "/L127.0.0.300 - Bad local address\n");
    ASSERT_TRUE(bad.options.local_address);
    EXPECT_EQ((*bad.options.local_address)[7], 2);
}

TEST(LocalAddress, AcceptsOnlyDottedQuads) {
    const auto a = parse_local_address("10.1.255.0");
    ASSERT_TRUE(a);
    EXPECT_EQ(*a, (SocketAddress{2, 0, 0, 0, 10, 1, 255, 0}));
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..3.4", "a.b.c.d", "1.2.3.4 ",
                            " 1.2.3.4", "0001.2.3.4", "1.2.3.-4", "1.2.3.4."}) {
        EXPECT_FALSE(parse_local_address(bad)) << bad;
    }
}

}  // namespace
}  // namespace racktap
