// The batch upload engine: sends a list of files one after another to one operation, with a size
// limit, retries with back-off, stop rules (invalid key, no credits), cancellation and a results
// log (JSON Lines, flushed per line, plus a JSON array at the end). It knows nothing of windows
// and reports only through the callbacks.
//
// Failure style: every file ends in an UploadOutcome; only a stop reason or a cancellation ends
// a batch early. Nothing throws for ordinary failures.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/json.h"
#include "core/fileutils.h"
#include "service/api_client.h"
#include "service/resume_index.h"

namespace cfg {
// Wait after failed attempt a (1-based) is entry min(a, 3) - 1.
extern const std::vector<int> RETRY_BACKOFF_MS;  // 2000, 8000, 30000
}  // namespace cfg

namespace dorvane {

enum class OutcomeKind : int32_t { Success = 0, Failed = 1, Skipped = 2 };

struct UploadOutcome {
    std::string file;
    std::string name;
    std::string task_id;
    std::string status;
    OutcomeKind result = OutcomeKind::Failed;
    int32_t attempts = 0;
    std::string error;
    json::Value response;
    // What was sent, so that a later batch can tell that this content already reached this
    // operation: the operation code, the bytes read for upload (0 until the file is read), their
    // SHA-256 in hex, and the local time of the last attempt (ISO 8601; empty before one).
    std::string operation;
    uint64_t size = 0;
    std::string sha256;
    std::string sent_at;

    json::Value to_json() const;
};

struct BatchCallbacks {
    std::function<void(const std::string&)> log;
    std::function<void(const std::string&)> status;
    std::function<void(int, int)> progress;
    std::function<void(const UploadOutcome&)> file_done;
    // Bytes of the file's upload sent so far (display name, sent, total), during the transfer,
    // from the thread that uploads it. Not every platform reports it.
    std::function<void(const std::string&, uint64_t, uint64_t)> upload_progress;
};

class BatchUploader {
public:
    struct Options {
        std::string operation_code;
        bool await_result = false;
        std::string results_dir;
        int32_t delay_between_files_ms = 500;
        int32_t max_attempts = 3;
        uint64_t max_file_bytes = 52428800;
        // The back-off table; tests shorten it, the product keeps cfg::RETRY_BACKOFF_MS.
        std::vector<int> backoff_ms = cfg::RETRY_BACKOFF_MS;
        // Files (by path) whose content earlier batches already sent to this operation
        // (find_already_sent): they are recorded as "already-sent" and not sent again.
        std::map<std::string, EarlierSend> already_sent;
        // Files uploaded at once, 1 to MAX_PARALLEL; each runs the whole pipeline on its own.
        int32_t parallel = 1;
        // When the results file cannot be created, send nothing: the command line must never
        // pay for a batch that leaves no record. The window keeps sending and warns.
        bool require_results_file = false;
        // Every pause of the engine (back-off, Retry-After, the pause between files) goes through
        // this one wait, which must return early once `cancel` is raised. Empty: sleep in slices
        // of 100 ms, testing `cancel` before each. Tests put one here that does not sleep.
        std::function<void(int ms, const std::atomic<bool>& cancel)> wait;
    };

    struct Summary {
        int32_t total = 0;
        int32_t succeeded = 0;
        int32_t failed = 0;
        int32_t skipped = 0;
        int32_t already_sent = 0;  // of `skipped`: files an earlier batch had sent
        bool cancelled = false;
        bool stopped = false;
        std::string stop_reason;
        std::string results_path;
        bool results_saved = false;     // the JSON Lines file was created
        std::string results_error;      // the system's reason when it was not
        bool refused = false;           // nothing was sent: require_results_file and no file
    };

    // The batch's results log: a JSON Lines file in the "dorvane_results" folder, one line per
    // outcome, flushed as it is appended, and at close() the same records as a JSON array. When the
    // file cannot be created the records are still collected, and nothing is written.
    class ResultsWriter {
    public:
        explicit ResultsWriter(const std::string& results_dir);
        ~ResultsWriter();
        void append(const UploadOutcome& outcome);
        void close();
        bool is_open() const { return file_.is_open(); }
        const std::string& path() const { return results_path_; }
        const std::string& error() const { return error_; }  // why the file could not be created

    private:
        fileutils::OutFile file_;
        std::string results_path_;
        std::vector<json::Value> records_;
        std::string error_;
    };

    explicit BatchUploader(ApiClient* c) : client(c) {}

    Summary run(const std::vector<std::string>& paths, const Options& options,
                const BatchCallbacks& callbacks);
    UploadOutcome process_one(const std::string& path, const std::string& name, int index, int total,
                              const Options& options, const BatchCallbacks& callbacks);

    static constexpr int MAX_PARALLEL = 8;

    // For a process that must end while a file is still being uploaded (a second Ctrl+C): the
    // service may already have that file, so it gets an "interrupted" record, and the JSON file
    // is written now. Callable from any thread while `run` is going; the batch records nothing
    // more afterwards. False when no results file was open; `results_path` names it otherwise.
    bool abandon(std::string& results_path, std::vector<UploadOutcome>& interrupted);

    ApiClient* client = nullptr;
    std::atomic<bool> cancel_requested{false};
    // Written by the pipeline under stop_mutex_ (parallel workers may hit 401/402 together).
    std::string stop_reason;

private:
    struct RunState;  // one running batch, shared by its workers

    // The engine's one way to pause: options.wait, or sleeping in cancellable slices.
    void pause(const Options& options, int64_t ms);
    // Pauses, cancellably, until the tick count reaches `tick_ms`.
    void wait_until(const Options& options, uint64_t tick_ms);
    // Waits out the service's pacing; false when the batch was cancelled before or meanwhile.
    bool ready_for_attempt(const Options& options);
    // Up to max_attempts submissions of `data`, with the back-off between them; fills `out`.
    void send_with_retries(UploadOutcome& out, const std::vector<uint8_t>& data, const std::string& prefix,
                           const Options& options, const BatchCallbacks& callbacks);
    // Records the stop reason a failure gives the batch; true when the batch is stopping.
    bool note_stop(const ApiError& error);
    // The pause in ms that the service asked for (Retry-After on 429 or 503), which every worker
    // then keeps; -1 when it asked for none.
    int64_t note_pacing(const SubmitResult& result);
    // One worker of `run`: takes the next file until none is left or the batch ends.
    void work(RunState& state);
    // Counts and records a finished file; true when the worker may start another.
    bool account(RunState& state, const UploadOutcome& outcome, bool already_sent);

    std::mutex stop_mutex_;
    // Tick count before which no attempt starts: the latest Retry-After of the service.
    std::atomic<uint64_t> pace_until_ms_{0};

    void set_in_flight(const UploadOutcome& outcome, bool flying);
    void record(const UploadOutcome& outcome);

    // Guards what `abandon` reaches from another thread: the running batch's writer and the files
    // whose upload is under way.
    std::mutex results_mutex_;
    ResultsWriter* writer_ = nullptr;
    bool abandoned_ = false;
    std::vector<UploadOutcome> in_flight_;
};

}  // namespace dorvane
