// Values that both front ends (the window and the `dorvane` command line) must agree on.
#pragma once

namespace dorvane {

// The service base URL used when the operator leaves the URL empty; the window's URL field starts
// with it too.
constexpr const char* DEFAULT_BASE_URL = "https://api.dorvane.com.br";

}  // namespace dorvane
