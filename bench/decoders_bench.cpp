// Decoder throughput against the reference implementations, on the same data in one run:
//   inflate    ours against zlib's inflate (raw deflate made by zlib at level 6);
//   lzw, g3, g3-2d, g4   ours (every strip of the file) against libtiff, measured as a
//              `tiffcp -c none` of the file minus a `tiffcp -c none` of the same image stored
//              uncompressed (process start, file reading and writing).
// Usage: decoders_bench DIR [benchmark flags], DIR holding the files scripts/bench-decoders makes:
// fax_none.tif fax_g3.tif fax_g3_2d.tif fax_g4.tif fax_lzw.tif photo_none.tif photo_lzw.tif.
// Throughput is counted in decoded bytes.
#include "imaging/ccitt.h"
#include "imaging/inflate.h"
#include "imaging/lzw.h"

#include "tests/imaging/tiff_oracle.h"
#include "tests/imaging/zlib_oracle.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct StripFile {
    std::string path;
    tiff_oracle::Directory dir;
    std::vector<Bytes> strips;
    size_t decoded_bytes = 0;
};

StripFile load(const std::string& path) {
    StripFile f;
    f.path = path;
    f.dir = tiff_oracle::describe(path);
    f.strips = tiff_oracle::strips(path, f.dir);
    f.decoded_bytes = f.dir.row_bytes() * f.dir.height();
    return f;
}

size_t decode_all(const StripFile& f) {
    size_t total = 0;
    const int width = static_cast<int>(f.dir.width());
    for (size_t i = 0; i < f.strips.size(); ++i) {
        const Bytes& s = f.strips[i];
        const int rows = static_cast<int>(f.dir.rows_in_strip(i));
        Bytes out;
        switch (f.dir.compression()) {
            case 3: out = ccitt::decode_group3(s.data(), s.size(), width, rows, f.dir.t4_options() & 1); break;
            case 4: out = ccitt::decode_group4(s.data(), s.size(), width, rows); break;
            case 5: out = tiff::decode_lzw(s.data(), s.size()); break;
            default: throw std::runtime_error("unexpected compression in " + f.path);
        }
        total += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    return total;
}

void tiffcp_none(benchmark::State& state, const std::string& in, const std::string& out, size_t bytes) {
    const std::string cmd = "tiffcp -c none '" + in + "' '" + out + "'";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError("tiffcp failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: decoders_bench DIR [benchmark flags]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string scratch = dir + "/scratch.tif";

    struct Coded {
        const char* name;
        const char* file;
        const char* uncompressed;
    };
    const Coded coded[] = {
        {"g3", "fax_g3.tif", "fax_none.tif"},   {"g3-2d", "fax_g3_2d.tif", "fax_none.tif"},
        {"g4", "fax_g4.tif", "fax_none.tif"},   {"lzw-fax", "fax_lzw.tif", "fax_none.tif"},
        {"lzw-photo", "photo_lzw.tif", "photo_none.tif"},
    };
    static std::vector<StripFile> files;
    files.reserve(std::size(coded));
    for (const Coded& c : coded) {
        files.push_back(load(dir + "/" + c.file));
        const StripFile* f = &files.back();
        if (decode_all(*f) != f->decoded_bytes) {
            std::fprintf(stderr, "%s does not decode to its size\n", c.file);
            return 1;
        }
        benchmark::RegisterBenchmark((std::string("ours/") + c.name).c_str(), [f](benchmark::State& state) {
            for (auto _ : state) benchmark::DoNotOptimize(decode_all(*f));
            state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f->decoded_bytes));
        });
        const std::string in = f->path;
        const size_t bytes = f->decoded_bytes;
        benchmark::RegisterBenchmark((std::string("libtiff/") + c.name).c_str(),
                                     [in, scratch, bytes](benchmark::State& state) {
                                         tiffcp_none(state, in, scratch, bytes);
                                     })
            ->UseRealTime();
        const std::string raw = dir + "/" + c.uncompressed;
        benchmark::RegisterBenchmark((std::string("libtiff-overhead/") + c.name).c_str(),
                                     [raw, scratch, bytes](benchmark::State& state) {
                                         tiffcp_none(state, raw, scratch, bytes);
                                     })
            ->UseRealTime();
    }

    // Deflate: the photo and the fax page, uncompressed, one after the other, at zlib's level 6.
    static Bytes plain;
    for (const char* name : {"photo_none.tif", "fax_none.tif"}) {
        StripFile f = load(dir + "/" + name);
        for (const Bytes& s : f.strips) plain.insert(plain.end(), s.begin(), s.end());
    }
    static Bytes packed = zlib_oracle::deflate_raw(plain);
    if (inflate::inflate_raw(packed.data(), packed.size()) != plain) {
        std::fprintf(stderr, "inflate does not round-trip\n");
        return 1;
    }
    benchmark::RegisterBenchmark("ours/inflate", [](benchmark::State& state) {
        for (auto _ : state) benchmark::DoNotOptimize(inflate::inflate_raw(packed.data(), packed.size()).data());
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
    });
    benchmark::RegisterBenchmark("zlib/inflate", [](benchmark::State& state) {
        Bytes out(plain.size());
        for (auto _ : state) benchmark::DoNotOptimize(zlib_oracle::inflate_raw(packed.data(), packed.size(), out));
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
    });

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(scratch.c_str());
    return 0;
}
