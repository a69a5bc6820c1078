// zeb files ls|get|put|rm|mkdir: a controller module's files, through its remote file services
// (the XCPU... functions, which carry out the Windows file functions on the module).
//
#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "interrupt.h"
#include "output.h"
#include "progress.h"
#include "session.h"
#include "vocab/capacities.h"

namespace zeb::cli {

namespace {

// The Windows values the module's file functions take.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kShareRead = 0x00000001u;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kInvalidHandle = 0xFFFFFFFFu;
constexpr uint32_t kFileBegin = 0;
constexpr uint32_t kNoMoreFiles = 18;  // ERROR_NO_MORE_FILES
constexpr uint32_t kFileNotFound = 2;  // ERROR_FILE_NOT_FOUND

// Whole KiB keep the arithmetic plain, well inside what one request carries either way.
constexpr uint32_t kChunk = 1024;
static_assert(kChunk <= vocab::kMaxFileRead &&
              kChunk <= vocab::kFileWriteRoom - vocab::kExtendedRequestHeaderSize);
constexpr uint64_t kProgressAfter = 4 * kChunk;
constexpr const char* kProgressNote =
    "A transfer of more than four requests shows its bytes, rate and time left on a terminal. "
    "Ctrl-C stops it between two requests, closes the module's file and exits with 130. "
    "Paths on the module may use '/' for '\\'.";

// The module's find record: attributes, three FILETIMEs, size high and low, an identifier,
// then the name in 260 UTF-16 code units.
constexpr std::size_t kFindDataSize = 560;
using FindData = std::array<uint8_t, kFindDataSize>;

// A service call's exchange and status word; the module's own failure comes back in its
// return value and its last error.
void check_service(const std::string& what, uint32_t result) {
    if (result != 0) fail_result(what, result);  // here a Winsock number is a failure too
}

// The module's last error, as the reason why its return value said failure.
[[noreturn]] void fail_remote(Device& device, const std::string& what) {
    uint32_t error = 0;
    const uint32_t result = static_cast<uint32_t>(XCPUGetLastError(device.get(), &error));
    if (result != 0) fail_result(what + " (and its last error could not be read)", result);
    throw Failure(kExitFailed, what + ": the module's last error, " + windows_error_text(error));
}

// The module's paths take '\' between names; '/' is taken for it, as people type it.
std::string module_path(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Ctrl-C between two requests of a transfer: the module's file is closed as the failure
// unwinds (RemoteFile), so that none of the module's handles stays taken.
void stop_if_interrupted(const std::string& where, uint64_t done, uint64_t size,
                         const std::string& then) {
    if (!interrupted()) return;
    throw Failure(kExitInterrupted, "interrupted after " + std::to_string(done) + " of " +
                                        std::to_string(size) + " bytes of " + where +
                                        "; the module's file is closed" + then);
}

// Closes a module file handle on every path.
class RemoteFile {
  public:
    RemoteFile(Device& device, uint32_t handle) : device_(device), handle_(handle) {}
    ~RemoteFile() {
        uint32_t closed = 0;
        XCPUCloseHandle(device_.get(), handle_, &closed);
    }
    RemoteFile(const RemoteFile&) = delete;
    RemoteFile& operator=(const RemoteFile&) = delete;
    uint32_t handle() const { return handle_; }

  private:
    Device& device_;
    uint32_t handle_;
};

std::unique_ptr<RemoteFile> open_remote(Device& device, const std::string& path, uint32_t access,
                                        uint32_t share, uint32_t creation) {
    uint32_t handle = kInvalidHandle;
    check_service("opening " + path + " on " + device.address(),
                  static_cast<uint32_t>(XCPUCreateFile(device.get(), path.c_str(), access, share,
                                                       creation, kAttributeNormal, &handle)));
    if (handle == kInvalidHandle)
        fail_remote(device, "cannot open " + path + " on " + device.address());
    return std::make_unique<RemoteFile>(device, handle);
}

uint64_t le64_of(const FindData& d, std::size_t high_at, std::size_t low_at) {
    return uint64_t{le32(d, high_at)} << 32 | le32(d, low_at);
}

// The UTF-16 name as UTF-8 (code units outside the basic plane are taken one by one).
// The find record as the library's type: the same 560 bytes, filled and read whole.
ZEBFindData* as_find_data(FindData& d) {
    static_assert(sizeof(ZEBFindData) == kFindDataSize);
    return reinterpret_cast<ZEBFindData*>(d.data());
}

std::string find_name(const FindData& d) {
    std::string name;
    for (std::size_t at = 40; at + 1 < d.size(); at += 2) {
        const uint32_t c = le16(d, at);
        if (c == 0) break;
        if (c < 0x80) {
            name += static_cast<char>(c);
        } else if (c < 0x800) {
            name += static_cast<char>(0xC0 | c >> 6);
            name += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            name += static_cast<char>(0xE0 | c >> 12);
            name += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            name += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return name;
}

// A FILETIME (100 ns since 1601) as local "YYYY-MM-DD HH:MM"; "" for none.
std::string filetime_text(uint64_t filetime) {
    constexpr uint64_t kUnixEpoch = 116444736000000000ull;
    if (filetime < kUnixEpoch) return "";
    const std::time_t t = static_cast<std::time_t>((filetime - kUnixEpoch) / 10000000ull);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &local);
    return buf;
}

void run_ls(const std::string& given, Context& c) {
    Device* device = c.device;
    const std::string path = module_path(given);
    const bool pattern = path.find_first_of("*?") != std::string::npos;
    const std::string search =
        pattern ? path : path + (path.empty() || path.back() == '\\' ? "" : "\\") + "*";
    FindData data{};
    uint32_t find = kInvalidHandle;
    check_service("listing " + search + " on " + device->address(),
                  static_cast<uint32_t>(
                      XCPUFindFirstFile(device->get(), search.c_str(), as_find_data(data), &find)));
    Json list = Json::array();
    Table table({"TYPE", "SIZE", "MODIFIED", "NAME"});
    if (find == kInvalidHandle) {
        uint32_t error = 0;
        XCPUGetLastError(device->get(), &error);
        if (error != kNoMoreFiles && error != kFileNotFound) {
            fail_remote(*device, "cannot list " + search + " on " + device->address());
        }
    } else {
        for (;;) {
            const uint32_t attributes = le32(data, 0);
            const bool dir = attributes & kAttributeDirectory;
            const uint64_t size = le64_of(data, 28, 32);
            const std::string modified = filetime_text(le64_of(data, 24, 20));
            const std::string name = find_name(data);
            list.push_back({{"name", name},
                            {"directory", dir},
                            {"size", size},
                            {"attributes", attributes},
                            {"modified", modified}});
            table.add({dir ? "dir" : "file", dir ? "" : std::to_string(size), modified, name});
            uint32_t more = 0;
            check_service("listing " + search + " on " + device->address(),
                          static_cast<uint32_t>(
                              XCPUFindNextFile(device->get(), find, as_find_data(data), &more)));
            if (more == 0) break;
        }
        uint32_t closed = 0;
        XCPUFindClose(device->get(), find, &closed);
    }
    if (c.options.json) {
        print_json(list);
    } else if (list.empty()) {
        print("No files.\n");
    } else {
        print(table.render());
    }
}

struct GetOptions {
    std::string path;
    std::optional<std::string> local_text;
    bool resume = false;
    std::string local;  // LOCAL, or the name of PATH
};

std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void read_arguments(GetOptions& o) {
    o.local = o.local_text.value_or(base_name(o.path));
    if (o.local.empty()) fail_usage("name the local file");
}

void run_get(const GetOptions& o, Context& c) {
    Device* device = c.device;
    const std::string& local = o.local;
    const std::string path = module_path(o.path);
    const std::string where = path + " on " + device->address();
    auto file = open_remote(*device, path, kGenericRead, kShareRead, kOpenExisting);
    catch_interrupt();

    uint32_t high = 0;
    uint32_t low = 0;
    check_service("size of " + where, static_cast<uint32_t>(XCPUGetFileSize(
                                          device->get(), file->handle(), &high, &low)));
    const uint64_t size = uint64_t{high} << 32 | low;

    // A resumed get goes on from the end of what the local file already holds.
    uint64_t done = 0;
    if (o.resume) {
        std::ifstream existing(local, std::ios::binary | std::ios::ate);
        if (existing) done = static_cast<uint64_t>(existing.tellg());
        if (done > size) fail_usage(local + " is larger than " + where + "; nothing to resume");
        if (done > 0) {
            int32_t position_high = static_cast<int32_t>(done >> 32);
            uint32_t position = 0;
            check_service("seeking in " + where, static_cast<uint32_t>(XCPUSetFilePointer(
                                                     device->get(), file->handle(),
                                                     static_cast<int32_t>(done & 0xFFFFFFFFu),
                                                     &position_high, kFileBegin, &position)));
            if (position != static_cast<uint32_t>(done))
                fail_remote(*device, "cannot seek in " + where);
        }
    }
    std::ofstream out(local, std::ios::binary | (done > 0 ? std::ios::app : std::ios::trunc));
    if (!out) fail_usage("cannot write " + local);

    ProgressBar bar(size, kProgressAfter);
    bar.update(done);
    std::array<uint8_t, kChunk> chunk{};
    while (done < size) {
        stop_if_interrupted(where, done, size, "; --resume goes on from here");
        uint32_t read = 0;
        uint32_t ok = 0;
        check_service("reading " + where,
                      static_cast<uint32_t>(XCPUReadFile(device->get(), file->handle(),
                                                         chunk.data(), kChunk, &read, &ok)));
        if (ok == 0) fail_remote(*device, "cannot read " + where);
        if (read == 0) break;  // the file ended sooner than its size said
        out.write(reinterpret_cast<const char*>(chunk.data()), std::min<uint32_t>(read, kChunk));
        if (!out) fail_usage("cannot write " + local);
        done += std::min<uint32_t>(read, kChunk);
        bar.update(done);
    }
    bar.finish();
    if (done < size) {
        throw Failure(kExitFailed, where + " ended after " + std::to_string(done) + " of " +
                                       std::to_string(size) + " bytes");
    }
}

struct PutOptions {
    std::string local;
    std::string path;
    std::ifstream in;  // LOCAL, opened before the module
    uint64_t size = 0;
};

void read_arguments(PutOptions& o) {
    o.in.open(o.local, std::ios::binary | std::ios::ate);
    if (!o.in) fail_usage("cannot read " + o.local);
    o.size = static_cast<uint64_t>(o.in.tellg());
    o.in.seekg(0);
}

void run_put(PutOptions& o, Context& c) {
    Device* device = c.device;
    std::ifstream& in = o.in;
    const uint64_t size = o.size;
    const std::string path = module_path(o.path);
    const std::string where = path + " on " + device->address();
    auto file = open_remote(*device, path, kGenericWrite, 0, kCreateAlways);
    catch_interrupt();

    ProgressBar bar(size, kProgressAfter);
    std::array<uint8_t, kChunk> chunk{};
    for (uint64_t done = 0; done < size;) {
        stop_if_interrupted(where, done, size, "");
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(kChunk, size - done));
        in.read(reinterpret_cast<char*>(chunk.data()), n);
        if (!in) fail_usage("cannot read " + o.local);
        uint32_t written = 0;
        uint32_t ok = 0;
        check_service("writing " + where,
                      static_cast<uint32_t>(XCPUWriteFile(device->get(), file->handle(),
                                                          chunk.data(), n, &written, &ok)));
        if (ok == 0 || written != n) fail_remote(*device, "cannot write " + where);
        done += n;
        bar.update(done);
    }
    bar.finish();
}

struct PathsOptions {
    std::vector<std::string> paths;
    bool directory = false;
};

void run_rm(const PathsOptions& o, Context& c) {
    Device* device = c.device;
    for (const std::string& given : o.paths) {
        uint32_t ok = 0;
        const std::string path = module_path(given);
        const std::string where = path + " on " + device->address();
        check_service("removing " + where,
                      static_cast<uint32_t>(
                          o.directory ? XCPURemoveDirectory(device->get(), path.c_str(), &ok)
                                      : XCPUDeleteFile(device->get(), path.c_str(), &ok)));
        if (ok == 0) fail_remote(*device, "cannot remove " + where);
    }
}

void run_mkdir(const PathsOptions& o, Context& c) {
    Device* device = c.device;
    for (const std::string& given : o.paths) {
        ZEBSecurityAttributes security{};  // no security attributes
        uint32_t ok = 0;
        const std::string path = module_path(given);
        const std::string where = path + " on " + device->address();
        check_service("creating " + where, static_cast<uint32_t>(XCPUCreateDirectory(
                                               device->get(), path.c_str(), &security, &ok)));
        if (ok == 0) fail_remote(*device, "cannot create " + where);
    }
}

}  // namespace

Command files_ls(CLI::App& cmd) {
    auto path = std::make_shared<std::string>("\\");
    cmd.add_option("PATH", *path,
                   "directory or pattern, e.g. /Storage or /*.txt ('/' is taken for '\\'; "
                   "default: the root)");
    return {.run = [path](Context& c) { run_ls(*path, c); }};
}

Command files_get(CLI::App& cmd) {
    auto o = std::make_shared<GetOptions>();
    cmd.add_option("PATH", o->path, "the module's file")->required();
    cmd.add_option("LOCAL", o->local_text, "where to put it (default: its name, here)");
    cmd.add_flag("--resume", o->resume,
                 "go on from the end of LOCAL, after a get that was cut short");
    cmd.footer(kProgressNote);
    return {.read_arguments = [o] { read_arguments(*o); },
            .run = [o](Context& c) { run_get(*o, c); }};
}

Command files_put(CLI::App& cmd) {
    auto o = std::make_shared<PutOptions>();
    cmd.add_option("LOCAL", o->local, "the file to copy")->required();
    cmd.add_option("PATH", o->path, "the module's file")->required();
    cmd.footer(kProgressNote);
    return {.read_arguments = [o] { read_arguments(*o); },
            .run = [o](Context& c) { run_put(*o, c); }};
}

Command files_rm(CLI::App& cmd) {
    auto o = std::make_shared<PathsOptions>();
    cmd.add_option("PATH", o->paths, "the module's files")->required();
    cmd.add_flag("--dir", o->directory, "remove empty directories instead");
    return {.run = [o](Context& c) { run_rm(*o, c); }};
}

Command files_mkdir(CLI::App& cmd) {
    auto o = std::make_shared<PathsOptions>();
    cmd.add_option("PATH", o->paths, "the directories to create")->required();
    return {.run = [o](Context& c) { run_mkdir(*o, c); }};
}

}  // namespace zeb::cli
