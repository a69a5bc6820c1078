#include "context.h"

#include <chrono>

namespace racksim {

uint64_t SteadyClock::now_ms() const {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

bool MemoryStore::read(const std::string& name, Bytes* contents) const {
    auto it = files_.find(name);
    if (it == files_.end()) return false;
    *contents = it->second;
    return true;
}

void MemoryStore::write(const std::string& name, Bytes contents) {
    files_[name] = std::move(contents);
}

bool MemoryStore::remove(const std::string& name) {
    return files_.erase(name) > 0;
}

std::vector<std::string> MemoryStore::names() const {
    std::vector<std::string> out;
    for (const auto& [name, contents] : files_) out.push_back(name);
    return out;
}

}  // namespace racksim
