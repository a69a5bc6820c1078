// A folder of its own for a test, removed with everything in it at the end of its scope
// (links inside are removed, not followed).
#pragma once

#include <string>

namespace zebtest {

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative.
    std::string at(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

// Whole-file helpers for checking what a module did to a folder.
bool write_file(const std::string& path, const std::string& contents);
// The file's contents, or "<missing>" when it cannot be read.
std::string read_file(const std::string& path);
bool exists(const std::string& path);  // without following a link at the end

}  // namespace zebtest
