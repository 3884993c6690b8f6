// The plain conversion of one TIFF (pdf::convert_tiff_to_pdf with default options), for
// scripts/bench-convert: `dorvane convert` writes compact PDFs of files whose plain PDF would pass
// the upload limit, and this is the same decode-and-write work as `tiffcp -c none` for those.
// Usage: convert_plain IN.tif OUT.pdf
#include <cstdio>
#include <string>

#include "imaging/pdf_writer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: convert_plain IN.tif OUT.pdf\n");
        return 2;
    }
    std::string error;
    if (pdf::convert_tiff_to_pdf(argv[1], argv[2], error)) return 0;
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
}
