// A controller module's file services, carried out on the host directory that holds its files:
// open, read, write, seek, truncate, flush and close files; their times, sizes and attributes;
// searches; creating and removing files and directories. Every path resolves inside the root
// (module_paths.h) and no link is followed. Attributes and a set creation time, which the host
// keeps no place for, the module notes itself. Serial ports share CreateFile, ReadFile,
// WriteFile, CloseHandle and FlushFileBuffers with files.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "file_facts.h"
#include "module_paths.h"
#include "windows_errors.h"
#include "xcpu_service.h"

namespace racksim {

namespace {

constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kFileReadData = 0x1;
constexpr uint32_t kFileWriteData = 0x2;
constexpr uint32_t kFileAppendData = 0x4;

enum Creation : uint32_t {
    kCreateNew = 1,
    kCreateAlways = 2,
    kOpenExisting = 3,
    kOpenAlways = 4,
    kTruncateExisting = 5,
};

enum Method : uint32_t { kFromBegin = 0, kFromCurrent = 1, kFromEnd = 2 };

constexpr unsigned kFiles = static_cast<unsigned>(HandleKind::file);
constexpr unsigned kFinds = static_cast<unsigned>(HandleKind::find);
constexpr unsigned kFilesAndPorts = kFiles | static_cast<unsigned>(HandleKind::port);

// A time that SetFileTime leaves as it is: zero, or all ones.
bool keeps_time(uint64_t t) {
    return t == 0 || t == UINT64_MAX;
}

// Writes a file's creation, last access and last write times, FILETIMEs one after the other.
void set_times(uint8_t* p, const FileFacts& f) {
    set_u64(p, f.creation);
    set_u64(p + 8, f.access);
    set_u64(p + 16, f.write);
}

// Parses a path and opens the directory of its last name. 0 or the Windows error; a path that
// names the root itself opens nothing.
uint32_t locate(ServiceCall& c, std::string_view text, ModulePath* path, Fd* parent) {
    uint32_t err = 0;
    const int root = c.os.root_fd(&err);
    if (root < 0) return err;
    if ((err = path->parse(text)) != 0) return err;
    if (path->is_root()) return 0;
    return open_parent(root, *path, parent);
}

// Facts about the last name of a located path. 0, or the Windows error (2 when it is missing).
uint32_t leaf_facts(ServiceCall& c, const ModulePath& path, const Fd& parent, FileFacts* f) {
    const int err = file_facts(c.os, parent.get(), path.last(), f);
    return err ? winerr::from_errno(err) : 0;
}

// A path located in the module's files: its names, the open directory of its last name and
// the facts about that name.
struct Located {
    ModulePath path;
    Fd parent;
    FileFacts facts;
};

// Locates a path whose last name must exist. 0, or the Windows error: `at_root` for the root
// itself (with 0 the root is found, and has no facts), 2 for a missing name.
uint32_t locate_existing(ServiceCall& c, std::string_view text, Located* at, uint32_t at_root) {
    if (const uint32_t err = locate(c, text, &at->path, &at->parent)) return err;
    if (at->path.is_root()) return at_root;
    return leaf_facts(c, at->path, at->parent, &at->facts);
}

uint32_t open_file_facts(ServiceCall& c, const OsHandle& h, FileFacts* f) {
    const int err = file_facts(c.os, h.fd.get(), "", f);
    return err ? winerr::from_errno(err) : 0;
}

// The facts about the open file with this handle value; false, with the call failed, for any
// other handle or when the facts cannot be had.
bool file_with_facts(ServiceCall& c, uint32_t handle, FileFacts* f) {
    const OsHandle* h = c.handle(handle, kFiles);
    const uint32_t err = h ? open_file_facts(c, *h, f) : 0;
    if (err) c.fail(err);
    return h && !err;
}

// ---- Searches ----

// The find record: attributes, creation, last access and last write times, size high and
// low, an object identifier, then the name in 260 UTF-16 code units. The module's names are
// 8-bit; each byte becomes one code unit, so a name read here is the name to open it by.
void fill_find_record(const ControllerOs& os, const FileFacts& f, const char* name, size_t len,
                      uint8_t* rec) {
    std::memset(rec, 0, records::kFindDataSize);
    set_u32(rec, file_attributes(os, f));
    set_times(rec + 4, f);
    set_u32(rec + 28, static_cast<uint32_t>(f.size >> 32));
    set_u32(rec + 32, static_cast<uint32_t>(f.size));
    set_u32(rec + 36, static_cast<uint32_t>(f.id.ino));
    for (size_t i = 0; i < len; ++i) rec[40 + 2 * i] = static_cast<uint8_t>(name[i]);
}

constexpr size_t kFindNameUnits = 260;

// Reads the directory on from where the search stopped, up to the next entry whose name
// matches, and fills its record. Links and special files are not shown, nor "." and "..".
// 1 found, 0 none left, or -errno.
int next_match(const ControllerOs& os, int dir, const char* pattern, uint8_t* rec) {
    alignas(dirent64) uint8_t buf[4096];
    constexpr size_t kNameAt = offsetof(dirent64, d_name);
    for (;;) {
        const ssize_t got = ::getdents64(dir, buf, sizeof buf);
        if (got < 0) return -errno;
        if (got == 0) return 0;
        const auto n = static_cast<size_t>(got);
        for (size_t at = 0; at + kNameAt <= n;) {
            uint16_t reclen = 0;
            int64_t next = 0;
            std::memcpy(&reclen, buf + at + offsetof(dirent64, d_reclen), sizeof reclen);
            std::memcpy(&next, buf + at + offsetof(dirent64, d_off), sizeof next);
            if (reclen <= kNameAt || reclen > n - at) return -EIO;
            const char* name = reinterpret_cast<const char*>(buf + at + kNameAt);
            const size_t len = strnlen(name, reclen - kNameAt);
            at += reclen;
            if (len == reclen - kNameAt || len >= kFindNameUnits) continue;
            const std::string_view v(name, len);
            if (v == "." || v == ".." || !wildcard_match(pattern, v)) continue;
            FileFacts f;
            if (file_facts(os, dir, name, &f) != 0 || !(f.is_file() || f.is_dir())) continue;
            fill_find_record(os, f, name, len, rec);
            // The next search goes on after this entry.
            if (::lseek(dir, next, SEEK_SET) < 0) return -errno;
            return 1;
        }
    }
}

}  // namespace

// ---- Files ----

bool svc_create_file(ServiceCall& c) {
    std::string_view text;
    uint32_t access = 0, share = 0, creation = 0, flags = 0;
    if (!c.path(&text) || !c.u32(&access) || !c.u32(&share) || !c.u32(&creation) ||
        !c.u32(&flags) || !c.end()) {
        return false;
    }
    c.describe(" access 0x%08X share %u creation %u", access, share, creation);
    if (creation < kCreateNew || creation > kTruncateExisting) {
        return c.fail(winerr::kInvalidParameter);
    }
    if (int port = 0; port_name(text, &port)) {
        open_port(c, port);
        return true;
    }
    const bool read = access & (kGenericRead | kGenericAll | kFileReadData);
    const bool write = access & (kGenericWrite | kGenericAll | kFileWriteData | kFileAppendData);
    if (creation == kTruncateExisting && !write) return c.fail(winerr::kInvalidParameter);
    ModulePath path;
    Fd parent;
    if (const uint32_t err = locate(c, text, &path, &parent)) return c.fail(err);
    if (path.is_root()) return c.fail(winerr::kAccessDenied);
    uint32_t value = 0;
    OsHandle* h = c.os.add(&value);
    if (!h) return c.fail(winerr::kTooManyOpenFiles);
    FileFacts before;
    const int missing = file_facts(c.os, parent.get(), path.last(), &before);
    const bool existed = missing == 0;
    if (missing && missing != ENOENT) return c.fail(winerr::from_errno(missing));
    if (existed) {
        const bool read_only = file_attributes(c.os, before) & attr::kReadOnly;
        if (!before.is_file()) {
            return c.fail(winerr::kAccessDenied);  // a directory, a link, a special file
        } else if (creation == kCreateNew) {
            return c.fail(winerr::kFileExists);
        } else if (read_only &&
                   (write || creation == kCreateAlways || creation == kTruncateExisting)) {
            return c.fail(winerr::kAccessDenied);
        } else if (!c.os.sharing_allows(before.id, read, write, share)) {
            return c.fail(winerr::kSharingViolation);
        }
    } else if (creation == kOpenExisting || creation == kTruncateExisting) {
        return c.fail(winerr::kFileNotFound);
    }
    int oflags = (read && write) ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
    oflags |= O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (creation == kCreateNew) oflags |= O_CREAT | O_EXCL;
    if (creation == kCreateAlways) oflags |= O_CREAT | O_TRUNC;
    if (creation == kOpenAlways) oflags |= O_CREAT;
    if (creation == kTruncateExisting) oflags |= O_TRUNC;
    Fd fd(::openat(parent.get(), path.last(), oflags, 0666));
    if (!fd.valid())
        return c.fail(errno == EEXIST ? winerr::kFileExists : winerr::from_errno(errno));
    FileFacts now;
    if (const int err = file_facts(c.os, fd.get(), "", &now))
        return c.fail(winerr::from_errno(err));
    // Something that took the name's place between the look and the open.
    if (!now.is_file()) return c.fail(winerr::kAccessDenied);
    if (!c.os.sharing_allows(now.id, read, write, share)) {
        return c.fail(winerr::kSharingViolation);
    }
    if (!existed) {
        c.os.forget(now.id);  // a note of a file that had this inode before
        const uint32_t set = flags & attr::kSettable & ~(attr::kNormal | attr::kArchive);
        if (set) {
            if (FileNote* n = c.os.note_for(now.id)) {
                n->has_attributes = true;
                n->attributes = set | attr::kArchive;
            }
        }
    }
    h->kind = HandleKind::file;
    h->fd = std::move(fd);
    h->can_read = read;
    h->can_write = write;
    h->share = share;
    h->id = now.id;
    const bool reused = existed && (creation == kCreateAlways || creation == kOpenAlways);
    c.os.last_error = reused ? winerr::kAlreadyExists : winerr::kSuccess;
    c.succeed(value);
    c.describe(" -> handle 0x%08X%s", value, existed ? "" : " (created)");
    return true;
}

bool svc_read_file(ServiceCall& c) {
    uint32_t handle = 0, count = 0;
    if (!c.handle_arg(&handle) || !c.u32(&count) || !c.end()) return false;
    c.describe(", %u bytes wanted", count);
    OsHandle* h = c.handle(handle, kFilesAndPorts);
    if (!h) return true;
    if (h->kind == HandleKind::port) {
        read_port(c, *h, count);
        return true;
    }
    if (!h->can_read) return c.fail(winerr::kAccessDenied);
    uint8_t data[xcpu::kMaxReadData];
    const size_t want = std::min<size_t>(count, sizeof data);
    size_t got = 0;
    while (got < want) {
        const ssize_t r = ::read(h->fd.get(), data + got, want - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            c.fail(winerr::from_errno(errno));
            break;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    c.out_u32(static_cast<uint32_t>(got));
    c.out(data, got);
    if (!c.failed()) c.succeed(xcpu::kTrue);
    c.describe(", %zu read", got);
    return true;
}

bool svc_write_file(ServiceCall& c) {
    uint32_t handle = 0, count = 0;
    const uint8_t* data = nullptr;
    if (!c.handle_arg(&handle) || !c.u32(&count) || !c.rest(&data, count)) return false;
    c.describe(", %u bytes", count);
    OsHandle* h = c.handle(handle, kFilesAndPorts);
    if (!h) return true;
    if (h->kind == HandleKind::port) {
        write_port(c, *h, data, count);
        return true;
    }
    if (!h->can_write) return c.fail(winerr::kAccessDenied);
    size_t done = 0;
    while (done < count) {
        const ssize_t w = ::write(h->fd.get(), data + done, count - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            c.fail(w < 0 ? winerr::from_errno(errno) : winerr::kDiskFull);
            break;
        }
        done += static_cast<size_t>(w);
    }
    c.out_u32(static_cast<uint32_t>(done));
    if (!c.failed()) c.succeed(xcpu::kTrue);
    return true;
}

bool svc_close_handle(ServiceCall& c) {
    uint32_t handle = 0;
    if (!c.handle_arg(&handle) || !c.end()) return false;
    OsHandle* h = c.handle(handle, kFilesAndPorts);
    if (!h) return true;
    c.os.close(*h);
    return c.succeed(xcpu::kTrue);
}

bool svc_get_file_time(ServiceCall& c) {
    uint32_t handle = 0;
    FileFacts f;
    if (!c.handle_arg(&handle) || !c.end()) return false;
    if (!file_with_facts(c, handle, &f)) return true;
    uint8_t times[records::kFileTimesSize];
    set_times(times, f);
    c.out(times, sizeof times);
    return c.succeed(xcpu::kTrue);
}

bool svc_set_file_time(ServiceCall& c) {
    uint32_t handle = 0;
    uint8_t times[records::kFileTimesSize];
    if (!c.handle_arg(&handle) || !c.record(times, sizeof times) || !c.end()) return false;
    const uint64_t creation = get_u64(times), access = get_u64(times + 8);
    const uint64_t write = get_u64(times + 16);
    const OsHandle* h = c.handle(handle, kFiles);
    if (!h) return true;
    if (!h->can_write) return c.fail(winerr::kAccessDenied);
    FileNote* note = nullptr;
    if (!keeps_time(creation) && !(note = c.os.note_for(h->id))) {
        return c.fail(winerr::kNotEnoughMemory);
    }
    timespec ts[2] = {timespec_from(access), timespec_from(write)};
    if (keeps_time(access)) ts[0].tv_nsec = UTIME_OMIT;
    if (keeps_time(write)) ts[1].tv_nsec = UTIME_OMIT;
    if (::futimens(h->fd.get(), ts) != 0) return c.fail(winerr::from_errno(errno));
    if (note) {
        note->has_creation = true;
        note->creation = creation;
    }
    return c.succeed(xcpu::kTrue);
}

bool svc_set_end_of_file(ServiceCall& c) {
    uint32_t handle = 0;
    if (!c.handle_arg(&handle) || !c.end()) return false;
    const OsHandle* h = c.handle(handle, kFiles);
    if (!h) return true;
    if (!h->can_write) return c.fail(winerr::kAccessDenied);
    const off_t at = ::lseek(h->fd.get(), 0, SEEK_CUR);
    if (at < 0 || ::ftruncate(h->fd.get(), at) != 0) return c.fail(winerr::from_errno(errno));
    c.describe(" at %lld", static_cast<long long>(at));
    return c.succeed(xcpu::kTrue);
}

bool svc_set_file_pointer(ServiceCall& c) {
    uint32_t handle = 0, low = 0, high = 0, method = 0;
    if (!c.handle_arg(&handle) || !c.u32(&low) || !c.u32(&high) || !c.u32(&method) || !c.end()) {
        return false;
    }
    // The distance is the 64-bit value of its two halves, as when the high half is given.
    const auto distance = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
    c.describe(", %lld from %u", static_cast<long long>(distance), method);
    const OsHandle* h = c.handle(handle, kFiles);
    if (!h) return true;
    int64_t base = 0;
    if (method == kFromCurrent) {
        base = ::lseek(h->fd.get(), 0, SEEK_CUR);
    } else if (method == kFromEnd) {
        FileFacts f;
        if (const uint32_t err = open_file_facts(c, *h, &f)) return c.fail(err);
        base = static_cast<int64_t>(f.size);
    } else if (method != kFromBegin) {
        return c.fail(winerr::kInvalidParameter);
    }
    int64_t to = 0;
    if (base < 0 || __builtin_add_overflow(base, distance, &to)) {
        return c.fail(winerr::kInvalidParameter);
    }
    if (to < 0) return c.fail(winerr::kNegativeSeek);
    if (::lseek(h->fd.get(), to, SEEK_SET) < 0) return c.fail(winerr::from_errno(errno));
    c.out_u32(static_cast<uint32_t>(static_cast<uint64_t>(to) >> 32));
    c.succeed(static_cast<uint32_t>(to));
    // A position whose low half reads as the failure value is told apart by the last error.
    c.os.last_error = winerr::kSuccess;
    c.describe(" -> %lld", static_cast<long long>(to));
    return true;
}

bool svc_flush_file_buffers(ServiceCall& c) {
    uint32_t handle = 0;
    if (!c.handle_arg(&handle) || !c.end()) return false;
    const OsHandle* h = c.handle(handle, kFilesAndPorts);
    if (!h) return true;
    if (h->kind == HandleKind::file) {
        if (!h->can_write) return c.fail(winerr::kAccessDenied);
        if (::fsync(h->fd.get()) != 0) return c.fail(winerr::from_errno(errno));
    }
    return c.succeed(xcpu::kTrue);  // a port's written bytes are already looped back
}

bool svc_get_file_size(ServiceCall& c) {
    uint32_t handle = 0;
    FileFacts f;
    if (!c.handle_arg(&handle) || !c.end()) return false;
    if (!file_with_facts(c, handle, &f)) return true;
    c.out_u32(static_cast<uint32_t>(f.size >> 32));
    c.succeed(static_cast<uint32_t>(f.size));
    c.os.last_error = winerr::kSuccess;
    return true;
}

bool svc_get_file_information(ServiceCall& c) {
    uint32_t handle = 0;
    FileFacts f;
    if (!c.handle_arg(&handle) || !c.end()) return false;
    if (!file_with_facts(c, handle, &f)) return true;
    uint8_t info[records::kFileInfoSize];
    set_u32(info, file_attributes(c.os, f));
    set_times(info + 4, f);
    set_u32(info + 28, static_cast<uint32_t>(f.id.dev));  // volume serial number
    set_u32(info + 32, static_cast<uint32_t>(f.size >> 32));
    set_u32(info + 36, static_cast<uint32_t>(f.size));
    set_u32(info + 40, f.links);
    set_u32(info + 44, static_cast<uint32_t>(static_cast<uint64_t>(f.id.ino) >> 32));
    set_u32(info + 48, static_cast<uint32_t>(f.id.ino));
    c.out(info, sizeof info);
    return c.succeed(xcpu::kTrue);
}

// ---- Searches ----

bool svc_find_first_file(ServiceCall& c) {
    std::string_view text;
    uint8_t caller[records::kFindDataSize];
    if (!c.path(&text) || !c.record(caller, sizeof caller) || !c.end()) return false;
    // A failed search hands the caller's record back as it came.
    auto refuse = [&](uint32_t error) {
        c.out(caller, sizeof caller);
        return c.fail(error);
    };
    uint32_t err = 0;
    const int root = c.os.root_fd(&err);
    if (root < 0) return refuse(err);
    ModulePath path;
    if ((err = path.parse(text, ModulePath::Wildcards::in_last_name)) != 0) return refuse(err);
    if (path.is_root()) return refuse(winerr::kFileNotFound);
    Fd dir;
    if ((err = open_directory(root, path, path.count() - 1, true, &dir)) != 0) return refuse(err);
    uint32_t value = 0;
    OsHandle* h = c.os.add(&value);
    if (!h) return refuse(winerr::kTooManyOpenFiles);
    uint8_t rec[records::kFindDataSize];
    const int found = next_match(c.os, dir.get(), path.last(), rec);
    if (found < 0) return refuse(winerr::from_errno(-found));
    if (found == 0) return refuse(winerr::kFileNotFound);
    h->kind = HandleKind::find;
    h->fd = std::move(dir);
    std::memcpy(h->pattern, path.last(), std::strlen(path.last()) + 1);
    c.out(rec, sizeof rec);
    c.succeed(value);
    c.describe(" -> find handle 0x%08X", value);
    return true;
}

bool svc_find_next_file(ServiceCall& c) {
    uint32_t handle = 0;
    uint8_t caller[records::kFindDataSize];
    if (!c.handle_arg(&handle, "find handle") || !c.record(caller, sizeof caller) || !c.end()) {
        return false;
    }
    auto refuse = [&](uint32_t error) {
        c.out(caller, sizeof caller);
        return c.fail(error);
    };
    OsHandle* h = c.os.find(handle, kFinds);
    if (!h) return refuse(winerr::kInvalidHandle);
    uint8_t rec[records::kFindDataSize];
    const int found = next_match(c.os, h->fd.get(), h->pattern, rec);
    if (found < 0) return refuse(winerr::from_errno(-found));
    if (found == 0) return refuse(winerr::kNoMoreFiles);
    c.out(rec, sizeof rec);
    return c.succeed(xcpu::kTrue);
}

bool svc_find_close(ServiceCall& c) {
    uint32_t handle = 0;
    if (!c.handle_arg(&handle, "find handle") || !c.end()) return false;
    OsHandle* h = c.handle(handle, kFinds);
    if (!h) return true;
    c.os.close(*h);
    return c.succeed(xcpu::kTrue);
}

// ---- Names ----

bool svc_delete_file(ServiceCall& c) {
    std::string_view text;
    if (!c.path(&text) || !c.end()) return false;
    Located at;
    const FileFacts& f = at.facts;
    uint32_t err = locate_existing(c, text, &at, winerr::kAccessDenied);
    if (!err && !f.is_file()) err = winerr::kAccessDenied;
    if (!err && (file_attributes(c.os, f) & attr::kReadOnly)) err = winerr::kAccessDenied;
    if (!err && c.os.open_without_delete_share(f.id)) err = winerr::kSharingViolation;
    if (!err && ::unlinkat(at.parent.get(), at.path.last(), 0) != 0) {
        err = winerr::from_errno(errno);
    }
    if (err) return c.fail(err);
    if (f.links <= 1) c.os.forget(f.id);
    return c.succeed(xcpu::kTrue);
}

bool svc_create_directory(ServiceCall& c) {
    std::string_view text;
    // Taken and ignored: the host's own permissions apply.
    uint8_t security[records::kSecurityAttributesSize];
    if (!c.path(&text) || !c.record(security, sizeof security) || !c.end()) return false;
    ModulePath path;
    Fd parent;
    uint32_t err = locate(c, text, &path, &parent);
    if (!err && path.is_root()) err = winerr::kAlreadyExists;
    if (!err && ::mkdirat(parent.get(), path.last(), 0777) != 0) {
        err = winerr::from_errno(errno);
        FileFacts f;
        if (err == winerr::kAlreadyExists && leaf_facts(c, path, parent, &f) == 0 && f.is_link()) {
            err = winerr::kAccessDenied;  // the name is a link, which the module does not follow
        }
    }
    if (err) return c.fail(err);
    return c.succeed(xcpu::kTrue);
}

bool svc_remove_directory(ServiceCall& c) {
    std::string_view text;
    if (!c.path(&text) || !c.end()) return false;
    Located at;
    const FileFacts& f = at.facts;
    uint32_t err = locate_existing(c, text, &at, winerr::kAccessDenied);
    if (!err && f.is_link()) err = winerr::kAccessDenied;
    if (!err && !f.is_dir()) err = winerr::kDirectory;
    if (!err && (file_attributes(c.os, f) & attr::kReadOnly)) err = winerr::kAccessDenied;
    if (!err && ::unlinkat(at.parent.get(), at.path.last(), AT_REMOVEDIR) != 0) {
        err = winerr::from_errno(errno);
    }
    if (err) return c.fail(err);
    c.os.forget(f.id);
    return c.succeed(xcpu::kTrue);
}

bool svc_get_file_attributes(ServiceCall& c) {
    std::string_view text;
    if (!c.path(&text) || !c.end()) return false;
    Located at;
    uint32_t err = locate_existing(c, text, &at, 0);
    if (!err && at.path.is_root()) return c.succeed(attr::kDirectory);
    if (!err && !at.facts.is_file() && !at.facts.is_dir()) err = winerr::kAccessDenied;
    if (err) return c.fail(err);
    return c.succeed(file_attributes(c.os, at.facts));
}

bool svc_set_file_attributes(ServiceCall& c) {
    std::string_view text;
    uint32_t attributes = 0;
    if (!c.path(&text) || !c.u32(&attributes) || !c.end()) return false;
    c.describe(" to 0x%08X", attributes);
    Located at;
    uint32_t err = locate_existing(c, text, &at, winerr::kAccessDenied);
    if (!err && !at.facts.is_file() && !at.facts.is_dir()) err = winerr::kAccessDenied;
    FileNote* note = nullptr;
    if (!err && !(note = c.os.note_for(at.facts.id))) err = winerr::kNotEnoughMemory;
    if (err) return c.fail(err);
    note->has_attributes = true;
    note->attributes = attributes & attr::kSettable;
    return c.succeed(xcpu::kTrue);
}

}  // namespace racksim
