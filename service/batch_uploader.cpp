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

}  // namespace

void BatchUploader::wait_until(uint64_t tick_ms) {
    const uint64_t now = sys::tick_count_ms();
    if (tick_ms > now) cancellable_wait(cancel_requested, static_cast<int>(std::min<uint64_t>(tick_ms - now, INT32_MAX)));
}

UploadOutcome BatchUploader::process_one(const std::string& path, const std::string& name, int index,
                                         int total, const Options& options, const BatchCallbacks& callbacks) {
    UploadOutcome out;
    out.file = path;
    out.name = name;
    out.operation = options.operation_code;
    const std::string prefix = "[" + std::to_string(index) + "/" + std::to_string(total) + "] ";
    auto log = [&](const std::string& line) {
        if (callbacks.log) callbacks.log(line);
    };
    auto skip = [&](std::string error) {
        out.result = OutcomeKind::Skipped;
        out.status = "skipped";
        out.error = std::move(error);
        log("[PULADO] " + prefix + name + " — " + out.error);
        return out;
    };
    auto over_limit = [&](uint64_t size) {
        return "excede o limite de " + fileutils::format_size(options.max_file_bytes) + " (tem " +
               fileutils::format_size(size) + ")";
    };

    uint64_t size = 0;
    if (!fileutils::file_size(path, size) || size == 0) return skip("arquivo vazio ou inacessível");
    if (size > options.max_file_bytes) return skip(over_limit(size));

    const std::vector<uint8_t> data = text::read_all(path);
    if (data.empty()) return skip("falha ao ler o arquivo");
    // A file that grew after its size was checked must not get past the memory bound.
    if (data.size() > options.max_file_bytes) return skip(over_limit(data.size()));
    // The digest is taken from the very bytes that are sent, so a file changed on disk meanwhile
    // cannot be recorded with another content's fingerprint.
    out.size = data.size();
    BackgroundDigest digest(data);
    auto finish = [&] {
        out.sha256 = digest.hex();
        return out;
    };

    log("[ENVIO] " + prefix + name + " (" + fileutils::format_size(size) + ")");

    if (options.max_attempts < 1) {
        out.status = "failed";
        return finish();
    }

    auto cancelled = [&] {
        out.result = OutcomeKind::Skipped;
        out.status = "cancelled";
        out.error = "cancelado antes do envio";
        return finish();
    };
    using ProgressHook = std::function<void(uint64_t, uint64_t)>;
    const http::UploadProgressScope progress_scope(
        callbacks.upload_progress ? ProgressHook([&](uint64_t sent, uint64_t size_total) {
            callbacks.upload_progress(name, sent, size_total);
        })
                                  : ProgressHook());

    for (int attempt = 1;; ++attempt) {
        if (cancel_requested.load()) return cancelled();
        // The service asked every client to hold off (Retry-After): other workers' files wait too.
        if (sys::tick_count_ms() < pace_until_ms_.load()) {
            wait_until(pace_until_ms_.load());
            if (cancel_requested.load()) return cancelled();
        }
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
            return finish();
        }

        out.error = r.error.to_string();
        out.task_id = r.task_id;
        if (!r.status.empty()) out.status = r.status;
        if (!r.response.is_null()) out.response = std::move(r.response);

        bool stopping;
        {
            std::lock_guard<std::mutex> lock(stop_mutex_);
            if (r.error.kind == ApiError::Http && r.error.http_status == 401) {
                stop_reason = STOP_INVALID_KEY;
            } else if (r.error.kind == ApiError::Http && r.error.http_status == 402) {
                stop_reason = r.error.message.empty() ? std::string(STOP_NO_CREDITS) : r.error.message;
            }
            stopping = !stop_reason.empty();
        }

        const bool paced = r.error.kind == ApiError::Http &&
                           (r.error.http_status == 429 || r.error.http_status == 503) && !r.retry_after.empty();
        const int64_t pace_ms = paced ? retry_after_ms(r.retry_after, static_cast<int64_t>(std::time(nullptr))) : -1;
        if (pace_ms >= 0) {
            const uint64_t until = sys::tick_count_ms() + static_cast<uint64_t>(pace_ms);
            uint64_t seen = pace_until_ms_.load();
            while (seen < until && !pace_until_ms_.compare_exchange_weak(seen, until)) {
            }
        }

        if (is_retryable(r.error) && attempt < options.max_attempts && !stopping) {
            const int64_t delay = pace_ms >= 0 ? pace_ms : backoff_for(options.backoff_ms, attempt);
            log("[RETRY] " + prefix + out.error + " — nova tentativa em " + std::to_string(delay / 1000) + "s (" +
                std::to_string(attempt + 1) + "/" + std::to_string(options.max_attempts) + ")");
            if (pace_ms >= 0) {
                wait_until(pace_until_ms_.load());
            } else {
                cancellable_wait(cancel_requested, static_cast<int>(delay));
            }
            continue;
        }

        out.result = OutcomeKind::Failed;
        if (out.status.empty()) out.status = "failed";
        log("[ERRO] " + prefix + name + " — " + out.error);
        return finish();
    }
}

BatchUploader::Summary BatchUploader::run(const std::vector<std::string>& paths, const Options& options,
                                          const BatchCallbacks& callbacks) {
    cancel_requested.store(false);
    pace_until_ms_.store(0);

    Summary summary;
    summary.total = static_cast<int32_t>(paths.size());

    auto log = [&](const std::string& line) {
        if (callbacks.log) callbacks.log(line);
    };

    ResultsWriter writer(options.results_dir);
    summary.results_path = writer.path();
    summary.results_saved = writer.is_open();
    summary.results_error = writer.error;
    if (!writer.is_open()) {
        if (options.require_results_file) {
            summary.refused = true;
            return summary;
        }
        log("[AVISO] Não foi possível criar o arquivo de resultados em " + summary.results_path);
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
    // one worker this is the plain loop, file after file. `state` guards the position, the counts,
    // the results writer and the callbacks that report a finished file, so each results line is
    // written whole and the counts match a sequential run's.
    std::mutex state;
    size_t next = 0;
    int32_t finished = 0;
    bool ended = false;  // a cancellation or a stop reason was seen: start no more files
    auto worker = [&] {
        for (;;) {
            size_t i;
            std::string name;
            {
                std::lock_guard<std::mutex> lock(state);
                if (ended || next >= paths.size()) return;
                if (cancel_requested.load()) {
                    ended = true;
                    summary.cancelled = true;
                    log("[CANCELADO] Envio interrompido pelo usuário.");
                    return;
                }
                i = next++;
                name = fileutils::base_name(paths[i]);
                if (callbacks.progress) callbacks.progress(finished, summary.total);
                if (callbacks.status) {
                    callbacks.status("Enviando " + std::to_string(i + 1) + "/" + std::to_string(summary.total) +
                                     ": " + name);
                }
            }
            const int position = static_cast<int>(i) + 1;
            const auto earlier = options.already_sent.find(paths[i]);
            const bool skip_earlier = earlier != options.already_sent.end();
            const UploadOutcome outcome =
                skip_earlier ? already_sent_outcome(paths[i], name, position, summary.total, options.operation_code,
                                                    earlier->second, callbacks)
                             : process_one(paths[i], name, position, summary.total, options, callbacks);
            bool more;
            {
                std::lock_guard<std::mutex> lock(state);
                if (skip_earlier) ++summary.already_sent;
                switch (outcome.result) {
                    case OutcomeKind::Success: ++summary.succeeded; break;
                    case OutcomeKind::Skipped: ++summary.skipped; break;
                    default: ++summary.failed; break;
                }
                ++finished;
                record(outcome);
                if (callbacks.file_done) callbacks.file_done(outcome);

                std::string reason;
                {
                    std::lock_guard<std::mutex> stop_lock(stop_mutex_);
                    reason = stop_reason;
                }
                if (!reason.empty() && !summary.stopped) {
                    ended = true;
                    summary.stopped = true;
                    summary.stop_reason = reason;
                    log("[PARADA] " + reason);
                }
                more = !ended && next < paths.size();
            }
            // Nothing went to the service for an already-sent file, so there is nothing to space out.
            if (more && !skip_earlier && options.delay_between_files_ms > 0 && !cancel_requested.load()) {
                cancellable_wait(cancel_requested, options.delay_between_files_ms);
            }
        }
    };

    const int workers = std::max(1, std::min<int>(options.parallel, MAX_PARALLEL));
    if (workers == 1) {
        worker();
    } else {
        std::vector<std::thread> pool;
        for (int w = 0; w < workers; ++w) pool.emplace_back(worker);
        for (auto& t : pool) t.join();
    }

    if (callbacks.progress) callbacks.progress(summary.total, summary.total);
    {
        std::lock_guard<std::mutex> lock(results_mutex_);
        if (!abandoned_) writer.close();
    }
    return summary;
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
