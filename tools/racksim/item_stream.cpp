#include "item_stream.h"

#include <algorithm>
#include <map>
#include <utility>

#include "module.h"

namespace racksim {

size_t element_size(uint8_t type) {
    switch (type) {
        case kBitIn:
        case kBitOut:
            return 1;
        case kWordIn:
        case kWordOut:
            return 2;
        case kDwordIn:
        case kDwordOut:
            return 4;
        default:
            return 0;
    }
}

StreamWriter::StreamWriter(bool extended) : extended_(false), out_(&own_) {
    if (extended) switch_to_extended();
}

StreamWriter::StreamWriter(bool extended, Bytes& out) : extended_(false), out_(&out) {
    if (extended) switch_to_extended();
}

void StreamWriter::switch_to_extended() {
    if (extended_) return;
    out_->push_back(kSwitchByte);
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
    if (!extended_ && slot > 15) switch_to_extended();
    header(kSelectSlot, static_cast<size_t>(slot));
}

void StreamWriter::data_items(uint8_t type, const uint8_t* data, size_t count, size_t elem_size) {
    const size_t per_item = extended_ ? 255 / elem_size : 15;
    while (count > 0) {
        const size_t n = std::min(count, per_item);
        header(type, extended_ ? n * elem_size : n);
        out_->insert(out_->end(), data, data + n * elem_size);
        data += n * elem_size;
        count -= n;
    }
}

void StreamWriter::record_item(const Bytes& record) {
    header(kModuleRecord, record.size() - 2);
    out_->insert(out_->end(), record.begin(), record.end());
}

namespace {

// Bytes of data after an item header, for the types that are passed over.
size_t skipped_size(uint8_t type, size_t len) {
    switch (type) {
        case 1:
        case 14:
            return len + 2;
        case 2:
        case 10:
        case 11:
        case 12:
        case 13:
            return len;
        default:
            return 0;  // 0 select, 7 marker
    }
}

}  // namespace

bool parse_io_stream(const uint8_t* data, size_t len, std::vector<StreamItem>* items,
                     std::string* why) {
    auto fail = [&](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    Reader in(data, len);
    bool extended = false;
    int slot = -1;
    std::map<uint8_t, size_t> offsets;  // per type, since the last slot selection
    ItemHeader h;
    // A lone type byte at the end is not a whole header: nothing more.
    while (read_item_header(in, extended, &h)) {
        const uint8_t type = h.type;
        const size_t length = h.length;
        if (extended) {
            if (type == 0x0F || type == kEndIo) return true;
            if (type > 15) continue;  // only the header is passed over
        } else if (type == kEnd) {
            return true;
        }

        if (type == kSelectSlot) {
            slot = static_cast<int>(length);
            offsets.clear();
            continue;
        }
        const size_t esize = element_size(type);
        if (esize == 0) {
            if (!in.skip(skipped_size(type, length))) return fail("item runs past the end");
            if (type == kSwitchExtended && !extended) extended = true;
            continue;
        }
        const size_t bytes = extended ? length : length * esize;
        if (bytes % esize != 0) return fail("item length is not whole elements");
        if (in.left() < bytes) return fail("item runs past the end");
        StreamItem item;
        item.slot = slot;
        item.type = type;
        item.offset = offsets[type];
        item.data.assign(in.here(), in.here() + bytes);
        in.skip(bytes);
        offsets[type] += bytes;
        items->push_back(std::move(item));
    }
    return true;
}

}  // namespace racksim
