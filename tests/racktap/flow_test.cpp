#include "flow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"

namespace racktap {
namespace {

constexpr const char* kIntro = "Executes IO transaction on specified Qx-RIO device\n\n";
constexpr const char* kUsage =
    "Usage - RackTap [Options]\n"
    "Options:\n"
    "  /Pn  Set protocol\n"
    "       n = I for IP\n"
    "           X for IPX\n"
    "  /Nv  Connect to device named v\n"
    "  /Iv  Connect to device number v\n"
    "  /?   This screen\n";

struct Outcome {
    int status;
    std::string printed;
};

Outcome run(std::vector<std::string> args) {
    args.insert(args.begin(), "RackTap");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Capture out;
    const int status = run_racktap(static_cast<int>(args.size()), argv.data(), out.file());
    return {status, out.text()};
}

TEST(Flow, UsageTextIsPrintedExactly) {
    for (const char* opt : {"/?", "-H"}) {
        const Outcome r = run({opt});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.printed, std::string(kIntro) + kUsage) << opt;
    }
}

TEST(Flow, OptionMessagesComeBeforeTheUsageText) {
    const Outcome r = run({"/PZ", "/L1.2.3", "/?"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.printed, std::string(kIntro) + "/PZ - Unknown parameter\n" +
                             "/L1.2.3 - Bad local address\n" + kUsage);
}

// There are no IPX sockets here, so the query cannot even start; nothing is sent. The failed
// query must count as no module found, not as a full list of empty entries.
TEST(Flow, QueryThatCannotStartFindsNoModule) {
    const Outcome r = run({"/PX", "/L127.0.0.1", "/I3"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.printed, std::string(kIntro) + "Sorry! No ethernet devices found\n");
}

}  // namespace
}  // namespace racktap
