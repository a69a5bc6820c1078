#include "stored_event.h"

#include <cstring>

namespace zebgw {

namespace {

enum : uint8_t { kData = 1, kWriteResult = 2 };

class Writer {
  public:
    void u8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void u32(uint32_t v) { le(v, 4); }
    void u64(uint64_t v) { le(v, 8); }
    void text(std::string_view s) {
        const size_t n = std::min<size_t>(s.size(), 0xFFFF);
        le(n, 2);
        out_.append(s.data(), n);
    }
    std::string take() { return std::move(out_); }

  private:
    void le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out_.push_back(static_cast<char>(v >> (8 * i)));
    }
    std::string out_;
};

// Reads within the record; once anything is missing every later read fails too.
class Reader {
  public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool ok() const { return ok_; }
    uint8_t u8() { return static_cast<uint8_t>(le(1)); }
    uint32_t u32() { return static_cast<uint32_t>(le(4)); }
    uint64_t u64() { return le(8); }
    std::string_view text() {
        const size_t n = le(2);
        if (!take(n)) return {};
        return in_.substr(at_ - n, n);
    }
    bool at_end() const { return at_ == in_.size(); }

  private:
    bool take(size_t n) {
        if (!ok_ || in_.size() - at_ < n) {
            ok_ = false;
            return false;
        }
        at_ += n;
        return true;
    }
    uint64_t le(size_t n) {
        if (!take(n)) return 0;
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i)
            v |= uint64_t{static_cast<uint8_t>(in_[at_ - n + i])} << (8 * i);
        return v;
    }
    std::string_view in_;
    size_t at_ = 0;
    bool ok_ = true;
};

}  // namespace

std::string store_event(const Event& e, const Module& m) {
    Writer w;
    w.u8(e.kind == Event::Kind::write_result ? kWriteResult : kData);
    w.u64(e.time_ms);
    w.text(m.config().id);
    if (e.kind == Event::Kind::write_result) {
        w.text(e.point);
        w.text(e.result);
        w.u64(static_cast<uint64_t>(e.requested));
    } else {
        uint32_t n = 0;
        for (const auto& v : e.values) n += v.point < m.points.size();
        w.u32(n);
        for (const auto& v : e.values) {
            if (v.point >= m.points.size()) continue;
            w.text(m.points[v.point].name);
            w.u32(v.value);
        }
    }
    return w.take();
}

std::optional<Event> restore_event(std::string_view record,
                                   const std::vector<std::unique_ptr<Module>>& modules) {
    Reader r(record);
    Event e;
    e.historical = true;
    const uint8_t kind = r.u8();
    e.time_ms = r.u64();
    const std::string_view id = r.text();
    if (!r.ok() || (kind != kData && kind != kWriteResult)) return std::nullopt;
    const Module* m = nullptr;
    for (const auto& candidate : modules) {
        if (candidate->config().id == id) m = candidate.get();
    }
    if (!m) return std::nullopt;
    e.module = m->index();
    if (kind == kWriteResult) {
        e.kind = Event::Kind::write_result;
        e.point = r.text();
        e.result = r.text();
        e.requested = static_cast<int64_t>(r.u64());
        if (!r.ok() || !r.at_end()) return std::nullopt;
        return e;
    }
    e.kind = Event::Kind::data;
    const uint32_t n = r.u32();
    std::lock_guard lock(m->mutex);
    for (uint32_t i = 0; i < n && r.ok(); ++i) {
        const std::string_view name = r.text();
        const uint32_t value = r.u32();
        const int point = r.ok() ? m->find_point(name) : -1;
        if (point >= 0) e.values.push_back({static_cast<uint32_t>(point), value});
    }
    if (!r.ok() || !r.at_end() || e.values.empty()) return std::nullopt;
    return e;
}

}  // namespace zebgw
