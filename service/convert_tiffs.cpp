#include "service/convert_tiffs.h"

#include <cstdint>

#include "core/fileutils.h"
#include "files/scan.h"
#include "imaging/pdf_writer.h"
#include "service/batch_uploader.h"

namespace dorvane {

std::vector<std::string> find_tiffs(const std::string& folder) {
    return fileutils::scan_directory(folder, fileutils::TIFF_EXTENSIONS, 1);
}

std::string converted_pdf_name(const std::string& tiff_path) {
    std::string name = fileutils::base_name(tiff_path);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name + ".pdf";
}

std::string no_tiff_message(const std::string& folder) {
    return "Nenhum arquivo TIFF encontrado em:\n" + folder;
}

std::string convert_start_line(size_t tiff_count) {
    return "Convertendo " + std::to_string(tiff_count) + " TIFF(s) para PDF...";
}

std::string not_tiff_line(const std::string& path) {
    const fileutils::FileFormat format = fileutils::detect_format(path);
    if (format == fileutils::FileFormat::Pdf || format == fileutils::FileFormat::Png ||
        format == fileutils::FileFormat::Jpeg || format == fileutils::FileFormat::Bmp) {
        return "[PULADO] " + fileutils::base_name(path) + " — na verdade é " + fileutils::format_name(format) +
               ", não TIFF.";
    }
    // Unknown content (an unreadable file, say) goes to the converter, which names the fault.
    return {};
}

bool convert_one_tiff(const std::string& tiff_path, const std::string& pdf_path, bool compact,
                      std::string& line) {
    const std::string name = fileutils::base_name(tiff_path);
    pdf::ConvertOptions options;
    options.compact = compact;
    // A PDF that the upload would refuse is no use: such a file is written compact instead.
    if (!compact) options.compact_above = BatchUploader::Options{}.max_file_bytes;
    pdf::ConvertReport report;
    std::string error;
    if (!pdf::convert_tiff_to_pdf(tiff_path, pdf_path, error, options, &report)) {
        line = "[ERRO] " + name + " — " + error;
        return false;
    }
    line = "[OK] " + name + " → " + fileutils::base_name(pdf_path);
    if (!compact && report.compact)
        line += " (compactado: " + fileutils::format_size(report.default_bytes) + " → " +
                fileutils::format_size(report.bytes) + ")";
    return true;
}

bool is_fresh_pdf(const std::string& tiff_path, const std::string& pdf_path) {
    uint64_t size = 0, tiff_time = 0, pdf_time = 0;
    if (!fileutils::file_size(pdf_path, size) || size == 0) return false;
    // A TIFF scanned again or edited after its conversion must not be sent with its old content.
    if (fileutils::last_write_time(tiff_path, tiff_time) && fileutils::last_write_time(pdf_path, pdf_time) &&
        tiff_time > pdf_time)
        return false;
    return true;
}

ConvertSummary convert_tiffs(const std::vector<std::string>& tiffs, const std::string& folder,
                             const ConvertCallbacks& cb, bool compact) {
    ConvertSummary summary;
    const size_t total = tiffs.size();
    const std::string out_dir = fileutils::join(folder, fileutils::CONVERTED_FOLDER);
    // An existing folder is the usual case; any other failure makes each write fail visibly.
    fileutils::create_directory(out_dir);

    for (size_t i = 0; i < total; ++i) {
        const std::string& path = tiffs[i];
        const std::string name = fileutils::base_name(path);
        if (cb.progress) cb.progress(i, total);

        const std::string refused = not_tiff_line(path);
        if (!refused.empty()) {
            if (cb.log) cb.log(refused);
            ++summary.not_tiff;
            continue;
        }
        const std::string out_name = converted_pdf_name(path);
        const std::string out_path = fileutils::join(out_dir, out_name);
        if (is_fresh_pdf(path, out_path)) {
            ++summary.already_converted;
            if (cb.add_file) cb.add_file(out_path);
            continue;
        }
        if (cb.status)
            cb.status("Convertendo " + std::to_string(i + 1) + "/" + std::to_string(total) + ": " + name);
        std::string line;
        const bool ok = convert_one_tiff(path, out_path, compact, line);
        if (cb.log) cb.log(line);
        if (ok) {
            ++summary.converted;
            if (cb.add_file) cb.add_file(out_path);
        } else {
            ++summary.failed;
        }
    }
    if (cb.progress) cb.progress(total, total);
    return summary;
}

std::vector<std::string> convert_summary_lines(const ConvertSummary& s, size_t files_ready) {
    std::vector<std::string> lines;
    if (s.already_converted > 0)
        lines.push_back(std::to_string(s.already_converted) + " já convertido(s) anteriormente.");
    if (s.not_tiff > 0) lines.push_back(std::to_string(s.not_tiff) + " arquivo(s) não eram TIFF.");
    if (s.failed > 0) lines.push_back("[AVISO] " + std::to_string(s.failed) + " falha(s) na conversão.");
    lines.push_back("[FIM] " + std::to_string(s.converted) + " convertido(s) — " +
                    std::to_string(files_ready) + " arquivo(s) prontos para envio.");
    return lines;
}

std::string convert_finished_status(size_t files_ready) {
    return std::to_string(files_ready) + " arquivo(s) pronto(s)";
}

}  // namespace dorvane
