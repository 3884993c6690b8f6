// libFuzzer target for the JSON parser and writer: every answer of the service is hostile input.
// Whatever the parser accepts, the writer turns into strict JSON (no raw control byte in a
// string) that parses again, and after one round trip (numbers rounded) writes identically; display_safe lets no control
// character through.
#include "core/json.h"
#include "core/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string shown = text::display_safe(text);
    for (const char c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
    }

    json::Value value;
    try {
        json::Parser parser(text);
        value = parser.parse_value();
    } catch (const std::exception&) {
        return 0;  // refusing is fine; crashing, hanging or leaking is not
    }
    // Numbers are written with six significant digits, so the first round trip may round them
    // (3333333.333 is written 3.33333e+06 and read back as 3333330); from then on the text is fixed.
    auto round_trip = [](const std::string& written, int indent) {
        if (json::has_raw_control_in_string(written)) std::abort();
        try {
            json::Parser parser(written);
            return json::stringify(parser.parse_value(), indent);
        } catch (const std::exception&) {
            std::abort();  // our own output must always parse
        }
    };
    for (const int indent : {0, 2}) {
        const std::string second = round_trip(json::stringify(value, indent), indent);
        if (round_trip(second, indent) != second) std::abort();
    }
    return 0;
}
