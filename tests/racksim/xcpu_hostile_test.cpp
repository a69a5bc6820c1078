// Service calls that stop short, carry too much, lie about their path lengths, drop the zero
// byte or name handles that were never opened: each is answered within what a host's reply
// buffer holds, with the refusal's status word or the module's error, never a crash. Run under
// the sanitizers, a read past a request shows here.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "xcpu_util.h"

namespace racksim {
namespace {

using namespace test;
using zebtest::TempFolder;

// Well-formed calls of every service, on handle 0x101 (the first handle the module gives out).
std::vector<Bytes> good_calls() {
    const uint32_t h = 0x101;
    return {
        service(svc::kCreateFile,
                Args().path("a.txt").u32(kReadWrite).u32(0).u32(kOpenAlways).u32(0).b),
        service(svc::kReadFile, Args().u32(h).u32(10).b),
        service(svc::kWriteFile, Args().u32(h).u32(3).raw({1, 2, 3}).b),
        service(svc::kGetLastError),
        service(svc::kSetCommState, Args().u32(h).zeros(28).b),
        service(svc::kGetCommState, Args().u32(h).b),
        service(svc::kSetCommTimeouts, Args().u32(h).zeros(20).b),
        service(svc::kGetCommTimeouts, Args().u32(h).b),
        service(svc::kSetLastError, Args().u32(5).b),
        service(svc::kGetFileTime, Args().u32(h).b),
        service(svc::kSetFileTime, Args().u32(h).zeros(24).b),
        service(svc::kFindFirstFile, Args().path("*").zeros(560).b),
        service(svc::kFindNextFile, Args().u32(h).zeros(560).b),
        service(svc::kDeleteFile, Args().path("b.txt").b),
        service(svc::kSetEndOfFile, Args().u32(h).b),
        service(svc::kSetFilePointer, Args().u32(h).u32(0).u32(0).u32(0).b),
        service(svc::kFlushFileBuffers, Args().u32(h).b),
        service(svc::kGetFileSize, Args().u32(h).b),
        service(svc::kGetFileInfo, Args().u32(h).b),
        service(svc::kSetFileAttributes, Args().path("a.txt").u32(0x20).b),
        service(svc::kGetFileAttributes, Args().path("a.txt").b),
        service(svc::kCreateDirectory, Args().path("d").zeros(12).b),
        service(svc::kRemoveDirectory, Args().path("d").b),
        service(svc::kPurgeComm, Args().u32(h).u32(0).b),
        service(svc::kClearCommError, Args().u32(h).b),
        service(svc::kGetCommProperties, Args().u32(h).b),
        service(svc::kCloseHandle, Args().u32(h).b),
        service(svc::kFindClose, Args().u32(h).b),
    };
}

// The reply fits the host's buffer for the service and is at least a status word and return value.
void check_reply(const Bytes& request, const std::vector<Reply>& replies) {
    ASSERT_EQ(replies.size(), 1u);
    const Bytes& p = replies[0].payload;
    const uint16_t number = request.size() >= 4 ? get_u16(&request[2]) : 0;
    const size_t limit = number == svc::kReadFile ? 1600 - kHeaderSize
                         : (number == svc::kFindFirstFile || number == svc::kFindNextFile)
                             ? 1000 - kHeaderSize
                             : 500 - kHeaderSize;
    EXPECT_LE(p.size(), limit);
    EXPECT_GE(p.size(), 2u);
    if (number == svc::kReadFile && p.size() >= 10 && get_u16(p.data()) == 0) {
        EXPECT_EQ(p.size(), 10u + get_u32(&p[6]));
    }
}

TEST(XcpuHostile, EveryCallCutShortOrWithAByteTooManyIsRefusedAndChangesNothing) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    for (const Bytes& good : good_calls()) {
        SCOPED_TRACE(::testing::PrintToString(good));
        for (size_t len = 0; len < good.size(); ++len) {
            const Bytes cut(good.begin(), good.begin() + len);
            if (cut.empty()) continue;  // no datagram carries an empty payload
            const std::vector<Reply> r = ask(rack, kModuleA, cut);
            check_reply(cut, r);
            if (r.size() == 1) {
                EXPECT_EQ(r[0].status(), 2u) << len;
            }
        }
        Bytes longer = good;
        longer.push_back(0);
        const std::vector<Reply> r = ask(rack, kModuleA, longer);
        check_reply(longer, r);
        if (r.size() == 1) {
            EXPECT_EQ(r[0].status(), 2u);
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(root.path()));
    EXPECT_EQ(rack.module(0).controller_os.last_error, 0u);
}

TEST(XcpuHostile, PathFieldsThatLie) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    auto with_path_field = [](uint16_t number, const Bytes& field, const Bytes& after) {
        return concat({service(number), field, after});
    };
    const Bytes fields[] = {
        {0xFF, 0xFF, 'a', 0},       // longer than the request
        {0x05, 0x00, 'a', 0},       // one past the end
        {0x00, 0x00},               // no room for the zero byte
        {0x02, 0x00, 'a', 'b'},     // no zero byte
        {0x03, 0x00, 'a', 0, 'b'},  // a zero byte inside
        {0x01},                     // the length itself cut short
    };
    for (uint16_t number :
         {svc::kCreateFile, svc::kDeleteFile, svc::kGetFileAttributes, svc::kSetFileAttributes,
          svc::kCreateDirectory, svc::kRemoveDirectory, svc::kFindFirstFile}) {
        for (const Bytes& f : fields) {
            const Bytes req = with_path_field(number, f, {});
            SCOPED_TRACE(::testing::PrintToString(req));
            const std::vector<Reply> r = ask(rack, kModuleA, req);
            check_reply(req, r);
            if (!r.empty()) {
                EXPECT_EQ(r[0].status(), 2u);
            }
        }
    }
    // A path of the most characters a module takes, and one more.
    const std::string longest(259, 'a');
    call(rack, svc::kGetFileAttributes, Args().path(longest).b);
    EXPECT_EQ(last_error(rack), 206u);  // no name of 259 characters on the host
    call(rack, svc::kGetFileAttributes, Args().path(longest + "a").b);
    EXPECT_EQ(last_error(rack), 206u);
    std::string deep;
    for (int i = 0; i < 129; ++i) deep += "a\\";
    call(rack, svc::kGetFileAttributes, Args().path(deep + "b").b);
    EXPECT_EQ(last_error(rack), 3u);
    call(rack, svc::kGetFileAttributes, Args().path(std::string(300, '\\')).b);
    EXPECT_EQ(last_error(rack), 206u);
    EXPECT_TRUE(std::filesystem::is_empty(root.path()));
}

TEST(XcpuHostile, HandlesNeverOpenedFailWithInvalidHandle) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    const uint32_t find = call(rack, svc::kFindFirstFile, Args().path("*").zeros(560).b).value;
    EXPECT_EQ(find, kBadHandle);  // the empty root holds nothing
    for (uint32_t h : {0u, 1u, 0x101u, 0x120u, 0x121u, 0xFFu, 0xFFFFFFFFu, 0x80000001u}) {
        SCOPED_TRACE(h);
        for (uint16_t number :
             {svc::kReadFile, svc::kCloseHandle, svc::kGetFileTime, svc::kFindClose,
              svc::kSetEndOfFile, svc::kFlushFileBuffers, svc::kGetFileSize, svc::kGetFileInfo,
              svc::kGetCommState, svc::kGetCommTimeouts, svc::kClearCommError,
              svc::kGetCommProperties}) {
            Bytes args = Args().u32(h).b;
            if (number == svc::kReadFile) put_u32(args, 16);
            const ServiceReply r = call(rack, number, args);
            EXPECT_EQ(r.status, 0u) << number;
            EXPECT_TRUE(r.value == 0 || r.value == 0xFFFFFFFF) << number;
            EXPECT_EQ(last_error(rack), 6u) << number;
        }
    }
}

TEST(XcpuHostile, NoiseIsAnsweredWithinTheHostsBuffers) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        Bytes req = service(static_cast<uint16_t>(rng() % 0x20));
        const size_t n = rng() % 40;
        for (size_t k = 0; k < n; ++k)
            req.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? 0 : rng()));
        // Now and then a plausible path length.
        if (req.size() > 5 && rng() % 2) req[4] = static_cast<uint8_t>(rng() % 8), req[5] = 0;
        check_reply(req, ask(rack, kModuleA, req));
    }
}

}  // namespace
}  // namespace racksim
