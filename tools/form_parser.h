// multipart/form-data reader (RFC 7578 over the RFC 2046 body layout) for the demo service.
//
// It reads what a browser or our own client sends: a boundary parameter (quoted or not) in the
// Content-Type, CR LF line ends, one Content-Disposition per part with "name" and an optional
// "filename" (a quoted text read up to the next quote, backslashes kept as they are, which is
// what browsers write), an optional part Content-Type, and the closing "--" delimiter.
//
// Failure style: returns false with a Portuguese error text; never throws for bad input, and
// every read is bounded by the body.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace demo {

struct FormPart {
    std::string name;
    std::string filename;
    bool has_filename = false;  // a part with filename="" is still a file part
    std::string content_type;   // empty when the part carries none
    std::string data;
};

constexpr size_t MAX_FORM_PARTS = 1000;
constexpr size_t MAX_PART_HEADER_BYTES = 16 * 1024;

// The boundary of a "multipart/form-data; boundary=..." header value; empty when the media type
// is another one or the parameter is missing or longer than 70 characters (RFC 2046 limit).
std::string boundary_from_content_type(const std::string& content_type);

// Splits `body` into its parts, in order.
[[nodiscard]] bool parse_form(const std::string& body, const std::string& boundary, std::vector<FormPart>& parts,
                              std::string& error);

}  // namespace demo
