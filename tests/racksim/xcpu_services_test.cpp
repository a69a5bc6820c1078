// Every service of a controller module, one representative call each: the reply's status word,
// return value and output bytes, and what the call did to the module's folder. Then the
// functions that act on the controller as a whole.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "xcpu_util.h"

namespace racksim {
namespace {

using namespace test;
using zebtest::read_file;
using zebtest::TempFolder;
using zebtest::write_file;

constexpr uint32_t kAnyValue = 0xA5A5A5A5;  // a handle: checked to be a usable one

// A controller module over a folder holding data.bin ("0123456789"), gone.txt and the empty
// folder empty/, with data.bin open for reading and writing (`file`), COM1: open (`port`).
struct Fixture {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    uint32_t file = 0;
    uint32_t port = 0;

    Fixture() {
        write_file(root.at("data.bin"), "0123456789");
        write_file(root.at("gone.txt"), "x");
        ::mkdir(root.at("empty").c_str(), 0777);
        file = open_file(rack, "data.bin", kReadWrite, kOpenExisting, kShareRead);
        port = open_file(rack, "COM1:", kReadWrite, kOpenExisting);
    }
};

uint64_t filetime_of(const timespec& t) {
    return (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
           static_cast<uint64_t>(t.tv_nsec) / 100;
}

uint64_t u64_at(const Bytes& b, size_t at) {
    return u32_at(b, at) | (static_cast<uint64_t>(u32_at(b, at + 4)) << 32);
}

Bytes dcb_9600_7e2() {
    Bytes d(28, 0);
    d[0] = 28;
    d[4] = 0x80;  // 9600 = 0x2580
    d[5] = 0x25;
    d[18] = 7;     // data bits
    d[19] = 2;     // even parity
    d[20] = 2;     // two stop bits
    d[27] = 0xEE;  // a reserved byte, kept as sent
    return d;
}

struct Row {
    const char* name;
    uint16_t number;
    std::function<Bytes(Fixture&)> args;
    uint32_t value;
    Bytes out;  // exact output; empty with out_size set: only the size is checked
    size_t out_size;
    std::function<void(Fixture&, const ServiceReply&)> check = nullptr;
};

const Row kRows[] = {
    {"CreateFile",
     svc::kCreateFile,
     [](Fixture&) {
         return Args().path("\\new.txt").u32(kReadWrite).u32(0).u32(kCreateNew).u32(0x80).b;
     },
     kAnyValue,
     {},
     0,
     [](Fixture& f, const ServiceReply&) {
         EXPECT_EQ(read_file(f.root.at("new.txt")), "");
         EXPECT_EQ(last_error(f.rack), 0u);
     }},
    {"ReadFile",
     svc::kReadFile,
     [](Fixture& f) { return Args().u32(f.file).u32(4).b; },
     1,
     {4, 0, 0, 0, '0', '1', '2', '3'},
     8},
    {"WriteFile",
     svc::kWriteFile,
     [](Fixture& f) {
         return Args().u32(f.file).u32(2).raw({'A', 'B'}).b;
     },
     1,
     {2, 0, 0, 0},
     4,
     [](Fixture& f, const ServiceReply&) {
         EXPECT_EQ(read_file(f.root.at("data.bin")), "AB23456789");
     }},
    {"GetLastError",
     svc::kGetLastError,
     [](Fixture& f) {
         call(f.rack, svc::kSetLastError, Args().u32(0x1234).b);
         return Bytes{};
     },
     0x1234,
     {},
     0},
    {"CloseHandle",
     svc::kCloseHandle,
     [](Fixture& f) { return Args().u32(f.file).b; },
     1,
     {},
     0,
     [](Fixture& f, const ServiceReply&) { EXPECT_FALSE(close_handle(f.rack, f.file)); }},
    {"SetCommState",
     svc::kSetCommState,
     [](Fixture& f) { return Args().u32(f.port).raw(dcb_9600_7e2()).b; },
     1,
     {},
     0,
     [](Fixture& f, const ServiceReply&) {
         EXPECT_EQ(call(f.rack, svc::kGetCommState, Args().u32(f.port).b).out, dcb_9600_7e2());
     }},
    {"GetCommState",
     svc::kGetCommState,
     [](Fixture& f) { return Args().u32(f.port).b; },
     1,
     {28,   0,    0,    0,    0x80, 0x25, 0, 0,    0x11, 0x10, 0, 0, 0, 0,
      0x00, 0x08, 0x00, 0x02, 8,    0,    0, 0x11, 0x13, 0,    0, 0, 0, 0},
     28},
    {"SetCommTimeouts",
     svc::kSetCommTimeouts,
     [](Fixture& f) { return Args().u32(f.port).u32(1).u32(2).u32(3).u32(4).u32(5).b; },
     1,
     {},
     0,
     [](Fixture& f, const ServiceReply&) {
         EXPECT_EQ(call(f.rack, svc::kGetCommTimeouts, Args().u32(f.port).b).out,
                   Args().u32(1).u32(2).u32(3).u32(4).u32(5).b);
     }},
    {"GetCommTimeouts", svc::kGetCommTimeouts, [](Fixture& f) { return Args().u32(f.port).b; }, 1,
     Bytes(20, 0), 20},
    {"SetLastError",
     svc::kSetLastError,
     [](Fixture&) { return Args().u32(87).b; },
     0,
     {},
     0,
     [](Fixture& f, const ServiceReply&) { EXPECT_EQ(last_error(f.rack), 87u); }},
    {"GetFileTime",
     svc::kGetFileTime,
     [](Fixture& f) { return Args().u32(f.file).b; },
     1,
     {},
     24,
     [](Fixture& f, const ServiceReply& r) {
         struct stat st {};
         ASSERT_EQ(::stat(f.root.at("data.bin").c_str(), &st), 0);
         EXPECT_EQ(u64_at(r.out, 8), filetime_of(st.st_atim));
         EXPECT_EQ(u64_at(r.out, 16), filetime_of(st.st_mtim));
         EXPECT_NE(u64_at(r.out, 0), 0u);
     }},
    {"SetFileTime",
     svc::kSetFileTime,
     [](Fixture& f) {
         // 2001-02-03 04:05:06.7 as creation and last write; last access kept (zero).
         const uint64_t t = (981173106ull + 11644473600ull) * 10000000ull + 7000000;
         return Args().u32(f.file).u64(t).u64(0).u64(t).b;
     },
     1,
     {},
     0,
     [](Fixture& f, const ServiceReply&) {
         struct stat st {};
         ASSERT_EQ(::stat(f.root.at("data.bin").c_str(), &st), 0);
         EXPECT_EQ(st.st_mtim.tv_sec, 981173106);
         EXPECT_EQ(st.st_mtim.tv_nsec, 700000000);
         const Bytes times = call(f.rack, svc::kGetFileTime, Args().u32(f.file).b).out;
         EXPECT_EQ(u64_at(times, 0), u64_at(times, 16));  // the creation time as set
     }},
    {"FindFirstFile",
     svc::kFindFirstFile,
     [](Fixture&) { return Args().path("*.bin").raw(Bytes(560, 0xCC)).b; },
     kAnyValue,
     {},
     560,
     [](Fixture&, const ServiceReply& r) {
         EXPECT_EQ(u32_at(r.out, 0), 0x20u);  // archive
         EXPECT_EQ(u32_at(r.out, 28), 0u);
         EXPECT_EQ(u32_at(r.out, 32), 10u);
         const Bytes name(r.out.begin() + 40, r.out.begin() + 58);
         EXPECT_EQ(name,
                   (Bytes{'d', 0, 'a', 0, 't', 0, 'a', 0, '.', 0, 'b', 0, 'i', 0, 'n', 0, 0, 0}));
         EXPECT_EQ(Bytes(r.out.begin() + 58, r.out.end()), Bytes(502, 0));
     }},
    {"FindClose",
     svc::kFindClose,
     [](Fixture& f) {
         return Args()
             .u32(call(f.rack, svc::kFindFirstFile, Args().path("*").zeros(560).b).value)
             .b;
     },
     1,
     {},
     0},
    {"FindNextFile", svc::kFindNextFile,
     [](Fixture& f) {
         const uint32_t h =
             call(f.rack, svc::kFindFirstFile, Args().path("*.bin").zeros(560).b).value;
         return Args().u32(h).raw(Bytes(560, 0x5A)).b;
     },
     0, Bytes(560, 0x5A), 560,  // no second match: the caller's record comes back as it was
     [](Fixture& f, const ServiceReply&) { EXPECT_EQ(last_error(f.rack), 18u); }},
    {"DeleteFile",
     svc::kDeleteFile,
     [](Fixture&) { return Args().path("gone.txt").b; },
     1,
     {},
     0,
     [](Fixture& f, const ServiceReply&) { EXPECT_FALSE(zebtest::exists(f.root.at("gone.txt"))); }},
    {"SetEndOfFile",
     svc::kSetEndOfFile,
     [](Fixture& f) {
         call(f.rack, svc::kSetFilePointer, Args().u32(f.file).u32(4).u32(0).u32(0).b);
         return Args().u32(f.file).b;
     },
     1,
     {},
     0,
     [](Fixture& f, const ServiceReply&) { EXPECT_EQ(read_file(f.root.at("data.bin")), "0123"); }},
    {"SetFilePointer",
     svc::kSetFilePointer,
     [](Fixture& f) { return Args().u32(f.file).u32(0xFFFFFFFD).u32(0xFFFFFFFF).u32(2).b; },
     7,
     {0, 0, 0, 0},
     4,
     [](Fixture& f, const ServiceReply&) {
         EXPECT_EQ(call(f.rack, svc::kReadFile, Args().u32(f.file).u32(10).b).out,
                   (Bytes{3, 0, 0, 0, '7', '8', '9'}));
     }},
    {"FlushFileBuffers",
     svc::kFlushFileBuffers,
     [](Fixture& f) { return Args().u32(f.file).b; },
     1,
     {},
     0},
    {"GetFileSize",
     svc::kGetFileSize,
     [](Fixture& f) { return Args().u32(f.file).b; },
     10,
     {0, 0, 0, 0},
     4},
    {"GetFileInformationByHandle",
     svc::kGetFileInfo,
     [](Fixture& f) { return Args().u32(f.file).b; },
     1,
     {},
     52,
     [](Fixture& f, const ServiceReply& r) {
         struct stat st {};
         ASSERT_EQ(::stat(f.root.at("data.bin").c_str(), &st), 0);
         EXPECT_EQ(u32_at(r.out, 0), 0x20u);
         EXPECT_EQ(u64_at(r.out, 20), filetime_of(st.st_mtim));
         EXPECT_EQ(u32_at(r.out, 32), 0u);
         EXPECT_EQ(u32_at(r.out, 36), 10u);
         EXPECT_EQ(u32_at(r.out, 40), 1u);
         EXPECT_EQ(u32_at(r.out, 48), static_cast<uint32_t>(st.st_ino));
     }},
    {"SetFileAttributes",
     svc::kSetFileAttributes,
     [](Fixture&) { return Args().path("data.bin").u32(0x03).b; },
     1,
     {},
     0,
     [](Fixture& f, const ServiceReply&) {
         EXPECT_EQ(call(f.rack, svc::kGetFileAttributes, Args().path("data.bin").b).value, 3u);
     }},
    {"GetFileAttributes",
     svc::kGetFileAttributes,
     [](Fixture&) { return Args().path("/empty").b; },
     0x10,
     {},
     0},
    {"CreateDirectory",
     svc::kCreateDirectory,
     [](Fixture&) { return Args().path("empty\\sub").zeros(12).b; },
     1,
     {},
     0,
     [](Fixture& f, const ServiceReply&) {
         struct stat st {};
         EXPECT_EQ(::stat(f.root.at("empty/sub").c_str(), &st), 0);
         EXPECT_TRUE(S_ISDIR(st.st_mode));
     }},
    {"RemoveDirectory",
     svc::kRemoveDirectory,
     [](Fixture&) { return Args().path("empty").b; },
     1,
     {},
     0,
     [](Fixture& f, const ServiceReply&) { EXPECT_FALSE(zebtest::exists(f.root.at("empty"))); }},
    {"PurgeComm",
     svc::kPurgeComm,
     [](Fixture& f) {
         call(f.rack, svc::kWriteFile, Args().u32(f.port).u32(3).raw({1, 2, 3}).b);
         return Args().u32(f.port).u32(0x0A).b;
     },
     1,
     {},
     0,
     [](Fixture& f, const ServiceReply&) {
         EXPECT_EQ(call(f.rack, svc::kReadFile, Args().u32(f.port).u32(10).b).out, Bytes(4, 0));
     }},
    {"ClearCommError", svc::kClearCommError,
     [](Fixture& f) {
         call(f.rack, svc::kWriteFile, Args().u32(f.port).u32(3).raw({1, 2, 3}).b);
         return Args().u32(f.port).b;
     },
     1, Args().u32(0).u32(0).u32(3).u32(0).b, 16},
    {"GetCommProperties",
     svc::kGetCommProperties,
     [](Fixture& f) { return Args().u32(f.port).b; },
     1,
     {},
     64,
     [](Fixture&, const ServiceReply& r) {
         EXPECT_EQ(u16_at(r.out, 0), 64u);       // wPacketLength
         EXPECT_EQ(u32_at(r.out, 4), 1u);        // serial communication
         EXPECT_EQ(u16_at(r.out, 40), 0x000Fu);  // 5 to 8 data bits
     }},
};

TEST(XcpuServices, EachServiceAnswersWithStatusReturnValueAndItsOutputs) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        Fixture f;
        const Bytes args = row.args(f);
        const ServiceReply r = call(f.rack, row.number, args);
        EXPECT_EQ(r.status, 0u);
        if (row.value == kAnyValue) {
            EXPECT_NE(r.value, 0u);
            EXPECT_NE(r.value, kBadHandle);
        } else {
            EXPECT_EQ(r.value, row.value);
        }
        EXPECT_EQ(r.size, 6 + row.out_size);
        if (!row.out.empty()) {
            EXPECT_EQ(r.out, row.out);
        }
        if (row.check) row.check(f, r);
    }
}

// Every service number from 0x01 to 0x1D but 0x15 is served; the others are unknown.
TEST(XcpuServices, UnknownServiceNumbersGetStatusOne) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    for (uint16_t n : {0x00, 0x15, 0x1E, 0xFF, 0x101, 0xFFFF}) {
        SCOPED_TRACE(n);
        const ServiceReply r = call(rack, n, Args().u32(0).b);
        EXPECT_EQ(r.status, 1u);
        EXPECT_EQ(r.size, 6u);
    }
    for (uint16_t n = 0x01; n <= 0x1D; ++n) {
        if (n != 0x15) {
            EXPECT_NE(call(rack, n).status, 1u) << n;
        }
    }
}

TEST(XcpuServices, LastErrorIsSetByFailuresKeptBySuccessesAndOverwrittenOnRequest) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    write_file(root.at("a.txt"), "a");
    EXPECT_EQ(call(rack, svc::kGetFileAttributes, Args().path("missing.txt").b).value, 0xFFFFFFFFu);
    EXPECT_EQ(last_error(rack), 2u);
    EXPECT_EQ(call(rack, svc::kGetFileAttributes, Args().path("a.txt").b).value, 0x20u);
    EXPECT_EQ(last_error(rack), 2u);  // a success leaves it
    EXPECT_EQ(call(rack, svc::kGetFileAttributes, Args().path("no\\a.txt").b).value, 0xFFFFFFFFu);
    EXPECT_EQ(last_error(rack), 3u);
    EXPECT_EQ(call(rack, svc::kSetLastError, Args().u32(0xDEADBEEF).b).value, 0u);
    EXPECT_EQ(last_error(rack), 0xDEADBEEFu);
    EXPECT_EQ(rack.module(0).controller_os.last_error, 0xDEADBEEFu);
    // CreateFile says whether an "always" disposition met an existing file.
    const uint32_t h = open_file(rack, "a.txt", kGenericRead, kOpenAlways);
    EXPECT_EQ(last_error(rack), 183u);
    close_handle(rack, h);
    open_file(rack, "b.txt", kGenericRead, kOpenAlways);
    EXPECT_EQ(last_error(rack), 0u);
}

TEST(XcpuServices, FailuresWithTheirWindowsErrors) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    write_file(root.at("a.txt"), "a");
    ::mkdir(root.at("d").c_str(), 0777);
    write_file(root.at("d/x"), "x");
    struct Case {
        const char* what;
        uint16_t number;
        Bytes args;
        uint32_t value;
        uint32_t error;
    } cases[] = {
        {"create new over a file", svc::kCreateFile,
         Args().path("a.txt").u32(kReadWrite).u32(0).u32(kCreateNew).u32(0).b, kBadHandle, 80},
        {"open a missing file", svc::kCreateFile,
         Args().path("b.txt").u32(kGenericRead).u32(0).u32(kOpenExisting).u32(0).b, kBadHandle, 2},
        {"open in a missing folder", svc::kCreateFile,
         Args().path("no/b.txt").u32(kGenericRead).u32(0).u32(kOpenAlways).u32(0).b, kBadHandle, 3},
        {"open a folder", svc::kCreateFile,
         Args().path("d").u32(kGenericRead).u32(0).u32(kOpenExisting).u32(0).b, kBadHandle, 5},
        {"unknown disposition", svc::kCreateFile,
         Args().path("a.txt").u32(kGenericRead).u32(0).u32(9).u32(0).b, kBadHandle, 87},
        {"wildcard in a name", svc::kCreateFile,
         Args().path("a*.txt").u32(kGenericRead).u32(0).u32(kOpenExisting).u32(0).b, kBadHandle,
         123},
        {"no such port", svc::kCreateFile,
         Args().path("COM9:").u32(kReadWrite).u32(0).u32(kOpenExisting).u32(0).b, kBadHandle, 2},
        {"a folder that exists", svc::kCreateDirectory, Args().path("d").zeros(12).b, 0, 183},
        {"remove a full folder", svc::kRemoveDirectory, Args().path("d").b, 0, 145},
        {"remove a file as a folder", svc::kRemoveDirectory, Args().path("a.txt").b, 0, 267},
        {"delete a folder as a file", svc::kDeleteFile, Args().path("d").b, 0, 5},
        {"delete a missing file", svc::kDeleteFile, Args().path("zz").b, 0, 2},
        {"find nothing", svc::kFindFirstFile, Args().path("*.none").zeros(560).b, kBadHandle, 2},
        {"find in a missing folder", svc::kFindFirstFile, Args().path("no\\*").zeros(560).b,
         kBadHandle, 3},
        {"read a handle never opened", svc::kReadFile, Args().u32(0x105).u32(4).b, 0, 6},
        {"size of handle 0", svc::kGetFileSize, Args().u32(0).b, 0xFFFFFFFF, 6},
        {"comm state of a non-port", svc::kGetCommState, Args().u32(0x101).b, 0, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ServiceReply r = call(rack, c.number, c.args);
        EXPECT_EQ(r.status, 0u);
        EXPECT_EQ(r.value, c.value);
        EXPECT_EQ(last_error(rack), c.error);
    }
}

TEST(XcpuServices, HandleRulesAccessSharingAndReadOnlyFiles) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    write_file(root.at("a.txt"), "abc");
    const uint32_t reader = open_file(rack, "a.txt", kGenericRead, kOpenExisting, kShareRead);
    // Written through a handle opened for reading only: refused.
    EXPECT_EQ(call(rack, svc::kWriteFile, Args().u32(reader).u32(1).raw({'x'}).b).value, 0u);
    EXPECT_EQ(last_error(rack), 5u);
    // A second reader shares; a writer does not, nor may the file be deleted.
    const uint32_t second = open_file(rack, "a.txt", kGenericRead, kOpenExisting, kShareRead);
    EXPECT_NE(second, kBadHandle);
    EXPECT_NE(second, reader);
    EXPECT_EQ(open_file(rack, "a.txt", kGenericWrite, kOpenExisting, kShareRead | kShareWrite),
              kBadHandle);
    EXPECT_EQ(last_error(rack), 32u);
    EXPECT_EQ(call(rack, svc::kDeleteFile, Args().path("a.txt").b).value, 0u);
    EXPECT_EQ(last_error(rack), 32u);
    // A closed handle stays invalid, also once its slot is in use again.
    EXPECT_TRUE(close_handle(rack, second));
    const uint32_t third = open_file(rack, "a.txt", kGenericRead, kOpenExisting, kShareRead);
    EXPECT_NE(third, second);
    EXPECT_FALSE(close_handle(rack, second));
    EXPECT_EQ(last_error(rack), 6u);
    EXPECT_TRUE(close_handle(rack, third));
    EXPECT_TRUE(close_handle(rack, reader));
    // Read-only: no opening for writing, no deleting, until the attribute goes.
    call(rack, svc::kSetFileAttributes, Args().path("a.txt").u32(0x01).b);
    EXPECT_EQ(open_file(rack, "a.txt", kGenericWrite, kOpenExisting), kBadHandle);
    EXPECT_EQ(last_error(rack), 5u);
    EXPECT_EQ(call(rack, svc::kDeleteFile, Args().path("a.txt").b).value, 0u);
    call(rack, svc::kSetFileAttributes, Args().path("a.txt").u32(0x80).b);
    EXPECT_EQ(call(rack, svc::kGetFileAttributes, Args().path("a.txt").b).value, 0x80u);
    EXPECT_EQ(call(rack, svc::kDeleteFile, Args().path("a.txt").b).value, 1u);
}

TEST(XcpuServices, HandlesRunOutAndComeBack) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    write_file(root.at("a.txt"), "a");
    std::vector<uint32_t> handles;
    for (size_t i = 0; i < kOsHandleSlots; ++i) {
        handles.push_back(open_file(rack, "a.txt", kGenericRead, kOpenExisting, kShareRead));
        ASSERT_NE(handles.back(), kBadHandle);
    }
    EXPECT_EQ(open_file(rack, "a.txt", kGenericRead, kOpenExisting, kShareRead), kBadHandle);
    EXPECT_EQ(last_error(rack), 4u);
    EXPECT_TRUE(close_handle(rack, handles[5]));
    EXPECT_NE(open_file(rack, "a.txt", kGenericRead, kOpenExisting, kShareRead), kBadHandle);
}

// ---- The controller as a whole ----

TEST(XcpuControl, ProgramStartsAreRecordedNotRun) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    Bytes p{0x34, 0xCB};
    const std::string name = "touch";
    p.insert(p.end(), name.begin(), name.end());
    p.resize(66, 0);
    const std::string marker = root.at("ran");
    const std::string args = marker + " ";
    p.insert(p.end(), args.begin(), args.end());
    p.push_back(0);
    const Reply r = ask_one(rack, kModuleA, p);
    EXPECT_EQ(r.payload, (Bytes{0, 0}));
    const ControllerOs& os = rack.module(0).controller_os;
    ASSERT_EQ(os.programs.size(), 1u);
    EXPECT_EQ(os.programs[0].name, "touch");
    EXPECT_EQ(os.programs[0].arguments, args);
    EXPECT_FALSE(zebtest::exists(marker));

    // A name of 64 characters fills the field without a zero byte.
    Bytes full{0x34, 0xCB};
    full.resize(66, 'n');
    full.push_back(0);
    EXPECT_EQ(ask_one(rack, kModuleA, full).payload, (Bytes{0, 0}));
    EXPECT_EQ(os.programs.back().name, std::string(64, 'n'));
    EXPECT_EQ(os.programs.back().arguments, "");
    for (int i = 0; i < 20; ++i) ask_one(rack, kModuleA, full);
    EXPECT_EQ(os.programs_run, 22u);
    EXPECT_EQ(os.programs.size(), kOsProgramsKept);
}

TEST(XcpuControl, OsLoadAndRestart) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    EXPECT_EQ(ask_one(rack, kModuleA, {0xF9, 0x06, 0x78, 0x56, 0x34, 0x12}).payload, (Bytes{0, 0}));
    EXPECT_EQ(rack.module(0).controller_os.os_load, 0x12345678u);
    const uint32_t h = open_file(rack, "a.txt", kReadWrite, kCreateNew);
    EXPECT_EQ(ask_one(rack, kModuleA, {0xFA, 0x05}).payload, (Bytes{0, 0}));
    EXPECT_EQ(rack.module(0).controller_os.reboots, 1u);
    // Recorded only: the module goes on with its handles.
    EXPECT_TRUE(close_handle(rack, h));
}

TEST(XcpuControl, MalformedAndForeignRequests) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    const Bytes bad[] = {
        {0xF9, 0x06, 1, 2, 3},     // value cut short
        {0xF9, 0x07, 1, 2, 3, 4},  // wrong complement
        {0xFA, 0x05, 0},           // a restart carries nothing
        {0x34, 0xCB},              // no name field
        Bytes(67, 0x34),           // no zero byte at the end
        {0x35, 0xCB, 0x04, 0x00},  // complement of another code
        {0x35, 0xCA, 0x04},        // service number cut short
    };
    for (const Bytes& p : bad) {
        SCOPED_TRACE(::testing::PrintToString(p));
        EXPECT_EQ(ask_one(rack, kModuleA, p).status(), 2u);
    }
    EXPECT_EQ(rack.module(0).controller_os.os_load_writes, 0u);
    EXPECT_EQ(rack.module(0).controller_os.reboots, 0u);
    EXPECT_EQ(rack.module(0).controller_os.programs_run, 0u);

    // A module without a root folder is no controller module.
    Rack plain = three_modules();
    for (const Bytes& p :
         {Bytes{0xFA, 0x05}, service(svc::kGetLastError), Bytes{0xF9, 0x06, 0, 0, 0, 0}}) {
        EXPECT_EQ(ask_one(plain, kModuleA, p).status(), 1u);
    }
}

TEST(XcpuControl, SupportBlockListsTheControllerCodesOnControllerModulesOnly) {
    TempFolder root;
    Rack rack = controller_rack(root.path());
    rack.add_module(Module("io", 2));
    const Bytes cpu = ask_one(rack, kModuleA, {0x02}).payload;
    const Bytes io = ask_one(rack, kModuleB, {0x02}).payload;
    ASSERT_GE(cpu.size(), 32u);
    ASSERT_GE(io.size(), 32u);
    auto bit = [](const Bytes& b, size_t fn) {
        return (b[b.size() - 32 + fn / 8] >> (fn % 8)) & 1;
    };
    for (size_t fn : {0x34, 0x35, 0xF9, 0xFA}) {
        EXPECT_EQ(bit(cpu, fn), 1) << fn;
        EXPECT_EQ(bit(io, fn), 0) << fn;
    }
    EXPECT_EQ(bit(io, 0x07), 1);
}

}  // namespace
}  // namespace racksim
