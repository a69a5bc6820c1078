// A host's whole session with a controller module's files, in raw service calls: a folder, a
// file written in chunks and read back, a search, times, attributes, the file pointer, and
// everything removed again.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "xcpu_util.h"

namespace racksim {
namespace {

using namespace test;
using zebtest::TempFolder;

// The name in a find record (UTF-16, one code unit per byte of the module's name).
std::string find_name(const Bytes& rec) {
    std::string s;
    for (size_t i = 40; i + 1 < rec.size() && rec[i]; i += 2) s += static_cast<char>(rec[i]);
    return s;
}

TEST(XcpuRoundTrip, FolderFileSearchTimesAttributesAndCleanUp) {
    TempFolder root;
    Rack rack = controller_rack(root.path());

    ASSERT_EQ(call(rack, svc::kCreateDirectory, Args().path("\\logs").zeros(12).b).value, 1u);
    const uint32_t h = open_file(rack, "\\logs\\run.log", kReadWrite, kCreateNew);
    ASSERT_NE(h, kBadHandle);
    const uint32_t other = open_file(rack, "logs/b.txt", kGenericWrite, kCreateNew);
    ASSERT_TRUE(close_handle(rack, other));

    // Written in chunks of the most one request carries, read back in the most one reply does.
    Bytes data(4000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    for (size_t at = 0; at < data.size(); at += 1579) {
        const size_t n = std::min<size_t>(1579, data.size() - at);
        const ServiceReply w = call(rack, svc::kWriteFile,
                                    Args()
                                        .u32(h)
                                        .u32(static_cast<uint32_t>(n))
                                        .raw(Bytes(data.begin() + at, data.begin() + at + n))
                                        .b);
        ASSERT_EQ(w.value, 1u);
        ASSERT_EQ(u32_at(w.out, 0), n);
    }
    EXPECT_EQ(call(rack, svc::kGetFileSize, Args().u32(h).b).value, data.size());
    ASSERT_EQ(call(rack, svc::kSetFilePointer, Args().u32(h).u32(0).u32(0).u32(0).b).value, 0u);
    Bytes back;
    for (;;) {
        const ServiceReply r = call(rack, svc::kReadFile, Args().u32(h).u32(100000).b);
        ASSERT_EQ(r.value, 1u);
        const uint32_t n = u32_at(r.out, 0);
        ASSERT_LE(n, 1581u);
        ASSERT_EQ(r.out.size(), 4u + n);
        if (n == 0) break;
        back.insert(back.end(), r.out.begin() + 4, r.out.end());
    }
    EXPECT_EQ(back, data);
    EXPECT_EQ(zebtest::read_file(root.at("logs/run.log")), std::string(data.begin(), data.end()));

    // A search of the folder finds both files, then no more.
    const ServiceReply first =
        call(rack, svc::kFindFirstFile, Args().path("logs\\*.*").zeros(560).b);
    ASSERT_NE(first.value, kBadHandle);
    std::set<std::string> names{find_name(first.out)};
    const ServiceReply next = call(rack, svc::kFindNextFile, Args().u32(first.value).zeros(560).b);
    EXPECT_EQ(next.value, 1u);
    names.insert(find_name(next.out));
    EXPECT_EQ(names, (std::set<std::string>{"run.log", "b.txt"}));
    const Bytes& log_rec = find_name(first.out) == "run.log" ? first.out : next.out;
    EXPECT_EQ(u32_at(log_rec, 32), data.size());
    EXPECT_EQ(call(rack, svc::kFindNextFile, Args().u32(first.value).zeros(560).b).value, 0u);
    EXPECT_EQ(last_error(rack), 18u);
    EXPECT_EQ(call(rack, svc::kFindClose, Args().u32(first.value).b).value, 1u);
    EXPECT_EQ(call(rack, svc::kFindClose, Args().u32(first.value).b).value, 0u);

    // Times and attributes, set and read back, also through a search.
    const uint64_t t1 = 132000000000000000ull, t2 = 131000000000000000ull;
    ASSERT_EQ(call(rack, svc::kSetFileTime, Args().u32(h).u64(t1).u64(t2).u64(t2).b).value, 1u);
    EXPECT_EQ(call(rack, svc::kGetFileTime, Args().u32(h).b).out, Args().u64(t1).u64(t2).u64(t2).b);
    ASSERT_EQ(call(rack, svc::kSetFileAttributes, Args().path("logs\\run.log").u32(0x22).b).value,
              1u);
    EXPECT_EQ(call(rack, svc::kGetFileAttributes, Args().path("logs\\run.log").b).value, 0x22u);
    const ServiceReply found =
        call(rack, svc::kFindFirstFile, Args().path("logs\\run.*").zeros(560).b);
    EXPECT_EQ(u32_at(found.out, 0), 0x22u);
    EXPECT_EQ(Bytes(found.out.begin() + 4, found.out.begin() + 28),
              Args().u64(t1).u64(t2).u64(t2).b);
    EXPECT_EQ(call(rack, svc::kFindClose, Args().u32(found.value).b).value, 1u);

    // The file pointer, relative moves and the end of the file.
    EXPECT_EQ(call(rack, svc::kSetFilePointer, Args().u32(h).u32(100).u32(0).u32(0).b).value, 100u);
    EXPECT_EQ(call(rack, svc::kSetFilePointer, Args().u32(h).u32(50).u32(0).u32(1).b).value, 150u);
    EXPECT_EQ(call(rack, svc::kSetEndOfFile, Args().u32(h).b).value, 1u);
    EXPECT_EQ(call(rack, svc::kGetFileSize, Args().u32(h).b).value, 150u);
    // Before the start: refused, the pointer stays.
    EXPECT_EQ(
        call(rack, svc::kSetFilePointer, Args().u32(h).u32(0xFFFFFF00).u32(0xFFFFFFFF).u32(1).b)
            .value,
        0xFFFFFFFFu);
    EXPECT_EQ(last_error(rack), 131u);
    EXPECT_EQ(call(rack, svc::kSetFilePointer, Args().u32(h).u32(0).u32(0).u32(1).b).value, 150u);
    // Past 4 GiB: the high half comes back in the output.
    const ServiceReply far = call(rack, svc::kSetFilePointer, Args().u32(h).u32(5).u32(1).u32(0).b);
    EXPECT_EQ(far.value, 5u);
    EXPECT_EQ(far.out, Args().u32(1).b);
    EXPECT_EQ(last_error(rack), 0u);

    ASSERT_TRUE(close_handle(rack, h));
    EXPECT_EQ(call(rack, svc::kRemoveDirectory, Args().path("logs").b).value, 0u);
    EXPECT_EQ(last_error(rack), 145u);
    call(rack, svc::kSetFileAttributes, Args().path("logs\\run.log").u32(0x80).b);
    EXPECT_EQ(call(rack, svc::kDeleteFile, Args().path("logs\\run.log").b).value, 1u);
    EXPECT_EQ(call(rack, svc::kDeleteFile, Args().path("logs/b.txt").b).value, 1u);
    EXPECT_EQ(call(rack, svc::kRemoveDirectory, Args().path("logs\\").b).value, 1u);
    EXPECT_TRUE(std::filesystem::is_empty(root.path()));
    EXPECT_EQ(rack.module(0).controller_os.open_handles(), 0u);
}

}  // namespace
}  // namespace racksim
