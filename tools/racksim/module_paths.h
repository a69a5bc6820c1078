// A controller module's paths, resolved inside the host directory that holds its files.
//
// A module path is 8-bit text with '\' or '/' between names; a leading separator (or none)
// starts at the module's root. "." names are dropped and ".." goes up one name, but never
// above the root. Drive letters, server names, characters that Windows refuses in names and
// names longer than the host takes are refused. Resolution walks from the root directory one
// name at a time (openat) and never follows a symbolic link, so neither a path nor a link that
// someone places or swaps in can lead outside the root.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace racksim {

inline constexpr size_t kMaxModulePath = 259;  // characters, MAX_PATH less its zero byte
inline constexpr size_t kMaxPathNames = kMaxModulePath / 2 + 1;
inline constexpr size_t kMaxNameLength = 255;  // bytes of one name on the host

// A file descriptor that closes itself; moves, never copies.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// A path taken apart into its names, ".." and "." already applied.
class ModulePath {
  public:
    enum class Wildcards { refused, in_last_name };

    // 0, or the Windows error that the module reports for such a path.
    uint32_t parse(std::string_view text, Wildcards wildcards = Wildcards::refused);

    size_t count() const { return count_; }
    bool is_root() const { return count_ == 0; }
    // Name i, zero-terminated.
    const char* name(size_t i) const { return text_ + start_[i]; }
    const char* last() const { return name(count_ - 1); }

  private:
    char text_[kMaxModulePath + 1] = {};
    uint16_t start_[kMaxPathNames] = {};
    size_t count_ = 0;
};

// Opens the directory made of the first `names` names of `path` below `root` (the root itself
// for 0), as a search handle (O_PATH) or readable for listing. 0, or the Windows error: a
// missing or non-directory name on the way is 3, a symbolic link 5.
uint32_t open_directory(int root, const ModulePath& path, size_t names, bool readable, Fd* out);

// The directory that holds the path's last name. The path must name something below the root.
inline uint32_t open_parent(int root, const ModulePath& path, Fd* out) {
    return open_directory(root, path, path.count() - 1, false, out);
}

// Whether `name` matches a Windows wildcard pattern: '*' any run of characters, '?' any one;
// "*.*" matches every name, with or without a dot.
bool wildcard_match(std::string_view pattern, std::string_view name);

}  // namespace racksim
