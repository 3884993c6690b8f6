// Fault injection for the demo service: a queue of misbehaviours that tests order through
// /__control/faults and that the next matching API requests suffer (an HTTP status with any body,
// a delay, a connection dropped without an answer, a page that is not JSON, a body cut short, an
// oversized body, a body that trickles).
//
// Failure style: parsing returns false with a Portuguese error text; nothing throws.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/json.h"

namespace demo {

enum class FaultAction { None, Status, Drop, NonJson, Cut, Big, Trickle };

// "status", "drop", "non_json", "cut", "big", "trickle"; "delay" for None (a delay alone).
const char* action_name(FaultAction action);

// One entry of the queue. It hits the next `count` API requests that match `method` and `path`
// (empty: any), after letting `after` matching requests through untouched.
struct Fault {
    std::string method;
    std::string path;
    int after = 0;
    int count = 1;
    FaultAction action = FaultAction::None;
    int status = 0;    // Status: the answer's status; others: 0 means 200
    int delay_ms = 0;  // waited before the action (or before the normal answer)
    bool has_json = false;
    json::Value json_body;
    bool has_body = false;
    std::string body;
    std::string content_type = "application/json";
    size_t bytes = 0;  // Big: body length; Trickle: announced length
    int interval_ms = 500;
    // Extra answer header fields ({"headers":{"Retry-After":"3"}}), for the client's pacing.
    std::vector<std::pair<std::string, std::string>> headers;
};

// Reads one fault from its JSON form: {"status":503,"count":2}, {"delay_ms":500}, {"drop":N},
// {"non_json":N}, {"cut":N}, {"big":BYTES}, {"trickle":N,"interval_ms":MS,"length":BYTES}, with
// optional "method", "path", "after", "headers" (an object of text values), and "json" or
// "body"/"content_type" for the answer.
[[nodiscard]] bool fault_from_json(const json::Value& value, Fault& fault, std::string& error);

class FaultQueue {
public:
    static constexpr size_t MAX_FAULTS = 10000;

    // Appends all or none; false when the queue would grow past MAX_FAULTS.
    [[nodiscard]] bool add(const std::vector<Fault>& faults);
    // The first queued fault that matches, with one of its uses consumed; false when none applies
    // (including a matching fault that is still letting requests through).
    [[nodiscard]] bool take(const std::string& method, const std::string& path, Fault& out);
    void clear();
    size_t size() const;
    json::Value to_json() const;  // pending faults, for the control calls

private:
    mutable std::mutex mutex_;
    std::deque<Fault> faults_;
};

// Answers as `fault` says. For Drop the connection is shut down at once and false is returned
// when its socket could not be found (the request then gets a 500).
bool apply_fault(const httplib::Request& req, httplib::Response& res, const Fault& fault);

}  // namespace demo
