#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <filesystem>
#include <random>
#endif

// A FILE* whose output can be read back as a string.
class Capture {
  public:
#ifdef _WIN32
    // Windows has no memory streams: a file of its own in the temporary folder, read back.
    Capture() {
        char name[40];
        std::snprintf(name, sizeof name, "racktap-capture-%08x",
                      static_cast<unsigned>(std::random_device{}()));
        path_ = (std::filesystem::temp_directory_path() / name).string();
        file_ = std::fopen(path_.c_str(), "w+b");
    }
    ~Capture() {
        if (file_) std::fclose(file_);
        std::remove(path_.c_str());
    }
    std::string text() {
        std::fflush(file_);
        const long end = std::ftell(file_);
        std::string s(end > 0 ? static_cast<size_t>(end) : 0, '\0');
        std::rewind(file_);
        s.resize(std::fread(s.data(), 1, s.size(), file_));
        std::fseek(file_, end, SEEK_SET);
        return s;
    }
#else
    Capture() : file_(open_memstream(&data_, &size_)) {}
    ~Capture() {
        if (file_) std::fclose(file_);
        std::free(data_);
    }
    std::string text() {
        std::fflush(file_);
        return std::string(data_, size_);
    }
#endif
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::FILE* file() {
        return file_;
    }

  private:
#ifdef _WIN32
    std::string path_;
#else
    char* data_ = nullptr;
    std::size_t size_ = 0;
#endif
    std::FILE* file_ = nullptr;
};
