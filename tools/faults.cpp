#include "tools/faults.h"

#include <dirent.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

namespace demo {

namespace {

int clamp_int(const json::Value& v, int lo, int hi, int fallback) {
    if (!v.is_number()) return fallback;
    double d = v.as_number();
    if (!(d >= lo)) return lo;  // also NaN
    if (d > hi) return hi;
    return static_cast<int>(d);
}

// cpp-httplib offers no way to abandon a connection from a handler, so the socket is found by
// its two endpoints and shut down; the library's own write of the answer then fails quietly.
bool drop_connection(const httplib::Request& req) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return false;
    bool dropped = false;
    while (dirent* entry = readdir(dir)) {
        char* end = nullptr;
        long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;
        struct stat st {};
        if (fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
        sockaddr_storage local{}, peer{};
        socklen_t llen = sizeof local, plen = sizeof peer;
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &llen) != 0) continue;
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &plen) != 0) continue;
        char lport[16], pport[16], phost[NI_MAXHOST];
        if (getnameinfo(reinterpret_cast<sockaddr*>(&local), llen, nullptr, 0, lport, sizeof lport, NI_NUMERICSERV) != 0)
            continue;
        if (getnameinfo(reinterpret_cast<sockaddr*>(&peer), plen, phost, sizeof phost, pport, sizeof pport,
                        NI_NUMERICHOST | NI_NUMERICSERV) != 0)
            continue;
        if (std::atoi(lport) == req.local_port && std::atoi(pport) == req.remote_port && req.remote_addr == phost) {
            shutdown(static_cast<int>(fd), SHUT_RDWR);
            dropped = true;
            break;
        }
    }
    closedir(dir);
    return dropped;
}

}  // namespace

const char* action_name(FaultAction a) {
    switch (a) {
        case FaultAction::Status: return "status";
        case FaultAction::Drop: return "drop";
        case FaultAction::NonJson: return "non_json";
        case FaultAction::Cut: return "cut";
        case FaultAction::Big: return "big";
        case FaultAction::Trickle: return "trickle";
        default: return "delay";
    }
}

bool fault_from_json(const json::Value& v, Fault& f, std::string& error) {
    if (!v.is_object()) {
        error = "cada falha deve ser um objeto JSON";
        return false;
    }
    f.method = v.get_string("method", "");
    f.path = v.get_string("path", "");
    f.after = clamp_int(v.get("after"), 0, 1000000, 0);
    f.count = clamp_int(v.get("count"), 1, 1000000, 1);
    f.status = clamp_int(v.get("status"), 0, 599, 0);
    f.delay_ms = clamp_int(v.get("delay_ms"), 0, 600000, 0);
    f.interval_ms = clamp_int(v.get("interval_ms"), 1, 60000, 500);
    if (v.get("json").is_object() || v.get("json").is_array()) {
        f.has_json = true;
        f.json_body = v.get("json");
    }
    const json::Value headers = v.get("headers");  // get() copies: keep the copy alive for the loop
    if (headers.is_object()) {
        for (const auto& [name, value] : headers.as_object()) {
            const auto breaks_line = [](const std::string& t) {
                return t.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
            };
            if (name.empty() || name.find(':') != std::string::npos || breaks_line(name) || !value.is_string() ||
                breaks_line(value.as_string())) {
                error = "'headers' deve ter nomes e textos de uma linha";
                return false;
            }
            f.headers.emplace_back(name, value.as_string());
        }
    }
    if (v.get("body").is_string()) {
        f.has_body = true;
        f.body = v.get_string("body", "");
        f.content_type = v.get_string("content_type", "text/plain; charset=utf-8");
    }
    // {"drop": N} and the like name the action and its count in one member.
    struct Shorthand {
        const char* key;
        FaultAction action;
    };
    const Shorthand shorthands[] = {{"drop", FaultAction::Drop},
                                    {"non_json", FaultAction::NonJson},
                                    {"cut", FaultAction::Cut},
                                    {"trickle", FaultAction::Trickle}};
    for (const auto& s : shorthands) {
        if (v.get(s.key).is_number()) {
            f.action = s.action;
            f.count = clamp_int(v.get(s.key), 1, 1000000, 1);
        }
    }
    if (v.get("big").is_number()) {
        f.action = FaultAction::Big;
        f.bytes = static_cast<size_t>(clamp_int(v.get("big"), 0, 2000000000, 0));
    }
    if (f.action == FaultAction::Trickle) f.bytes = static_cast<size_t>(clamp_int(v.get("length"), 1, 1 << 30, 1000));
    if (f.action == FaultAction::None && (f.status != 0 || f.has_json || f.has_body)) f.action = FaultAction::Status;
    if (f.action == FaultAction::Status && f.status < 100) {
        error = "falha sem 'status' válido (100 a 599)";
        return false;
    }
    if (f.action == FaultAction::None && f.delay_ms == 0) {
        error = "falha sem efeito: use status, delay_ms, drop, non_json, cut, big ou trickle";
        return false;
    }
    return true;
}

bool FaultQueue::add(const std::vector<Fault>& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (faults_.size() + faults.size() > MAX_FAULTS) return false;
    faults_.insert(faults_.end(), faults.begin(), faults.end());
    return true;
}

bool FaultQueue::take(const std::string& method, const std::string& path, Fault& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (!it->method.empty() && it->method != method) continue;
        if (!it->path.empty() && it->path != path) continue;
        if (it->after > 0) {
            --it->after;
            return false;
        }
        out = *it;
        if (--it->count <= 0) faults_.erase(it);
        return true;
    }
    return false;
}

void FaultQueue::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

size_t FaultQueue::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_.size();
}

json::Value FaultQueue::to_json() const {
    std::lock_guard<std::mutex> lock(mutex_);
    json::Array list;
    for (const auto& f : faults_) {
        // Member by member: GCC 12 at -O2 warns (maybe-uninitialized) on the braced form here.
        json::Object o;
        o["action"] = action_name(f.action);
        o["count"] = f.count;
        o["after"] = f.after;
        if (!f.method.empty()) o["method"] = f.method;
        if (!f.path.empty()) o["path"] = f.path;
        if (f.status) o["status"] = f.status;
        if (f.delay_ms) o["delay_ms"] = f.delay_ms;
        list.emplace_back(std::move(o));
    }
    return list;
}

const char* const NON_JSON_PAGE =
    "<html><head><title>502 Bad Gateway</title></head><body><h1>Bad Gateway</h1>"
    "<p>O servidor de aplicação não respondeu.</p></body></html>";

bool apply_fault(const httplib::Request& req, httplib::Response& res, const Fault& f) {
    bool done = true;
    res.set_header("X-Demo-Fault", action_name(f.action));
    for (const auto& [name, value] : f.headers) res.set_header(name.c_str(), value);
    switch (f.action) {
        case FaultAction::Status:
            res.status = f.status;
            if (f.has_json) {
                res.set_content(json::stringify(f.json_body), "application/json; charset=utf-8");
            } else if (f.has_body) {
                res.set_content(f.body, f.content_type.c_str());
            } else {
                res.set_content(json::stringify(json::Object{
                                    {"error", "falha simulada (HTTP " + std::to_string(f.status) + ")"}}),
                                "application/json; charset=utf-8");
            }
            break;
        case FaultAction::Drop:
            done = drop_connection(req);
            res.status = 500;
            break;
        case FaultAction::NonJson:
            res.status = f.status ? f.status : 200;
            res.set_content(f.has_body ? f.body : std::string(NON_JSON_PAGE), "text/html; charset=utf-8");
            break;
        case FaultAction::Cut: {
            // The header promises the whole body; half of it is sent before the connection ends.
            auto body = std::make_shared<std::string>(json::stringify(
                json::Object{{"error", std::string(2000, 'x')}, {"note", "corpo cortado pela demonstração"}}));
            res.status = f.status ? f.status : 200;
            res.set_content_provider(body->size(), "application/json",
                                     [body](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset == 0) sink.write(body->data(), body->size() / 2);
                                         return false;
                                     });
            break;
        }
        case FaultAction::Big: {
            res.status = f.status ? f.status : 200;
            res.set_content_provider(f.bytes, "text/plain",
                                     [](size_t offset, size_t length, httplib::DataSink& sink) {
                                         static const std::string chunk(64 * 1024, 'x');
                                         size_t n = std::min(length, chunk.size());
                                         (void)offset;
                                         return sink.write(chunk.data(), n);
                                     });
            break;
        }
        case FaultAction::Trickle: {
            res.status = f.status ? f.status : 200;
            int interval = f.interval_ms;
            res.set_content_provider(f.bytes, "text/plain",
                                     [interval](size_t, size_t, httplib::DataSink& sink) {
                                         std::this_thread::sleep_for(std::chrono::milliseconds(interval));
                                         return sink.write(" ", 1);
                                     });
            break;
        }
        case FaultAction::None: break;
    }
    return done;
}

}  // namespace demo
