// The folder conversion behind "Converter TIFFs" and `dorvane convert FOLDER`: each TIFF of a
// folder becomes a PDF in the folder's "dorvane_converted" folder, files that only carry a TIFF
// extension are refused, and PDFs left by an earlier run are reused unless the TIFF is newer. The window's worker and the
// command line drive the same loop through callbacks, so both show the same lines.
//
// Failure style: nothing throws; every file ends as converted, reused, not a TIFF or failed, and
// the failures are told through the log callback.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace dorvane {

struct ConvertCallbacks {
    std::function<void(const std::string&)> log;           // one activity-log line, no time stamp
    std::function<void(const std::string&)> status;        // the status line
    std::function<void(size_t done, size_t total)> progress;
    std::function<void(const std::string&)> add_file;      // a PDF ready to send
};

struct ConvertSummary {
    int converted = 0;
    int already_converted = 0;
    int not_tiff = 0;
    int failed = 0;
};

// Sorted ".tif"/".tiff" files of the folder and its direct subfolders (never the output folders).
std::vector<std::string> find_tiffs(const std::string& folder);

// The file name without its folder, everything from its last dot removed, plus ".pdf".
std::string converted_pdf_name(const std::string& tiff_path);

// "Nenhum arquivo TIFF encontrado em:\n" + folder
std::string no_tiff_message(const std::string& folder);
// "Convertendo N TIFF(s) para PDF..."
std::string convert_start_line(size_t tiff_count);

// "[PULADO] NAME — na verdade é FORMAT, não TIFF." when the file only carries a TIFF extension and
// its content is PDF, PNG, JPEG or BMP; empty for a TIFF and for content that is not recognised
// (the converter names that fault).
std::string not_tiff_line(const std::string& path);

// True when the PDF converted earlier from this TIFF can be reused: it is not empty and the TIFF
// was not written after it.
bool is_fresh_pdf(const std::string& tiff_path, const std::string& pdf_path);

// Converts the files one by one into folder + separator + fileutils::CONVERTED_FOLDER (created first; a
// failure there shows up as failed conversions). Calls progress (i, N) before file i and (N, N)
// at the end; add_file for every PDF converted or reused. Every callback may be empty.
// `compact`: every file is written compact (`dorvane convert --compact`). Otherwise a file whose
// default PDF would pass the upload limit is written compact, so that it can still be sent.
ConvertSummary convert_tiffs(const std::vector<std::string>& tiffs, const std::string& folder,
                             const ConvertCallbacks& callbacks, bool compact = false);

// Converts one TIFF the same way (compact when asked or when the default PDF would pass the
// upload limit); on success `line` is the "[OK]" line, on failure the "[ERRO]" line.
bool convert_one_tiff(const std::string& tiff_path, const std::string& pdf_path, bool compact,
                      std::string& line);

// The closing lines: the reused, not-TIFF and "[AVISO]" failure counts when above 0, then always
// "[FIM] C convertido(s) — M arquivo(s) prontos para envio.", where M is `files_ready` (the size
// of the file list after the run).
std::vector<std::string> convert_summary_lines(const ConvertSummary& summary, size_t files_ready);
// M + " arquivo(s) pronto(s)"
std::string convert_finished_status(size_t files_ready);

}  // namespace dorvane
