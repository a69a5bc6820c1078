#include "file_facts.h"

#include <fcntl.h>
#include <sys/sysmacros.h>

#include <cerrno>

namespace racksim {

namespace {

constexpr int64_t kEpochGap = 11644473600;  // seconds from 1601-01-01 to 1970-01-01
constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kLatestSeconds =
    static_cast<int64_t>(UINT64_MAX / kTicksPerSecond) - kEpochGap - 1;

uint64_t filetime_of(const statx_timestamp& t) {
    return filetime_from(t.tv_sec, t.tv_nsec);
}

}  // namespace

uint64_t filetime_from(int64_t seconds, uint32_t nanoseconds) {
    if (seconds < -kEpochGap) return 0;
    if (seconds > kLatestSeconds) return UINT64_MAX;
    return static_cast<uint64_t>(seconds + kEpochGap) * kTicksPerSecond + nanoseconds / 100;
}

timespec timespec_from(uint64_t filetime) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(filetime / kTicksPerSecond) - kEpochGap);
    ts.tv_nsec = static_cast<long>((filetime % kTicksPerSecond) * 100);
    return ts;
}

int file_facts(const ControllerOs& os, int dir, const char* name, FileFacts* out) {
    struct statx sx {};
    const int flags = AT_SYMLINK_NOFOLLOW | (*name ? 0 : AT_EMPTY_PATH);
    if (::statx(dir, name, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return errno;
    FileFacts f;
    f.type = sx.stx_mode & S_IFMT;
    f.size = sx.stx_size;
    f.id = {makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino};
    f.links = sx.stx_nlink;
    f.access = filetime_of(sx.stx_atime);
    f.write = filetime_of(sx.stx_mtime);
    f.creation = (sx.stx_mask & STATX_BTIME) ? filetime_of(sx.stx_btime) : f.write;
    if (const FileNote* n = os.note(f.id); n && n->has_creation) f.creation = n->creation;
    *out = f;
    return 0;
}

uint32_t file_attributes(const ControllerOs& os, const FileFacts& f) {
    const FileNote* n = os.note(f.id);
    uint32_t a = n && n->has_attributes ? n->attributes : (f.is_dir() ? 0 : attr::kArchive);
    a &= attr::kSettable;
    if (f.is_dir()) return (a & ~attr::kNormal) | attr::kDirectory;
    // "Normal" stands alone: no other bit, and it is what no bit at all reads as.
    if (a & ~attr::kNormal) return a & ~attr::kNormal;
    return attr::kNormal;
}

}  // namespace racksim
