// The program's only view of the document-processing service: key check, catalogue, document
// submission, and the classification of every failure into an ApiError with Portuguese text.
//
// REST calls (all with the header "x-api-key"):
//   GET  base + "/api/operations/" + PROBE_TASK_ID   key check, 20 s
//   GET  base + "/api/operations"                     catalogue, 20 s
//   POST base + "/api/operations"                     multipart submission, 60 s (300 s awaiting)
//
// Failure style: bool (or a result record) plus ApiError; nothing throws for network or
// service failures.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/json.h"
#include "net/http_client.h"

namespace dorvane {

// A task identifier that cannot exist: a good key gets 404 for it, a bad one 401.
constexpr const char* PROBE_TASK_ID = "00000000-0000-0000-0000-000000000000";

struct ApiError {
    enum Kind : int32_t { None = 0, Network = 1, Http = 2, InvalidResponse = 3 };
    Kind kind = None;
    int32_t http_status = 0;
    std::string message;

    // "HTTP 503 — msg", "resposta inválida: msg", "rede: msg"; empty for None.
    std::string to_string() const;
};

struct Operation {
    std::string code;
    std::string name;
    std::string description;
    std::string category;
    int32_t cost = 0;
};

struct SubmitResult {
    bool ok = false;
    std::string task_id;
    std::string status;
    json::Value response;
    ApiError error;
    std::string retry_after;  // the answer's Retry-After field, when it carried one
};

class ApiClient {
public:
    // Trims blanks, trailing slashes and a trailing "/api/operations".
    static std::string normalize_base_url(std::string url);

    // Sets the base URL (normalised by the caller) and the API key; any thread.
    void set_credentials(const std::string& base, const std::string& key);
    // Both the base URL and the key are set (not necessarily checked).
    bool has_credentials() const;

    std::map<std::string, std::string> auth_headers() const;
    std::string base() const;  // copy of the base URL

    [[nodiscard]] bool verify_key(ApiError& error);
    [[nodiscard]] bool list_operations(std::vector<Operation>& operations, ApiError& error);
    SubmitResult submit_document(const std::string& filename, const std::vector<uint8_t>& data,
                                 const std::string& operation_code, bool await_result, int priority,
                                 const std::string& callback_url);

    static ApiError classify(const http::Response& response);

private:
    http::Client http_client_;
    mutable std::mutex mutex_;  // guards base_url_ and api_key_: the window sets them, workers read
    std::string base_url_;
    std::string api_key_;
};

}  // namespace dorvane
