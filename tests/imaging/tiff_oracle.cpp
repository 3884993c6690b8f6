#include "tiff_oracle.h"

#include "support/process.h"
#include "support/support.h"
#include "tiff_builder.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tiff_oracle {

uint32_t Directory::value(int tag, uint32_t fallback) const {
    auto it = tags.find(tag);
    return it == tags.end() || it->second.empty() ? fallback : uint32_t(it->second.front());
}

uint32_t Directory::rows_in_strip(size_t i) const {
    uint64_t rps = value(278, height());
    if (rps == 0 || rps > height()) rps = height();
    const uint64_t start = i * rps;
    return start >= height() ? 0 : uint32_t(std::min<uint64_t>(height() - start, rps));
}

bool tools_available() {
    return std::ifstream("/usr/bin/tiffcp").good() && std::ifstream("/usr/bin/tiffdump").good() &&
           std::ifstream("/usr/bin/fax2tiff").good() &&
           testing_support::run_program({"/usr/bin/python3", "-c", "import PIL"}).exit_code == 0;
}

std::string run(const std::vector<std::string>& argv) {
    const testing_support::RunResult r = testing_support::run_program(argv, {}, 600);
    if (r.exit_code != 0) throw std::runtime_error("failed: " + argv[0] + " " + argv.back() + "\n" + r.out + r.err);
    return r.out;
}

// tiffdump prints one line per entry, e.g. "StripOffsets (273) LONG (4) 3<8 1032 2056>"; with
// -m it prints every value instead of the first few.
Directory describe(const std::string& path) {
    std::istringstream lines(run({"/usr/bin/tiffdump", "-m", "100000000", path}));
    Directory dir;
    int directories = 0;
    for (std::string line; std::getline(lines, line) && directories < 2;) {
        if (line.rfind("Directory ", 0) == 0) ++directories;
        const size_t open = line.find(" ("), lt = line.find('<'), gt = line.rfind('>');
        if (directories != 1 || open == std::string::npos || lt == std::string::npos || gt == std::string::npos ||
            line.find("ASCII") != std::string::npos)
            continue;
        std::istringstream values(line.substr(lt + 1, gt - lt - 1));
        std::vector<uint64_t>& v = dir.tags[std::stoi(line.substr(open + 2))];
        for (std::string word; values >> word;) v.push_back(std::stoull(word, nullptr, 0));
    }
    if (dir.tags.empty()) throw std::runtime_error("tiffdump found no directory in " + path);
    return dir;
}

std::vector<std::vector<uint8_t>> strips(const std::string& path, const Directory& dir) {
    const std::vector<uint8_t> file = testing_support::read_bytes(path);
    const auto &offsets = dir.tags.at(273), &counts = dir.tags.at(279);
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = 0; i < offsets.size(); ++i) {
        if (offsets[i] + counts.at(i) > file.size()) throw std::runtime_error("strip outside " + path);
        out.emplace_back(file.begin() + long(offsets[i]), file.begin() + long(offsets[i] + counts[i]));
    }
    return out;
}

std::vector<uint8_t> libtiff_pixels(const std::string& path, const std::string& work) {
    run({"/usr/bin/tiffcp", "-f", "msb2lsb", "-c", "none", path, work});
    const Directory dir = describe(work);
    if (dir.value(259, 1) != 1 || dir.value(266, 1) != 1) throw std::runtime_error("tiffcp did not write plain MSB-first data");
    std::vector<uint8_t> pixels;
    for (const auto& s : strips(work, dir)) pixels.insert(pixels.end(), s.begin(), s.end());
    return pixels;
}

void write_uncompressed(const std::string& path, uint32_t width, uint32_t height, uint16_t bits_per_sample,
                        uint16_t samples_per_pixel, uint16_t photometric, const std::vector<uint8_t>& pixels,
                        uint16_t compression) {
    using namespace tiff_builder;
    testing_support::write_bytes(
        path, Builder().build({{image(width, height, bits_per_sample, samples_per_pixel, photometric, compression), {pixels}}}));
}

}  // namespace tiff_oracle
