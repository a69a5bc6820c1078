#include "temp_folder.h"

#ifdef _WIN32
#include <cstdio>
#include <random>
#else
#include <sys/stat.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace zebtest {

#ifdef _WIN32
// Windows has no mkdtemp: a name nobody holds yet, in the user's temporary folder, taken by
// whichever call makes the folder.
TempFolder::TempFolder() {
    const std::string base = std::filesystem::temp_directory_path().string();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "/zebtest-%08x", static_cast<unsigned>(random()));
        std::error_code ec;
        if (std::filesystem::create_directory(base + name, ec)) {
            path_ = base + name;
            return;
        }
        if (ec) break;
    }
    throw std::runtime_error("cannot make a folder in " + base);
}
#else
TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zebtest-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = buf.data();
}
#endif

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool write_file(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    return static_cast<bool>(out);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

}  // namespace zebtest
