// What a controller module reports about a host file: its kind, size, identity and times, the
// times as Windows FILETIMEs (100 ns since 1601), and the Windows attributes that the module's
// notes and the host's kind of file give.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>

#include "controller_os.h"

namespace racksim {

struct FileFacts {
    mode_t type = 0;  // S_IFREG, S_IFDIR, S_IFLNK, ...
    uint64_t size = 0;
    FileId id;
    uint32_t links = 0;
    uint64_t access = 0;    // FILETIME
    uint64_t write = 0;     // FILETIME
    uint64_t creation = 0;  // FILETIME: the module's note, the host's birth time, else write

    bool is_file() const { return type == S_IFREG; }
    bool is_dir() const { return type == S_IFDIR; }
    bool is_link() const { return type == S_IFLNK; }
};

// Facts about `name` in directory `dir`, a link itself rather than what it points to; with a
// name of "" about the open descriptor `dir`. 0, or the errno of the failure.
int file_facts(const ControllerOs& os, int dir, const char* name, FileFacts* out);

// The Windows attributes of a file or directory.
uint32_t file_attributes(const ControllerOs& os, const FileFacts& f);

uint64_t filetime_from(int64_t seconds, uint32_t nanoseconds);
timespec timespec_from(uint64_t filetime);

}  // namespace racksim
