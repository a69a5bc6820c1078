#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// A FILE* whose output can be read back as a string.
class Capture {
  public:
    Capture() : file_(open_memstream(&data_, &size_)) {}
    ~Capture() {
        if (file_) std::fclose(file_);
        std::free(data_);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::FILE* file() { return file_; }
    std::string text() {
        std::fflush(file_);
        return std::string(data_, size_);
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};
