// A controller module's files, directories and control services, as a host program uses them
// over loopback: RackSim carries the calls out in a folder of its own and nowhere else.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "rack_fixture.h"
#include "temp_folder.h"

namespace zebtest {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kController = 0x7F000002;
constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kFileBegin = 0;
constexpr uint32_t kInvalidHandle = 0xFFFFFFFF;
constexpr uint32_t kReadOnly = 0x01;
constexpr uint32_t kNormal = 0x80;
constexpr uint32_t kAccessDenied = 5;

class ControllerFiles : public RackTest {
  protected:
    void SetUp() override {
        racksim::Module m = qx_module("cpu", 1);
        m.controller_os.root = root_.path();
        serve({std::move(m)});
        open_transport();
        dev_ = &open_device(kController, 500, 1);
    }

    // Opens a file; the module's handle, or kInvalidHandle.
    uint32_t open_file(const char* path, uint32_t access, uint32_t creation) {
        uint32_t handle = 0;
        EXPECT_EQ(XCPUCreateFile(dev_, path, access, 0, creation, 0, &handle), 0);
        return handle;
    }
    uint32_t last_error() {
        uint32_t error = 0xCCCCCCCC;
        EXPECT_EQ(XCPUGetLastError(dev_, &error), 0);
        return error;
    }

    TempFolder root_;
    TempFolder outside_;
    ZEBDevice* dev_ = nullptr;
};

TEST_F(ControllerFiles, AFileMakesTheWholeRoundTrip) {
    uint32_t ok = 0;
    ZEBSecurityAttributes security{};
    ASSERT_EQ(XCPUCreateDirectory(dev_, "logs", &security, &ok), 0);
    ASSERT_NE(ok, 0u);

    // Written in chunks of 1000 bytes.
    Bytes data(3000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
    uint32_t file = open_file("logs\\day1.txt", kGenericWrite, kCreateAlways);
    ASSERT_NE(file, kInvalidHandle);
    for (size_t at = 0; at < data.size(); at += 1000) {
        uint32_t written = 0;
        ASSERT_EQ(XCPUWriteFile(dev_, file, data.data() + at, 1000, &written, &ok), 0);
        EXPECT_EQ(written, 1000u);
        EXPECT_NE(ok, 0u);
    }
    ASSERT_EQ(XCPUCloseHandle(dev_, file, &ok), 0);
    EXPECT_EQ(read_file(root_.at("logs/day1.txt")), std::string(data.begin(), data.end()));

    // Read back in chunks of the largest size one reply carries.
    file = open_file("logs/day1.txt", kGenericRead | kGenericWrite, kOpenExisting);
    ASSERT_NE(file, kInvalidHandle);
    uint32_t high = 0xCCCCCCCC;
    uint32_t size = 0;
    ASSERT_EQ(XCPUGetFileSize(dev_, file, &high, &size), 0);
    EXPECT_EQ(size, 3000u);
    EXPECT_EQ(high, 0u);
    Bytes back;
    for (;;) {
        uint8_t chunk[1581];
        uint32_t got = 0;
        ASSERT_EQ(XCPUReadFile(dev_, file, chunk, sizeof chunk, &got, &ok), 0);
        if (got == 0) break;
        back.insert(back.end(), chunk, chunk + got);
    }
    EXPECT_EQ(back, data);

    // Seek, then read five bytes from there.
    int32_t distance_high = 0;
    uint32_t position = 0;
    ASSERT_EQ(XCPUSetFilePointer(dev_, file, 10, &distance_high, kFileBegin, &position), 0);
    EXPECT_EQ(position, 10u);
    uint8_t five[5];
    uint32_t got = 0;
    ASSERT_EQ(XCPUReadFile(dev_, file, five, 5, &got, &ok), 0);
    EXPECT_EQ(Bytes(five, five + got), Bytes(data.begin() + 10, data.begin() + 15));

    // Times: the last write time set is the one read back.
    ZEBFileTime creation{}, access{}, write{};
    ASSERT_EQ(XCPUGetFileTime(dev_, file, &creation, &access, &write, &ok), 0);
    EXPECT_NE(ok, 0u);
    ZEBFileTime chosen{};
    const uint64_t when = 0x01D9000000000000ull;  // in 2023
    std::memcpy(&chosen, &when, sizeof when);
    ZEBFileTime none{};
    ASSERT_EQ(XCPUSetFileTime(dev_, file, &none, &none, &chosen, &ok), 0);
    EXPECT_NE(ok, 0u);
    ASSERT_EQ(XCPUGetFileTime(dev_, file, &creation, &access, &write, &ok), 0);
    EXPECT_EQ(std::memcmp(&write, &chosen, sizeof write), 0);
    ASSERT_EQ(XCPUCloseHandle(dev_, file, &ok), 0);

    // Listed by a search of the folder.
    uint32_t other = open_file("logs\\day2.txt", kGenericWrite, kCreateAlways);
    ASSERT_EQ(XCPUCloseHandle(dev_, other, &ok), 0);
    ZEBFindData found{};
    uint32_t search = 0;
    ASSERT_EQ(XCPUFindFirstFile(dev_, "logs\\*.txt", &found, &search), 0);
    ASSERT_NE(search, kInvalidHandle);
    std::vector<std::string> names;
    const auto name_of = [](const ZEBFindData& f) {
        std::string name;
        for (size_t i = 0; i < 260; ++i) {
            uint16_t unit;
            std::memcpy(&unit, reinterpret_cast<const uint8_t*>(&f) + 40 + 2 * i, sizeof unit);
            if (unit == 0) break;
            name += static_cast<char>(unit);
        }
        return name;
    };
    names.push_back(name_of(found));
    while (XCPUFindNextFile(dev_, search, &found, &ok) == 0 && ok) names.push_back(name_of(found));
    ASSERT_EQ(XCPUFindClose(dev_, search, &ok), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"day1.txt", "day2.txt"}));

    // A read-only file cannot be deleted until the attribute is cleared.
    ASSERT_EQ(XCPUSetFileAttributes(dev_, "logs\\day1.txt", kReadOnly, &ok), 0);
    uint32_t attributes = 0;
    ASSERT_EQ(XCPUGetFileAttributes(dev_, "logs\\day1.txt", &attributes), 0);
    EXPECT_EQ(attributes & kReadOnly, kReadOnly);
    ASSERT_EQ(XCPUDeleteFile(dev_, "logs\\day1.txt", &ok), 0);
    EXPECT_EQ(ok, 0u);
    EXPECT_EQ(last_error(), kAccessDenied);
    ASSERT_EQ(XCPUSetFileAttributes(dev_, "logs\\day1.txt", kNormal, &ok), 0);
    for (const char* name : {"logs\\day1.txt", "logs\\day2.txt"}) {
        ASSERT_EQ(XCPUDeleteFile(dev_, name, &ok), 0);
        EXPECT_NE(ok, 0u) << name;
    }
    ASSERT_EQ(XCPURemoveDirectory(dev_, "logs", &ok), 0);
    EXPECT_NE(ok, 0u);
    EXPECT_FALSE(exists(root_.at("logs")));
}

TEST_F(ControllerFiles, NothingOutsideTheRootIsReachable) {
    ASSERT_TRUE(write_file(outside_.at("marker.txt"), "outside"));
    ASSERT_EQ(symlink(outside_.path().c_str(), root_.at("door").c_str()), 0);
    const std::string absolute = outside_.at("marker.txt");
    for (const std::string& path :
         {std::string("..\\..\\..\\..\\..\\..\\etc\\passwd"), std::string("/etc/passwd"),
          std::string("C:\\marker.txt"), std::string("door\\marker.txt"), absolute}) {
        SCOPED_TRACE(path);
        uint32_t handle = 0;
        ASSERT_EQ(XCPUCreateFile(dev_, path.c_str(), kGenericWrite, 0, kCreateAlways, 0, &handle),
                  0);
        EXPECT_EQ(handle, kInvalidHandle);
        EXPECT_NE(last_error(), 0u);
        uint32_t ok = 1;
        ASSERT_EQ(XCPUDeleteFile(dev_, path.c_str(), &ok), 0);
        EXPECT_EQ(ok, 0u);
    }
    EXPECT_EQ(read_file(outside_.at("marker.txt")), "outside");

    // A path that climbs and comes back down stays inside and works.
    uint32_t ok = 0;
    ZEBSecurityAttributes security{};
    ASSERT_EQ(XCPUCreateDirectory(dev_, "a", &security, &ok), 0);
    const uint32_t file = open_file("a\\..\\a\\inside.txt", kGenericWrite, kCreateAlways);
    ASSERT_NE(file, kInvalidHandle);
    ASSERT_EQ(XCPUCloseHandle(dev_, file, &ok), 0);
    EXPECT_TRUE(exists(root_.at("a/inside.txt")));
}

TEST_F(ControllerFiles, ControlServicesAreRecordedNotRun) {
    EXPECT_EQ(XCPURunProgram(dev_, "  \\bin\\logger.exe  -v now "), 0);
    EXPECT_EQ(XCPUSetOSLoad(dev_, 0x1234), 0);
    EXPECT_EQ(XCPUSetLastError(dev_, 0xBEEF), 0);
    EXPECT_EQ(last_error(), 0xBEEFu);
    EXPECT_EQ(XCPURunProgram(dev_, ""), -1);
    rack([](racksim::Rack& r) {
        const racksim::ControllerOs& os = r.modules()[0].controller_os;
        ASSERT_EQ(os.programs.size(), 1u);
        EXPECT_EQ(os.programs[0].name, "\\bin\\logger.exe");
        EXPECT_EQ(os.programs[0].arguments, "-v now ");
        EXPECT_EQ(os.os_load, 0x1234u);
    });
}

}  // namespace
}  // namespace zebtest
