// Waiting for a reply sleeps: a module that never answers costs next to no processor time.
#include <sys/resource.h>

#include "rack_fixture.h"

namespace zebtest {
namespace {

double thread_cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class Waiting : public RackTest {
  protected:
    void SetUp() override {
        serve({qx_module("press", 1)});
        open_transport();
    }
};

TEST_F(Waiting, WaitForASilentModuleSleeps) {
    rack([](racksim::Rack& r) { r.module(0).faults.drop_fraction = 1.0; });
    ZEBDevice& d = open_device(0x7F000002, 300, 0);
    uint8_t in[1000] = {};
    uint16_t size = sizeof in;
    const double before = thread_cpu_seconds();
    EXPECT_EQ(ZEBReadIO(&d, in, &size), ZEBERR_TIMEOUT);
    // A spinning wait would use the whole 300 ms; a sleeping one a few milliseconds at most.
    EXPECT_LT(thread_cpu_seconds() - before, 0.060);
}

TEST_F(Waiting, DiscoveryWithNobodyAnsweringSleepsToo) {
    rack([](racksim::Rack& r) { r.module(0).faults.drop_fraction = 1.0; });
    const uint32_t previous = ZEBSetQueryTimeout(300);
    std::vector<ZEBDevice> found;
    const double before = thread_cpu_seconds();
    EXPECT_EQ(query(found, 4), 0);
    EXPECT_LT(thread_cpu_seconds() - before, 0.060);
    ZEBSetQueryTimeout(previous);
}

}  // namespace
}  // namespace zebtest
