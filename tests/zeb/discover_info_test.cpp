// zeb discover, info, base and diag against the sample rack.
#include "zeb_fixture.h"

namespace zebtest {
namespace {

using nlohmann::json;

class Discover : public ZebTest {};

TEST_F(Discover, ListsEveryModuleSortedByAddressInATableAndAsJson) {
    const ZebRun table = run_zeb({"discover"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.err, "");
    EXPECT_EQ(table.out,
              "ADDRESS    HARDWARE           KIND    NAME           NUMBER  BROADCAST-ONLY\n"
              "127.0.0.2  02:52:53:00:00:01  Qx-RIO  press-line     1       no\n"
              "127.0.0.3  02:52:53:00:00:02  Qx-RIO  packer         2       no\n"
              "127.0.0.4  02:52:53:00:00:03  node    conveyor-node  3       no\n");

    const ZebRun run = run_zeb({"discover", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json list = json_of(run);
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0], json({{"address", "127.0.0.2"},
                             {"hardware_address", "02:52:53:00:00:01"},
                             {"kind", 0},
                             {"kind_name", "Qx-RIO"},
                             {"name", "press-line"},
                             {"number", 1},
                             {"broadcast_only", false}}));
    EXPECT_EQ(list[2]["kind_name"], "node");
}

TEST_F(Discover, SelectsByNumberNameAndDataItem) {
    auto addresses = [](const ZebRun& run) {
        std::vector<std::string> out;
        for (const auto& m : json::parse(run.out)) out.push_back(m["address"]);
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(addresses(run_zeb({"discover", "--number", "2", "--json"})), V{"127.0.0.3"});
    EXPECT_EQ(addresses(run_zeb({"discover", "--name", "conveyor-node", "--json"})),
              V{"127.0.0.4"});
    // The packer's setup record 0x30 is "line A".
    EXPECT_EQ(addresses(run_zeb({"--json", "discover", "--item", "0x30=6C696E652041"})),
              V{"127.0.0.3"});
    const ZebRun bad = run_zeb({"discover", "--item", "0x30=6C6"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--item"), std::string::npos) << bad.err;
    EXPECT_EQ(run_zeb({"discover", "--number", "1", "--name", "x"}).status, 2);
}

TEST_F(Discover, AnEmptyNetworkIsAMessageAndExitCodeZero) {
    const ZebRun none = run_zeb({"discover", "--number", "42"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "No modules found.\n");
    stop_server();
    const ZebRun empty = run_zeb({"discover", "--json", "--timeout", "200"});
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(json_of(empty), json::array());
}

TEST_F(Discover, ABroadcastOnlyModuleIsMarkedAndReachedByBroadcast) {
    rack([](racksim::Rack& r) { r.module(1).faults.broadcast_only = true; });
    const json list = json_of(run_zeb({"discover", "--json"}));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1]["broadcast_only"], true);
    EXPECT_EQ(list[1]["name"], "packer") << "its facts were read by broadcast";
    const ZebRun info = run_zeb({"info", "packer", "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(json_of(info)["device_definition"]["name"], "packer");
}

class Info : public ZebTest {};

TEST_F(Info, DecodesVersionDeviceDefinitionAndSupport) {
    const ZebRun run = run_zeb({"info", "127.0.0.2", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json info = json_of(run);
    EXPECT_EQ(info["address"], "127.0.0.2");
    EXPECT_EQ(info["version"],
              json({{"firmware", "1.0"}, {"hardware_revision", 1}, {"producer", "RackSim"}}));
    const json& def = info["device_definition"];
    EXPECT_EQ(def["kind_name"], "Qx-RIO");
    EXPECT_EQ(def["number"], 1);
    EXPECT_EQ(def["name"], "press-line");
    EXPECT_EQ(def["hardware_address"], "02:52:53:00:00:01");
    const json& functions = info["support"]["functions"];
    for (int code : {0x01, 0x07, 0x0B, 0x25}) {
        EXPECT_NE(std::find(functions.begin(), functions.end(), code), functions.end()) << code;
    }

    // The same module by number, by name and by hardware address; a table for people.
    for (const char* ref : {"#1", "press-line", "02-52-53-00-00-01"}) {
        const ZebRun table = run_zeb({"info", ref});
        ASSERT_EQ(table.status, 0) << ref << table.err;
        EXPECT_EQ(table.out.rfind("Module 127.0.0.2\n\nVersion\n  firmware           1.0\n", 0), 0u)
            << table.out;
        EXPECT_NE(table.out.find("\n  name                 press-line\n"), std::string::npos);
    }
}

TEST_F(Info, BaseShowsEachSlotsCounts) {
    const ZebRun table = run_zeb({"base", "127.0.0.2"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out,
              "SLOT  RECORD  ID  BIT-IN  BIT-OUT  WORD-IN  WORD-OUT  32BIT-IN  32BIT-OUT\n"
              "0     1       35  16      0        0        0         0         0\n"
              "1     1       34  8       0        0        0         0         0\n"
              "3     1       36  0       8        0        0         0         0\n"
              "4     1       48  0       0        4        4         0         0\n"
              "5     3       64  0       0        0        0         2         2\n"
              "6     7       80  4       4        1        0         0         0\n");
    const json slots = json_of(run_zeb({"base", "packer", "--json"}));
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0], json({{"slot", 0},
                              {"record_kind", 5},
                              {"id", 37},
                              {"bit_inputs", 8},
                              {"bit_outputs", 8},
                              {"word_inputs", 2},
                              {"word_outputs", 2},
                              {"dword_inputs", 1},
                              {"dword_outputs", 1}}));
    EXPECT_EQ(slots[1]["record_kind"], 255);
}

TEST_F(Info, DiagShowsEthernetStatisticsAndModuleStatus) {
    ASSERT_EQ(run_zeb({"diag", "127.0.0.3", "--pet"}).status, 0);
    const ZebRun run = run_zeb({"diag", "127.0.0.3", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json diag = json_of(run);
    EXPECT_GE(diag["ethernet"]["frames_in"].get<int>(), 2);
    EXPECT_EQ(diag["ethernet"]["hardware_address"], "02:52:53:00:00:02");
    EXPECT_EQ(diag["ethernet"]["link_mbits"], 100);
    EXPECT_EQ(diag["status"]["keep_alives"], 1);
    EXPECT_EQ(diag["status"]["occupied_slots"], 2);
    EXPECT_EQ(diag["status"]["setup_records"], 4);  // name, number, 0x30, 0x31

    const ZebRun table = run_zeb({"diag", "127.0.0.3"});
    EXPECT_NE(table.out.find("\nEthernet\n  frames in "), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("\nModule status\n  uptime "), std::string::npos) << table.out;
}

}  // namespace
}  // namespace zebtest
