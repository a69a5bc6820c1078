#include "queue_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zebgw {

namespace {

constexpr char kMark[8] = {'z', 'e', 'b', 'g', 'w', 'q', '1', '\n'};
// No record is this long: a length past it is damage, not a record to read.
constexpr uint64_t kLongestRecord = 16u << 20;
constexpr size_t kCopyChunk = 64 * 1024;

constexpr std::array<uint32_t, 256> kCrcTable = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}();

void put_le(uint8_t* out, uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t get_le(const uint8_t* in, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t{in[i]} << (8 * i);
    return v;
}

bool read_all(int fd, void* out, size_t n, uint64_t at) {
    auto* p = static_cast<uint8_t*>(out);
    while (n > 0) {
        const ssize_t got = pread(fd, p, n, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
        at += static_cast<uint64_t>(got);
    }
    return true;
}

bool write_all(int fd, const void* in, size_t n, uint64_t at) {
    const auto* p = static_cast<const uint8_t*>(in);
    while (n > 0) {
        const ssize_t put = pwrite(fd, p, n, static_cast<off_t>(at));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= static_cast<size_t>(put);
        at += static_cast<uint64_t>(put);
    }
    return true;
}

std::string why(const std::string& path) {
    return path + ": " + std::strerror(errno);
}

}  // namespace

uint32_t crc32(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) c = kCrcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

QueueFile::~QueueFile() {
    if (fd_ >= 0) {
        sync();
        close(fd_);
    }
}

bool QueueFile::usable(const std::string& path, std::string* error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            *error = "cannot use the queue file " + why(path);
            return false;
        }
        std::string folder = std::filesystem::path(path).parent_path().string();
        if (folder.empty()) folder = ".";
        if (access(folder.c_str(), W_OK | X_OK) != 0) {
            *error = "cannot make the queue file in " + why(folder);
            return false;
        }
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a regular file";
        return false;
    }
    if (access(path.c_str(), R_OK | W_OK) != 0) {
        *error = "cannot read and write the queue file " + why(path);
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char mark[sizeof kMark] = {};
    const ssize_t n = fd < 0 ? -1 : pread(fd, mark, sizeof mark, 0);
    if (fd >= 0) close(fd);
    if (n < 0) {
        *error = "cannot read the queue file " + why(path);
        return false;
    }
    if (std::memcmp(mark, kMark, static_cast<size_t>(n)) != 0) {
        *error = path + " is not a zebgw queue file: name another, or move it away";
        return false;
    }
    return true;
}

bool QueueFile::open(const std::string& path, uint64_t max_bytes, std::string* error) {
    if (!usable(path, error)) return false;
    path_ = path;
    max_ = std::max(max_bytes, kMinBytes);
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
        *error = "cannot open the queue file " + why(path);
        return false;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    if (size < kHeadSize) {
        // New, or made and cut before its head was whole.
        if (ftruncate(fd_, 0) != 0 || !write_head()) {
            *error = "cannot write the queue file " + why(path);
            return false;
        }
        return true;
    }
    uint8_t head[kHeadSize];
    if (!read_all(fd_, head, sizeof head, 0)) {
        *error = "cannot read the queue file " + why(path);
        return false;
    }
    first_ = get_le(head + sizeof kMark, 8);
    // A damaged head sends everything again rather than lose any of it.
    if (first_ < kHeadSize || first_ > size) first_ = kHeadSize;
    next_ = end_ = first_;
    std::string record;
    uint64_t length = 0;
    while (end_ < size && read_record(end_, &record, &length)) {
        end_ += length;
        ++unread_;
    }
    if (end_ < size) {
        torn_ = 1;
        if (ftruncate(fd_, static_cast<off_t>(end_)) != 0) {
            *error = "cannot cut the torn end of the queue file " + why(path);
            return false;
        }
    }
    return true;
}

bool QueueFile::fail(const char* what) {
    failure_ = std::string("queue file: cannot ") + what + " " + why(path_);
    return false;
}

bool QueueFile::write_head() {
    uint8_t head[kHeadSize];
    std::memcpy(head, kMark, sizeof kMark);
    put_le(head + sizeof kMark, first_, 8);
    dirty_ = true;
    return write_all(fd_, head, sizeof head, 0) || fail("write the head of");
}

uint64_t QueueFile::record_length(uint64_t at) const {
    uint8_t head[kRecordHeadSize];
    if (at + kRecordHeadSize > end_ || !read_all(fd_, head, sizeof head, at)) return 0;
    const uint64_t length = kRecordHeadSize + get_le(head, 4);
    return at + length <= end_ ? length : 0;
}

bool QueueFile::read_record(uint64_t at, std::string* record, uint64_t* length) const {
    uint8_t head[kRecordHeadSize];
    if (!read_all(fd_, head, sizeof head, at)) return false;
    const uint64_t size = get_le(head, 4);
    if (size > kLongestRecord) return false;
    record->resize(size);
    if (!read_all(fd_, record->data(), size, at + kRecordHeadSize)) return false;
    if (crc32(record->data(), size) != get_le(head + 4, 4)) return false;
    *length = kRecordHeadSize + size;
    return true;
}

uint64_t QueueFile::append(const std::string& record) {
    const uint64_t need = kRecordHeadSize + record.size();
    if (need > max_ - kHeadSize || record.size() > kLongestRecord) return 1;
    uint64_t dropped = 0;
    const uint64_t room = max_ - kHeadSize;
    // Full: the oldest quarter goes at once, so that the file is seldom compacted.
    const uint64_t target = end_ - first_ + need > room ? room - room / 4 : room;
    while (end_ - first_ + need > target) {
        const uint64_t length = record_length(first_);
        if (length == 0) {
            // Not a record where one should be: what is left cannot be read either.
            dropped += unread_;
            first_ = next_ = end_;
            unread_ = 0;
            break;
        }
        if (first_ >= next_) --unread_;
        first_ += length;
        next_ = std::max(next_, first_);
        ++dropped;
    }
    if (end_ + need > max_ && !compact()) return dropped + 1;
    std::string bytes(kRecordHeadSize, '\0');
    auto* head = reinterpret_cast<uint8_t*>(bytes.data());
    put_le(head, record.size(), 4);
    put_le(head + 4, crc32(record.data(), record.size()), 4);
    bytes += record;
    if (!write_all(fd_, bytes.data(), bytes.size(), end_)) {
        fail("write");
        return dropped + 1;
    }
    end_ += need;
    ++unread_;
    dirty_ = true;
    if (dropped) write_head();
    return dropped;
}

bool QueueFile::compact() {
    // A new file with what is left, put in the old one's place whole: a power cut leaves one
    // or the other.
    const std::string fresh = path_ + ".new";
    const int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return fail("make a compacted");
    uint8_t head[kHeadSize];
    std::memcpy(head, kMark, sizeof kMark);
    put_le(head + sizeof kMark, kHeadSize, 8);
    bool ok = write_all(fd, head, sizeof head, 0);
    std::string chunk;
    for (uint64_t at = first_; ok && at < end_;) {
        chunk.resize(std::min<uint64_t>(kCopyChunk, end_ - at));
        ok = read_all(fd_, chunk.data(), chunk.size(), at) &&
             write_all(fd, chunk.data(), chunk.size(), kHeadSize + at - first_);
        at += chunk.size();
    }
    ok = ok && fdatasync(fd) == 0 && rename(fresh.c_str(), path_.c_str()) == 0;
    if (!ok) {
        close(fd);
        unlink(fresh.c_str());
        return fail("compact");
    }
    close(fd_);
    fd_ = fd;
    const uint64_t cut = first_ - kHeadSize;
    first_ -= cut;
    next_ -= cut;
    end_ -= cut;
    return true;
}

bool QueueFile::read(std::string* record, uint64_t* at) {
    if (unread_ == 0) return false;
    uint64_t length = 0;
    if (!read_record(next_, record, &length)) {
        // Damaged since it was written: nothing after it can be found.
        fail("read");
        next_ = end_;
        unread_ = 0;
        return false;
    }
    *at = next_;
    next_ += length;
    --unread_;
    return true;
}

void QueueFile::resume_from(uint64_t at) {
    at = std::clamp(at, first_, next_);
    for (uint64_t p = at; p < next_;) {
        const uint64_t length = record_length(p);
        if (length == 0) break;
        p += length;
        ++unread_;
    }
    next_ = at;
    if (first_ != at) {
        first_ = at;
        write_head();
    }
}

void QueueFile::delivered_up_to(uint64_t at) {
    at = std::min(at, next_);
    if (at <= first_) return;
    first_ = at;
    if (first_ == end_) {
        // All delivered: the file is emptied.
        first_ = next_ = end_ = kHeadSize;
        if (ftruncate(fd_, static_cast<off_t>(kHeadSize)) != 0) fail("empty");
    }
    write_head();
}

void QueueFile::sync() {
    if (!dirty_ || fd_ < 0) return;
    dirty_ = false;
    if (fdatasync(fd_) != 0) fail("sync");
}

}  // namespace zebgw
