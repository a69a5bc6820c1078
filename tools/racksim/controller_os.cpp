#include "controller_os.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "bytes.h"
#include "windows_errors.h"

namespace racksim {

namespace {

constexpr uint32_t kShareRead = 0x1;
constexpr uint32_t kShareWrite = 0x2;
constexpr uint32_t kShareDelete = 0x4;
constexpr uint32_t kRxOverflow = 0x0001;  // CE_RXOVER
constexpr uint32_t kGenerationMask = 0xFFFFFF;

}  // namespace

struct ControllerOs::Live {
    Fd root;
    bool root_tried = false;
    uint32_t root_error = 0;
    std::array<OsHandle, kOsHandleSlots> handles;
    std::array<OsPort, kOsPortCount> ports;
    std::array<FileNote, kOsFileNotes> notes;
};

ControllerOs::LiveHolder::LiveHolder() = default;
ControllerOs::LiveHolder::~LiveHolder() = default;
ControllerOs::LiveHolder::LiveHolder(const LiveHolder&) {}
ControllerOs::LiveHolder& ControllerOs::LiveHolder::operator=(const LiveHolder& o) {
    if (this != &o) p.reset();
    return *this;
}
ControllerOs::LiveHolder::LiveHolder(LiveHolder&&) noexcept = default;
ControllerOs::LiveHolder& ControllerOs::LiveHolder::operator=(LiveHolder&&) noexcept = default;

ControllerOs::Live& ControllerOs::live() {
    if (!live_.p) live_.p = std::make_unique<Live>();
    return *live_.p;
}

int ControllerOs::root_fd(uint32_t* error) {
    Live& l = live();
    if (!l.root_tried) {
        l.root_tried = true;
        l.root.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!l.root.valid()) l.root_error = winerr::from_errno(errno, winerr::kPathNotFound);
    }
    if (!l.root.valid()) *error = l.root_error ? l.root_error : winerr::kPathNotFound;
    return l.root.get();
}

OsHandle* ControllerOs::add(uint32_t* value) {
    Live& l = live();
    for (size_t i = 0; i < l.handles.size(); ++i) {
        OsHandle& h = l.handles[i];
        if (h.kind != HandleKind::free) continue;
        *value = (h.generation << 8) | static_cast<uint32_t>(i + 1);
        return &h;
    }
    return nullptr;
}

OsHandle* ControllerOs::find(uint32_t value, unsigned kinds) {
    const uint32_t slot = value & 0xFF;
    if (!live_.p || slot == 0 || slot > kOsHandleSlots) return nullptr;
    OsHandle& h = live_.p->handles[slot - 1];
    if (h.kind == HandleKind::free || h.generation != value >> 8) return nullptr;
    return (static_cast<unsigned>(h.kind) & kinds) ? &h : nullptr;
}

void ControllerOs::close(OsHandle& h) {
    if (h.kind == HandleKind::port) {
        OsPort& p = port(h.port);
        p.open = false;
        p.clear_rx();
        p.errors = 0;
    }
    const uint32_t next = (h.generation + 1) & kGenerationMask;
    h = OsHandle{};
    h.generation = next ? next : 1;
}

size_t ControllerOs::open_handles() const {
    if (!live_.p) return 0;
    return static_cast<size_t>(
        std::count_if(live_.p->handles.begin(), live_.p->handles.end(),
                      [](const OsHandle& h) { return h.kind != HandleKind::free; }));
}

bool ControllerOs::sharing_allows(const FileId& id, bool read, bool write, uint32_t share) const {
    if (!live_.p) return true;
    for (const OsHandle& h : live_.p->handles) {
        if (h.kind != HandleKind::file || !(h.id == id)) continue;
        if (read && !(h.share & kShareRead)) return false;
        if (write && !(h.share & kShareWrite)) return false;
        if (h.can_read && !(share & kShareRead)) return false;
        if (h.can_write && !(share & kShareWrite)) return false;
    }
    return true;
}

bool ControllerOs::open_without_delete_share(const FileId& id) const {
    if (!live_.p) return false;
    for (const OsHandle& h : live_.p->handles) {
        if (h.kind == HandleKind::file && h.id == id && !(h.share & kShareDelete)) return true;
    }
    return false;
}

const FileNote* ControllerOs::note(const FileId& id) const {
    if (!live_.p) return nullptr;
    for (const FileNote& n : live_.p->notes) {
        if (n.used && n.id == id) return &n;
    }
    return nullptr;
}

FileNote* ControllerOs::note_for(const FileId& id) {
    Live& l = live();
    FileNote* spare = nullptr;
    for (FileNote& n : l.notes) {
        if (n.used && n.id == id) return &n;
        if (!n.used && !spare) spare = &n;
    }
    if (spare) {
        *spare = FileNote{};
        spare->used = true;
        spare->id = id;
    }
    return spare;
}

void ControllerOs::forget(const FileId& id) {
    if (!live_.p) return;
    for (FileNote& n : live_.p->notes) {
        if (n.used && n.id == id) n = FileNote{};
    }
}

OsPort& ControllerOs::port(int n) {
    return live().ports.at(static_cast<size_t>(n - 1));
}

void ControllerOs::record_program(std::string name, std::string arguments) {
    ++programs_run;
    programs.push_back({std::move(name), std::move(arguments)});
    if (programs.size() > kOsProgramsKept) programs.pop_front();
}

OsPort::OsPort() : dcb(default_dcb()) {}

std::array<uint8_t, records::kCommStateSize> OsPort::default_dcb() {
    std::array<uint8_t, records::kCommStateSize> d{};
    set_u32(&d[0], static_cast<uint32_t>(records::kCommStateSize));  // DCBlength
    set_u32(&d[4], 9600);                                            // BaudRate
    set_u32(&d[8], 0x1011);                                          // fBinary, DTR and RTS on
    set_u16(&d[14], 2048);                                           // XonLim
    set_u16(&d[16], 512);                                            // XoffLim
    d[18] = 8;                                                       // ByteSize
    d[21] = 0x11;                                                    // XonChar
    d[22] = 0x13;                                                    // XoffChar
    return d;
}

void OsPort::loop_back(const uint8_t* data, size_t len) {
    const size_t room = rx_.size() - count_;
    if (len > room) errors |= kRxOverflow;
    const size_t n = std::min(len, room);
    for (size_t i = 0; i < n; ++i) rx_[(head_ + count_ + i) % rx_.size()] = data[i];
    count_ += n;
}

size_t OsPort::receive(uint8_t* out, size_t max) {
    const size_t n = std::min(max, count_);
    for (size_t i = 0; i < n; ++i) out[i] = rx_[(head_ + i) % rx_.size()];
    head_ = (head_ + n) % rx_.size();
    count_ -= n;
    return n;
}

}  // namespace racksim
