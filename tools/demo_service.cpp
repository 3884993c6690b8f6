// dorvane-demo-service: a small stand-in for the document-processing service, for trying the
// client offline and as a real server for tests.
//
// It answers the three calls the client makes (key probe, catalogue, multipart submission) and
// keeps a credit balance and a task table. Tests steer it through /__control/ (loopback only):
// faults for the next requests (an HTTP status, a delay, a dropped connection, a body that is not
// JSON, a cut, oversized or trickling body), a record of what it received, and a reset.
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/json.h"
#include "core/sha256.h"
#include "tools/digest.h"
#include "tools/faults.h"
#include "tools/form_parser.h"

namespace {

constexpr size_t DEFAULT_MAX_REQUEST_BYTES = size_t(200) << 20;
// Uploads up to this size are kept whole (base64) in the record, so tests can compare bytes.
constexpr size_t MAX_RECORDED_BODY = size_t(1) << 20;
// The records are bounded both in entries and in bytes (kept bodies dominate), oldest dropped
// first, so a long demo run cannot grow without end.
constexpr size_t MAX_RECORDS = 10000;
constexpr size_t MAX_RECORD_BYTES = size_t(256) << 20;
constexpr size_t MAX_TASKS = 100000;

const char* const PROBE_TASK_ID = "00000000-0000-0000-0000-000000000000";
const char* const ORIGINAL_CONTENT_TYPE = "X-Demo-Original-Content-Type";

struct Options {
    std::string host = "127.0.0.1";
    int port = 0;
    std::string key = "demo-key";
    long long credits = 1000;
    int task_ms = 200;  // how long a task "runs" before it completes
    size_t max_request_bytes = DEFAULT_MAX_REQUEST_BYTES;
};

struct OperationInfo {
    const char* code;
    const char* name;
    const char* description;
    const char* category;
    int cost;
    bool always_fails;
};

// First entry is what the window selects after connecting, so it is the common, cheap one.
const OperationInfo CATALOGUE[] = {
    {"ocr", "OCR (texto pesquisável)", "Reconhece o texto e devolve um PDF pesquisável.", "Reconhecimento", 1, false},
    {"pdf-compress", "Compressão de PDF", "Reduz o tamanho do documento sem perder a legibilidade.", "Conversão", 0,
     false},
    {"invoice-extract", "Extração de dados de nota fiscal", "Lê emitente, CNPJ, itens e valores de notas fiscais.",
     "Extração", 3, false},
    {"classify", "Classificação de documentos", "Identifica o tipo do documento (contrato, nota, RG...).",
     "Classificação", 2, false},
    {"fail-demo", "Demonstração de falha", "Toda tarefa desta operação falha; serve para testar o cliente.",
     "Testes", 0, true},
};

const OperationInfo* find_operation(const std::string& code) {
    for (const auto& op : CATALOGUE) {
        if (code == op.code) return &op;
    }
    return nullptr;
}

struct Task {
    std::string operation;
    std::string filename;
    bool fails = false;
    std::chrono::steady_clock::time_point done_at;
    json::Value result;
};

class RecordList {
public:
    void push(json::Value entry) {
        size_t bytes = json::stringify(entry).size();
        items_.push_back(std::move(entry));
        sizes_.push_back(bytes);
        total_ += bytes;
        while (items_.size() > 1 && (items_.size() > MAX_RECORDS || total_ > MAX_RECORD_BYTES)) {
            total_ -= sizes_.front();
            sizes_.pop_front();
            items_.erase(items_.begin());
        }
    }
    void clear() {
        items_.clear();
        sizes_.clear();
        total_ = 0;
    }
    const json::Array& items() const { return items_; }
    size_t size() const { return items_.size(); }

private:
    json::Array items_;
    std::deque<size_t> sizes_;
    size_t total_ = 0;
};

struct State {
    std::mutex mutex;
    Options options;
    long long credits = 0;
    RecordList requests;
    RecordList submissions;
    std::map<std::string, Task> tasks;
    std::mt19937_64 rng{std::random_device{}()};
};

State g_state;
demo::FaultQueue g_faults;

std::string now_hms() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

void log_stderr(const std::string& line) {
    std::string text = "[" + now_hms() + "] " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void send_json(httplib::Response& res, int status, const json::Value& body) {
    res.status = status;
    res.set_content(json::stringify(body), "application/json; charset=utf-8");
}

json::Value error_body(const std::string& message) { return json::Object{{"error", message}}; }

bool is_loopback(const std::string& addr) {
    return addr.rfind("127.", 0) == 0 || addr == "::1" || addr.rfind("::ffff:127.", 0) == 0;
}

// A v4-style identifier: 32 random hex digits in 8-4-4-4-12 groups. Caller holds the mutex.
std::string new_task_id() {
    uint64_t hi = g_state.rng(), lo = g_state.rng();
    hi = (hi & ~uint64_t(0xF000)) | 0x4000;
    lo = (lo & ~(uint64_t(0xC) << 60)) | (uint64_t(0x8) << 60);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%04x-%012llx", unsigned(hi >> 32), unsigned((hi >> 16) & 0xFFFF),
                  unsigned(hi & 0xFFFF), unsigned(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
    return buf;
}

json::Value catalogue_json() {
    json::Array ops;
    for (const auto& op : CATALOGUE) {
        ops.push_back(json::Object{{"code", op.code},
                                   {"name", op.name},
                                   {"description", op.description},
                                   {"category", op.category},
                                   {"cost", op.cost}});
    }
    return json::Object{{"operations", ops}};
}

json::Value task_json(const std::string& id, const Task& t, bool done) {
    json::Object o{{"taskId", id}, {"operation", t.operation}, {"filename", t.filename}};
    if (!done) {
        o["status"] = "pending";
    } else if (t.fails) {
        o["status"] = "failed";
        o["errorMessage"] = "Falha simulada no processamento de " + t.filename;
    } else {
        o["status"] = "completed";
        o["result"] = t.result;
    }
    return o;
}

void get_task(const std::string& id, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(g_state.mutex);
    auto it = g_state.tasks.find(id);
    if (id == PROBE_TASK_ID || it == g_state.tasks.end()) {
        send_json(res, 404, error_body("tarefa não encontrada"));
        return;
    }
    bool done = std::chrono::steady_clock::now() >= it->second.done_at;
    send_json(res, 200, task_json(id, it->second, done));
}

bool lower_contains(std::string haystack, const std::string& needle) {
    for (char& c : haystack) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return haystack.find(needle) != std::string::npos;
}

bool all_digits(const std::string& s) {
    if (s.empty() || s.size() > 9) return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A submitted form as read: its fields (the first of each name) and its first file part.
struct Submission {
    std::vector<demo::FormPart> parts;
    json::Object fields;
    const demo::FormPart* file = nullptr;
    std::string file_sha256;

    std::string field(const char* name) const {
        auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second.as_string();
    }
};

// Reads the form and records what it holds; the refusal text when it cannot be read.
std::string read_submission(const httplib::Request& req, const std::string& body, Submission& s,
                            json::Object& record) {
    std::string boundary = demo::boundary_from_content_type(req.get_header_value(ORIGINAL_CONTENT_TYPE));
    if (boundary.empty()) return "Content-Type deve ser multipart/form-data com boundary";
    std::string form_error;
    if (!demo::parse_form(body, boundary, s.parts, form_error)) return "formulário inválido: " + form_error;
    json::Array names;
    for (const auto& p : s.parts) {
        names.push_back(p.name);
        if (p.name == "file" && p.has_filename) {
            if (!s.file) s.file = &p;
        } else if (!p.has_filename && !s.fields.count(p.name)) {
            s.fields[p.name] = p.data;
        }
    }
    record["fields"] = s.fields;
    record["part_names"] = names;
    if (s.file) {
        // Hashing is most of the cost of a large upload here, so the file is hashed once.
        s.file_sha256 = sha256::hex(s.file->data);
        record["filename"] = s.file->filename;
        record["file_content_type"] = s.file->content_type;
        record["size"] = static_cast<double>(s.file->data.size());
        record["sha256"] = s.file_sha256;
        if (s.file->data.size() <= MAX_RECORDED_BODY) record["data_base64"] = demo::base64_encode(s.file->data);
    }
    return "";
}

// The refusal text for a form whose fields or file the service does not accept.
std::string check_submission(const Submission& s, const OperationInfo*& op) {
    const std::string code = s.field("operation");
    if (code.empty()) return "campo 'operation' ausente";
    op = find_operation(code);
    if (!op) return "operação desconhecida: " + code;
    const std::string await_text = s.field("awaitResult");
    if (!await_text.empty() && await_text != "true" && await_text != "false") {
        return "campo 'awaitResult' inválido: " + await_text;
    }
    if (s.fields.count("priority") && !all_digits(s.field("priority"))) {
        return "campo 'priority' inválido: " + s.field("priority");
    }
    if (!s.file) return "arquivo ausente (parte 'file')";
    if (s.file->data.empty()) return "arquivo vazio";
    return "";
}

// Debits the operation's cost and enters the task; false (and no task) when credits run short.
// Caller holds the mutex.
bool start_task(const Submission& s, const OperationInfo& op, bool fails, std::string& task_id, long long& remaining) {
    if (g_state.credits < op.cost) return false;
    g_state.credits -= op.cost;
    remaining = g_state.credits;
    task_id = new_task_id();
    if (g_state.tasks.size() >= MAX_TASKS) g_state.tasks.erase(g_state.tasks.begin());
    Task& t = g_state.tasks[task_id];
    t.operation = op.code;
    t.filename = s.file->filename;
    t.fails = fails;
    t.done_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_state.options.task_ms);
    t.result = json::Object{{"operation", op.code},
                            {"filename", s.file->filename},
                            {"size", static_cast<double>(s.file->data.size())},
                            {"sha256", s.file_sha256},
                            {"pages", 1},
                            {"text", "Documento processado pela demonstração do Dorvane."}};
    return true;
}

// Validates the form, debits the credits and answers like the real service: 202 pending, or with
// awaitResult the finished task (200) or the failed one (422 with its taskId).
void submit(const httplib::Request& req, const std::string& body, httplib::Response& res, json::Object& record) {
    Submission s;
    const OperationInfo* op = nullptr;
    std::string refusal = read_submission(req, body, s, record);
    if (refusal.empty()) refusal = check_submission(s, op);
    if (!refusal.empty()) {
        send_json(res, 400, error_body(refusal));
        record["error"] = refusal;
        return;
    }
    const bool fails = op->always_fails || lower_contains(s.file->filename, "falha");
    std::string task_id;
    long long remaining = 0;
    int task_ms;
    {
        std::lock_guard<std::mutex> lock(g_state.mutex);
        task_ms = g_state.options.task_ms;
        if (!start_task(s, *op, fails, task_id, remaining)) {
            send_json(res, 402, json::Object{{"error", "Créditos insuficientes"},
                                             {"required", op->cost},
                                             {"remaining", static_cast<double>(g_state.credits)}});
            record["error"] = "Créditos insuficientes";
            return;
        }
    }
    record["taskId"] = task_id;
    if (s.field("awaitResult") != "true") {
        send_json(res, 202,
                  json::Object{{"taskId", task_id}, {"status", "pending"}, {"creditsRemaining", static_cast<double>(remaining)}});
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(task_ms));
    json::Value answer;
    {
        std::lock_guard<std::mutex> lock(g_state.mutex);
        auto it = g_state.tasks.find(task_id);
        Task t = it != g_state.tasks.end() ? it->second : Task{op->code, s.file->filename, fails, {}, json::Value()};
        answer = task_json(task_id, t, true);
    }
    send_json(res, fails ? 422 : 200, answer);
}

enum class Route { Catalogue, Task, Submit, Unknown };

// Every API request goes through here: the fault queue first, then the key, then the call.
void api_request(const httplib::Request& req, httplib::Response& res, const std::string& body, Route route) {
    json::Object record{{"method", req.method}, {"path", req.path}, {"body_size", static_cast<double>(body.size())},
                        {"time", now_hms()}};
    json::Object headers;
    for (const auto& h : req.headers) headers[h.first == ORIGINAL_CONTENT_TYPE ? "Content-Type" : h.first] = h.second;
    record["headers"] = headers;
    // Whole bodies are kept for small requests only; a large upload is described by its file's
    // hash in the submission record.
    if (!body.empty() && body.size() <= MAX_RECORDED_BODY) {
        record["body_sha256"] = sha256::hex(body);
        record["body_base64"] = demo::base64_encode(body);
    }

    demo::Fault fault;
    bool faulted = g_faults.take(req.method, req.path, fault);
    if (faulted) record["fault"] = demo::action_name(fault.action);
    if (faulted && fault.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(fault.delay_ms));
    if (faulted && fault.action != demo::FaultAction::None) {
        if (!demo::apply_fault(req, res, fault)) log_stderr("aviso: conexão a derrubar não encontrada");
        record["status"] = fault.action == demo::FaultAction::Drop ? 0 : res.status;
        std::lock_guard<std::mutex> lock(g_state.mutex);
        g_state.requests.push(record);
        return;
    }

    std::string key = req.get_header_value("x-api-key");
    bool key_ok;
    {
        std::lock_guard<std::mutex> lock(g_state.mutex);
        key_ok = !key.empty() && key == g_state.options.key;
    }
    if (!key_ok) {
        send_json(res, 401, error_body("API Key inválida"));
    } else {
        switch (route) {
            case Route::Catalogue: send_json(res, 200, catalogue_json()); break;
            case Route::Task: get_task(req.matches[1].str(), res); break;
            case Route::Submit: {
                json::Object sub{{"time", now_hms()}};
                submit(req, body, res, sub);
                sub["status"] = res.status;
                for (const char* k : {"operation", "awaitResult", "priority", "callbackUrl"}) {
                    auto it = sub.find("fields");
                    if (it != sub.end()) {
                        json::Value v = it->second.get(k);
                        if (v.is_string()) sub[k] = v;
                    }
                }
                sub["content_type"] = req.get_header_value(ORIGINAL_CONTENT_TYPE);
                if (body.size() <= MAX_RECORDED_BODY) sub["body_base64"] = demo::base64_encode(body);
                sub["body_size"] = static_cast<double>(body.size());
                std::lock_guard<std::mutex> lock(g_state.mutex);
                g_state.submissions.push(sub);
                break;
            }
            case Route::Unknown: send_json(res, 404, error_body("rota não encontrada")); break;
        }
    }
    record["status"] = res.status;
    std::lock_guard<std::mutex> lock(g_state.mutex);
    g_state.requests.push(record);
}

bool control_allowed(const httplib::Request& req, httplib::Response& res) {
    if (is_loopback(req.remote_addr)) return true;
    send_json(res, 403, error_body("controle só pela interface local"));
    return false;
}

bool parse_control_body(const httplib::Request& req, httplib::Response& res, json::Value& out) {
    if (req.body.empty()) {
        out = json::Object{};
        return true;
    }
    try {
        out = json::parse(req.body);
        return true;
    } catch (const std::exception& e) {
        send_json(res, 400, error_body(std::string("JSON inválido: ") + e.what()));
        return false;
    }
}

void control_add_faults(const httplib::Request& req, httplib::Response& res) {
    json::Value body;
    if (!control_allowed(req, res) || !parse_control_body(req, res, body)) return;
    json::Array items = body.is_array() ? body.as_array() : json::Array{body};
    std::vector<demo::Fault> parsed;
    for (const auto& item : items) {
        demo::Fault f;
        std::string error;
        if (!demo::fault_from_json(item, f, error)) return send_json(res, 400, error_body(error));
        parsed.push_back(f);
    }
    if (!g_faults.add(parsed)) return send_json(res, 400, error_body("falhas demais na fila"));
    send_json(res, 200, json::Object{{"pending", static_cast<double>(g_faults.size())}});
}

void control_state(const httplib::Request& req, httplib::Response& res, bool with_records) {
    if (!control_allowed(req, res)) return;
    json::Value faults = g_faults.to_json();
    std::lock_guard<std::mutex> lock(g_state.mutex);
    json::Object o{{"credits", static_cast<double>(g_state.credits)},
                   {"faults", faults},
                   {"request_count", static_cast<double>(g_state.requests.size())},
                   {"submission_count", static_cast<double>(g_state.submissions.size())}};
    if (with_records) {
        o["requests"] = g_state.requests.items();
        o["submissions"] = g_state.submissions.items();
    }
    send_json(res, 200, o);
}

void control_reset(const httplib::Request& req, httplib::Response& res, long long initial_credits) {
    json::Value body;
    if (!control_allowed(req, res) || !parse_control_body(req, res, body)) return;
    g_faults.clear();
    std::lock_guard<std::mutex> lock(g_state.mutex);
    g_state.requests.clear();
    g_state.submissions.clear();
    g_state.tasks.clear();
    g_state.credits = initial_credits;
    if (body.get("credits").is_number()) g_state.credits = static_cast<long long>(std::max(0.0, body.get("credits").as_number()));
    if (body.get("task_ms").is_number()) {
        g_state.options.task_ms = static_cast<int>(std::min(600000.0, std::max(0.0, body.get("task_ms").as_number())));
    }
    send_json(res, 200, json::Object{{"credits", static_cast<double>(g_state.credits)}});
}

void control_credits(const httplib::Request& req, httplib::Response& res) {
    json::Value body;
    if (!control_allowed(req, res) || !parse_control_body(req, res, body)) return;
    if (!body.get("credits").is_number()) return send_json(res, 400, error_body("informe 'credits'"));
    std::lock_guard<std::mutex> lock(g_state.mutex);
    g_state.credits = static_cast<long long>(std::max(0.0, body.get("credits").as_number()));
    send_json(res, 200, json::Object{{"credits", static_cast<double>(g_state.credits)}});
}

const char* const USAGE =
    "Uso: dorvane-demo-service [--host HOST] [--port PORTA] [--key CHAVE] [--credits N] [--task-ms MS]\n"
    "                          [--max-request-bytes N]\n"
    "\n"
    "Serviço de demonstração do Dorvane: responde às chamadas do cliente em /api/operations.\n"
    "  --host HOST    endereço de escuta (padrão 127.0.0.1)\n"
    "  --port PORTA   porta (padrão 0: uma porta livre)\n"
    "  --key CHAVE    API Key aceita (padrão demo-key)\n"
    "  --credits N    créditos iniciais (padrão 1000)\n"
    "  --task-ms MS   duração de uma tarefa (padrão 200)\n"
    "  --max-request-bytes N  maior corpo de requisição aceito (padrão 209715200)\n"
    "Mostra \"listening on http://HOST:PORTA\" na saída padrão quando está pronto.\n";

bool parse_number(const std::string& s, long long lo, long long hi, long long& out) {
    if (s.empty() || s.size() > 18) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    out = std::stoll(s);
    return out >= lo && out <= hi;
}

int parse_options(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        std::string value;
        size_t eq = a.find('=');
        std::string name = a.substr(0, eq);
        if (eq != std::string::npos) {
            value = a.substr(eq + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            std::fprintf(stderr, "dorvane-demo-service: a opção %s exige um valor\n", name.c_str());
            return 64;
        }
        long long n = 0;
        if (name == "--host" && !value.empty()) {
            o.host = value;
        } else if (name == "--port" && parse_number(value, 0, 65535, n)) {
            o.port = static_cast<int>(n);
        } else if (name == "--key" && !value.empty()) {
            o.key = value;
        } else if (name == "--credits" && parse_number(value, 0, 1000000000000LL, n)) {
            o.credits = n;
        } else if (name == "--task-ms" && parse_number(value, 0, 600000, n)) {
            o.task_ms = static_cast<int>(n);
        } else if (name == "--max-request-bytes" && parse_number(value, 1, 1LL << 40, n)) {
            o.max_request_bytes = static_cast<size_t>(n);
        } else {
            std::fprintf(stderr, "dorvane-demo-service: opção inválida: %s\n%s", a.c_str(), USAGE);
            return 64;
        }
    }
    return -1;
}

// Limits, socket options and threads of the server, and the Content-Type set aside before routing.
void configure(httplib::Server& server, const Options& options) {
    server.set_payload_max_length(options.max_request_bytes);
    // The library's default adds SO_REUSEPORT, which lets a second service bind a port that is
    // already in use and silently share it; a busy port must be an error.
    server.set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_read_timeout(30);
    // The library's pool has 8 threads; `dorvane send --parallel 8` alone fills that, and the
    // tests' control calls must still get through while every upload waits on its task.
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };

    // cpp-httplib 0.11 always runs its own multipart parser on a multipart/form-data body, even
    // for a raw content reader (which then fails), and keeps no copy of the raw bytes. The demo
    // service must see the bytes exactly as sent, so before the body is read the Content-Type is
    // moved to a private header and the body arrives untouched. The Request is a non-const local
    // of the library; only its header map is changed.
    server.set_pre_routing_handler([](const httplib::Request& creq, httplib::Response&) {
        auto& req = const_cast<httplib::Request&>(creq);
        req.headers.erase(ORIGINAL_CONTENT_TYPE);
        auto it = req.headers.find("Content-Type");
        if (it != req.headers.end()) {
            std::string value = it->second;
            req.headers.erase(it);
            req.headers.emplace(ORIGINAL_CONTENT_TYPE, value);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

void add_routes(httplib::Server& server, const Options& options) {
    server.Get("/api/operations", [](const httplib::Request& req, httplib::Response& res) {
        api_request(req, res, "", Route::Catalogue);
    });
    server.Get(R"(/api/operations/([^/]+))", [](const httplib::Request& req, httplib::Response& res) {
        api_request(req, res, "", Route::Task);
    });
    const size_t max_request_bytes = options.max_request_bytes;
    server.Post("/api/operations", [max_request_bytes](const httplib::Request& req, httplib::Response& res,
                                                       const httplib::ContentReader& reader) {
                    std::string body;
                    bool complete = reader([&](const char* data, size_t len) {
                        if (body.size() + len > max_request_bytes) return false;
                        body.append(data, len);
                        return true;
                    });
                    if (!complete) {
                        res.set_header("Connection", "close");
                        send_json(res, 413, error_body("requisição grande demais ou incompleta"));
                        return;
                    }
                    api_request(req, res, body, Route::Submit);
                });

    server.Post("/__control/faults", control_add_faults);
    server.Get("/__control/faults", [](const httplib::Request& req, httplib::Response& res) {
        control_state(req, res, false);
    });
    server.Get("/__control/received", [](const httplib::Request& req, httplib::Response& res) {
        control_state(req, res, true);
    });
    const long long initial_credits = options.credits;
    server.Post("/__control/reset", [initial_credits](const httplib::Request& req, httplib::Response& res) {
        control_reset(req, res, initial_credits);
    });
    server.Post("/__control/credits", control_credits);

    server.Get(R"(/api/.*)", [](const httplib::Request& req, httplib::Response& res) {
        api_request(req, res, "", Route::Unknown);
    });
}

// Unknown routes, exceptions and the one log line per request.
void add_handlers(httplib::Server& server) {
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) send_json(res, res.status, error_body("rota não encontrada"));
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "?";
        try {
            if (ep) std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        log_stderr("erro interno: " + what);
        send_json(res, 500, error_body("erro interno do serviço de demonstração"));
    });
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        std::string in = req.get_header_value("Content-Length");
        std::string fault = res.get_header_value("X-Demo-Fault");
        log_stderr(req.remote_addr + " " + req.method + " " + req.path + " -> " + std::to_string(res.status) +
                   (in.empty() ? "" : " (" + in + " bytes recebidos)") +
                   (fault.empty() ? "" : " [falha simulada: " + fault + "]"));
    });
}

// The port bound (a free one for port 0), or -1.
int bind_port(httplib::Server& server, const Options& options) {
    if (options.port == 0) {
        const int port = server.bind_to_any_port(options.host);
        return port > 0 ? port : -1;
    }
    return server.bind_to_port(options.host, options.port) ? options.port : -1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int rc = parse_options(argc, argv, options);
    if (rc >= 0) return rc;

    // SIGINT/SIGTERM are taken by one thread with sigwait, so that stopping the server happens
    // outside a signal handler. Writes to a peer that went away must not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    g_state.options = options;
    g_state.credits = options.credits;

    httplib::Server server;
    configure(server, options);
    add_routes(server, options);
    add_handlers(server);
    const int port = bind_port(server, options);
    if (port <= 0) {
        std::fprintf(stderr, "dorvane-demo-service: não foi possível escutar em %s:%d\n", options.host.c_str(),
                     options.port);
        return 1;
    }

    std::thread([&server, stop_signals] {
        int sig = 0;
        sigwait(&stop_signals, &sig);
        server.stop();
    }).detach();

    const std::string shown_host = options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
    std::printf("listening on http://%s:%d\n", shown_host.c_str(), port);
    std::fflush(stdout);
    bool ok = server.listen_after_bind();
    log_stderr("serviço encerrado");
    std::fflush(stdout);
    // Workers may sit in a keep-alive wait for seconds; nothing is left to save, so leave now.
    _exit(ok ? 0 : 1);
}
