#include "module_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "windows_errors.h"

namespace racksim {

namespace {

bool separator(char c) {
    return c == '\\' || c == '/';
}

bool is_wildcard(char c) {
    return c == '*' || c == '?';
}

// Characters that no Windows name holds; wildcards are judged apart.
bool refused_in_name(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|';
}

bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

uint32_t ModulePath::parse(std::string_view text, Wildcards wildcards) {
    count_ = 0;
    if (text.empty()) return winerr::kPathNotFound;
    if (text.size() > kMaxModulePath) return winerr::kFilenameTooLong;
    if (text.size() >= 2 && is_letter(text[0]) && text[1] == ':') return winerr::kPathNotFound;
    if (text.size() >= 2 && separator(text[0]) && separator(text[1])) return winerr::kBadNetPath;

    size_t used = 0;  // bytes of text_ holding names, each with its zero byte
    size_t i = 0;
    bool wildcard_seen = false;
    while (i < text.size()) {
        while (i < text.size() && separator(text[i])) ++i;
        const size_t from = i;
        while (i < text.size() && !separator(text[i])) ++i;
        const std::string_view name = text.substr(from, i - from);
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            // Going up from the root would leave the module's file system.
            if (count_ == 0) return winerr::kAccessDenied;
            used = start_[--count_];
            continue;
        }
        if (name.size() > kMaxNameLength) return winerr::kFilenameTooLong;
        for (const char c : name) {
            if (refused_in_name(c)) return winerr::kInvalidName;
            if (is_wildcard(c)) {
                if (wildcards == Wildcards::refused) return winerr::kInvalidName;
                wildcard_seen = true;
            }
        }
        // A path of at most kMaxModulePath characters has at most kMaxPathNames names, and
        // its names with their zero bytes fit text_.
        start_[count_++] = static_cast<uint16_t>(used);
        std::memcpy(text_ + used, name.data(), name.size());
        used += name.size();
        text_[used++] = '\0';
    }
    // Wildcards belong in the last name only.
    if (wildcard_seen) {
        for (size_t n = 0; n + 1 < count_; ++n) {
            for (const char* p = name(n); *p; ++p) {
                if (is_wildcard(*p)) return winerr::kInvalidName;
            }
        }
    }
    return 0;
}

uint32_t open_directory(int root, const ModulePath& path, size_t names, bool readable, Fd* out) {
    const int last_flags = (readable ? O_RDONLY : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    Fd dir(::openat(root, ".", names == 0 ? last_flags : O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return winerr::from_errno(errno, winerr::kPathNotFound);
    for (size_t n = 0; n < names; ++n) {
        const int flags =
            n + 1 == names ? last_flags : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        Fd next(::openat(dir.get(), path.name(n), flags));
        if (!next.valid()) {
            const int err = errno;
            struct stat st {};
            // O_NOFOLLOW with O_DIRECTORY reports a link as ENOTDIR or ELOOP: name it a refusal.
            if (::fstatat(dir.get(), path.name(n), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode)) {
                return winerr::kAccessDenied;
            }
            return err == ENOTDIR ? winerr::kPathNotFound
                                  : winerr::from_errno(err, winerr::kPathNotFound);
        }
        dir = std::move(next);
    }
    *out = std::move(dir);
    return 0;
}

bool wildcard_match(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*") return true;
    // Greedy match with one backtrack point: the last '*' seen.
    size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

uint32_t winerr::from_errno(int err, uint32_t missing) {
    switch (err) {
        case 0:
            return kSuccess;
        case ENOENT:
            return missing;
        case ENOTDIR:
            return kPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case ELOOP:
        case EROFS:
        case ETXTBSY:
        case ENXIO:
        case ENODEV:
            return kAccessDenied;
        case EEXIST:
            return kAlreadyExists;
        case ENOTEMPTY:
            return kDirNotEmpty;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return kDiskFull;
        case ENAMETOOLONG:
            return kFilenameTooLong;
        case EMFILE:
        case ENFILE:
            return kTooManyOpenFiles;
        case ENOMEM:
            return kNotEnoughMemory;
        case EBADF:
            return kInvalidHandle;
        case EINVAL:
        case EOVERFLOW:
            return kInvalidParameter;
        case EBUSY:
            return kSharingViolation;
        default:
            return kGenFailure;
    }
}

}  // namespace racksim
