// Deflate encoder throughput: ours against zlib level 1 on the same page, interleaved runs (A B A B
// ...), the median of the per-pair time ratios; output size against zlib levels 1 and 6. "ours"
// is flate::compress_zlib as the writer uses it (two threads for a page of a megabyte or more),
// "1 thread" is flate::deflate_raw plus flate::adler32 on one thread.
// Usage: deflate_bench [PAIRS] TIFF... (each file's first page, as our reader decodes it).
#include "imaging/deflate.h"
#include "imaging/tiff_reader.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes zlib_compress(const Bytes& in, int level) {
    uLongf n = compressBound(uLong(in.size()));
    Bytes out(n);
    if (compress2(out.data(), &n, in.data(), uLong(in.size()), level) != Z_OK) std::exit(2);
    out.resize(n);
    return out;
}

template <class F>
double seconds(F&& f, size_t& size) {
    const auto t0 = Clock::now();
    size = f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1, pairs = 7;
    if (argc > 1 && std::string(argv[1]).find_first_not_of("0123456789") == std::string::npos) {
        pairs = std::atoi(argv[1]);
        first = 2;
    }
    std::printf("%-36s %7s %9s %9s %9s %7s %9s %8s %8s %8s\n", "page", "MB", "ours MB/s", "1 thread", "z1 MB/s",
                "speed", "1t speed", "ours MB", "z6 MB", "size/z6");
    for (int a = first; a < argc; ++a) {
        std::ifstream f(argv[a], std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        tiff::Reader reader;
        std::vector<tiff::Page> pages = reader.read(file.data(), file.size());
        if (pages.empty()) return 1;
        const Bytes& in = pages[0].data;
        std::vector<double> ratios, ratios1, ours_t, one_t, z1_t;
        size_t ours_size = 0, one_size = 0, z1_size = 0;
        for (int p = 0; p < pairs; ++p) {
            const double t_ours = seconds([&] { return flate::compress_zlib(in.data(), in.size()).size(); }, ours_size);
            const double t_z1 = seconds([&] { return zlib_compress(in, 1).size(); }, z1_size);
            const double t_one = seconds([&] {
                const size_t n = flate::deflate_raw(in.data(), in.size()).size();
                return n + (flate::adler32(1, in.data(), in.size()) & 1);
            }, one_size);
            ratios.push_back(t_z1 / t_ours);  // above 1: ours is faster
            ratios1.push_back(t_z1 / t_one);
            ours_t.push_back(t_ours);
            one_t.push_back(t_one);
            z1_t.push_back(t_z1);
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        const size_t z6_size = zlib_compress(in, 6).size();
        const double mb = double(in.size()) / 1e6;
        std::string name = argv[a];
        name = name.substr(name.find_last_of('/') + 1);
        std::printf("%-36s %7.1f %9.1f %9.1f %9.1f %7.2f %9.2f %8.2f %8.2f %8.3f\n", name.c_str(), mb,
                    mb / median(ours_t), mb / median(one_t), mb / median(z1_t), median(ratios), median(ratios1),
                    double(ours_size) / 1e6, double(z6_size) / 1e6, double(ours_size) / double(z6_size));
    }
    return 0;
}
