#include "service/batch_uploader.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "core/fileutils.h"
#include "core/sha256.h"
#include "core/sys.h"
#include "core/text.h"
#include "net/http_client.h"
#include "service/pacing.h"

namespace cfg {
const std::vector<int> RETRY_BACKOFF_MS = {2000, 8000, 30000};
}  // namespace cfg

namespace dorvane {

namespace {

constexpr int WAIT_SLICE_MS = 100;
constexpr const char* SENT_AT_FORMAT = "%Y-%m-%dT%H:%M:%S";

const char* const STOP_INVALID_KEY = "API Key inválida ou desativada — verifique a chave.";
const char* const STOP_NO_CREDITS = "Créditos insuficientes para esta operação.";

// Waits up to `ms`, in slices short enough that a cancellation is seen within one slice. The
// deadline comes from the tick count so that oversleeping slices do not stretch the wait.
void cancellable_wait(const std::atomic<bool>& cancel, int ms) {
    if (ms <= 0) return;
    const uint64_t deadline = sys::tick_count_ms() + static_cast<uint64_t>(ms);
    for (;;) {
        if (cancel.load()) return;
        const uint64_t now = sys::tick_count_ms();
        if (now >= deadline) return;
        sys::sleep_ms(static_cast<int>(std::min<uint64_t>(WAIT_SLICE_MS, deadline - now)));
    }
}

// The wait after failed attempt `attempt` (1-based): the table's entry for that attempt, its last
// entry for every later one.
int backoff_for(const std::vector<int>& table, int attempt) {
    if (table.empty()) return 0;
    const size_t i = std::min(static_cast<size_t>(attempt), table.size()) - 1;
    return table[i];
}

bool is_retryable(const ApiError& e) {
    if (e.kind == ApiError::Network) return true;
    if (e.kind != ApiError::Http) return false;
    return e.http_status == 408 || e.http_status == 429 || e.http_status >= 500;
}

// A file whose content an earlier batch sent to this operation: recorded with that send's task and
// fingerprint, never submitted.
UploadOutcome already_sent_outcome(const std::string& path, const std::string& name, int index, int total,
                                   const std::string& operation, const EarlierSend& earlier,
                                   const BatchCallbacks& callbacks) {
    UploadOutcome out;
    out.file = path;
    out.name = name;
    out.result = OutcomeKind::Skipped;
    out.status = "already-sent";
    out.task_id = earlier.task_id;
    out.operation = operation;
    out.size = earlier.size;
    out.sha256 = earlier.sha256;
    out.sent_at = earlier.sent_at;
    if (callbacks.log) {
        callbacks.log("[PULADO] [" + std::to_string(index) + "/" + std::to_string(total) + "] " + name +
                      " — já enviado em " + display_time(earlier.sent_at) + " (task " + earlier.task_id + ")");
    }
    return out;
}

// The SHA-256 of a document being sent. Hashing 50 MB takes about as long as sending it over a
// fast link, so for large files it runs on a thread of its own while the first attempt is under
// way; small files are hashed at once. The digest is always of the very bytes that are sent.
class BackgroundDigest {
public:
    explicit BackgroundDigest(const std::vector<uint8_t>& data) : data_(data) {
        if (data.size() < BACKGROUND_DIGEST_BYTES) {
            digest_ = compute(data);
        } else {
            thread_ = std::thread([this] { digest_ = compute(data_); });
        }
    }
    ~BackgroundDigest() {
        if (thread_.joinable()) thread_.join();
    }
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;

    const std::string& hex() {
        if (thread_.joinable()) thread_.join();
        return digest_;
    }

private:
    static constexpr size_t BACKGROUND_DIGEST_BYTES = size_t(1) << 20;
    static std::string compute(const std::vector<uint8_t>& data) {
        sha256::Hasher hasher;
        hasher.update(data.data(), data.size());
        return hasher.finish_hex();
    }

    const std::vector<uint8_t>& data_;
    std::string digest_;
    std::thread thread_;
};

// What the service's answer says of the whole batch: a stop reason, or empty.
std::string stop_reason_for(const ApiError& error) {
    if (error.kind != ApiError::Http) return "";
    if (error.http_status == 401) return STOP_INVALID_KEY;
    if (error.http_status == 402) return error.message.empty() ? std::string(STOP_NO_CREDITS) : error.message;
    return "";
}

std::string position_prefix(int index, int total) {
    return "[" + std::to_string(index) + "/" + std::to_string(total) + "] ";
}

std::string over_limit_text(uint64_t limit, uint64_t size) {
    return "excede o limite de " + fileutils::format_size(limit) + " (tem " + fileutils::format_size(size) + ")";
}

// Reads the document for upload after the size checks; the reason it is skipped, or empty.
// `size` is the size the file had when checked.
std::string read_document(const std::string& path, uint64_t max_bytes, uint64_t& size, std::vector<uint8_t>& data) {
    if (!fileutils::file_size(path, size) || size == 0) return "arquivo vazio ou inacessível";
    if (size > max_bytes) return over_limit_text(max_bytes, size);
    data = text::read_all(path);
    if (data.empty()) return "falha ao ler o arquivo";
    // A file that grew after its size was checked must not get past the memory bound.
    if (data.size() > max_bytes) return over_limit_text(max_bytes, data.size());
    return "";
}

void mark_cancelled(UploadOutcome& out) {
    out.result = OutcomeKind::Skipped;
    out.status = "cancelled";
    out.error = "cancelado antes do envio";
}

}  // namespace

void BatchUploader::pause(const Options& options, int64_t ms) {
    const int bounded = static_cast<int>(std::min<int64_t>(ms, INT32_MAX));
    if (options.wait) {
        options.wait(bounded, cancel_requested);
    } else {
        cancellable_wait(cancel_requested, bounded);
    }
}

void BatchUploader::wait_until(const Options& options, uint64_t tick_ms) {
    const uint64_t now = sys::tick_count_ms();
    if (tick_ms > now) pause(options, static_cast<int64_t>(std::min<uint64_t>(tick_ms - now, INT32_MAX)));
}

bool BatchUploader::ready_for_attempt(const Options& options) {
    if (cancel_requested.load()) return false;
    // The service asked every client to hold off (Retry-After): other workers' files wait too.
    if (sys::tick_count_ms() < pace_until_ms_.load()) {
        wait_until(options, pace_until_ms_.load());
        if (cancel_requested.load()) return false;
    }
    return true;
}

bool BatchUploader::note_stop(const ApiError& error) {
    const std::string reason = stop_reason_for(error);
    std::lock_guard<std::mutex> lock(stop_mutex_);
    if (!reason.empty()) stop_reason = reason;
    return !stop_reason.empty();
}

int64_t BatchUploader::note_pacing(const SubmitResult& r) {
    const bool paced = r.error.kind == ApiError::Http && (r.error.http_status == 429 || r.error.http_status == 503) &&
                       !r.retry_after.empty();
    const int64_t pace_ms = paced ? retry_after_ms(r.retry_after, static_cast<int64_t>(std::time(nullptr))) : -1;
    if (pace_ms >= 0) {
        const uint64_t until = sys::tick_count_ms() + static_cast<uint64_t>(pace_ms);
        uint64_t seen = pace_until_ms_.load();
        while (seen < until && !pace_until_ms_.compare_exchange_weak(seen, until)) {
        }
    }
    return pace_ms;
}

UploadOutcome BatchUploader::process_one(const std::string& path, const std::string& name, int index,
                                         int total, const Options& options, const BatchCallbacks& callbacks) {
    UploadOutcome out;
    out.file = path;
    out.name = name;
    out.operation = options.operation_code;
    const std::string prefix = position_prefix(index, total);
    auto log = [&](const std::string& line) {
        if (callbacks.log) callbacks.log(line);
    };

    uint64_t size = 0;
    std::vector<uint8_t> data;
    const std::string skip = read_document(path, options.max_file_bytes, size, data);
    if (!skip.empty()) {
        out.result = OutcomeKind::Skipped;
        out.status = "skipped";
        out.error = skip;
        log("[PULADO] " + prefix + name + " — " + out.error);
        return out;
    }
    // The digest is taken from the very bytes that are sent, so a file changed on disk meanwhile
    // cannot be recorded with another content's fingerprint.
    out.size = data.size();
    BackgroundDigest digest(data);
    log("[ENVIO] " + prefix + name + " (" + fileutils::format_size(size) + ")");
    if (options.max_attempts < 1) {
        out.status = "failed";
    } else {
        send_with_retries(out, data, prefix, options, callbacks);
    }
    out.sha256 = digest.hex();
    return out;
}

void BatchUploader::send_with_retries(UploadOutcome& out, const std::vector<uint8_t>& data, const std::string& prefix,
                                      const Options& options, const BatchCallbacks& callbacks) {
    auto log = [&](const std::string& line) {
        if (callbacks.log) callbacks.log(line);
    };
    using ProgressHook = std::function<void(uint64_t, uint64_t)>;
    const std::string& name = out.name;
    const http::UploadProgressScope progress_scope(
        callbacks.upload_progress
            ? ProgressHook([&](uint64_t sent, uint64_t total) { callbacks.upload_progress(name, sent, total); })
            : ProgressHook());

    for (int attempt = 1;; ++attempt) {
        if (!ready_for_attempt(options)) return mark_cancelled(out);
        out.attempts = attempt;
        out.sent_at = sys::local_time(SENT_AT_FORMAT);
        set_in_flight(out, true);
        SubmitResult r = client->submit_document(name, data, options.operation_code, options.await_result, 0, "");
        set_in_flight(out, false);

        if (r.ok) {
            out.result = OutcomeKind::Success;
            out.task_id = r.task_id;
            out.status = r.status;
            out.response = std::move(r.response);
            log("[OK] " + prefix + "task " + out.task_id + (out.status.empty() ? "" : " (" + out.status + ")"));
            return;
        }
        out.error = r.error.to_string();
        out.task_id = r.task_id;
        if (!r.status.empty()) out.status = r.status;
        if (!r.response.is_null()) out.response = std::move(r.response);
        const bool stopping = note_stop(r.error);
        const int64_t pace_ms = note_pacing(r);
        if (!is_retryable(r.error) || attempt >= options.max_attempts || stopping) break;

        const int64_t delay = pace_ms >= 0 ? pace_ms : backoff_for(options.backoff_ms, attempt);
        log("[RETRY] " + prefix + out.error + " — nova tentativa em " + std::to_string(delay / 1000) + "s (" +
            std::to_string(attempt + 1) + "/" + std::to_string(options.max_attempts) + ")");
        if (pace_ms >= 0) {
            wait_until(options, pace_until_ms_.load());
        } else {
            pause(options, delay);
        }
    }
    out.result = OutcomeKind::Failed;
    if (out.status.empty()) out.status = "failed";
    log("[ERRO] " + prefix + out.name + " — " + out.error);
}

// `state` guards the position, the counts, the results writer and the callbacks that report a
// finished file, so each results line is written whole and the counts match a sequential run's.
struct BatchUploader::RunState {
    RunState(const std::vector<std::string>& p, const Options& o, const BatchCallbacks& c, Summary& s)
        : paths(p), options(o), callbacks(c), summary(s) {}

    const std::vector<std::string>& paths;
    const Options& options;
    const BatchCallbacks& callbacks;
    Summary& summary;
    std::mutex mutex;
    size_t next = 0;
    int32_t finished = 0;
    bool ended = false;  // a cancellation or a stop reason was seen: start no more files

    void log(const std::string& line) const {
        if (callbacks.log) callbacks.log(line);
    }
};

BatchUploader::Summary BatchUploader::run(const std::vector<std::string>& paths, const Options& options,
                                          const BatchCallbacks& callbacks) {
    cancel_requested.store(false);
    pace_until_ms_.store(0);

    Summary summary;
    summary.total = static_cast<int32_t>(paths.size());
    RunState state(paths, options, callbacks, summary);

    ResultsWriter writer(options.results_dir);
    summary.results_path = writer.path();
    summary.results_saved = writer.is_open();
    summary.results_error = writer.error();
    if (!writer.is_open()) {
        if (options.require_results_file) {
            summary.refused = true;
            return summary;
        }
        state.log("[AVISO] Não foi possível criar o arquivo de resultados em " + summary.results_path);
    }
    {
        std::lock_guard<std::mutex> lock(results_mutex_);
        writer_ = &writer;
    }
    // The writer dies with this function; abandon() must never reach it afterwards.
    struct Unpublish {
        BatchUploader& self;
        ~Unpublish() {
            std::lock_guard<std::mutex> lock(self.results_mutex_);
            self.writer_ = nullptr;
        }
    } unpublish{*this};

    // Every worker takes the next file not yet started and runs it through the whole pipeline; with
    // one worker this is the plain loop, file after file.
    const int workers = std::max(1, std::min<int>(options.parallel, MAX_PARALLEL));
    if (workers == 1) {
        work(state);
    } else {
        std::vector<std::thread> pool;
        for (int w = 0; w < workers; ++w) pool.emplace_back([this, &state] { work(state); });
        for (auto& t : pool) t.join();
    }

    if (callbacks.progress) callbacks.progress(summary.total, summary.total);
    {
        std::lock_guard<std::mutex> lock(results_mutex_);
        if (!abandoned_) writer.close();
    }
    return summary;
}

void BatchUploader::work(RunState& state) {
    const auto& paths = state.paths;
    const Options& options = state.options;
    const BatchCallbacks& callbacks = state.callbacks;
    for (;;) {
        size_t i;
        std::string name;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.ended || state.next >= paths.size()) return;
            if (cancel_requested.load()) {
                state.ended = true;
                state.summary.cancelled = true;
                state.log("[CANCELADO] Envio interrompido pelo usuário.");
                return;
            }
            i = state.next++;
            name = fileutils::base_name(paths[i]);
            if (callbacks.progress) callbacks.progress(state.finished, state.summary.total);
            if (callbacks.status) {
                callbacks.status("Enviando " + std::to_string(i + 1) + "/" + std::to_string(state.summary.total) +
                                 ": " + name);
            }
        }
        const int position = static_cast<int>(i) + 1;
        const auto earlier = options.already_sent.find(paths[i]);
        const bool skip_earlier = earlier != options.already_sent.end();
        const UploadOutcome outcome =
            skip_earlier ? already_sent_outcome(paths[i], name, position, state.summary.total, options.operation_code,
                                                earlier->second, callbacks)
                         : process_one(paths[i], name, position, state.summary.total, options, callbacks);
        const bool more = account(state, outcome, skip_earlier);
        // Nothing went to the service for an already-sent file, so there is nothing to space out.
        if (more && !skip_earlier && options.delay_between_files_ms > 0 && !cancel_requested.load()) {
            pause(options, options.delay_between_files_ms);
        }
    }
}

bool BatchUploader::account(RunState& state, const UploadOutcome& outcome, bool already_sent) {
    std::lock_guard<std::mutex> lock(state.mutex);
    Summary& summary = state.summary;
    if (already_sent) ++summary.already_sent;
    switch (outcome.result) {
        case OutcomeKind::Success: ++summary.succeeded; break;
        case OutcomeKind::Skipped: ++summary.skipped; break;
        default: ++summary.failed; break;
    }
    ++state.finished;
    record(outcome);
    if (state.callbacks.file_done) state.callbacks.file_done(outcome);

    std::string reason;
    {
        std::lock_guard<std::mutex> stop_lock(stop_mutex_);
        reason = stop_reason;
    }
    if (!reason.empty() && !summary.stopped) {
        state.ended = true;
        summary.stopped = true;
        summary.stop_reason = reason;
        state.log("[PARADA] " + reason);
    }
    return !state.ended && state.next < state.paths.size();
}

void BatchUploader::set_in_flight(const UploadOutcome& outcome, bool flying) {
    std::lock_guard<std::mutex> lock(results_mutex_);
    auto it = std::find_if(in_flight_.begin(), in_flight_.end(),
                           [&](const UploadOutcome& f) { return f.file == outcome.file; });
    if (it != in_flight_.end()) in_flight_.erase(it);
    if (flying) in_flight_.push_back(outcome);
}

void BatchUploader::record(const UploadOutcome& outcome) {
    std::lock_guard<std::mutex> lock(results_mutex_);
    if (writer_ && !abandoned_) writer_->append(outcome);
}

bool BatchUploader::abandon(std::string& results_path, std::vector<UploadOutcome>& interrupted) {
    std::lock_guard<std::mutex> lock(results_mutex_);
    interrupted.clear();
    if (abandoned_ || !writer_) return false;
    abandoned_ = true;
    for (UploadOutcome out : in_flight_) {
        // What was sent stays (fingerprint, attempts); what the service answered is unknown.
        out.task_id.clear();
        out.response = json::Value();
        out.status = "interrupted";
        out.result = OutcomeKind::Failed;
        out.error = "envio interrompido — o serviço pode ter recebido o arquivo";
        writer_->append(out);
        interrupted.push_back(std::move(out));
    }
    results_path = writer_->path();
    const bool saved = writer_->is_open();
    writer_->close();
    return saved;
}

}  // namespace dorvane
