// Hand-made TIFF files for the reader's unit tests: each page is a list of fields plus its strips,
// laid out as header, strip data, then the directories, in either byte order, classic or BigTIFF.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tiff_builder {

enum Type : uint16_t { BYTE = 1, ASCII = 2, SHORT = 3, LONG = 4, RATIONAL = 5, UNDEFINED = 7, LONG8 = 16 };

struct Field {
    uint16_t tag;
    uint16_t type;
    std::vector<uint64_t> values;  // RATIONAL: numerator, denominator pairs
};

struct PageSpec {
    std::vector<Field> fields;                 // written in the given order
    std::vector<std::vector<uint8_t>> strips;  // StripOffsets/StripByteCounts added when non-empty
};

class Builder {
public:
    explicit Builder(bool little_endian = true, bool big = false) : le_(little_endian), big_(big) {}

    std::vector<uint8_t> build(const std::vector<PageSpec>& pages) {
        out_.clear();
        put8(le_ ? 'I' : 'M');
        put8(le_ ? 'I' : 'M');
        put16(big_ ? 43 : 42);
        if (big_) {
            put16(8);  // offset size
            put16(0);
        }
        size_t prev_next_slot = out_.size();
        put_word(0);
        for (const PageSpec& page : pages) {
            std::vector<Field> fields = page.fields;
            if (!page.strips.empty()) {
                Field offs{273, uint16_t(big_ ? LONG8 : LONG), {}};
                Field counts{279, LONG, {}};
                for (const auto& s : page.strips) {
                    offs.values.push_back(out_.size());
                    counts.values.push_back(s.size());
                    out_.insert(out_.end(), s.begin(), s.end());
                }
                fields.push_back(offs);
                fields.push_back(counts);
            }
            // Values that do not fit in the entry go before the directory.
            std::vector<uint64_t> value_offsets;
            for (const Field& f : fields) {
                const size_t bytes = size_of(f.type) * count_of(f);
                if (bytes > word()) {
                    if (out_.size() % 2) put8(0);
                    value_offsets.push_back(out_.size());
                    put_values(f);
                } else {
                    value_offsets.push_back(0);
                }
            }
            if (out_.size() % 2) put8(0);
            const uint64_t ifd = out_.size();
            patch(prev_next_slot, ifd);
            if (big_) put64(fields.size()); else put16(uint16_t(fields.size()));
            for (size_t i = 0; i < fields.size(); ++i) {
                const Field& f = fields[i];
                put16(f.tag);
                put16(f.type);
                put_word(count_of(f));
                if (value_offsets[i]) {
                    put_word(value_offsets[i]);
                } else {
                    const size_t start = out_.size();
                    put_values(f);
                    while (out_.size() < start + word()) put8(0);
                }
            }
            prev_next_slot = out_.size();
            put_word(0);
        }
        return out_;
    }

private:
    size_t word() const { return big_ ? 8 : 4; }
    static size_t size_of(uint16_t type) {
        switch (type) {
            case SHORT: return 2;
            case LONG: return 4;
            case RATIONAL: return 8;
            case LONG8: return 8;
            default: return 1;
        }
    }
    static size_t count_of(const Field& f) { return f.type == RATIONAL ? f.values.size() / 2 : f.values.size(); }
    void put_values(const Field& f) {
        for (uint64_t v : f.values) {
            switch (f.type) {
                case SHORT: put16(uint16_t(v)); break;
                case LONG: case RATIONAL: put32(uint32_t(v)); break;
                case LONG8: put64(v); break;
                default: put8(uint8_t(v)); break;
            }
        }
    }
    void put8(uint8_t v) { out_.push_back(v); }
    void put16(uint16_t v) { putn(v, 2); }
    void put32(uint32_t v) { putn(v, 4); }
    void put64(uint64_t v) { putn(v, 8); }
    void put_word(uint64_t v) { putn(v, int(word())); }  // counts and offsets: 4 bytes, BigTIFF 8
    void putn(uint64_t v, int n) {
        out_.resize(out_.size() + size_t(n));
        write_at(out_.size() - size_t(n), v, n);
    }
    void patch(size_t pos, uint64_t v) { write_at(pos, v, int(word())); }
    void write_at(size_t pos, uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out_[pos + size_t(i)] = uint8_t(v >> (8 * (le_ ? i : n - 1 - i)));
    }

    bool le_;
    bool big_;
    std::vector<uint8_t> out_;
};

// The usual fields of an uncompressed strip image.
inline std::vector<Field> image(uint32_t w, uint32_t h, uint32_t bps, uint32_t spp, uint32_t photometric,
                                uint32_t compression = 1) {
    return {{256, LONG, {w}},          {257, LONG, {h}},   {258, SHORT, {bps}},
            {259, SHORT, {compression}}, {262, SHORT, {photometric}}, {277, SHORT, {spp}}};
}

}  // namespace tiff_builder
