// The table-driven decoders against the bit-serial ones they replaced (reference/): every file of
// the test corpora, and damaged copies of each, must convert to the same PDF bytes or fail with
// the same message. The new side is the real conversion (page-at-a-time reading, streamed file);
// the reference side reads every page at once and builds the PDF in memory.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/text.h"
#include "imaging/pdf_writer.h"
#include "imaging/tiff_reader.h"
#include "reference/reference_decoders.h"
#include "support/support.h"

namespace {

using Bytes = std::vector<uint8_t>;

tiff::StripDecoders reference_decoders() {
    tiff::StripDecoders d;
    d.lzw = [](const uint8_t* in, size_t n, size_t max_out, std::vector<uint8_t>& out) {
        const Bytes s = reference::tiff::decode_lzw(in, n, max_out);
        out.insert(out.end(), s.begin(), s.end());
    };
    d.inflate = [](const uint8_t* in, size_t n, size_t max_out, std::vector<uint8_t>& out) {
        const Bytes s = reference::inflate::inflate_raw(in, n, max_out);
        out.insert(out.end(), s.begin(), s.end());
    };
    d.group3 = [](const uint8_t* in, size_t n, int w, int rows, bool two_d, bool aligned, std::vector<uint8_t>& out) {
        const Bytes s = reference::ccitt::decode_group3(in, n, w, rows, two_d, aligned);
        out.insert(out.end(), s.begin(), s.end());
    };
    d.group4 = [](const uint8_t* in, size_t n, int w, int rows, std::vector<uint8_t>& out) {
        const Bytes s = reference::ccitt::decode_group4(in, n, w, rows);
        out.insert(out.end(), s.begin(), s.end());
    };
    return d;
}

// "pdf:" + the PDF's bytes, or "error:" + the message.
std::string with_reference(const Bytes& file) {
    try {
        tiff::Reader r;
        r.decoders = reference_decoders();
        const std::vector<tiff::Page> pages = r.read(file.data(), file.size());
        if (pages.empty()) return "error:No readable pages in TIFF";
        const Bytes pdf = pdf::Writer().build(pages);
        if (pdf.empty()) return "error:Failed to write PDF";
        return "pdf:" + std::string(pdf.begin(), pdf.end());
    } catch (const std::exception& e) {
        return std::string("error:") + e.what();
    }
}

std::string converted(const testing_support::TempDir& dir, const Bytes& file) {
    const std::string in = dir.file("in.tif"), out = dir.file("out.pdf");
    testing_support::write_bytes(in, file);
    std::remove(out.c_str());
    std::string error;
    if (!pdf::convert_tiff_to_pdf(in, out, error)) return "error:" + error;
    const Bytes pdf = testing_support::read_bytes(out);
    return "pdf:" + std::string(pdf.begin(), pdf.end());
}

// The file and damaged copies: cut short at several places, and with bytes changed in the
// second half, where the strips usually are.
std::vector<Bytes> variants(const Bytes& file) {
    std::vector<Bytes> out = {file};
    for (size_t cut : {file.size() * 3 / 4, file.size() / 2 + 7})
        if (cut > 8 && cut < file.size()) out.emplace_back(file.begin(), file.begin() + long(cut));
    for (unsigned seed = 1; seed <= 3; ++seed) {
        Bytes damaged = file;
        for (unsigned k = 0; k < 4 * seed && damaged.size() > 16; ++k) {
            const size_t at = damaged.size() / 2 + (seed * 7919u + k * 104729u) % (damaged.size() / 2);
            damaged[at] = uint8_t(damaged[at] ^ (0x5A + seed + k));
        }
        out.push_back(damaged);
    }
    return out;
}

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && (name.substr(name.size() - 4) == ".tif" || name.substr(name.size() - 5) == ".tiff"))
                names.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    return names;
}

int sh(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(DecodersAgainstReference, CorporaConvertToTheSameBytes) {
    testing_support::TempDir dir, corpus, orientation;
    const std::string scripts = std::string(DORVANE_SOURCE_DIR) + "/tests/imaging/";
    ASSERT_EQ(sh("/usr/bin/python3 '" + scripts + "tiff_corpus.py' make '" + corpus.path() + "'"), 0);
    ASSERT_EQ(sh("/usr/bin/python3 '" + scripts + "orientation_oracle.py' make '" + orientation.path() + "'"), 0);
    std::vector<std::string> files = files_in(corpus.path());
    for (const auto& f : files_in(orientation.path())) files.push_back(f);
    for (const auto& f : files_in(std::string(DORVANE_SOURCE_DIR) + "/fuzz/corpus/tiff")) files.push_back(f);
    ASSERT_GT(files.size(), 80u);
    size_t pdfs = 0, errors = 0;
    for (const std::string& path : files) {
        const std::vector<Bytes> all = variants(text::read_all(path));
        for (size_t v = 0; v < all.size(); ++v) {
            SCOPED_TRACE(path + " variant " + std::to_string(v));
            const std::string want = with_reference(all[v]);
            const std::string got = converted(dir, all[v]);
            EXPECT_EQ(got.substr(0, 200), want.substr(0, 200));
            EXPECT_TRUE(got == want) << "PDFs differ (" << got.size() << " and " << want.size() << " bytes)";
            (want.compare(0, 4, "pdf:") == 0 ? pdfs : errors)++;
        }
    }
    std::printf("%zu files: %zu PDFs, %zu refusals compared\n", files.size(), pdfs, errors);
}
