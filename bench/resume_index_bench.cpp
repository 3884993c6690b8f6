// The resume index over a results folder holding 100,000 earlier records (100 files of 1,000
// lines, as a few months of batches leave them): time to read and index the whole folder, the
// median of several runs. Records look like the real ones: a service answer, the fingerprint,
// one line in five a failure.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "core/sha256.h"
#include "service/resume_index.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "uso: resume_index_bench PASTA [ARQUIVOS] [LINHAS] [RODADAS]\n");
        return 2;
    }
    const std::string base = argv[1];
    const int files = argc > 2 ? std::atoi(argv[2]) : 100;
    const int lines = argc > 3 ? std::atoi(argv[3]) : 1000;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 7;
    const std::string folder = dorvane::results_folder_for(base);
    fileutils::create_directory(folder);

    size_t bytes = 0;
    for (int f = 0; f < files; ++f) {
        char name[64];
        std::snprintf(name, sizeof name, "resultados_2024%04d_120000.jsonl", f);
        std::ofstream out(fileutils::join(folder, name), std::ios::binary);
        for (int l = 0; l < lines; ++l) {
            const int n = f * lines + l;
            const std::string id = "3f2c9a7e-1b4d-4c8e-9a6f-" + std::to_string(100000000000 + n);
            const std::string digest = sha256::hex(std::to_string(n));
            const bool ok = n % 5 != 0;
            std::string rec = "{\"attempts\":1,";
            if (!ok) rec += "\"error\":\"HTTP 422 — Falha simulada no processamento de doc.pdf\",";
            rec += "\"file\":\"C:\\\\Users\\\\operador\\\\Documentos\\\\lote\\\\documento_" + std::to_string(n) +
                   ".pdf\",\"response\":{\"creditsRemaining\":" + std::to_string(900000 - n) +
                   ",\"status\":\"pending\",\"taskId\":\"" + id + "\"},\"status\":\"" + (ok ? "pending" : "failed") +
                   "\",\"success\":" + (ok ? "true" : "false") + ",\"taskId\":\"" + id +
                   "\",\"operation\":\"ocr\",\"size\":" + std::to_string(20000 + n) + ",\"sha256\":\"" + digest +
                   "\",\"sentAt\":\"2024-01-31T14:25:01\"}\n";
            bytes += rec.size();
            out << rec;
        }
    }

    std::vector<double> ms;
    size_t indexed = 0;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        dorvane::ResumeIndex index;
        index.add_folder(folder);
        indexed = index.size();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("records %d (%zu successful, indexed), %.1f MB in %d files\n", files * lines, indexed,
                bytes / 1048576.0, files);
    std::printf("index: median %.1f ms, best %.1f ms, worst %.1f ms over %d runs (goal: under 1000 ms)\n",
                ms[ms.size() / 2], ms.front(), ms.back(), runs);
    return 0;
}
