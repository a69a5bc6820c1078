// What zeb reads from its command line: addresses, MODULE, numbers, hex and escaped text.
#include <gtest/gtest.h>

#include "addresses.h"
#include "values.h"

namespace zeb::cli {
namespace {

TEST(Addresses, Ipv4AndHardwareAddresses) {
    EXPECT_EQ(parse_ipv4("127.0.0.2"), 0x7F000002u);
    EXPECT_EQ(parse_ipv4("255.255.255.255"), 0xFFFFFFFFu);
    for (const char* bad : {"", "127.0.0", "127.0.0.256", "127.0.0.1.", "1..2.3", "0127.0.0.1",
                            "127.0.0.1 ", "a.b.c.d"}) {
        EXPECT_FALSE(parse_ipv4(bad)) << bad;
    }
    EXPECT_EQ(ipv4_text(0x7F000002u), "127.0.0.2");

    const HwAddress hw{0x02, 0x52, 0x53, 0x00, 0xAB, 0x01};
    EXPECT_EQ(parse_hw("02:52:53:00:ab:01"), hw);
    EXPECT_EQ(parse_hw("02-52-53-00-AB-01"), hw);
    EXPECT_EQ(parse_hw("02525300AB01"), hw);
    for (const char* bad :
         {"02:52:53:00:AB", "02:52-53:00:AB:01", "02:52:53:00:AB:0G", "0252 5300AB01"}) {
        EXPECT_FALSE(parse_hw(bad)) << bad;
    }
    EXPECT_EQ(hw_text(hw), "02:52:53:00:AB:01");
}

TEST(Addresses, ModuleArgumentByAddressNumberHardwareOrName) {
    EXPECT_EQ(std::get<ByAddress>(*parse_module_ref("127.0.0.3")).ip, 0x7F000003u);
    EXPECT_EQ(std::get<ByNumber>(*parse_module_ref("#42")).number, 42u);
    EXPECT_EQ(std::get<ByNumber>(*parse_module_ref("#0x10")).number, 16u);
    EXPECT_EQ(std::get<ByHardware>(*parse_module_ref("02:52:53:00:00:01")).hw[5], 1);
    EXPECT_EQ(std::get<ByName>(*parse_module_ref("press-line")).name, "press-line");
    // Something that is almost an address is a name.
    EXPECT_EQ(std::get<ByName>(*parse_module_ref("127.0.0")).name, "127.0.0");
    EXPECT_FALSE(parse_module_ref(""));
    EXPECT_FALSE(parse_module_ref("#"));
    EXPECT_FALSE(parse_module_ref("#4294967296"));
    EXPECT_FALSE(parse_module_ref(std::string(256, 'n')));
    EXPECT_TRUE(parse_module_ref(std::string(255, 'n')));
    EXPECT_EQ(module_ref_text(*parse_module_ref("#7")), "#7");
}

TEST(Values, NumbersDecimalOrHexWithinTheirRange) {
    EXPECT_EQ(parse_unsigned("0", 10), 0u);
    EXPECT_EQ(parse_unsigned("0x1F", 255), 31u);
    EXPECT_EQ(parse_unsigned("4294967295", 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_FALSE(parse_unsigned("4294967296", 0xFFFFFFFFu));
    EXPECT_FALSE(parse_unsigned("18446744073709551616", UINT64_MAX)) << "no wrap-around";
    for (const char* bad : {"", "0x", "-1", "12a", "0x1G", " 1"}) {
        EXPECT_FALSE(parse_unsigned(bad, 1000)) << bad;
    }
    EXPECT_EQ(parse_signed("-32768", -32768, 65535), -32768);
    EXPECT_EQ(parse_signed("65535", -32768, 65535), 65535);
    EXPECT_FALSE(parse_signed("-32769", -32768, 65535));
    EXPECT_FALSE(parse_signed("65536", -32768, 65535));
    EXPECT_EQ(parse_signed("-0", -5, 5), 0);
    EXPECT_EQ(parse_signed("-9223372036854775808", INT64_MIN, INT64_MAX), INT64_MIN);
}

TEST(Values, HexBytesAndEscapedText) {
    using B = Bytes;
    EXPECT_EQ(parse_hex_bytes("00 0a FF"), (B{0x00, 0x0A, 0xFF}));
    EXPECT_EQ(parse_hex_bytes("000aff"), (B{0x00, 0x0A, 0xFF}));
    EXPECT_EQ(parse_hex_bytes("00:0a-ff"), (B{0x00, 0x0A, 0xFF}));
    EXPECT_EQ(parse_hex_bytes(""), B{});
    EXPECT_FALSE(parse_hex_bytes("0"));
    EXPECT_FALSE(parse_hex_bytes("0 0"));
    EXPECT_FALSE(parse_hex_bytes("0g"));

    EXPECT_EQ(parse_escaped_text("a\\r\\n\\t\\0\\\\\\x7f"),
              (B{'a', '\r', '\n', '\t', 0, '\\', 0x7F}));
    for (const char* bad : {"\\", "\\q", "\\x", "\\x4", "\\x4g"}) {
        EXPECT_FALSE(parse_escaped_text(bad)) << bad;
    }
    const B bytes{'o', 'k', '\r', '\n', 0x01, '\\'};
    EXPECT_EQ(escaped_text(bytes), "ok\\r\\n\\x01\\\\");
    EXPECT_EQ(parse_escaped_text(escaped_text(bytes)), bytes) << "escaping reads back";
}

TEST(Values, PrintableTextAndDumps) {
    const uint8_t name[] = {'a', 'b', 0, 0};
    const uint8_t inner_zero[] = {'a', 0, 'b'};
    EXPECT_TRUE(is_printable_text(name));
    EXPECT_FALSE(is_printable_text(inner_zero));
    EXPECT_FALSE(is_printable_text({}));
    EXPECT_EQ(text_up_to_zero(inner_zero), "a");
    const uint8_t data[] = {'A', 0x00, 0xFF};
    EXPECT_EQ(hex_dump(data, 0x10), "00000010  41 00 FF" + std::string(13 * 3, ' ') + "  A..\n");
    EXPECT_EQ(le16(data, 1), 0xFF00);
    EXPECT_EQ(le16(data, 2), 0) << "past the end";
    EXPECT_EQ(le32(data, 0), 0u);
}

}  // namespace
}  // namespace zeb::cli
