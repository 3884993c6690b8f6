// `dorvane send`: the window's "Enviar todos" on the command line. Connects like `dorvane
// operations`, shows the same cost confirmation, runs the batch engine with the window's log lines
// on stderr, and maps the batch's end to an exit status. Ctrl+C plays the "Cancelar" button: the
// file being uploaded finishes and the results written so far are kept.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/common.h"
#include "core/fileutils.h"
#include "core/json.h"
#include "core/sys.h"
#include "core/text.h"
#include "files/scan.h"
#include "service/api_client.h"
#include "service/batch_uploader.h"
#include "service/convert_tiffs.h"
#include "service/send_text.h"

namespace {

const char* const USAGE =
    "Uso: dorvane send --operation CÓDIGO [--url URL] [--key CHAVE | --key-file ARQUIVO] [--await]\n"
    "                  [--results-dir PASTA] [--recursive] [--convert] [--quiet] [--json] [--resend]\n"
    "                  [--parallel N] [--yes] CAMINHO...\n"
    "\n"
    "Envia arquivos para uma operação do serviço, um de cada vez (ou N com --parallel), como \"Enviar\n"
    "todos\" na janela. Arquivos que um envio anterior já entregou para a operação são pulados.\n"
    "Cada CAMINHO é um arquivo ou uma pasta; uma pasta é varrida como \"Buscar\" faz (PDF, PNG e JPEG\n"
    "nela e nas subpastas diretas, incluindo os PDFs convertidos). Um arquivo vale pelo conteúdo: PDF,\n"
    "PNG e JPEG vão como estão, um TIFF é convertido antes (em dorvane_converted ao lado dele) e o\n"
    "resto fica de fora, sem ser contado nem cobrado.\n"
    "\n"
    "  --operation CÓDIGO   código da operação (veja \"dorvane operations\")\n"
    "  --url URL            URL do serviço (padrão: DORVANE_URL ou https://api.dorvane.com.br)\n"
    "  --key CHAVE          API Key (padrão: DORVANE_API_KEY)\n"
    "  --key-file ARQUIVO   lê a API Key da primeira linha do ARQUIVO (\"-\": da entrada padrão)\n"
    "  --await              aguarda o resultado de cada documento (modo síncrono)\n"
    "  --results-dir PASTA  pasta onde fica dorvane_results (padrão: a pasta atual; criada se faltar)\n"
    "  --recursive          varre as pastas em todos os níveis (exceto as pastas de saída)\n"
    "  --convert            converte antes os TIFFs das pastas e envia os PDFs\n"
    "  --quiet              mostra só erros, avisos e o resumo\n"
    "  --json               no fim, um objeto JSON na saída padrão com as contagens e cada arquivo\n"
    "  --resend             envia de novo também os arquivos que um envio anterior já entregou\n"
    "                       para esta operação (por padrão eles são pulados)\n"
    "  --parallel N         envia até N arquivos ao mesmo tempo (1 a 8; padrão: 1)\n"
    "  --yes                envia sem pedir confirmação (obrigatório sem terminal)\n"
    "\n"
    "Ctrl+C cancela: o arquivo em envio termina e os resultados já gravados ficam; um segundo\n"
    "Ctrl+C encerra na hora, registrando o arquivo em envio como \"interrupted\".\n"
    "Saída: 0 todos enviados, 1 algum com erro ou pulado, 2 envio interrompido ou sem conexão,\n"
    "130 cancelado, 64 uso incorreto.\n";

std::atomic<int> g_interrupts{0};

// Only counts: the watching thread does the work (a signal handler may do little else).
extern "C" void on_interrupt(int) {
    g_interrupts.fetch_add(1);
    std::signal(SIGINT, on_interrupt);  // some platforms reset the handler after each signal
}

// Log lines and, on a terminal, one progress line kept under them: the line is wiped before each
// log line and drawn again after it.
class Console {
public:
    explicit Console(bool show_bar) : show_bar_(show_bar), start_(std::chrono::steady_clock::now()) {}

    void log(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        wipe();
        cli::log_line(line);
        draw();
    }
    void status(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        status_ = text::display_safe(text);
        sent_ = size_ = 0;
        draw();
    }
    void progress(int done, int total) {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = done;
        total_ = total;
        draw();
    }
    // Bytes of the current upload, from libcurl's transfer callback (often, so drawn at most ten
    // times a second).
    void upload(uint64_t sent, uint64_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_ = sent;
        size_ = size;
        if (std::chrono::steady_clock::now() - drawn_at_ >= std::chrono::milliseconds(100)) draw();
    }
    // Called by the waiting thread: keeps the elapsed time moving while the service works.
    void tick() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::chrono::steady_clock::now() - drawn_at_ >= std::chrono::seconds(1)) draw();
    }
    void finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        wipe();
        show_bar_ = false;
    }

private:
    static constexpr int BAR_CELLS = 20;
    static constexpr size_t MAX_COLUMNS = 79;  // below the narrowest usual terminal, so "\r" works

    void wipe() {
        if (drawn_ == 0) return;
        write("\r" + std::string(drawn_, ' ') + "\r");
        drawn_ = 0;
    }
    void draw() {
        if (!show_bar_ || total_ <= 0) return;
        const int filled = static_cast<int>(static_cast<long long>(std::min(done_, total_)) * BAR_CELLS / total_);
        const auto seconds = static_cast<long long>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_).count());
        char clock[32];
        std::snprintf(clock, sizeof clock, "%02lld:%02lld", seconds / 60, seconds % 60);
        // Numbers first: a long file name is what gets clipped.
        std::string line = "[" + std::string(filled, '#') + std::string(BAR_CELLS - filled, '-') + "] " +
                           std::to_string(done_) + "/" + std::to_string(total_) + "  " + clock;
        if (size_ > 0) line += "  " + fileutils::format_size(sent_) + "/" + fileutils::format_size(size_);
        line += "  " + status_;
        line = clip(line);
        wipe();
        write(line);
        drawn_ = columns(line);
        drawn_at_ = std::chrono::steady_clock::now();
    }
    // Counts code points, not bytes: close enough to columns for names in Latin scripts.
    static size_t columns(const std::string& s) {
        size_t n = 0;
        for (unsigned char c : s) n += (c & 0xC0) != 0x80;
        return n;
    }
    static std::string clip(const std::string& s) {
        size_t n = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
            if (++n > MAX_COLUMNS - 3) return s.substr(0, i) + "...";
        }
        return s;
    }
    static void write(const std::string& s) {
        std::fwrite(s.data(), 1, s.size(), stderr);
        std::fflush(stderr);
    }

    std::mutex mutex_;
    bool show_bar_;
    std::string status_;
    int done_ = 0;
    int total_ = 0;
    size_t drawn_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point drawn_at_{};
    uint64_t sent_ = 0;
    uint64_t size_ = 0;
};

void add_unique(std::vector<std::string>& list, std::set<std::string>& seen, const std::string& path) {
    if (seen.insert(path).second) list.push_back(path);
}

struct Gathered {
    std::vector<std::string> files;
    int left_out = 0;  // files named directly that will not be sent
};

// What one TIFF becomes: its PDF in dorvane_converted beside it, converted now or reused when
// fresh, exactly as `dorvane convert FOLDER` makes it. Empty when the conversion failed.
std::string pdf_of_tiff(const std::string& tiff) {
    std::string folder = fileutils::dir_name(tiff);
    if (folder.empty()) folder = fileutils::current_dir();
    std::string pdf;
    dorvane::ConvertCallbacks cb;
    cb.log = cli::log_line;
    cb.add_file = [&pdf](const std::string& p) { pdf = p; };
    (void)dorvane::convert_tiffs({tiff}, folder, cb);
    return pdf;
}

// A folder named on the command line, scanned like the window's "Buscar" (every level with
// --recursive; with --convert its TIFFs are converted first).
void gather_folder(const std::string& folder, bool recursive, bool convert, Gathered& g, std::set<std::string>& seen) {
    cli::log_line("Varrendo " + folder + " ...");
    auto scan = [&](const std::vector<std::string>& ext) {
        return recursive ? fileutils::scan_tree(folder, ext) : fileutils::scan_directory(folder, ext, 1);
    };
    const std::vector<std::string> tiffs = scan(fileutils::TIFF_EXTENSIONS);
    if (convert && !tiffs.empty()) {
        cli::log_line(dorvane::convert_start_line(tiffs.size()));
        dorvane::ConvertCallbacks cb;
        cb.log = cli::log_line;
        const dorvane::ConvertSummary s = dorvane::convert_tiffs(tiffs, folder, cb);
        if (s.failed > 0) cli::log_line("[AVISO] " + std::to_string(s.failed) + " falha(s) na conversão.");
    }
    const auto found = scan(fileutils::DOCUMENT_EXTENSIONS);
    cli::log_line("[OK] " + std::to_string(found.size()) + " arquivo(s) PDF/PNG/JPEG.");
    if (!recursive) {
        const size_t deeper = fileutils::scan_tree(folder, fileutils::DOCUMENT_EXTENSIONS).size() - found.size();
        if (deeper > 0) {
            cli::log_line("[AVISO] " + std::to_string(deeper) +
                          " arquivo(s) em subpastas mais profundas ficaram de fora — use --recursive para "
                          "incluí-los.");
        }
    }
    if (!convert && !tiffs.empty()) {
        cli::log_line("Encontrados também " + std::to_string(tiffs.size()) + " TIFF(s) — use \"dorvane convert " +
                      folder + "\" ou --convert para incluí-los no envio.");
    }
    for (const auto& f : found) add_unique(g.files, seen, f);
}

// Files named directly are judged by content, as the window's file dialog and scan are: documents
// go as they are, a TIFF goes as its PDF, and anything else is left out here, before the
// confirmation, so it is neither counted nor charged.
Gathered gather_files(const std::vector<std::string>& paths, bool recursive, bool convert) {
    Gathered g;
    std::set<std::string> seen;
    for (const auto& p : paths) {
        if (fileutils::is_directory(p)) {
            gather_folder(p, recursive, convert, g, seen);
            continue;
        }
        const std::string name = fileutils::base_name(p);
        uint64_t size = 0;
        if (!fileutils::file_size(p, size) || size == 0) {
            cli::log_line("[PULADO] " + name + " — arquivo vazio ou inacessível");
            ++g.left_out;
            continue;
        }
        const fileutils::FileFormat format = fileutils::detect_format(p);
        if (fileutils::is_document(format)) {
            add_unique(g.files, seen, p);
        } else if (format == fileutils::FileFormat::Tiff) {
            const std::string pdf = pdf_of_tiff(p);
            if (pdf.empty()) {
                ++g.left_out;
            } else {
                add_unique(g.files, seen, pdf);
            }
        } else {
            cli::log_line("[PULADO] " + name + " — formato não suportado (" + fileutils::format_name(format) + ")");
            ++g.left_out;
        }
    }
    if (g.left_out > 0) {
        cli::log_line("[AVISO] " + std::to_string(g.left_out) +
                      " arquivo(s) nomeado(s) ficaram de fora (formato não suportado, vazio ou falha na conversão) "
                      "— não serão enviados nem cobrados.");
    }
    return g;
}

// --json: one object for scripts, with the counts, the results files (null when not written) and
// every file's record as the results log has it.
std::string batch_json(const dorvane::BatchUploader::Summary& s, const std::vector<dorvane::UploadOutcome>& outcomes,
                       int left_out) {
    json::Object o;
    o["total"] = static_cast<int>(s.total);
    o["succeeded"] = static_cast<int>(s.succeeded);
    o["failed"] = static_cast<int>(s.failed);
    o["skipped"] = static_cast<int>(s.skipped);
    o["already_sent"] = static_cast<int>(s.already_sent);
    o["left_out"] = left_out;
    o["cancelled"] = s.cancelled;
    o["stopped"] = s.stopped;
    o["stop_reason"] = s.stop_reason;
    json::Object results;
    const bool saved = s.results_saved && s.results_path.size() > 6;
    results["jsonl"] = saved ? json::Value(s.results_path) : json::Value();
    results["json"] =
        saved ? json::Value(s.results_path.substr(0, s.results_path.size() - 6) + ".json") : json::Value();
    o["results"] = std::move(results);
    json::Array files;
    for (const auto& outcome : outcomes) files.push_back(outcome.to_json());
    o["files"] = std::move(files);
    return json::stringify(json::Value(std::move(o)), 0);
}

bool parse_pause(const std::string& text, int& ms) {
    if (text.empty() || text.size() > 7) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    ms = std::stoi(text);
    return true;
}

bool ask_yes_no(const std::string& question) {
    std::fwrite(question.data(), 1, question.size(), stderr);
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    std::string a;
    for (char c : answer) {
        if (c != ' ' && c != '\r' && c != '\t') a += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return a == "s" || a == "sim" || a == "y" || a == "yes";
}

void print_block(const std::string& text) {
    const std::string s = "\n" + text + "\n\n";
    std::fwrite(s.data(), 1, s.size(), stderr);
    std::fflush(stderr);
}

int exit_status(const dorvane::BatchUploader::Summary& s, bool interrupted, int left_out) {
    if (s.stopped) return cli::EXIT_STOPPED;
    if (s.cancelled || (interrupted && s.succeeded + s.already_sent < s.total)) return cli::EXIT_CANCELLED;
    // A batch that left no record is never a full success.
    return s.succeeded + s.already_sent == s.total && s.results_saved && left_out == 0 ? cli::EXIT_OK
                                                                                     : cli::EXIT_SOME_FAILED;
}

// The refusal when no results file can be made: the operator must never pay for a batch that
// leaves no record.
int refuse_without_results(const std::string& path, const std::string& reason) {
    cli::log_line("[ERRO] " + dorvane::results_failed_text(path, reason));
    print_block("Nenhum arquivo foi enviado: sem o arquivo de resultados, o envio não começa.");
    return cli::EXIT_STOPPED;
}

// A second Ctrl+C: the file being uploaded gets its "interrupted" record and the JSON file is
// written before the process ends, without waiting for the upload.
[[noreturn]] void end_now(dorvane::BatchUploader& uploader) {
    std::string path;
    std::vector<dorvane::UploadOutcome> interrupted;
    const bool saved = uploader.abandon(path, interrupted);
    for (const auto& o : interrupted) cli::log_line("[CANCELADO] " + o.name + " — " + o.error);
    dorvane::BatchUploader::Summary closing;
    closing.results_path = path;
    closing.results_saved = saved;
    cli::log_line(dorvane::results_closing_line(closing));
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(cli::EXIT_CANCELLED);
}

// What the command line asked for.
struct SendRequest {
    std::string code;
    std::vector<std::string> paths;
    std::string url;
    std::string key;
    std::string results_dir;
    int pause_ms = 500;
    int parallel = 1;
    bool await_result = false;
    bool recursive = false;
    bool convert = false;
    bool resend = false;
    bool yes = false;
    bool json = false;
};

// Reads the options. False when the command ends here, with `status` set: the help, or a usage
// error already printed.
bool read_request(const std::vector<std::string>& args, SendRequest& request, int& status) {
    static const std::vector<cli::OptionSpec> specs = {
        {"--operation", true}, {"--url", true},     {"--key", true},     {"--key-file", true}, {"--await", false},
        {"--results-dir", true}, {"--yes", false},   {"--quiet", false},  {"--json", false},    {"--recursive", false},
        {"--convert", false},  {"--resend", false}, {"--parallel", true},
        {"--pause-ms", true},  // --pause-ms: benchmarks only
    };
    cli::ParsedArgs parsed;
    std::string error;
    const auto usage = [&status](const std::string& text) {
        status = cli::usage_error("send", text);
        return false;
    };
    if (!cli::parse_args(args, specs, parsed, error)) return usage(error);
    cli::set_quiet(parsed.has("--quiet"));
    if (parsed.help) {
        std::fputs(USAGE, stdout);
        std::fputs(cli::NETWORK_HELP, stdout);
        status = cli::EXIT_OK;
        return false;
    }
    if (!cli::load_key_file(parsed, error)) return usage(error);
    request.code = parsed.value("--operation");
    if (request.code.empty()) return usage("informe a operação com --operation CÓDIGO");
    if (parsed.positional.empty()) return usage("informe ao menos um arquivo ou pasta");
    if (parsed.has("--pause-ms") && !parse_pause(parsed.value("--pause-ms"), request.pause_ms)) {
        return usage("--pause-ms exige um número de milissegundos");
    }
    if (parsed.has("--parallel")) {
        const std::string text = parsed.value("--parallel");
        if (text.size() != 1 || text[0] < '1' || text[0] > '0' + dorvane::BatchUploader::MAX_PARALLEL) {
            return usage("--parallel exige um número de 1 a 8");
        }
        request.parallel = text[0] - '0';
    }
    request.paths = parsed.positional;
    request.url = cli::resolve_url(parsed);
    request.key = cli::resolve_key(parsed);
    request.results_dir = parsed.value("--results-dir");
    if (request.results_dir.empty()) request.results_dir = fileutils::current_dir();
    request.await_result = parsed.has("--await");
    request.recursive = parsed.has("--recursive");
    request.convert = parsed.has("--convert");
    request.resend = parsed.has("--resend");
    request.yes = parsed.has("--yes");
    request.json = parsed.has("--json");
    return true;
}

// The cost confirmation, shown unless --quiet --yes; asked unless --yes. -1 when the batch may
// start, otherwise the exit status.
int confirm(const SendRequest& request, const dorvane::Operation& operation, int file_count, int already_sent) {
    dorvane::Operation shown = operation;  // the service's words, made safe for the terminal
    shown.name = text::display_safe(shown.name);
    shown.code = text::display_safe(shown.code);
    if (!cli::quiet() || !request.yes)
        print_block(dorvane::confirmation_text(file_count, shown, request.await_result, already_sent));
    if (request.yes) return -1;
    if (!cli::interactive()) {
        std::fputs("Sem terminal para confirmar: use --yes para enviar sem pergunta.\n", stderr);
        return cli::EXIT_USAGE;
    }
    if (!ask_yes_no("Confirmar o envio? [s/N] ")) {
        std::fputs("Envio não confirmado; nada foi enviado.\n", stderr);
        return cli::EXIT_SOME_FAILED;
    }
    return -1;
}

// How the batch on the worker ended: its summary, or the exception that escaped it.
struct BatchEnd {
    dorvane::BatchUploader::Summary summary;
    std::string failure;  // what() of an exception that left the engine; empty when none did
};

// Runs the batch on a worker so that this thread can watch for Ctrl+C (a signal handler may only
// set a flag) and still return as soon as the batch ends. The worker catches every exception,
// as the window's workers do: one leaving a thread would end the process without a word.
BatchEnd run_watched(dorvane::BatchUploader& uploader, const std::vector<std::string>& files,
                     const dorvane::BatchUploader::Options& options, const dorvane::BatchCallbacks& callbacks,
                     Console& console) {
    BatchEnd end;
    std::mutex done_mutex;
    std::condition_variable done_cv;
    bool finished = false;
    g_interrupts.store(0);
    std::signal(SIGINT, on_interrupt);
    std::thread worker([&] {
        BatchEnd e;
        try {
            e.summary = uploader.run(files, options, callbacks);
        } catch (const std::exception& ex) {
            e.failure = ex.what();
        } catch (...) {
            e.failure = "erro desconhecido";
        }
        std::lock_guard<std::mutex> lock(done_mutex);
        end = std::move(e);
        finished = true;
        done_cv.notify_all();
    });
    bool cancel_announced = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(done_mutex);
            if (done_cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return finished; })) break;
        }
        console.tick();
        if (g_interrupts.load() >= 2) end_now(uploader);
        if (g_interrupts.load() >= 1) {
            // Raised again on every turn: run() clears the flag when it starts, and Ctrl+C may
            // come before that.
            uploader.cancel_requested.store(true);
            if (!cancel_announced) {
                cancel_announced = true;
                console.log(dorvane::CANCEL_REQUESTED_LINE);
                console.status(dorvane::CANCELLING_STATUS);
            }
        }
    }
    worker.join();
    std::signal(SIGINT, SIG_DFL);
    console.finish();
    return end;
}

// Sends the confirmed files with the window's log lines and a progress line on a terminal, then
// reports the end: summary lines on stderr, the closing status (or --json) on stdout.
int send_batch(const SendRequest& request, dorvane::ApiClient& client, const dorvane::Operation& operation,
               const std::vector<std::string>& files, dorvane::BatchUploader::Options options, int left_out) {
    options.operation_code = operation.code;
    options.await_result = request.await_result;
    options.results_dir = request.results_dir;
    options.require_results_file = true;
    options.delay_between_files_ms = request.pause_ms;
    options.parallel = request.parallel;

    // The progress line needs only stderr to be a terminal (stdin may be redirected with --yes).
    Console console(sys::stderr_is_terminal() && !cli::quiet());
    std::vector<dorvane::UploadOutcome> outcomes;  // for --json; the engine reports one file at a time
    dorvane::BatchCallbacks callbacks;
    callbacks.file_done = [&](const dorvane::UploadOutcome& o) { outcomes.push_back(o); };
    callbacks.log = [&](const std::string& line) { console.log(line); };
    callbacks.status = [&](const std::string& text) { console.status(text); };
    callbacks.progress = [&](int done, int total) { console.progress(done, total); };
    callbacks.upload_progress = [&](const std::string&, uint64_t sent, uint64_t size) { console.upload(sent, size); };

    console.log(dorvane::start_line(static_cast<int>(files.size()), operation));
    dorvane::BatchUploader uploader(&client);
    const BatchEnd end = run_watched(uploader, files, options, callbacks, console);
    if (!end.failure.empty()) {
        const std::string reason = "erro inesperado no envio: " + end.failure;
        cli::log_line("[ERRO] " + reason);
        print_block(dorvane::stopped_message(reason));
        return cli::EXIT_STOPPED;
    }
    const dorvane::BatchUploader::Summary& summary = end.summary;
    if (summary.refused) return refuse_without_results(summary.results_path, summary.results_error);

    cli::log_line(dorvane::summary_line(summary));
    cli::log_line(dorvane::results_closing_line(summary));
    const std::string out = request.json ? batch_json(summary, outcomes, left_out) : dorvane::finished_status(summary);
    std::fwrite((out + "\n").data(), 1, out.size() + 1, stdout);
    std::fflush(stdout);
    if (summary.stopped) print_block(dorvane::stopped_message(summary.stop_reason));
    return exit_status(summary, g_interrupts.load() > 0, left_out);
}

int run_send(const std::vector<std::string>& args) {
    SendRequest request;
    int status = cli::EXIT_OK;
    if (!read_request(args, request, status)) return status;

    const Gathered gathered = gather_files(request.paths, request.recursive, request.convert);
    const std::vector<std::string>& files = gathered.files;
    if (files.empty()) {
        print_block("Não há arquivos para enviar.");
        return cli::EXIT_SOME_FAILED;
    }
    {
        // Every missing level now, before anything is sent or even asked.
        const std::string folder = fileutils::join(request.results_dir, fileutils::RESULTS_FOLDER);
        std::string reason;
        if (!fileutils::create_directories(folder, reason)) return refuse_without_results(folder, reason);
    }

    dorvane::ApiClient client;
    std::vector<dorvane::Operation> operations;
    const int connected = cli::connect_and_list(request.url, request.key, client, operations);
    if (connected != cli::EXIT_OK) return connected;
    auto op = std::find_if(operations.begin(), operations.end(),
                           [&](const dorvane::Operation& o) { return o.code == request.code; });
    if (op == operations.end()) {
        return cli::usage_error("send", "a operação " + request.code + " não está no catálogo (veja \"dorvane operations\")");
    }
    const dorvane::Operation operation = *op;

    dorvane::BatchUploader::Options options;
    // Skipping what earlier batches sent is the default: a batch run again after a stop must not
    // pay for the same documents twice.
    if (!request.resend) {
        options.already_sent = dorvane::find_already_sent(files, operation.code, request.results_dir, options.max_file_bytes);
    }
    const int refused = confirm(request, operation, static_cast<int>(files.size()),
                                static_cast<int>(options.already_sent.size()));
    if (refused >= 0) return refused;
    return send_batch(request, client, operation, files, std::move(options), gathered.left_out);
}

const cli::Registrar registrar({"send", "envia arquivos para uma operação do serviço", &run_send});

}  // namespace
