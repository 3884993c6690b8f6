// Folder scanning by extension and detection of a file's real format from its first bytes.
//
// Scans visit a folder and its direct subfolders (never "dorvane_converted" or "dorvane_results"),
// always add the PDFs that an earlier TIFF conversion left in "dorvane_converted" (and up to two
// levels below it) when ".pdf" is wanted, and return full paths sorted byte-wise without
// duplicates. Failure style: nothing is reported; unreadable folders add nothing and unreadable
// files are Unknown.
#pragma once

#include <string>
#include <vector>

namespace fileutils {

// The program's own output folders, made inside the folder the operator chose: the PDFs converted
// from TIFFs, and the batches' results logs.
constexpr const char* CONVERTED_FOLDER = "dorvane_converted";
constexpr const char* RESULTS_FOLDER = "dorvane_results";

// What a folder scan picks up for sending, and the TIFFs that are converted into it first. The
// window and the command line scan with the same lists.
extern const std::vector<std::string> DOCUMENT_EXTENSIONS;  // ".pdf", ".png", ".jpg", ".jpeg"
extern const std::vector<std::string> TIFF_EXTENSIONS;      // ".tif", ".tiff"

enum class FileFormat : int { Unknown = 0, Pdf = 1, Tiff = 2, Png = 3, Jpeg = 4, Bmp = 5 };

struct DirEntry {
    std::string name;  // UTF-8, no folder part
    bool is_dir = false;
};

// Every entry of one folder except "." and "..", in the platform's order; empty when the folder
// cannot be enumerated.
std::vector<DirEntry> list_dir(const std::string& folder);

std::vector<std::string> scan_directory(const std::string& folder, const std::vector<std::string>& extensions,
                                        int depth);
void scan_folder_for(const std::string& folder, const std::vector<std::string>& extensions,
                     std::vector<std::string>& out);
std::vector<std::string> list_subdirs(const std::string& folder);

// scan_directory without its depth limit: subfolders at every level (the output folders excluded
// wherever they are), plus the converted PDFs as scan_directory adds them. Sorted, no duplicates.
std::vector<std::string> scan_tree(const std::string& folder, const std::vector<std::string>& extensions);

FileFormat detect_format(const std::string& path);
// PDF, PNG and JPEG: what goes to the service as it is (a TIFF is converted first).
bool is_document(FileFormat format);
// "PDF", "TIFF", "PNG", "JPEG", "BMP"; "Desconhecido" for anything else.
std::string format_name(FileFormat format);

}  // namespace fileutils
