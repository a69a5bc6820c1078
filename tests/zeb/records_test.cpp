// zeb setup, config, mem and serial against the sample rack's packer (127.0.0.3).
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "zeb_fixture.h"

namespace zebtest {
namespace {

using nlohmann::json;

class Records : public ZebTest {};

TEST_F(Records, SetupListGetSetAndDelete) {
    const ZebRun list = run_zeb({"setup", "list", "packer"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out,
              "TYPE    NAME    LENGTH  VALUE\n"
              "0x0016  name    6       \"packer\"\n"
              "0x0020  number  2       2\n"
              "0x0030          6       \"line A\"\n"
              "0x0031          4       00 0A 01 FF\n");

    ASSERT_EQ(run_zeb({"setup", "set", "127.0.0.3", "0x40", "hello"}).status, 0);
    ASSERT_EQ(run_zeb({"setup", "set", "127.0.0.3", "65", "--hex", "00 01 fe"}).status, 0);
    EXPECT_EQ(run_zeb({"setup", "get", "127.0.0.3", "0x40"}).out, "hello\n");
    EXPECT_EQ(run_zeb({"setup", "get", "127.0.0.3", "0x41"}).out, "00 01 FE\n");
    EXPECT_EQ(run_zeb({"setup", "get", "127.0.0.3", "0x40", "--raw"}).out, "hello");
    const json record = json_of(run_zeb({"setup", "get", "127.0.0.3", "0x41", "--json"}));
    EXPECT_EQ(record, json({{"length", 3}, {"text", nullptr}, {"hex", "00 01 FE"}, {"type", 65}}));

    // A number record is written as a number, 16 bits when it fits; the module is found by it.
    ASSERT_EQ(run_zeb({"setup", "set", "127.0.0.3", "number", "77"}).status, 0);
    EXPECT_EQ(run_zeb({"setup", "get", "#77", "number"}).out, "77\n");
    EXPECT_EQ(run_zeb({"setup", "get", "#77", "number", "--hex"}).out, "4D 00\n");

    ASSERT_EQ(run_zeb({"setup", "delete", "127.0.0.3", "0x40"}).status, 0);
    const ZebRun gone = run_zeb({"setup", "get", "127.0.0.3", "0x40"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.out, "");
    EXPECT_EQ(gone.err,
              "zeb: setup record 0x0040 of 127.0.0.3: result 0xFFFF8101 module status 0x8101: "
              "the module refused the request\n");
    EXPECT_EQ(run_zeb({"setup", "delete", "127.0.0.3", "0x40"}).status, 1);
    EXPECT_EQ(run_zeb({"setup", "get", "127.0.0.3", "0x10000"}).status, 2);
}

TEST_F(Records, ConfigGetAndSet) {
    EXPECT_EQ(run_zeb({"config", "get", "packer"}).out, "mode=auto;rate=20\n");
    ASSERT_EQ(run_zeb({"config", "set", "127.0.0.3", "--hex", "01 02 03"}).status, 0);
    EXPECT_EQ(run_zeb({"config", "get", "127.0.0.3"}).out, "01 02 03\n");
    EXPECT_EQ(json_of(run_zeb({"config", "get", "127.0.0.3", "--json"}))["length"], 3);

    const std::string file = ::testing::TempDir() + "zeb_config.bin";
    std::ofstream(file, std::ios::binary) << "from a file";
    ASSERT_EQ(run_zeb({"config", "set", "127.0.0.3", "--file", file}).status, 0);
    EXPECT_EQ(run_zeb({"config", "get", "127.0.0.3", "--raw"}).out, "from a file");
    std::remove(file.c_str());
    EXPECT_EQ(run_zeb({"config", "set", "127.0.0.3", "--hex", "0g"}).status, 2);
}

TEST_F(Records, MemoryListReadAndWrite) {
    const ZebRun list = run_zeb({"mem", "list", "packer"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out,
              "TYPE  NAME     START       SIZE  ACCESS\n"
              "1     RAM      0x00000000  4096  rw\n"
              "4     recipes  0x00001000  512   rw\n");

    const ZebRun recipes = run_zeb({"mem", "read", "127.0.0.3", "--type", "4", "0x1000", "11"});
    ASSERT_EQ(recipes.status, 0) << recipes.err;
    EXPECT_EQ(recipes.out, "00001000  66 6C 6F 75 72 2C 77 61 74 65 72" + std::string(15, ' ') +
                               "  flour,water\n");

    // A write larger than one request lands whole, and reads back in several requests.
    std::string data;
    for (int i = 0; i < 1300; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02X", i % 251);
        data += b;
    }
    ASSERT_EQ(run_zeb({"mem", "write", "127.0.0.3", "0x100", data}).status, 0);
    const json back = json_of(run_zeb({"mem", "read", "127.0.0.3", "0x100", "1300", "--json"}));
    EXPECT_EQ(back["length"], 1300);
    std::string hex = back["hex"];
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    EXPECT_EQ(hex, data);

    // A read past the area's end delivers what is there, then zeros, and says so.
    const ZebRun past =
        run_zeb({"mem", "read", "127.0.0.3", "--type", "4", "0x11FE", "4", "--json"});
    EXPECT_EQ(past.status, 1);
    EXPECT_EQ(json_of(past)["hex"], "00 00 00 00");
    EXPECT_NE(past.err.find("result 0x00000086 "), std::string::npos) << past.err;

    // Shared RAM of base 0, slot 2.
    ASSERT_EQ(
        run_zeb({"mem", "write", "127.0.0.3", "--shared", "0.2", "0x10", "--text", "abc"}).status,
        0);
    EXPECT_EQ(json_of(run_zeb(
                  {"mem", "read", "127.0.0.3", "--shared", "0.2", "0x10", "3", "--json"}))["hex"],
              "61 62 63");
    EXPECT_EQ(run_zeb({"mem", "read", "127.0.0.3", "--shared", "0.9", "0", "1"}).status, 1);
    EXPECT_EQ(run_zeb({"mem", "read", "127.0.0.3", "--shared", "x", "0", "1"}).status, 2);
}

TEST_F(Records, SerialSetupSendAndReceive) {
    const ZebRun setup = run_zeb({"serial", "setup", "packer", "--port", "1"});
    ASSERT_EQ(setup.status, 0) << setup.err;
    EXPECT_EQ(setup.out,
              "baud          19200\ndata bits     8\nparity        none\nstop bits     1\n"
              "flow control  none\n");
    // The line already holds "READY\r\n".
    EXPECT_EQ(run_zeb({"serial", "recv", "127.0.0.3", "--port", "1"}).out, "READY\\r\\n\n");

    const json changed = json_of(run_zeb({"serial", "setup", "127.0.0.3", "--port", "1", "--baud",
                                          "115200", "--parity", "even", "--json"}));
    EXPECT_EQ(changed, json({{"baud", 115200},
                             {"data_bits", 8},
                             {"parity", "even"},
                             {"stop_bits", "1"},
                             {"flow", "none"}}));
    EXPECT_EQ(run_zeb({"serial", "setup", "127.0.0.3", "--parity", "weird"}).status, 2);

    // The port has a loopback plug: what is sent comes back.
    ASSERT_EQ(run_zeb({"serial", "send", "127.0.0.3", "--port", "1", "ping\\r\\n"}).status, 0);
    const ZebRun echo = run_zeb(
        {"serial", "recv", "127.0.0.3", "--port", "1", "--count", "6", "--wait", "2000", "--hex"});
    ASSERT_EQ(echo.status, 0) << echo.err;
    EXPECT_EQ(echo.out, "70 69 6E 67 0D 0A\n");
    EXPECT_EQ(run_zeb({"serial", "recv", "127.0.0.3", "--port", "9"}).status, 1);
}

TEST_F(Records, ControllerDataAndKSequence) {
    // The packer's controller: registers (type 1) starting 00 01 02 03, inputs (type 2)
    // read-only, and a K-sequence script that answers "ST?" with "RUN".
    EXPECT_EQ(json_of(run_zeb({"ccm", "read", "127.0.0.3", "0", "4", "--json"}))["hex"],
              "00 01 02 03");
    ASSERT_EQ(run_zeb({"ccm", "write", "127.0.0.3", "2", "AA BB"}).status, 0);
    EXPECT_EQ(run_zeb({"ccm", "read", "127.0.0.3", "0", "4"}).out,
              "00000000  00 01 AA BB" + std::string(12 * 3, ' ') + "  ....\n");
    const ZebRun read_only = run_zeb({"ccm", "write", "127.0.0.3", "0", "01", "--type", "2"});
    EXPECT_EQ(read_only.status, 1);
    EXPECT_NE(read_only.err.find("writing controller data type 2 of 127.0.0.3: result "),
              std::string::npos)
        << read_only.err;
    EXPECT_EQ(run_zeb({"ccm", "read", "127.0.0.3", "0", "257"}).status, 2);

    EXPECT_EQ(run_zeb({"kseq", "127.0.0.3", "ST?"}).out, "RUN\n");
    EXPECT_EQ(run_zeb({"kseq", "127.0.0.3", "hi\\r", "--hex"}).status, 2) << "not hex";
    EXPECT_EQ(run_zeb({"kseq", "127.0.0.3", "68 69", "--hex"}).out, "68 69\n") << "echoed";
}

}  // namespace
}  // namespace zebtest
