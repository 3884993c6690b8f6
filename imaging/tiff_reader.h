// TIFF container reader (TIFF 6.0 baseline plus the compressions scanners and fax machines use):
// turns a file held in memory into page images. Failure style: throws std::runtime_error with a
// message for the operator; decoder errors pass through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tiff {

enum class PageKind : int32_t { Rgb = 0, Gray = 1, Bilevel = 2, Jpeg = 3 };

struct Page {
    uint32_t width = 0;
    uint32_t height = 0;
    PageKind kind = PageKind::Rgb;
    std::vector<uint8_t> data;
    // Horizontal / vertical resolution ratio (XResolution / YResolution); 1 when the tags are
    // missing or equal. The PDF writer scales the page height by it to keep the aspect ratio.
    double aspect = 1.0;
};

class Reader {
public:
    struct Tag {
        uint16_t tag = 0;
        uint16_t type = 0;
        uint32_t count = 0;
        uint32_t value = 0;
        uint64_t value_pos = 0;
    };
    struct IFD {
        std::vector<Tag> tags;
        uint32_t next = 0;
    };

    std::vector<Page> read(const uint8_t* data, size_t size);

    IFD read_ifd(uint32_t offset) const;
    uint32_t get_value(const IFD& ifd, uint16_t tag, uint32_t def) const;
    std::vector<uint32_t> read_offsets(const Tag& tag) const;
    std::vector<std::vector<uint8_t>> read_strip_list(const IFD& ifd, uint16_t offsets_tag,
                                                      uint16_t counts_tag) const;
    uint32_t u32(uint64_t pos) const;

    const uint8_t* data = nullptr;
    size_t size = 0;
    bool little_endian = true;
};

}  // namespace tiff
