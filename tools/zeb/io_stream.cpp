#include "io_stream.h"

#include <algorithm>
#include <optional>

namespace zeb::cli {

namespace {

// Item types shared by the base definition and the I/O stream.
constexpr uint8_t kSelectSlot = 0;
constexpr uint8_t kModuleRecord = 1;
constexpr uint8_t kBitInputs = 3;
constexpr uint8_t kBitOutputs = 4;
constexpr uint8_t kWordInputs = 5;
constexpr uint8_t kWordOutputs = 6;
constexpr uint8_t kMarker = 7;
constexpr uint8_t kDwordInputs = 8;
constexpr uint8_t kDwordOutputs = 9;
constexpr uint8_t kSwitchExtended = 11;
constexpr uint8_t kRecordLike = 14;  // carries length + 2 bytes, like a module record
constexpr uint8_t kEndOfStream = 15;
constexpr uint8_t kEndBaseDef = 0xF0;
constexpr uint8_t kEndByte = 0xFF;
constexpr std::size_t kMaxItemBytes = 255;

struct Header {
    uint8_t type = 0;
    uint8_t length = 0;
    std::size_t size = 0;
};

std::optional<Header> read_header(std::span<const uint8_t> data, std::size_t pos, bool extended) {
    if (pos >= data.size()) return std::nullopt;
    if (!extended) {
        return Header{static_cast<uint8_t>(data[pos] >> 4), static_cast<uint8_t>(data[pos] & 0xF),
                      1};
    }
    if (data.size() - pos < 2) return std::nullopt;
    return Header{data[pos], data[pos + 1], 2};
}

std::optional<PointCounts> decode_record(std::span<const uint8_t> r) {
    if (r.size() < 2) return std::nullopt;
    PointCounts c;
    switch (r[0]) {
        case 1:
            if (r.size() < 6) return std::nullopt;
            c = {r[2], r[3], r[4], r[5], 0, 0};
            return c;
        case 3:
            if (r.size() < 6) return std::nullopt;
            c = {r[2], r[3], 0, 0, r[4], r[5]};
            return c;
        case 5:
            if (r.size() < 8) return std::nullopt;
            c = {r[2], r[3], r[4], r[5], r[6], r[7]};
            return c;
        case 7: {
            if (r.size() < 3) return std::nullopt;
            const std::size_t pairs = r[2];
            if (r.size() < 3 + 2 * pairs) return std::nullopt;
            for (std::size_t i = 0; i < pairs; ++i) {
                const int count = r[4 + 2 * i];
                switch (r[3 + 2 * i]) {
                    case kBitInputs:
                        c.bit_in = count;
                        break;
                    case kBitOutputs:
                        c.bit_out = count;
                        break;
                    case kWordInputs:
                        c.word_in = count;
                        break;
                    case kWordOutputs:
                        c.word_out = count;
                        break;
                    case kDwordInputs:
                        c.dword_in = count;
                        break;
                    case kDwordOutputs:
                        c.dword_out = count;
                        break;
                    default:
                        break;
                }
            }
            return c;
        }
        case 255:
            return c;
        default:
            return std::nullopt;
    }
}

// Bytes of data after an I/O stream item's header.
std::size_t data_size(const Header& h, bool extended) {
    switch (h.type) {
        case kSelectSlot:
        case kMarker:
        case kEndOfStream:
            return 0;
        case kModuleRecord:
        case kRecordLike:
            return std::size_t{h.length} + 2;
        case kWordInputs:
        case kWordOutputs:
            return extended ? h.length : std::size_t{h.length} * 2;
        case kDwordInputs:
        case kDwordOutputs:
            return extended ? h.length : std::size_t{h.length} * 4;
        default:
            return h.length;
    }
}

template <typename T>
void append_values(std::span<const uint8_t> data, std::vector<T>& out) {
    for (std::size_t i = 0; i + sizeof(T) <= data.size(); i += sizeof(T)) {
        T v = 0;
        for (std::size_t b = 0; b < sizeof(T); ++b) v |= static_cast<T>(T{data[i + b]} << (8 * b));
        out.push_back(v);
    }
}

void put_items(Bytes& out, uint8_t type, const Bytes& data, std::size_t element) {
    const std::size_t per_item = kMaxItemBytes / element * element;
    for (std::size_t at = 0; at < data.size(); at += per_item) {
        const std::size_t n = std::min(per_item, data.size() - at);
        out.push_back(type);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
}

template <typename T>
Bytes little_endian(const std::vector<T>& values) {
    Bytes out;
    for (T v : values) {
        for (std::size_t b = 0; b < sizeof(T); ++b)
            out.push_back(static_cast<uint8_t>(v >> (8 * b)));
    }
    return out;
}

}  // namespace

BaseLayout parse_base_definition(std::span<const uint8_t> data) {
    std::map<int, SlotLayout> slots;
    bool extended = false;
    std::optional<int> slot;
    std::size_t pos = 0;
    while (pos < data.size()) {
        if (extended && data[pos] == kEndBaseDef) break;
        const auto h = read_header(data, pos, extended);
        if (!h) break;
        pos += h->size;
        const std::size_t left = data.size() - pos;
        if (h->type == kSelectSlot) {
            slot = h->length;
        } else if (h->type == kModuleRecord) {
            const std::size_t size = std::size_t{h->length} + 2;
            if (size > left) break;
            const auto record = data.subspan(pos, size);
            if (const auto counts = decode_record(record); counts && slot) {
                slots[*slot] = SlotLayout{*slot, record[0], record[1], *counts};
            }
            pos += size;
        } else if (h->type == kSwitchExtended && !extended) {
            if (h->length > left) break;
            pos += h->length;
            extended = true;
        }
        // Any other item: only its header is passed over.
    }
    BaseLayout layout;
    for (const auto& [n, s] : slots) layout.push_back(s);
    return layout;
}

Image parse_inputs(std::span<const uint8_t> stream) {
    Image image;
    bool extended = false;
    SlotImage* selected = nullptr;
    std::size_t pos = 0;
    while (pos < stream.size()) {
        if (stream[pos] == kEndByte) break;
        const auto h = read_header(stream, pos, extended);
        if (!h) break;
        pos += h->size;
        if (h->type == kEndOfStream) break;
        if (h->type > kEndOfStream) continue;  // extended only: the header alone

        const std::size_t size = data_size(*h, extended);
        const auto data = stream.subspan(pos, std::min(size, stream.size() - pos));
        if (h->type == kSelectSlot) {
            selected = &image[h->length];
        } else if (h->type == kSwitchExtended && !extended) {
            extended = true;
        } else if (selected && h->type == kBitInputs) {
            for (uint8_t byte : data) {
                for (int bit = 0; bit < 8; ++bit) selected->bits.push_back((byte >> bit) & 1);
            }
        } else if (selected && h->type == kWordInputs) {
            append_values(data, selected->words);
        } else if (selected && h->type == kDwordInputs) {
            append_values(data, selected->dwords);
        }
        if (data.size() < size) break;
        pos += size;
    }
    // A slot selected without inputs is no slot with inputs.
    std::erase_if(image, [](const auto& entry) { return entry.second.empty(); });
    return image;
}

void fit_inputs(Image& inputs, const BaseLayout& layout) {
    for (const SlotLayout& s : layout) {
        auto it = inputs.find(s.slot);
        if (it == inputs.end()) continue;
        SlotImage& image = it->second;
        if (image.bits.size() > static_cast<std::size_t>(s.counts.bit_in)) {
            image.bits.resize(s.counts.bit_in);
        }
        if (image.words.size() > static_cast<std::size_t>(s.counts.word_in)) {
            image.words.resize(s.counts.word_in);
        }
        if (image.dwords.size() > static_cast<std::size_t>(s.counts.dword_in)) {
            image.dwords.resize(s.counts.dword_in);
        }
    }
    std::erase_if(inputs, [](const auto& entry) { return entry.second.empty(); });
}

Bytes build_output_stream(const Image& outputs) {
    Bytes out{0xB1, 0x00};
    for (const auto& [slot, image] : outputs) {
        if (image.empty() || slot < 0 || slot > 255) continue;
        out.push_back(kSelectSlot);
        out.push_back(static_cast<uint8_t>(slot));
        if (!image.bits.empty()) {
            Bytes packed((image.bits.size() + 7) / 8, 0);
            for (std::size_t i = 0; i < image.bits.size(); ++i) {
                if (image.bits[i]) packed[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
            }
            put_items(out, kBitOutputs, packed, 1);
        }
        if (!image.words.empty()) put_items(out, kWordOutputs, little_endian(image.words), 2);
        if (!image.dwords.empty()) put_items(out, kDwordOutputs, little_endian(image.dwords), 4);
    }
    out.push_back(kEndByte);
    return out;
}

}  // namespace zeb::cli
