#include "service/pacing.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace dorvane {

namespace {

bool all_digits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int month_of(const std::string& token) {
    static const char* const NAMES[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() != 3) return 0;
    std::string lower;
    for (char c : token) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int i = 0; i < 12; ++i) {
        if (lower == NAMES[i]) return i + 1;
    }
    return 0;
}

// Seconds since 1970 of an HTTP date; -1 when it is not one. The three forms differ only in
// where day, month and year sit and in the separators, so the tokens are recognised by shape:
// the month by name, the time by its colons, then the day and the year in that order.
int64_t parse_http_date(const std::string& value) {
    std::vector<std::string> tokens;
    std::string current;
    for (char c : value + " ") {
        if (c == ' ' || c == ',' || c == '-' || c == '\t') {
            if (!current.empty()) tokens.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    int month = 0;
    int hour = -1, minute = -1, second = -1;
    std::vector<std::string> numbers;
    for (const auto& t : tokens) {
        if (month == 0 && month_of(t) != 0) {
            month = month_of(t);
        } else if (t.size() == 8 && t[2] == ':' && t[5] == ':' && all_digits(t.substr(0, 2)) &&
                   all_digits(t.substr(3, 2)) && all_digits(t.substr(6, 2))) {
            hour = std::stoi(t.substr(0, 2));
            minute = std::stoi(t.substr(3, 2));
            second = std::stoi(t.substr(6, 2));
        } else if (all_digits(t) && t.size() <= 4) {
            numbers.push_back(t);
        }
    }
    if (month == 0 || hour < 0 || numbers.size() != 2) return -1;
    const int day = std::stoi(numbers[0]);
    int year = std::stoi(numbers[1]);
    if (numbers[1].size() == 2) year += year < 70 ? 2000 : 1900;  // RFC 850's two-digit years
    if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || year < 1970) return -1;
    return days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace

int64_t retry_after_ms(const std::string& raw, int64_t now_utc_seconds) {
    size_t begin = raw.find_first_not_of(" \t");
    size_t end = raw.find_last_not_of(" \t");
    if (begin == std::string::npos) return -1;
    const std::string value = raw.substr(begin, end - begin + 1);
    int64_t seconds;
    if (all_digits(value)) {
        // More digits than the cap needs would only overflow.
        seconds = value.size() > 9 ? MAX_RETRY_AFTER_MS / 1000 : std::stoll(value);
    } else {
        const int64_t at = parse_http_date(value);
        if (at < 0) return -1;
        seconds = std::max<int64_t>(0, at - now_utc_seconds);
    }
    return std::min<int64_t>(seconds * 1000, MAX_RETRY_AFTER_MS);
}

}  // namespace dorvane
