#include "item_stream.h"

namespace racksim {

StreamWriter::StreamWriter(bool extended) : extended_(false), out_(&own_) {
    if (extended) switch_to_extended();
}

StreamWriter::StreamWriter(bool extended, Bytes& out) : extended_(false), out_(&out) {
    if (extended) switch_to_extended();
}

void StreamWriter::switch_to_extended() {
    if (extended_) return;
    out_->push_back(items::kExtendedMarker);
    out_->push_back(0x00);
    extended_ = true;
}

void StreamWriter::header(uint8_t type, size_t len) {
    if (extended_) {
        out_->push_back(type);
        out_->push_back(static_cast<uint8_t>(len));
    } else {
        out_->push_back(static_cast<uint8_t>((type << 4) | (len & 0x0F)));
    }
}

void StreamWriter::select_slot(int slot) {
    if (!extended_ && slot > static_cast<int>(items::kCompactLengthMax)) switch_to_extended();
    header(items::kSelectSlot, static_cast<size_t>(slot));
}

void StreamWriter::data_items(uint8_t type, const uint8_t* data, size_t count, size_t elem_size) {
    const size_t per_item =
        extended_ ? items::kExtendedLengthMax / elem_size : items::kCompactLengthMax;
    while (count > 0) {
        const size_t n = std::min(count, per_item);
        header(type, extended_ ? n * elem_size : n);
        out_->insert(out_->end(), data, data + n * elem_size);
        data += n * elem_size;
        count -= n;
    }
}

void StreamWriter::record_item(const Bytes& record) {
    header(items::kModuleRecord, record.size() - 2);
    out_->insert(out_->end(), record.begin(), record.end());
}

}  // namespace racksim
