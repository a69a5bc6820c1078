// A module's setup-data store: records of bytes filed under 16-bit types. The module's name and
// number are records like any other, so what a host writes there is what discovery and the
// device definition say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "bytes.h"
#include "vocab/setup_types.h"

namespace racksim {

inline constexpr uint16_t kSetupName = zeb::vocab::setup::kNameRecord;
inline constexpr uint16_t kSetupNumber = zeb::vocab::setup::kNumberRecord;

class SetupStore {
  public:
    enum class Put { stored, too_large, full };

    // The record of a type, or null.
    const Bytes* find(uint16_t type) const;
    // Files a record, replacing one of the same type. Refuses a record that a host could not
    // read back whole, and a new type when the list of types would no longer fit a reply.
    Put put(uint16_t type, Bytes record);
    // False when there was no such record.
    bool erase(uint16_t type);

    // Types in ascending order.
    std::vector<uint16_t> types() const;
    size_t size() const { return records_.size(); }
    const std::map<uint16_t, Bytes>& records() const { return records_; }

    bool operator==(const SetupStore&) const = default;

  private:
    std::map<uint16_t, Bytes> records_;
};

// The module number as its record holds it: 16 bits when the number fits (that is how a node
// list reads it), else all 32.
Bytes number_record(uint32_t number);
// The number a record holds: its first four bytes at most, little-endian.
uint32_t number_of(const Bytes& record);
// The name a record holds: its bytes up to the first zero byte.
std::string name_of(const Bytes& record);

// Text fit for a log line or a terminal: bytes outside printable ASCII become '?'.
std::string printable(std::string text);

// Whether a discovery data item (type, data) names a record the store holds. A name (0x16)
// compares as text up to the first zero byte on either side; any other record compares byte
// for byte once trailing zero bytes are dropped from both, so a number compares by value
// whatever its width (a 32-bit search finds a 16-bit record).
bool store_matches(const SetupStore& store, uint16_t type, const uint8_t* data, size_t len);

}  // namespace racksim
