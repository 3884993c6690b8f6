// The service's pacing: how long a 429 or 503 answer's Retry-After asks the client to wait.
#pragma once

#include <cstdint>
#include <string>

namespace dorvane {

// The longest wait a Retry-After may impose; a larger one is cut to this.
constexpr int64_t MAX_RETRY_AFTER_MS = 300000;

// Milliseconds to wait for a Retry-After value: delay-seconds ("120") or an HTTP date (IMF-fixdate
// "Sun, 06 Nov 1994 08:49:37 GMT", and the obsolete RFC 850 and asctime forms) taken against
// `now_utc_seconds` (seconds since 1970, UTC). A date in the past gives 0; anything else
// unreadable gives -1, which means "use the back-off table". Capped at MAX_RETRY_AFTER_MS.
int64_t retry_after_ms(const std::string& value, int64_t now_utc_seconds);

}  // namespace dorvane
