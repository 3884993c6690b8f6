// Hand-made TIFF files for the tests: each page is a list of fields plus its strips, laid out as
// header, strip data, then the directories, in either byte order, classic or BigTIFF.
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
        out_.assign({uint8_t(le_ ? 'I' : 'M'), uint8_t(le_ ? 'I' : 'M')});
        put(big_ ? 43 : 42, 2);
        if (big_) put(uint64_t(8) << (le_ ? 0 : 16), 4);  // offset size 8, then a reserved 0
        size_t next_slot = out_.size();
        put(0, word());
        for (const PageSpec& page : pages) {
            std::vector<Field> fields = page.fields;
            if (!page.strips.empty()) {
                Field offsets{273, uint16_t(big_ ? LONG8 : LONG), {}}, counts{279, LONG, {}};
                for (const auto& s : page.strips) {
                    offsets.values.push_back(out_.size());
                    counts.values.push_back(s.size());
                    out_.insert(out_.end(), s.begin(), s.end());
                }
                fields.push_back(offsets);
                fields.push_back(counts);
            }
            // Values that do not fit in the entry go before the directory.
            std::vector<uint64_t> value_at;
            for (const Field& f : fields) {
                const bool outside = size_of(f.type) * count_of(f) > word();
                if (outside && out_.size() % 2) out_.push_back(0);
                value_at.push_back(outside ? out_.size() : 0);
                if (outside) put_values(f);
            }
            if (out_.size() % 2) out_.push_back(0);
            write_at(next_slot, out_.size(), word());
            put(fields.size(), big_ ? 8 : 2);
            for (size_t i = 0; i < fields.size(); ++i) {
                put(fields[i].tag, 2);
                put(fields[i].type, 2);
                put(count_of(fields[i]), word());
                const size_t start = out_.size();
                if (value_at[i]) put(value_at[i], word());
                else put_values(fields[i]);
                out_.resize(start + word(), 0);
            }
            next_slot = out_.size();
            put(0, word());
        }
        return out_;
    }

private:
    size_t word() const { return big_ ? 8 : 4; }  // counts and offsets: 4 bytes, BigTIFF 8
    static size_t size_of(uint16_t type) {
        return type == SHORT ? 2 : type == LONG ? 4 : type == RATIONAL || type == LONG8 ? 8 : 1;
    }
    static size_t count_of(const Field& f) { return f.type == RATIONAL ? f.values.size() / 2 : f.values.size(); }
    void put_values(const Field& f) {
        for (uint64_t v : f.values) put(v, f.type == RATIONAL ? 4 : size_of(f.type));
    }
    void put(uint64_t v, size_t n) {
        out_.resize(out_.size() + n);
        write_at(out_.size() - n, v, n);
    }
    void write_at(size_t pos, uint64_t v, size_t n) {
        for (size_t i = 0; i < n; ++i) out_[pos + i] = uint8_t(v >> (8 * (le_ ? i : n - 1 - i)));
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
