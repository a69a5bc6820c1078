// A controller module's file services stay inside its root folder: paths that climb out, host
// paths, drive letters, server names and links that lead out all fail with the module's error,
// and a folder outside the root, holding a marker file, stays as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "xcpu_util.h"

namespace racksim {
namespace {

using namespace test;
using zebtest::exists;
using zebtest::read_file;
using zebtest::TempFolder;
using zebtest::write_file;

constexpr char kSecret[] = "outside, untouched";

struct Sandbox {
    TempFolder root;
    TempFolder outside;
    Rack rack = controller_rack(root.path());

    Sandbox() {
        write_file(outside.at("marker"), kSecret);
        ::mkdir(outside.at("folder").c_str(), 0777);
        ::mkdir(root.at("in").c_str(), 0777);
        write_file(root.at("in/file.txt"), "inside");
        // Links inside the root: to the outside folder, to the marker, to a name not yet there.
        ::symlink(outside.path().c_str(), root.at("out").c_str());
        ::symlink(outside.at("marker").c_str(), root.at("leaf").c_str());
        ::symlink(outside.at("new").c_str(), root.at("dangling").c_str());
        ::symlink("../..", root.at("in/up").c_str());
    }

    void expect_outside_untouched() {
        EXPECT_EQ(read_file(outside.at("marker")), kSecret);
        EXPECT_TRUE(exists(outside.at("folder")));
        size_t entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(outside.path()))
            ++entries;
        EXPECT_EQ(entries, 2u);
    }
};

// Every service that takes a path, tried on one path: each must fail.
void expect_every_path_service_fails(Sandbox& s, const std::string& path, uint32_t error) {
    SCOPED_TRACE(path);
    const struct {
        uint16_t number;
        Bytes args;
        uint32_t failure;
    } calls[] = {
        {svc::kCreateFile, Args().path(path).u32(kGenericRead).u32(0).u32(kOpenExisting).u32(0).b,
         kBadHandle},
        {svc::kCreateFile, Args().path(path).u32(kReadWrite).u32(0).u32(kCreateAlways).u32(0).b,
         kBadHandle},
        {svc::kCreateFile, Args().path(path).u32(kReadWrite).u32(0).u32(kOpenAlways).u32(0).b,
         kBadHandle},
        {svc::kDeleteFile, Args().path(path).b, 0},
        {svc::kGetFileAttributes, Args().path(path).b, 0xFFFFFFFF},
        {svc::kSetFileAttributes, Args().path(path).u32(1).b, 0},
        {svc::kCreateDirectory, Args().path(path).zeros(12).b, 0},
        {svc::kRemoveDirectory, Args().path(path).b, 0},
        {svc::kFindFirstFile, Args().path(path).zeros(560).b, kBadHandle},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.number);
        const ServiceReply r = call(s.rack, c.number, c.args);
        EXPECT_EQ(r.status, 0u);
        EXPECT_EQ(r.value, c.failure);
        if (error) {
            EXPECT_EQ(last_error(s.rack), error);
        }
    }
    s.expect_outside_untouched();
}

TEST(XcpuEscape, ClimbingOutOfTheRootIsRefused) {
    Sandbox s;
    expect_every_path_service_fails(s, "..\\..\\etc\\passwd", 5);
    expect_every_path_service_fails(s, "..", 5);
    expect_every_path_service_fails(s, "in\\..\\..\\marker", 5);
    expect_every_path_service_fails(
        s, "/in/../../" + std::filesystem::path(s.outside.path()).filename().string() + "/marker",
        5);
}

TEST(XcpuEscape, HostPathsDriveLettersAndServersDoNotReachTheHost) {
    Sandbox s;
    // A leading separator starts at the module's root: the host's path is looked for inside.
    expect_every_path_service_fails(s, "/etc/passwd", 0);
    expect_every_path_service_fails(s, s.outside.at("marker"), 0);
    expect_every_path_service_fails(s, "\\" + s.outside.at("folder"), 0);
    expect_every_path_service_fails(s, "C:\\x", 3);
    expect_every_path_service_fails(s, "c:marker", 3);
    expect_every_path_service_fails(s, "\\\\server\\share\\x", 53);
    expect_every_path_service_fails(s, "in\\a:b", 123);
    EXPECT_FALSE(exists(s.root.at("etc")));
}

TEST(XcpuEscape, LinksAreNeverFollowedAtAnyPlace) {
    Sandbox s;
    expect_every_path_service_fails(s, "out\\marker", 5);  // a link on the way
    expect_every_path_service_fails(s, "out\\folder", 5);
    expect_every_path_service_fails(s, "out\\new", 5);
    EXPECT_EQ(call(s.rack, svc::kFindFirstFile, Args().path("out\\*").zeros(560).b).value,
              kBadHandle);
    EXPECT_EQ(last_error(s.rack), 5u);
    expect_every_path_service_fails(s, "in\\up\\etc\\passwd", 5);
    // The last name a link: refused, or (a search) not found, as links are not shown.
    for (const char* name : {"leaf", "dangling", "out"}) {
        expect_every_path_service_fails(s, name, 0);
        EXPECT_EQ(open_file(s.rack, name, kReadWrite, kOpenAlways), kBadHandle);
        EXPECT_EQ(last_error(s.rack), 5u);
    }
    EXPECT_FALSE(exists(s.outside.at("new")));
    // The links themselves stay where they were.
    EXPECT_TRUE(exists(s.root.at("out")));
    EXPECT_TRUE(exists(s.root.at("leaf")));
    EXPECT_TRUE(exists(s.root.at("dangling")));
}

TEST(XcpuEscape, SearchesDoNotShowLinks) {
    Sandbox s;
    const ServiceReply first = call(s.rack, svc::kFindFirstFile, Args().path("*").zeros(560).b);
    ASSERT_NE(first.value, kBadHandle);
    std::vector<std::string> names;
    ServiceReply r = first;
    do {
        std::string n;
        for (size_t i = 40; r.out[i]; i += 2) n += static_cast<char>(r.out[i]);
        names.push_back(n);
        r = call(s.rack, svc::kFindNextFile, Args().u32(first.value).zeros(560).b);
    } while (r.value == 1);
    EXPECT_EQ(names, std::vector<std::string>{"in"});
}

TEST(XcpuEscape, DotDotThatStaysInsideIsAllowed) {
    Sandbox s;
    const uint32_t h = open_file(s.rack, "in\\..\\in\\.\\..\\new.txt", kReadWrite, kCreateNew);
    ASSERT_NE(h, kBadHandle);
    EXPECT_TRUE(exists(s.root.at("new.txt")));
    EXPECT_EQ(call(s.rack, svc::kGetFileAttributes, Args().path("in/x/../file.txt").b).value,
              0x20u);
    EXPECT_EQ(call(s.rack, svc::kGetFileAttributes, Args().path("\\in\\..").b).value, 0x10u);
    s.expect_outside_untouched();
}

// The module has no rename, copy or move service; what could stand in for one (reading a file
// out through a link, writing one in through a link, swapping a folder for a link while a
// handle is open) stays inside.
TEST(XcpuEscape, ASwappedFolderDoesNotRedirectAnOpenHandleOrANewOpen) {
    Sandbox s;
    const uint32_t h = open_file(s.rack, "in\\file.txt", kReadWrite, kOpenExisting);
    ASSERT_NE(h, kBadHandle);
    ASSERT_EQ(::rename(s.root.at("in").c_str(), s.root.at("moved").c_str()), 0);
    ASSERT_EQ(::symlink(s.outside.path().c_str(), s.root.at("in").c_str()), 0);
    const ServiceReply w =
        call(s.rack, svc::kWriteFile, Args().u32(h).u32(3).raw({'N', 'E', 'W'}).b);
    EXPECT_EQ(w.value, 1u);
    EXPECT_EQ(read_file(s.root.at("moved/file.txt")), "NEWide");
    EXPECT_EQ(open_file(s.rack, "in\\marker", kReadWrite, kOpenExisting), kBadHandle);
    EXPECT_EQ(last_error(s.rack), 5u);
    EXPECT_EQ(open_file(s.rack, "in\\file.txt", kReadWrite, kCreateAlways), kBadHandle);
    s.expect_outside_untouched();
}

TEST(XcpuEscape, ARootThatIsMissingFailsEveryPathService) {
    TempFolder parent;
    Rack rack = controller_rack(parent.at("gone"));
    EXPECT_EQ(open_file(rack, "a.txt", kReadWrite, kCreateAlways), kBadHandle);
    EXPECT_EQ(last_error(rack), 3u);
    EXPECT_FALSE(exists(parent.at("gone")));
}

}  // namespace
}  // namespace racksim
