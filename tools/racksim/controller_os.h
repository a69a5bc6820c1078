// A controller module's own system as hosts reach it through service calls: the host directory
// that holds its files, the handles it gave out (open files, searches, serial ports), the
// attributes and creation times it keeps beside the host's files, its serial ports, its
// last-error value, and what hosts asked of the controller as a whole (programs to start,
// restarts, the OS-load value), recorded and never carried out on the host.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "module_paths.h"
#include "vocab/records.h"

namespace racksim {

inline constexpr size_t kOsHandleSlots = 32;   // handles open at once, of every kind
inline constexpr int kOsPortCount = 4;         // serial ports COM1: to COM4:
inline constexpr size_t kOsPortQueue = 4096;   // bytes each port's loopback holds
inline constexpr size_t kOsFileNotes = 128;    // files with attributes or a creation time set
inline constexpr size_t kOsProgramsKept = 16;  // program starts kept for a look afterwards

// The Windows records that travel whole, by their sizes.
namespace records = zeb::vocab::records;

// Windows file attribute bits.
namespace attr {
inline constexpr uint32_t kReadOnly = 0x01;
inline constexpr uint32_t kHidden = 0x02;
inline constexpr uint32_t kSystem = 0x04;
inline constexpr uint32_t kDirectory = 0x10;
inline constexpr uint32_t kArchive = 0x20;
inline constexpr uint32_t kNormal = 0x80;
inline constexpr uint32_t kTemporary = 0x100;
// What a host may set; the directory bit follows the file system.
inline constexpr uint32_t kSettable =
    kReadOnly | kHidden | kSystem | kArchive | kNormal | kTemporary;
}  // namespace attr

// Which host file a handle or note is about.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FileId&) const = default;
};

enum class HandleKind : uint8_t { free = 0, file = 1, find = 2, port = 4 };

struct OsHandle {
    HandleKind kind = HandleKind::free;
    uint32_t generation = 1;  // bumped when the handle closes, so its value never works again
    Fd fd;                    // file: the open file; find: the directory searched
    bool can_read = false;
    bool can_write = false;
    uint32_t share = 0;                     // file: the share mode it was opened with
    FileId id;                              // file
    char pattern[kMaxNameLength + 1] = {};  // find: the last name of its path
    int port = 0;                           // port: 1 to kOsPortCount
};

// A serial port with a loopback plug: what is written comes back to be read, at once.
class OsPort {
  public:
    OsPort();

    std::array<uint8_t, records::kCommStateSize> dcb{};  // as last set, byte for byte
    std::array<uint8_t, records::kCommTimeoutsSize> timeouts{};
    bool open = false;
    uint32_t errors = 0;  // CE_ flags since they were last cleared

    // Loops written bytes back into the receive queue; those that do not fit are lost and
    // flagged as an overrun.
    void loop_back(const uint8_t* data, size_t len);
    size_t receive(uint8_t* out, size_t max);
    size_t rx_count() const { return count_; }
    void clear_rx() { head_ = count_ = 0; }

    // The standard settings: 9600 baud, 8 data bits, no parity, one stop bit.
    static std::array<uint8_t, records::kCommStateSize> default_dcb();

  private:
    std::array<uint8_t, kOsPortQueue> rx_{};
    size_t head_ = 0;
    size_t count_ = 0;
};

// What the module keeps about a host file beyond what the host keeps.
struct FileNote {
    FileId id;
    bool used = false;
    bool has_attributes = false;
    uint32_t attributes = 0;
    bool has_creation = false;
    uint64_t creation = 0;  // FILETIME
};

struct ProgramRun {
    std::string name;
    std::string arguments;
};

class ControllerOs {
  public:
    std::string root;  // host directory of the module's files; empty: no controller module
    uint32_t last_error = 0;
    uint32_t os_load = 0;
    uint64_t os_load_writes = 0;
    uint64_t reboots = 0;
    uint64_t programs_run = 0;
    std::deque<ProgramRun> programs;  // the last kOsProgramsKept starts

    bool enabled() const { return !root.empty(); }

    // The root directory, opened on first use and kept open; -1 with the Windows error in
    // *error when it cannot be opened.
    int root_fd(uint32_t* error);

    // A free slot and the handle value it now has; null (all in use) otherwise.
    OsHandle* add(uint32_t* value);
    // The open handle with this value whose kind is one of `kinds` (HandleKind bits); null for
    // anything else.
    OsHandle* find(uint32_t value, unsigned kinds);
    // Closes the handle: its descriptor, its port, its value.
    void close(OsHandle& h);
    size_t open_handles() const;

    // Whether another open of the file with this access and share mode is allowed by those
    // already open, as Windows judges sharing.
    bool sharing_allows(const FileId& id, bool read, bool write, uint32_t share) const;
    // Whether some open handle of the file does not share deletion.
    bool open_without_delete_share(const FileId& id) const;

    const FileNote* note(const FileId& id) const;
    // The note of the file, made if there is none; null when the notes are full.
    FileNote* note_for(const FileId& id);
    void forget(const FileId& id);

    // Port n, 1 to kOsPortCount.
    OsPort& port(int n);

    void record_program(std::string name, std::string arguments);

  private:
    struct Live;
    Live& live();

    // Open handles belong to one module: a copy of it starts with none.
    struct LiveHolder {
        LiveHolder();
        ~LiveHolder();
        LiveHolder(const LiveHolder&);
        LiveHolder& operator=(const LiveHolder&);
        LiveHolder(LiveHolder&&) noexcept;
        LiveHolder& operator=(LiveHolder&&) noexcept;
        std::unique_ptr<Live> p;
    };
    LiveHolder live_;
};

}  // namespace racksim
