#include "tiff_oracle.h"

#include "support/support.h"
#include "tiff_builder.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace tiff_oracle {

uint64_t Directory::value(int tag, uint64_t fallback) const {
    auto it = tags.find(tag);
    if (it == tags.end() || it->second.empty()) return fallback;
    return it->second.front();
}

uint32_t Directory::rows_per_strip() const {
    uint64_t rps = value(278, height());
    if (rps == 0 || rps > height()) rps = height();
    return static_cast<uint32_t>(rps);
}

size_t Directory::row_bytes() const {
    return (static_cast<size_t>(width()) * samples_per_pixel() * bits_per_sample() + 7) / 8;
}

uint32_t Directory::rows_in_strip(size_t i) const {
    uint64_t start = static_cast<uint64_t>(i) * rows_per_strip();
    if (start >= height()) return 0;
    uint64_t left = height() - start;
    return static_cast<uint32_t>(left < rows_per_strip() ? left : rows_per_strip());
}

namespace {

std::string capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    int status = pclose(pipe);
    if (status != 0) throw std::runtime_error("command failed: " + command + "\n" + out);
    return out;
}

}  // namespace

bool tools_available() {
    return std::system("command -v tiffcp >/dev/null && command -v tiffdump >/dev/null && "
                       "command -v fax2tiff >/dev/null && "
                       "/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
}

void run(const std::string& command) { capture(command); }

std::string quote(const std::string& path) {
    std::string q = "'";
    for (char c : path) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

// tiffdump prints one line per entry, e.g. "StripOffsets (273) LONG (4) 3<8 1032 2056>"; with
// -m it prints every value instead of the first few.
Directory describe(const std::string& path) {
    std::istringstream lines(capture("tiffdump -m 100000000 " + quote(path)));
    Directory dir;
    std::string line;
    bool in_first = false;
    while (std::getline(lines, line)) {
        if (line.rfind("Directory ", 0) == 0) {
            if (in_first) break;
            in_first = true;
            continue;
        }
        if (!in_first) continue;
        size_t open = line.find(" (");
        size_t lt = line.find('<');
        size_t gt = line.rfind('>');
        if (open == std::string::npos || lt == std::string::npos || gt == std::string::npos) continue;
        int tag = std::atoi(line.c_str() + open + 2);
        if (line.find("ASCII") != std::string::npos) continue;
        std::istringstream values(line.substr(lt + 1, gt - lt - 1));
        std::vector<uint64_t> v;
        std::string word;
        while (values >> word) v.push_back(std::strtoull(word.c_str(), nullptr, 0));
        dir.tags[tag] = v;
    }
    if (dir.tags.empty()) throw std::runtime_error("tiffdump found no directory in " + path);
    return dir;
}

std::vector<std::vector<uint8_t>> strips(const std::string& path, const Directory& dir) {
    std::vector<uint8_t> file = testing_support::read_bytes(path);
    const auto& offsets = dir.tags.at(273);
    const auto& counts = dir.tags.at(279);
    if (offsets.size() != counts.size()) throw std::runtime_error("strip tags disagree in " + path);
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = 0; i < offsets.size(); ++i) {
        if (offsets[i] + counts[i] > file.size()) throw std::runtime_error("strip outside " + path);
        out.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(offsets[i]),
                         file.begin() + static_cast<std::ptrdiff_t>(offsets[i] + counts[i]));
    }
    return out;
}

std::vector<uint8_t> libtiff_pixels(const std::string& path, const std::string& work) {
    run("tiffcp -f msb2lsb -c none " + quote(path) + " " + quote(work));
    Directory dir = describe(work);
    if (dir.compression() != 1 || dir.fill_order() != 1) {
        throw std::runtime_error("tiffcp did not write plain MSB-first data");
    }
    std::vector<uint8_t> pixels;
    for (const auto& s : strips(work, dir)) pixels.insert(pixels.end(), s.begin(), s.end());
    return pixels;
}

void write_uncompressed(const std::string& path, uint32_t width, uint32_t height,
                        uint16_t bits_per_sample, uint16_t samples_per_pixel, uint16_t photometric,
                        const std::vector<uint8_t>& pixels) {
    using namespace tiff_builder;
    testing_support::write_bytes(
        path, Builder().build({{image(width, height, bits_per_sample, samples_per_pixel, photometric), {pixels}}}));
}

std::vector<uint8_t> reverse_bits(std::vector<uint8_t> bytes) {
    for (auto& v : bytes) {
        uint8_t r = 0;
        for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((v >> i) & 1) << (7 - i)));
        v = r;
    }
    return bytes;
}

}  // namespace tiff_oracle
