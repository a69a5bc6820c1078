// The ping statistics, and the blocks a module reports decoded into fields.
#include <gtest/gtest.h>

#include "blocks.h"
#include "failure.h"
#include "ping_stats.h"
#include "values.h"
#include "zeb.h"

namespace zeb::cli {
namespace {

TEST(PingStats, LossesReSendsAndRoundTrips) {
    PingStats none;
    EXPECT_EQ(none.loss_percent(), 0.0);
    EXPECT_EQ(none.avg_ms(), 0.0);
    EXPECT_EQ(none.stddev_ms(), 0.0);

    PingStats s;
    s.add(2.0, 0);
    s.add(std::nullopt, 2);
    s.add(4.0, 1);
    s.add(std::nullopt, 0);
    EXPECT_EQ(s.sent(), 4u);
    EXPECT_EQ(s.received(), 2u);
    EXPECT_EQ(s.lost(), 2u);
    EXPECT_EQ(s.resends(), 3u);
    EXPECT_DOUBLE_EQ(s.loss_percent(), 50.0);
    EXPECT_DOUBLE_EQ(s.min_ms(), 2.0);
    EXPECT_DOUBLE_EQ(s.max_ms(), 4.0);
    EXPECT_DOUBLE_EQ(s.avg_ms(), 3.0);
    EXPECT_DOUBLE_EQ(s.stddev_ms(), 1.0);
}

TEST(Blocks, KnownLayoutsByNameOthersAsBytes) {
    Bytes stats(48, 0);
    stats[0] = 48;
    stats[2] = 1;
    stats[4] = 7;  // frames in
    stats[46] = 100;
    const Decoded e = decode_ethernet_stats(stats);
    EXPECT_EQ(e.json["frames_in"], 7);
    EXPECT_EQ(e.json["link_mbits"], 100);
    EXPECT_EQ(e.fields.front(), (std::pair<std::string, std::string>{"frames in", "7"}));

    stats[2] = 2;  // a layout zeb does not know
    EXPECT_EQ(decode_ethernet_stats(stats).json.dump().rfind(R"({"bytes":"30 00 02 00 07)", 0), 0u);
    EXPECT_TRUE(decode_module_status(Bytes(10, 0)).json.contains("bytes")) << "too short";

    const uint8_t version[] = {2, 5, 3, 0, 'X', 0, 'Y'};
    EXPECT_EQ(decode_version(version).json.dump(),
              R"({"firmware":"2.5","hardware_revision":3,"producer":"X"})");
    const uint8_t support[] = {0x82, 0x00, 0x01};
    EXPECT_EQ(decode_support(support).json["functions"].dump(), "[1,7,16]");
}

TEST(Failures, ExitCodesByResult) {
    EXPECT_EQ(exit_code_for(ZEBERR_TIMEOUT), kExitNoReply);
    EXPECT_EQ(exit_code_for(10061), kExitNoReply);
    EXPECT_EQ(exit_code_for(0xFFFF8101u), kExitFailed);
    EXPECT_EQ(exit_code_for(ZEBERR_BAD_CRC), kExitFailed);
    EXPECT_EQ(failure_line(Failure(kExitFailed, "reading x", ZEBERR_NO_DATA)),
              "zeb: reading x: result 0x00008005 ZEBERR_NO_DATA: the reply carried no data");
    EXPECT_EQ(failure_line(Failure(kExitUsage, "bad")), "zeb: bad");
    EXPECT_EQ(failure_line(Failure(kExitNoReply, "no module", {}, "try this")),
              "zeb: no module\nzeb: try this");
}

TEST(Failures, ModuleStatusOrWindowsErrorNeverBoth) {
    // A small result of an operation is the module's status; a module's last error is a
    // Windows error. Each is told as what it is, named or not by the library.
    struct Row {
        uint32_t number;
        const char* as_status;
        const char* as_windows;
    };
    const Row rows[] = {
        {0x0090, "module status 0x0090: the module reported an error", "Windows error 144"},
        {2, "module status 0x0002: the module reported an error",
         "ERROR_FILE_NOT_FOUND (Windows error 2): "},
    };
    for (const Row& r : rows) {
        const std::string status = operation_result_text(r.number);
        const std::string windows = windows_error_text(r.number);
        EXPECT_EQ(status, r.as_status);
        EXPECT_EQ(windows.rfind(r.as_windows, 0), 0u) << windows;
        EXPECT_EQ(status.find("Windows"), std::string::npos) << status;
        EXPECT_EQ(windows.find("status"), std::string::npos) << windows;
    }
    // What is neither keeps the library's words.
    EXPECT_EQ(operation_result_text(ZEBERR_TIMEOUT), result_text(ZEBERR_TIMEOUT));
    EXPECT_EQ(operation_result_text(10061), result_text(10061));
}

}  // namespace
}  // namespace zeb::cli
