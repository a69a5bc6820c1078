#include "setup_store.h"

#include <algorithm>
#include <cstring>

#include "capacities.h"

namespace racksim {

const Bytes* SetupStore::find(uint16_t type) const {
    auto it = records_.find(type);
    return it == records_.end() ? nullptr : &it->second;
}

SetupStore::Put SetupStore::put(uint16_t type, Bytes record) {
    if (record.size() > kMaxSetupRecord) return Put::too_large;
    if (!records_.count(type) && records_.size() >= kMaxSetupTypes) return Put::full;
    records_[type] = std::move(record);
    return Put::stored;
}

bool SetupStore::erase(uint16_t type) {
    return records_.erase(type) > 0;
}

std::vector<uint16_t> SetupStore::types() const {
    std::vector<uint16_t> out;
    out.reserve(records_.size());
    for (const auto& [type, record] : records_) out.push_back(type);
    return out;
}

Bytes number_record(uint32_t number) {
    Bytes b;
    if (number <= 0xFFFF) {
        put_u16(b, static_cast<uint16_t>(number));
    } else {
        put_u32(b, number);
    }
    return b;
}

uint32_t number_of(const Bytes& record) {
    uint32_t v = 0;
    for (size_t i = 0; i < std::min<size_t>(record.size(), 4); ++i) {
        v |= static_cast<uint32_t>(record[i]) << (8 * i);
    }
    return v;
}

std::string name_of(const Bytes& record) {
    const auto end = std::find(record.begin(), record.end(), uint8_t{0});
    return std::string(record.begin(), end);
}

std::string printable(std::string text) {
    for (char& c : text) {
        if (c < 0x20 || c > 0x7E) c = '?';
    }
    return text;
}

namespace {

size_t without_trailing_zeros(const uint8_t* data, size_t len) {
    while (len > 0 && data[len - 1] == 0) --len;
    return len;
}

size_t up_to_zero(const uint8_t* data, size_t len) {
    const uint8_t* end = std::find(data, data + len, uint8_t{0});
    return static_cast<size_t>(end - data);
}

}  // namespace

bool store_matches(const SetupStore& store, uint16_t type, const uint8_t* data, size_t len) {
    const Bytes* record = store.find(type);
    if (!record) return false;
    auto cut = type == kSetupName ? up_to_zero : without_trailing_zeros;
    const size_t a = cut(record->data(), record->size());
    const size_t b = cut(data, len);
    return a == b && (a == 0 || std::memcmp(record->data(), data, a) == 0);
}

}  // namespace racksim
