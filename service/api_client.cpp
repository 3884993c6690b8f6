#include "service/api_client.h"

#include <exception>

namespace dorvane {

namespace {

constexpr const char* OPERATIONS_PATH = "/api/operations";
constexpr int LOOKUP_TIMEOUT_SECONDS = 20;
constexpr int SUBMIT_TIMEOUT_SECONDS = 60;
constexpr int AWAIT_TIMEOUT_SECONDS = 300;
constexpr size_t ERROR_EXCERPT_BYTES = 200;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool is_success(int32_t status) { return status >= 200 && status <= 299; }

void strip_trailing_slashes(std::string& s) {
    while (!s.empty() && s.back() == '/') s.pop_back();
}

// Whole numbers as the service sends them; out-of-range values saturate instead of being
// undefined behaviour.
int32_t truncate_to_int32(double d) {
    if (!(d == d)) return 0;
    if (d >= 2147483647.0) return 2147483647;
    if (d <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(d);
}

// The first `limit` bytes of `body`, moved back to the start of a UTF-8 sequence that the cut
// would split, so the excerpt shown in the log is never broken text. Bytes that are not valid
// UTF-8 anyway are cut where they fall.
std::string utf8_prefix(const std::string& body, size_t limit) {
    if (body.size() <= limit) return body;
    size_t cut = limit;
    for (size_t back = 1; back <= 3 && back <= cut; ++back) {
        const auto c = static_cast<unsigned char>(body[cut - back]);
        if ((c & 0xC0) == 0x80) continue;  // continuation byte: keep looking for the lead
        size_t length = 1;
        if ((c & 0xE0) == 0xC0) length = 2;
        else if ((c & 0xF0) == 0xE0) length = 3;
        else if ((c & 0xF8) == 0xF0) length = 4;
        if (length > back) cut -= back;
        break;
    }
    return body.substr(0, cut);
}

}  // namespace

std::string ApiError::to_string() const {
    switch (kind) {
    case Http: return "HTTP " + std::to_string(http_status) + (message.empty() ? "" : " \xE2\x80\x94 " + message);
    case InvalidResponse: return "resposta inv\xC3\xA1lida: " + message;
    case Network: return "rede: " + message;
    default: return "";
    }
}

std::string ApiClient::normalize_base_url(std::string url) {
    size_t first = 0;
    while (first < url.size() && is_blank(url[first])) ++first;
    url.erase(0, first);
    while (!url.empty() && is_blank(url.back())) url.pop_back();
    strip_trailing_slashes(url);
    const std::string suffix = OPERATIONS_PATH;
    if (url.size() > suffix.size() && url.compare(url.size() - suffix.size(), suffix.size(), suffix) == 0) {
        url.erase(url.size() - suffix.size());
    }
    strip_trailing_slashes(url);
    return url;
}

void ApiClient::set_credentials(const std::string& base, const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    base_url_ = base;
    api_key_ = key;
}

bool ApiClient::has_credentials() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !base_url_.empty() && !api_key_.empty();
}

std::map<std::string, std::string> ApiClient::auth_headers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {{"x-api-key", api_key_}};
}

std::string ApiClient::base() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return base_url_;
}

bool ApiClient::verify_key(ApiError& error) {
    const auto headers = auth_headers();
    const std::string url = base() + OPERATIONS_PATH + "/" + PROBE_TASK_ID;
    const http::Response response = http_client_.request("GET", url, headers, {}, LOOKUP_TIMEOUT_SECONDS);
    // Only 401 rejects the key: a good key gets 404 for the probe task, and any other answer
    // still proves the service is there.
    if (response.status == 0 || response.status == 401) {
        error = classify(response);
        return false;
    }
    error = ApiError{};
    return true;
}

bool ApiClient::list_operations(std::vector<Operation>& operations, ApiError& error) {
    const auto headers = auth_headers();
    const std::string url = base() + OPERATIONS_PATH;
    const http::Response response = http_client_.request("GET", url, headers, {}, LOOKUP_TIMEOUT_SECONDS);
    if (!is_success(response.status)) {
        error = classify(response);
        return false;
    }
    try {
        json::Parser parser(response.body);
        const json::Value root = parser.parse_value();
        const json::Value list = root.get("operations");
        if (!list.is_array()) {
            error = ApiError{ApiError::InvalidResponse, 0, "campo 'operations' ausente"};
            return false;
        }
        std::vector<Operation> fetched;
        for (const json::Value& item : list.as_array()) {
            Operation op;
            op.code = item.get_string("code", "");
            if (op.code.empty()) continue;
            op.name = item.get_string("name", "");
            op.description = item.get_string("description", "");
            op.category = item.get_string("category", "");
            const json::Value cost = item.get("cost");
            op.cost = cost.is_number() ? truncate_to_int32(cost.as_number()) : 0;
            fetched.push_back(std::move(op));
        }
        operations = std::move(fetched);
    } catch (const std::exception& e) {
        error = ApiError{ApiError::InvalidResponse, response.status, e.what()};
        return false;
    }
    error = ApiError{};
    return true;
}

ApiError ApiClient::classify(const http::Response& response) {
    if (response.status == 0) {
        return ApiError{ApiError::Network, 0, response.error.empty() ? "sem resposta" : response.error};
    }
    std::string message;
    try {
        json::Parser parser(response.body);
        const json::Value root = parser.parse_value();
        message = root.get_string("error", "");
        if (message.empty()) message = root.get_string("message", "");
        if (response.status == 402) {
            const json::Value required = root.get("required");
            const json::Value remaining = root.get("remaining");
            if (required.is_number() && remaining.is_number()) {
                message += " (necess\xC3\xA1rio " + std::to_string(truncate_to_int32(required.as_number())) +
                           ", dispon\xC3\xADvel " + std::to_string(truncate_to_int32(remaining.as_number())) + ")";
            }
        }
    } catch (const std::exception&) {
        message = utf8_prefix(response.body, ERROR_EXCERPT_BYTES);
    }
    return ApiError{ApiError::Http, response.status, message};
}

namespace {

constexpr size_t MAX_TASK_ID_BYTES = 200;

// The answer's task id when it is one we can show, store and quote back; empty otherwise, so a
// hostile or broken answer reads as "no task id". Refused: ids longer than 200 bytes or holding a
// control character (C0, DEL, C1), and any answer with a raw control byte inside a string, which
// strict JSON forbids.
std::string usable_task_id(const std::string& body, const json::Value& root) {
    const std::string id = root.get_string("taskId", "");
    if (id.size() > MAX_TASK_ID_BYTES || json::has_raw_control_in_string(body)) return std::string();
    for (size_t i = 0; i < id.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(id[i]);
        const bool c1 = c == 0xC2 && i + 1 < id.size() && static_cast<unsigned char>(id[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1) return std::string();
    }
    return id;
}

}  // namespace

SubmitResult ApiClient::submit_document(const std::string& filename, const std::vector<uint8_t>& data,
                                        const std::string& operation_code, bool await_result, int priority,
                                        const std::string& callback_url) {
    std::map<std::string, std::string> fields;
    fields["operation"] = operation_code;
    fields["awaitResult"] = await_result ? "true" : "false";
    if (priority > 0) fields["priority"] = std::to_string(priority);
    if (!callback_url.empty()) fields["callbackUrl"] = callback_url;

    const auto headers = auth_headers();
    const std::string url = base() + OPERATIONS_PATH;
    const http::Response response =
        http_client_.post_multipart(url, headers, "file", filename, data, fields,
                                   await_result ? AWAIT_TIMEOUT_SECONDS : SUBMIT_TIMEOUT_SECONDS);

    SubmitResult result;
    if (is_success(response.status)) {
        try {
            json::Parser parser(response.body);
            const json::Value root = parser.parse_value();
            result.task_id = usable_task_id(response.body, root);
            result.status = root.get_string("status", "pending");
            result.response = root;
            result.ok = !result.task_id.empty();
            if (!result.ok) result.error = ApiError{ApiError::InvalidResponse, response.status, "resposta sem taskId"};
        } catch (const std::exception& e) {
            result = SubmitResult{};
            result.error = ApiError{ApiError::InvalidResponse, response.status, e.what()};
        }
        return result;
    }

    result.error = classify(response);
    const auto pace = response.headers.find("retry-after");
    if (pace != response.headers.end()) result.retry_after = pace->second;
    if (response.status == 0) return result;
    try {
        json::Parser parser(response.body);
        const json::Value root = parser.parse_value();
        const std::string task_id = usable_task_id(response.body, root);
        if (task_id.empty()) return result;
        // The service accepted the document and the task failed: report it as a client error so
        // the pipeline does not submit the same document again.
        result.task_id = task_id;
        result.status = root.get_string("status", "failed");
        result.response = root;
        result.error.kind = ApiError::Http;
        result.error.message = root.get_string("errorMessage", result.error.message);
        result.error.http_status = 400;
    } catch (const std::exception&) {
        SubmitResult failed;
        failed.error = result.error;
        failed.retry_after = result.retry_after;
        return failed;
    }
    return result;
}

}  // namespace dorvane
