#include "files/scan.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "core/fileutils.h"

namespace fileutils {

namespace {

// From the last dot to the end, dot included, ASCII letters lowered; empty without a dot.
std::string extension_of(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    std::string ext = name.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool starts_with(const std::vector<uint8_t>& head, std::initializer_list<uint8_t> signature) {
    return head.size() >= signature.size() && std::equal(signature.begin(), signature.end(), head.begin());
}

}  // namespace

const std::vector<std::string> DOCUMENT_EXTENSIONS = {".pdf", ".png", ".jpg", ".jpeg"};
const std::vector<std::string> TIFF_EXTENSIONS = {".tif", ".tiff"};

void scan_folder_for(const std::string& folder, const std::vector<std::string>& extensions,
                     std::vector<std::string>& out) {
    for (const DirEntry& entry : list_dir(folder)) {
        if (entry.is_dir) continue;
        const std::string ext = extension_of(entry.name);
        if (std::find(extensions.begin(), extensions.end(), ext) != extensions.end())
            out.push_back(join(folder, entry.name));
    }
}

std::vector<std::string> list_subdirs(const std::string& folder) {
    std::vector<std::string> dirs;
    for (const DirEntry& entry : list_dir(folder))
        if (entry.is_dir) dirs.push_back(join(folder, entry.name));
    return dirs;
}

std::vector<std::string> scan_directory(const std::string& folder, const std::vector<std::string>& extensions,
                                        int depth) {
    std::vector<std::string> found;
    scan_folder_for(folder, extensions, found);

    // One level of subfolders whatever the depth; the output folders are never scanned here.
    if (depth > 0) {
        for (const std::string& sub : list_subdirs(folder)) {
            const std::string name = base_name(sub);
            if (name == CONVERTED_FOLDER || name == RESULTS_FOLDER) continue;
            scan_folder_for(sub, extensions, found);
        }
    }

    // PDFs from an earlier conversion are always offered again, up to two levels below.
    if (std::find(extensions.begin(), extensions.end(), ".pdf") != extensions.end()) {
        const std::string converted = join(folder, CONVERTED_FOLDER);
        if (is_directory(converted)) {
            const std::vector<std::string> pdf_only = {".pdf"};
            scan_folder_for(converted, pdf_only, found);
            for (const std::string& sub : list_subdirs(converted)) {
                scan_folder_for(sub, pdf_only, found);
                for (const std::string& subsub : list_subdirs(sub)) scan_folder_for(subsub, pdf_only, found);
            }
        }
    }

    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

namespace {
// Deep enough for any real folder tree, and a bound when links make a folder its own descendant.
constexpr int MAX_TREE_LEVELS = 32;

void scan_below(const std::string& folder, const std::vector<std::string>& extensions, int level,
                std::vector<std::string>& out) {
    if (level > MAX_TREE_LEVELS) return;
    for (const std::string& sub : list_subdirs(folder)) {
        const std::string name = base_name(sub);
        if (name == CONVERTED_FOLDER || name == RESULTS_FOLDER) continue;
        scan_folder_for(sub, extensions, out);
        scan_below(sub, extensions, level + 1, out);
    }
}
}  // namespace

std::vector<std::string> scan_tree(const std::string& folder, const std::vector<std::string>& extensions) {
    std::vector<std::string> found = scan_directory(folder, extensions, 1);
    scan_below(folder, extensions, 1, found);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

bool is_document(FileFormat format) {
    return format == FileFormat::Pdf || format == FileFormat::Png || format == FileFormat::Jpeg;
}

FileFormat detect_format(const std::string& path) {
    const std::vector<uint8_t> head = read_head(path, 16);
    if (head.size() < 4) return FileFormat::Unknown;
    if (starts_with(head, {0x25, 0x50, 0x44, 0x46})) return FileFormat::Pdf;  // "%PDF"
    // TIFF 6.0 header: byte order, then 42 (classic) or 43 (BigTIFF) in that order.
    if (starts_with(head, {'I', 'I', 0x2A, 0x00}) || starts_with(head, {'I', 'I', 0x2B, 0x00}))
        return FileFormat::Tiff;
    if (starts_with(head, {'M', 'M', 0x00, 0x2A}) || starts_with(head, {'M', 'M', 0x00, 0x2B}))
        return FileFormat::Tiff;
    if (starts_with(head, {0x89, 0x50, 0x4E, 0x47}) && head.size() >= 8) return FileFormat::Png;
    if (starts_with(head, {0xFF, 0xD8, 0xFF})) return FileFormat::Jpeg;
    if (starts_with(head, {'B', 'M'})) return FileFormat::Bmp;
    return FileFormat::Unknown;
}

std::string format_name(FileFormat format) {
    switch (format) {
        case FileFormat::Pdf: return "PDF";
        case FileFormat::Tiff: return "TIFF";
        case FileFormat::Png: return "PNG";
        case FileFormat::Jpeg: return "JPEG";
        case FileFormat::Bmp: return "BMP";
        default: return "Desconhecido";
    }
}

}  // namespace fileutils
