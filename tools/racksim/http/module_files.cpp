#include "http/module_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "http/api_reply.h"
#include "module_paths.h"
#include "windows_errors.h"

namespace racksim {

namespace {

using json = OrderedJson;

[[noreturn]] void refuse_path(const std::string& path, uint32_t winerror) {
    const std::string p = "\"" + path + "\"";
    switch (winerror) {
        case winerr::kFileNotFound:
        case winerr::kPathNotFound:
        case winerr::kDirectory:
            throw Refusal(404, "no such file or folder " + p);
        case winerr::kAccessDenied:
            throw Refusal(403, p + " leads outside the module's files or through a link");
        default:
            throw Refusal(400, p + " is no path a module takes (Windows error " +
                                   std::to_string(winerror) + ")");
    }
}

ModulePath parse_path(const std::string& path) {
    ModulePath p;
    // An empty path is the root, as "\" is.
    if (const uint32_t e = p.parse(path.empty() ? "\\" : path); e != 0) refuse_path(path, e);
    return p;
}

Fd open_root(const std::string& root) {
    Fd fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        throw Refusal(404,
                      "the module's folder " + root + " cannot be opened: " + std::strerror(errno));
    }
    return fd;
}

}  // namespace

json list_module_folder(const std::string& root, const std::string& path) {
    const ModulePath p = parse_path(path);
    const Fd top = open_root(root);
    Fd dir;
    if (const uint32_t e = open_directory(top.get(), p, p.count(), true, &dir); e != 0) {
        refuse_path(path, e);
    }
    DIR* d = ::fdopendir(dir.get());
    if (!d) throw Refusal(404, "cannot list \"" + path + "\": " + std::strerror(errno));
    dir.release();  // the DIR owns it now
    json entries = json::array();
    bool truncated = false;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const bool folder = S_ISDIR(st.st_mode);
        if (!folder && !S_ISREG(st.st_mode)) continue;
        if (entries.size() == kMaxFolderEntries) {
            truncated = true;
            break;
        }
        entries.push_back({{"name", name},
                           {"folder", folder},
                           {"size", folder ? 0 : static_cast<uint64_t>(st.st_size)},
                           {"modified", static_cast<int64_t>(st.st_mtim.tv_sec)}});
    }
    ::closedir(d);
    std::sort(entries.begin(), entries.end(), [](const json& a, const json& b) {
        return a["name"].get_ref<const std::string&>() < b["name"].get_ref<const std::string&>();
    });
    return {{"path", path.empty() ? "\\" : path}, {"entries", entries}, {"truncated", truncated}};
}

std::string read_module_file(const std::string& root, const std::string& path) {
    const ModulePath p = parse_path(path);
    if (p.is_root()) throw Refusal(404, "\"" + path + "\" is the module's root folder");
    const Fd top = open_root(root);
    Fd parent;
    if (const uint32_t e = open_parent(top.get(), p, &parent); e != 0) refuse_path(path, e);
    Fd file(::openat(parent.get(), p.last(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!file.valid()) {
        const int err = errno;
        refuse_path(path, err == ELOOP ? winerr::kAccessDenied : winerr::from_errno(err));
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        throw Refusal(404, "\"" + path + "\" is no file");
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFileReply) {
        throw Refusal(413, "\"" + path + "\" is " + std::to_string(st.st_size) +
                               " bytes; the interface gives at most " +
                               std::to_string(kMaxFileReply));
    }
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(file.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);  // a file that shrank meanwhile
    return bytes;
}

}  // namespace racksim
