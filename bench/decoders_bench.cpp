// Decoder throughput against the reference implementations, on the same data in one process:
//   inflate    ours against zlib's inflate (raw deflate made by zlib at level 6);
//   lzw, g3, g3-2d, g4   ours decoding every strip of a file (raw strips read once, beforehand)
//              against libtiff's TIFFReadEncodedStrip of every strip of the same open file.
// Usage: decoders_bench DIR [benchmark flags], DIR holding the files scripts/bench-decoders makes:
// fax_none.tif fax_g3.tif fax_g3_2d.tif fax_g4.tif fax_lzw.tif photo_none.tif photo_lzw.tif.
// Throughput is counted in decoded bytes. Both sides decode into buffers kept between runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/libtiff_strips.h"
#include "imaging/ccitt.h"
#include "imaging/inflate.h"
#include "imaging/lzw.h"
#include "tests/imaging/zlib_oracle.h"

namespace {

using Bytes = std::vector<uint8_t>;
using StripFile = libtiff_strips::File;

// TIFF compression numbers.
constexpr uint16_t CCITT_T4 = 3, CCITT_T6 = 4, LZW = 5;

size_t ours(const StripFile& f, Bytes& out) {
    out.clear();
    const int width = int(f.width);
    for (size_t i = 0; i < f.strips.size(); ++i) {
        const Bytes& s = f.strips[i];
        const int rows = int(std::min<uint32_t>(f.rows_per_strip, f.height - uint32_t(i) * f.rows_per_strip));
        switch (f.compression) {
            case CCITT_T4:
                ccitt::decode_group3(s.data(), s.size(), width, rows, f.t4_options & 1, false, out);
                break;
            case CCITT_T6: ccitt::decode_group4(s.data(), s.size(), width, rows, out); break;
            case LZW: tiff::decode_lzw(s.data(), s.size(), SIZE_MAX, out); break;
            default: throw std::runtime_error("unexpected compression");
        }
    }
    return out.size();
}

size_t libtiff(const StripFile& f, Bytes& out) { return libtiff_strips::decode_all(f, out); }

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: decoders_bench DIR [benchmark flags]\n");
        return 2;
    }
    const std::string dir = argv[1];
    struct Coded {
        const char* name;
        const char* file;
    };
    const Coded coded[] = {{"g3", "fax_g3.tif"}, {"g3-2d", "fax_g3_2d.tif"}, {"g4", "fax_g4.tif"},
                           {"lzw-fax", "fax_lzw.tif"}, {"lzw-photo", "photo_lzw.tif"}};
    static std::vector<StripFile> files;
    files.reserve(std::size(coded));
    for (const Coded& c : coded) {
        files.push_back(libtiff_strips::open(dir + "/" + c.file));
        const StripFile* f = &files.back();
        Bytes a, b;
        if (ours(*f, a) != f->decoded_bytes || libtiff(*f, b) != f->decoded_bytes || a != b) {
            std::fprintf(stderr, "%s: ours and libtiff disagree\n", c.file);
            return 1;
        }
        benchmark::RegisterBenchmark((std::string("ours/") + c.name).c_str(), [f](benchmark::State& state) {
            Bytes out;
            for (auto _ : state) benchmark::DoNotOptimize(ours(*f, out));
            state.SetBytesProcessed(int64_t(state.iterations() * f->decoded_bytes));
        });
        benchmark::RegisterBenchmark((std::string("libtiff/") + c.name).c_str(), [f](benchmark::State& state) {
            Bytes out;
            for (auto _ : state) benchmark::DoNotOptimize(libtiff(*f, out));
            state.SetBytesProcessed(int64_t(state.iterations() * f->decoded_bytes));
        });
    }

    // Deflate: the photo and the fax page, uncompressed, one after the other, at zlib's level 6.
    static Bytes plain;
    for (const char* name : {"photo_none.tif", "fax_none.tif"}) {
        StripFile f = libtiff_strips::open(dir + "/" + name);
        for (const Bytes& s : f.strips) plain.insert(plain.end(), s.begin(), s.end());
        libtiff_strips::close(f);
    }
    static Bytes packed = zlib_oracle::deflate_raw(plain);
    if (inflate::inflate_raw(packed.data(), packed.size()) != plain) {
        std::fprintf(stderr, "inflate does not round-trip\n");
        return 1;
    }
    benchmark::RegisterBenchmark("ours/inflate", [](benchmark::State& state) {
        Bytes out;
        for (auto _ : state) {
            out.clear();
            inflate::inflate_raw(packed.data(), packed.size(), SIZE_MAX, out);
            benchmark::DoNotOptimize(out.data());
        }
        state.SetBytesProcessed(int64_t(state.iterations() * plain.size()));
    });
    benchmark::RegisterBenchmark("zlib/inflate", [](benchmark::State& state) {
        Bytes out(plain.size());
        for (auto _ : state) benchmark::DoNotOptimize(zlib_oracle::inflate_raw(packed.data(), packed.size(), out));
        state.SetBytesProcessed(int64_t(state.iterations() * plain.size()));
    });

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (StripFile& f : files) libtiff_strips::close(f);
    return 0;
}
