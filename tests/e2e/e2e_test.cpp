// End-to-end scenarios: the real dorvane-client.exe against the demo service on 127.0.0.1, worked
// from outside through its controls. Every test starts a fresh client in a fresh copy of the
// sample folder:
//   doc1.pdf doc2.pdf photo.png scan.jpg sub/notes.pdf    five documents
//   fax.tif (Group 4) sub/color.tiff (RGB, LZW)          two real TIFFs
//   fake.tif                                              a PDF under a TIFF name
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/fileutils.h"
#include "tests/e2e/driver.h"

namespace e2e {
namespace {

const char* const KEY_HINT =
    "Informe a API Key.\n\nVocê gera a sua chave no painel do Dorvane, em Configurações → API.";
const char* const INVALID_KEY =
    "API Key inválida ou desativada.\n\nGere uma nova chave no painel do Dorvane, em Configurações → API.";
const char* const UNREACHABLE_HEAD = "Não foi possível falar com o servidor.\n\n";
const char* const UNREACHABLE_TAIL = "\n\nConfira a URL e a conexão com a internet.";
const char* const TIFF_HINT = "Encontrados também 3 TIFF(s) — use 'Converter TIFFs' para incluí-los no envio.";
const char* const EXIT_QUESTION = "Há um envio em andamento. Deseja realmente sair?";
const char* const FIRST_OPERATION = "OCR (texto pesquisável)";
const int CATALOGUE_SIZE = 5;
const int TIMEOUT_MS = 60000;

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

bool ends_with(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string find_line(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines) {
        if (starts_with(line, prefix)) return line;
    }
    return std::string();
}

std::string base64_decode(const std::string& text) {
    static const std::string ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const size_t value = ALPHABET.find(c);
        if (value == std::string::npos) continue;  // padding
        bits = (bits << 6) | static_cast<uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = g_config.work_root + L"\\" + widen(name);
        folder_utf8_ = narrow(folder_);
        copy_tree(g_config.samples, folder_);
        service_call(L"POST", "/__control/reset", "{}");
        ASSERT_TRUE(client_.start(folder_)) << "the client window did not come up";
        client_.set_text(FOLDER, folder_utf8_);
    }

    void TearDown() override {
        const std::string state = client_.describe_state();
        EXPECT_EQ(client_.close(), 0) << "the client did not exit cleanly; before closing: " << state;
    }

    std::string path(const std::string& relative) const { return folder_utf8_ + "\\" + relative; }

    std::vector<std::string> documents() const {
        return {path("doc1.pdf"), path("doc2.pdf"), path("photo.png"), path("scan.jpg"), path("sub\\notes.pdf")};
    }

    // Presses a command; returns where its trace starts.
    size_t press(int command) {
        const size_t since = client_.mark();
        client_.press(command);
        return since;
    }

    // Presses a command that runs a worker and waits for its end; returns where its trace starts.
    size_t run(int command) {
        const size_t since = press(command);
        EXPECT_TRUE(client_.wait_busy_end(since, TIMEOUT_MS)) << "command " << command << " did not end: " << client_.describe_state();
        return since;
    }

    void fill(const std::string& url, const std::string& key = "demo-key") {
        client_.set_text(URL, url);
        client_.set_text(KEY, key);
    }

    void connect() {
        fill(g_config.service_url);
        run(CONNECT);
    }

    void connect_and_scan() {
        connect();
        ASSERT_EQ(client_.list_items(OPERATIONS).size(), static_cast<size_t>(CATALOGUE_SIZE));
        run(SCAN);
        ASSERT_EQ(client_.list_items(FILES), documents());
    }

    // The box's text, answered with `answer_id`; a screenshot is taken while it is up.
    std::string box(int answer_id, const std::string& screenshot = "") {
        HWND box = client_.wait_box(TIMEOUT_MS);
        if (!box) return "(nenhuma caixa)";
        pump_for(150);
        if (!screenshot.empty()) client_.screenshot(screenshot);
        std::string text = ClientSession::box_text(box);
        EXPECT_TRUE(client_.answer(box, answer_id)) << "no button " << answer_id << " in: " << text;
        return text;
    }

    // Opens "Selecionar...", types `names` into the dialog's name field (the combo box cmb13, 0x47c,
    // or edt1, 0x480, in older layouts) and presses OK; without names presses Cancel.
    size_t browse(const wchar_t* names, const std::string& screenshot = "") {
        const size_t since = press(BROWSE);
        HWND dialog = client_.wait_box(TIMEOUT_MS);
        EXPECT_NE(dialog, nullptr) << "no file dialog";
        if (!dialog) return since;
        pump_for(500);
        if (!screenshot.empty()) client_.screenshot(screenshot);
        HWND field = GetDlgItem(dialog, 0x47c);
        if (!field) field = GetDlgItem(dialog, 0x480);
        if (names) {
            EXPECT_NE(field, nullptr);
            SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(names));
        }
        EXPECT_TRUE(client_.answer(dialog, names ? IDOK : IDCANCEL));
        return since;
    }

    // Sends all with Yes and expects the batch to stop after `sent` uploads with the
    // "Envio interrompido." box as its last word; returns the box text.
    std::string send_until_interrupted(int sent, const std::string& screenshot = "") {
        const size_t since = press(SEND_ALL);
        EXPECT_EQ(box(IDYES), confirmation(5, FIRST_OPERATION, "ocr", 1));
        const std::string text = box(IDOK, screenshot);
        EXPECT_TRUE(starts_with(text, "Envio interrompido.\n\n")) << text;
        EXPECT_TRUE(client_.wait_busy_end(since, TIMEOUT_MS));
        const std::vector<std::string> trace = client_.trace(since);
        if (trace.size() < 3) {
            ADD_FAILURE() << ::testing::PrintToString(trace);
            return text;
        }
        EXPECT_EQ(trace[trace.size() - 3], "STATUS Concluído: " + std::to_string(sent) + "/5 enviado(s)");
        EXPECT_EQ(trace[trace.size() - 2], "BOX " + text);
        EXPECT_EQ(trace.back(), "BUSY 0");
        EXPECT_TRUE(starts_with(find_line(client_.log_lines(), "[FIM]"),
                                "[FIM] " + std::to_string(sent) + " enviado(s), 1 com erro"));
        return text;
    }

    void expect_clean_exit() {
        DWORD code = 1;
        ASSERT_TRUE(client_.exited(30000, code)) << "a box is up: " << ClientSession::box_text(client_.find_box());
        EXPECT_EQ(code, 0u);
    }

    // Faults that make every upload take `ms` before the service answers.
    static void slow_uploads(int ms) {
        service_call(L"POST", "/__control/faults",
                     "{\"method\":\"POST\",\"path\":\"/api/operations\",\"delay_ms\":" + std::to_string(ms) +
                         ",\"count\":50}");
    }

    static json::Array submissions() { return service_call(L"GET", "/__control/received").get("submissions").as_array(); }

    static double submission_count() {
        return service_call(L"GET", "/__control/received").get("submission_count").as_number();
    }

    static std::vector<std::string> received_names() {
        std::vector<std::string> names;
        for (const json::Value& s : submissions()) names.push_back(s.get_string("filename", "?"));
        return names;
    }

    static std::string confirmation(int n, const std::string& name, const std::string& code, int cost) {
        return "Enviar " + std::to_string(n) + " arquivo(s)?\n\nOperação: " + name + " (" + code +
               ")\nCusto: " + std::to_string(cost) + " crédito(s) por arquivo\nCusto estimado: " +
               std::to_string(n * cost) + " crédito(s)";
    }

    ClientSession client_;
    std::wstring folder_;
    std::string folder_utf8_;
};

// --- connect ---

TEST_F(EndToEnd, EmptyKeyShowsTheHintLogsNothingAndFocusesTheKey) {
    ASSERT_EQ(client_.log_lines(),
              std::vector<std::string>{"Dorvane API Client v1.0.0 — informe a API Key e clique em Conectar."});
    const size_t since = press(CONNECT);
    EXPECT_EQ(box(IDOK, "connect-empty-key"), KEY_HINT);
    pump_for(300);
    EXPECT_EQ(client_.log_lines().size(), 1u);
    EXPECT_TRUE(client_.trace(since).empty());
    EXPECT_TRUE(client_.idle());
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(client_.window(), nullptr), &gui));
    EXPECT_EQ(gui.hwndFocus, client_.control(KEY));
}

TEST_F(EndToEnd, RejectedKeyFailsTheConnectionWithTheInvalidKeyBox) {
    fill(g_config.service_url, "chave-errada");
    const size_t since = press(CONNECT);
    EXPECT_EQ(box(IDOK, "connect-invalid-key"), INVALID_KEY);
    ASSERT_TRUE(client_.wait_busy_end(since, TIMEOUT_MS));
    std::vector<std::string> trace = client_.trace(since);
    ASSERT_EQ(trace.size(), 7u) << ::testing::PrintToString(trace);
    EXPECT_EQ(trace[0], "BUSY 1");
    EXPECT_EQ(trace[1], "LOG Conectando em " + g_config.service_url + " ...");
    EXPECT_EQ(trace[2], "STATUS Buscando operações...");
    EXPECT_TRUE(starts_with(trace[3], "LOG [ERRO] Falha ao conectar — ")) << trace[3];
    EXPECT_EQ(trace[4], "STATUS Falha na conexão");
    EXPECT_EQ(trace[5], std::string("BOX ") + INVALID_KEY);
    EXPECT_EQ(trace[6], "BUSY 0");
    EXPECT_TRUE(client_.list_items(OPERATIONS).empty());
}

TEST_F(EndToEnd, UnreachableServiceShowsTheTransportTextInTheBox) {
    fill("http://127.0.0.1:1");
    const size_t since = press(CONNECT);
    const std::string text = box(IDOK);
    ASSERT_TRUE(client_.wait_busy_end(since, TIMEOUT_MS));
    ASSERT_TRUE(starts_with(text, UNREACHABLE_HEAD)) << text;
    ASSERT_TRUE(ends_with(text, UNREACHABLE_TAIL)) << text;
    const std::string transport =
        text.substr(std::string(UNREACHABLE_HEAD).size(),
                    text.size() - std::string(UNREACHABLE_HEAD).size() - std::string(UNREACHABLE_TAIL).size());
    EXPECT_FALSE(transport.empty());
    EXPECT_EQ(find_line(client_.log_lines(), "[ERRO]"), "[ERRO] Falha ao conectar — " + transport);
    EXPECT_EQ(client_.trace(since).back(), "BUSY 0");
}

TEST_F(EndToEnd, GoodKeyListsTheCatalogueAndSelectsTheFirstOperation) {
    // The URL is normalised: a trailing "/api/operations/" is dropped.
    fill(g_config.service_url + "/api/operations/");
    const size_t since = run(CONNECT);
    EXPECT_EQ(client_.trace(since), (std::vector<std::string>{
                                        "BUSY 1",
                                        "LOG Conectando em " + g_config.service_url + " ...",
                                        "STATUS Buscando operações...",
                                        "OPS_LOADED",
                                        "LOG [OK] 5 operação(ões) disponível(is).",
                                        "STATUS Conectado — 5 operações",
                                        "BUSY 0",
                                    }));
    std::vector<std::string> operations = client_.list_items(OPERATIONS);
    ASSERT_EQ(operations.size(), static_cast<size_t>(CATALOGUE_SIZE));
    EXPECT_EQ(operations[0], FIRST_OPERATION);
    EXPECT_EQ(client_.list_cursor(OPERATIONS), 0);
    client_.screenshot("01-connected");

    // A second connect replaces the list and selects the first entry again.
    SendMessageW(client_.control(OPERATIONS), LB_SETCURSEL, 3, 0);
    run(CONNECT);
    EXPECT_EQ(client_.list_items(OPERATIONS), operations);
    EXPECT_EQ(client_.list_cursor(OPERATIONS), 0);
}

TEST_F(EndToEnd, CatalogueFailureAfterAcceptedKeyKeepsTheListEmpty) {
    service_call(L"POST", "/__control/faults",
                 "{\"method\":\"GET\",\"path\":\"/api/operations\",\"status\":503,"
                 "\"json\":{\"error\":\"catálogo em manutenção\"},\"count\":5}");
    fill(g_config.service_url);
    const size_t since = press(CONNECT);
    const std::string text = box(IDOK);
    ASSERT_TRUE(client_.wait_busy_end(since, TIMEOUT_MS));
    const std::string head = "A chave foi aceita, mas o catálogo de operações não pôde ser carregado.\n\n";
    ASSERT_TRUE(starts_with(text, head)) << text;
    const std::string error = text.substr(head.size());
    EXPECT_NE(error.find("catálogo em manutenção"), std::string::npos) << error;
    EXPECT_EQ(find_line(client_.log_lines(), "[ERRO]"), "[ERRO] Não foi possível listar as operações — " + error);
    std::vector<std::string> trace = client_.trace(since);
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace[trace.size() - 3], "STATUS Falha na conexão");
    EXPECT_EQ(trace.back(), "BUSY 0");
    EXPECT_TRUE(client_.list_items(OPERATIONS).empty());
}

// --- file selection ---

TEST_F(EndToEnd, ScanListsTheDocumentsAndCountsTheTiffs) {
    const size_t since = run(SCAN);
    EXPECT_EQ(client_.trace(since), (std::vector<std::string>{
                                        "BUSY 1",
                                        "LOG Varrendo " + folder_utf8_ + " ...",
                                        "STATUS Varrendo pasta...",
                                        "FILES_CHANGED",
                                        "LOG [OK] 5 arquivo(s) PDF/PNG/JPEG.",
                                        std::string("LOG ") + TIFF_HINT,
                                        "STATUS 5 arquivo(s) pronto(s) + 3 TIFF(s)",
                                        "BUSY 0",
                                    }));
    EXPECT_EQ(client_.list_items(FILES), documents());
    client_.screenshot("02-files-listed");

    // A folder that does not exist empties the list; no TIFF line, no suffix.
    client_.set_text(FOLDER, path("nada"));
    const size_t again = run(SCAN);
    std::vector<std::string> trace = client_.trace(again);
    ASSERT_EQ(trace.size(), 7u) << ::testing::PrintToString(trace);
    EXPECT_EQ(trace[4], "LOG [OK] 0 arquivo(s) PDF/PNG/JPEG.");
    EXPECT_EQ(trace[5], "STATUS 0 arquivo(s) pronto(s)");
    EXPECT_TRUE(client_.list_items(FILES).empty());
}

TEST_F(EndToEnd, FileDialogSelectionReplacesTheList) {
    run(SCAN);
    // The dialog opens in the client's current folder, the sample copy; two quoted names select two.
    const size_t since = browse(L"\"doc2.pdf\" \"photo.png\"", "file-dialog");
    ASSERT_TRUE(pump_until([&] { return client_.trace(since).size() >= 3; }, TIMEOUT_MS));
    EXPECT_EQ(client_.trace(since), (std::vector<std::string>{
                                        "FILES_CHANGED",
                                        "LOG [OK] 2 arquivo(s) selecionado(s).",
                                        "STATUS 2 arquivo(s) selecionado(s)",
                                    }));
    std::vector<std::string> files = client_.list_items(FILES);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{path("doc2.pdf"), path("photo.png")}));

    // One file: the dialog answers with its full path alone.
    const size_t single = browse(L"scan.jpg");
    ASSERT_TRUE(pump_until([&] { return client_.trace(single).size() >= 3; }, TIMEOUT_MS));
    EXPECT_EQ(client_.trace(single)[1], "LOG [OK] 1 arquivo(s) selecionado(s).");
    EXPECT_EQ(client_.list_items(FILES), std::vector<std::string>{path("scan.jpg")});

    // Cancelling the dialog keeps the list and logs nothing.
    const size_t cancelled = browse(nullptr);
    pump_for(500);
    EXPECT_TRUE(client_.trace(cancelled).empty());
    EXPECT_EQ(client_.list_items(FILES).size(), 1u);
}

TEST_F(EndToEnd, EmptyFolderFieldScansAndSendsInTheCurrentFolder) {
    ASSERT_EQ(client_.close(), 0);
    ASSERT_TRUE(client_.start(folder_ + L"\\sub"));
    EXPECT_EQ(client_.text(FOLDER), path("sub"));
    client_.set_text(FOLDER, "");
    const size_t since = run(SCAN);
    std::vector<std::string> trace = client_.trace(since);
    ASSERT_EQ(trace.size(), 8u) << ::testing::PrintToString(trace);
    EXPECT_EQ(trace[1], "LOG Varrendo " + path("sub") + " ...");
    EXPECT_EQ(trace[5], "LOG Encontrados também 1 TIFF(s) — use 'Converter TIFFs' para incluí-los no envio.");
    EXPECT_EQ(trace[6], "STATUS 1 arquivo(s) pronto(s) + 1 TIFF(s)");
    EXPECT_EQ(client_.list_items(FILES), std::vector<std::string>{path("sub\\notes.pdf")});
    EXPECT_EQ(client_.text(FOLDER), "");

    connect();
    const size_t send = press(SEND_ALL);
    EXPECT_EQ(box(IDYES), confirmation(1, FIRST_OPERATION, "ocr", 1));
    ASSERT_TRUE(client_.wait_busy_end(send, TIMEOUT_MS));
    EXPECT_TRUE(starts_with(find_line(client_.log_lines(), "Resultados salvos em "),
                            "Resultados salvos em " + path("sub\\dorvane_results\\resultados_")));
    EXPECT_EQ(files_in(widen(path("sub\\dorvane_results"))).size(), 2u);
}

// A results folder that cannot be made (the folder field names a path below a file): the window
// still sends, warns at the start, and never claims the results were saved.
TEST_F(EndToEnd, SendWithoutAResultsFileNeverSaysSaved) {
    client_.set_text(FOLDER, path("sub"));
    run(SCAN);
    connect();
    client_.set_text(FOLDER, path("sub\\notes.pdf\\x"));
    const size_t send = press(SEND_ALL);
    box(IDYES);
    ASSERT_TRUE(client_.wait_busy_end(send, TIMEOUT_MS));
    const std::vector<std::string> log = client_.log_lines();
    EXPECT_TRUE(starts_with(find_line(log, "[AVISO] Não foi possível criar o arquivo de resultados em "),
                            "[AVISO] Não foi possível criar o arquivo de resultados em " +
                                path("sub\\notes.pdf\\x\\dorvane_results\\resultados_")));
    EXPECT_EQ(find_line(log, "Resultados salvos em "), "");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "[AVISO] Nenhum arquivo de resultados foi salvo.");
}

// --- TIFF conversion ---

TEST_F(EndToEnd, ConvertWritesPdfsSkipsTheFakeAndReusesThemOnTheSecondRun) {
    const size_t since = run(CONVERT);
    EXPECT_EQ(client_.trace(since), (std::vector<std::string>{
                                        "BUSY 1",
                                        "LOG Convertendo 3 TIFF(s) para PDF...",
                                        "PROGRESS 0/3",
                                        "LOG [PULADO] fake.tif — na verdade é PDF, não TIFF.",
                                        "PROGRESS 1/3",
                                        "STATUS Convertendo 2/3: fax.tif",
                                        "LOG [OK] fax.tif → fax.pdf",
                                        "PROGRESS 2/3",
                                        "STATUS Convertendo 3/3: color.tiff",
                                        "LOG [OK] color.tiff → color.pdf",
                                        "PROGRESS 3/3",
                                        "LOG 1 arquivo(s) não eram TIFF.",
                                        "LOG [FIM] 2 convertido(s) — 2 arquivo(s) prontos para envio.",
                                        "FILES_CHANGED",
                                        "STATUS 2 arquivo(s) pronto(s)",
                                        "BUSY 0",
                                    }));
    const std::wstring converted = folder_ + L"\\dorvane_converted";
    EXPECT_EQ(files_in(converted), (std::vector<std::string>{"color.pdf", "fax.pdf"}));
    for (const char* name : {"color.pdf", "fax.pdf"}) {
        EXPECT_TRUE(starts_with(read_file(converted + L"\\" + widen(name)), "%PDF-1.4")) << name;
    }
    const std::vector<std::string> pdfs = {path("dorvane_converted\\fax.pdf"), path("dorvane_converted\\color.pdf")};
    EXPECT_EQ(client_.list_items(FILES), pdfs);
    client_.screenshot("03-converted");

    const size_t again = run(CONVERT);
    EXPECT_EQ(client_.trace(again), (std::vector<std::string>{
                                        "BUSY 1",
                                        "LOG Convertendo 3 TIFF(s) para PDF...",
                                        "PROGRESS 0/3",
                                        "LOG [PULADO] fake.tif — na verdade é PDF, não TIFF.",
                                        "PROGRESS 1/3",
                                        "PROGRESS 2/3",
                                        "PROGRESS 3/3",
                                        "LOG 2 já convertido(s) anteriormente.",
                                        "LOG 1 arquivo(s) não eram TIFF.",
                                        "LOG [FIM] 0 convertido(s) — 2 arquivo(s) prontos para envio.",
                                        "FILES_CHANGED",
                                        "STATUS 2 arquivo(s) pronto(s)",
                                        "BUSY 0",
                                    }));
    EXPECT_EQ(client_.list_items(FILES), pdfs);

    // A later scan finds the converted PDFs with the documents.
    run(SCAN);
    EXPECT_EQ(client_.list_items(FILES).size(), 7u);
}

// Three pages of an A4 colour scan at 300 dpi, stored uncompressed (one strip a page): 78 MB of
// pixels, whose plain PDF the upload limit (50 MB) would refuse.
std::vector<uint8_t> a4_scan_tiff() {
    const uint32_t w = 2480, h = 3508, page_bytes = w * h * 3;
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 0, 0, 0, 0};
    auto put16 = [&f](uint32_t v) { f.insert(f.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto put32 = [&f](uint32_t v) { f.insert(f.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); };
    auto set32 = [&f](size_t at, uint32_t v) { for (int k = 0; k < 4; ++k) f[at + size_t(k)] = uint8_t(v >> (8 * k)); };
    size_t next_slot = 4;
    for (uint32_t page = 0; page < 3; ++page) {
        const uint32_t strip = uint32_t(f.size());
        f.resize(f.size() + page_bytes, 0xF4);
        for (uint32_t y = 200 + page * 40; y < h - 200; y += 70)  // lines of dark "text"
            for (uint32_t x = 150; x < w - 150 - (y * 13) % 700; ++x)
                for (uint32_t dy = 0; dy < 20; ++dy) std::fill_n(&f[strip + ((y + dy) * w + x) * 3], 3, uint8_t(40));
        const uint32_t extra = uint32_t(f.size());  // BitsPerSample 8,8,8 and the two resolutions
        for (int k = 0; k < 3; ++k) put16(8);
        put16(0);
        for (int k = 0; k < 2; ++k) put32(300), put32(1);
        set32(next_slot, uint32_t(f.size()));
        const uint32_t entries[][4] = {{256, 4, 1, w},      {257, 4, 1, h},          {258, 3, 3, extra},
                                       {259, 3, 1, 1},      {262, 3, 1, 2},          {273, 4, 1, strip},
                                       {277, 3, 1, 3},      {278, 4, 1, h},          {279, 4, 1, page_bytes},
                                       {282, 5, 1, extra + 8}, {283, 5, 1, extra + 16}, {296, 3, 1, 2}};
        put16(12);
        for (const auto& e : entries) put16(e[0]), put16(e[1]), put32(e[2]), put32(e[3]);
        next_slot = f.size();
        put32(0);
    }
    return f;
}

// The window's conversion writes a file whose plain PDF would pass the upload limit compact, and
// says so; the PDF stays under the limit.
TEST_F(EndToEnd, ConvertWritesAnOversizedScanCompact) {
    const std::vector<uint8_t> tiff = a4_scan_tiff();
    ASSERT_TRUE(fileutils::create_directory(path("a4")));
    ASSERT_TRUE(fileutils::write_file(path("a4\\scan.tif"), tiff.data(), tiff.size()));
    client_.set_text(FOLDER, path("a4"));
    const size_t since = run(CONVERT);
    const std::string ok = find_line(client_.log_lines(), "[OK] scan.tif");
    EXPECT_TRUE(starts_with(ok, "[OK] scan.tif → scan.pdf (compactado: 74 MB → ")) << ::testing::PrintToString(client_.trace(since));
    const std::string pdf = read_file(widen(path("a4\\dorvane_converted\\scan.pdf")));
    EXPECT_TRUE(starts_with(pdf, "%PDF-1.4"));
    EXPECT_LT(pdf.size(), size_t(50) << 20);
    EXPECT_NE(pdf.find("/MediaBox [0 0 595.20 841.92]"), std::string::npos);  // A4 at 300 dpi
}

TEST_F(EndToEnd, ConvertWithoutTiffsShowsTheHint) {
    client_.set_text(FOLDER, path("sub\\nada"));
    const size_t since = press(CONVERT);
    EXPECT_EQ(box(IDOK), "Nenhum arquivo TIFF encontrado em:\n" + path("sub\\nada"));
    pump_for(300);
    EXPECT_TRUE(client_.trace(since).empty());
}

// --- send ---

TEST_F(EndToEnd, SendChecksConnectionOperationAndFiles) {
    client_.press(SEND_ALL);
    EXPECT_EQ(box(IDOK), "Conecte-se primeiro: informe a URL e a API Key e clique em Conectar.");
    connect();
    client_.press(SEND_ALL);
    EXPECT_EQ(box(IDOK), "Não há arquivos para enviar.");
    run(SCAN);
    client_.press(SEND_SELECTED);
    EXPECT_EQ(box(IDOK), "Nenhum arquivo selecionado.\n\nSelecione na lista ou use 'Enviar todos'.");
    SendMessageW(client_.control(OPERATIONS), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    const size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDOK), "Selecione uma operação na lista.");
    pump_for(300);
    EXPECT_TRUE(client_.trace(since).empty());
    EXPECT_EQ(submission_count(), 0);
}

TEST_F(EndToEnd, SendAllAnsweredNoSendsNothing) {
    connect_and_scan();
    const size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDNO, "send-confirmation"), confirmation(5, FIRST_OPERATION, "ocr", 1));
    // An operation that costs nothing estimates 0 credits.
    SendMessageW(client_.control(OPERATIONS), LB_SETCURSEL, 1, 0);
    client_.press(SEND_ALL);
    EXPECT_EQ(box(IDNO), confirmation(5, "Compressão de PDF", "pdf-compress", 0));
    pump_for(500);
    EXPECT_TRUE(client_.trace(since).empty());
    EXPECT_TRUE(client_.idle());
    EXPECT_EQ(submission_count(), 0);
}

TEST_F(EndToEnd, SendAllAnsweredYesSendsEveryFileAndWritesTheResults) {
    connect_and_scan();
    const size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDYES), confirmation(5, FIRST_OPERATION, "ocr", 1));
    ASSERT_TRUE(client_.wait_log(since, "[ENVIO]", TIMEOUT_MS));
    client_.screenshot("04-sending");
    ASSERT_TRUE(client_.wait_busy_end(since, TIMEOUT_MS));
    client_.screenshot("05-done");

    std::vector<std::string> names = received_names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"doc1.pdf", "doc2.pdf", "notes.pdf", "photo.png", "scan.jpg"}));

    const std::vector<std::string> log = client_.log_lines();
    EXPECT_EQ(find_line(log, "Iniciando envio"), "Iniciando envio de 5 arquivo(s) — operação " + std::string(FIRST_OPERATION) + ".");
    EXPECT_EQ(find_line(log, "[FIM]"), "[FIM] 5 enviado(s), 0 com erro, 0 pulado(s) de 5.");
    const std::string results_line = find_line(log, "Resultados salvos em ");
    const std::string results_dir = path("dorvane_results");
    ASSERT_TRUE(starts_with(results_line, "Resultados salvos em " + results_dir + "\\resultados_")) << results_line;
    ASSERT_TRUE(ends_with(results_line, ".jsonl")) << results_line;
    const std::string jsonl_name = results_line.substr(results_line.rfind('\\') + 1);
    const std::string json_name = jsonl_name.substr(0, jsonl_name.size() - 1);
    EXPECT_EQ(files_in(widen(results_dir)), (std::vector<std::string>{json_name, jsonl_name}));
    const std::string jsonl = read_file(widen(results_dir + "\\" + jsonl_name));
    EXPECT_EQ(std::count(jsonl.begin(), jsonl.end(), '\n'), 5);
    EXPECT_EQ(json::parse(read_file(widen(results_dir + "\\" + json_name))).as_array().size(), 5u);

    // Every file arrived byte for byte, and the results name each one with the task the service gave.
    const json::Array received = submissions();
    ASSERT_EQ(received.size(), 5u);
    std::vector<std::string> records;
    for (size_t start = 0, end; (end = jsonl.find('\n', start)) != std::string::npos; start = end + 1) {
        records.push_back(jsonl.substr(start, end - start));
    }
    ASSERT_EQ(records.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(documents()[i]);
        EXPECT_EQ(base64_decode(received[i].get_string("data_base64", "")), read_file(widen(documents()[i])));
        const json::Value record = json::parse(records[i]);
        EXPECT_EQ(record.get_string("file", ""), documents()[i]);
        EXPECT_TRUE(record.get("success").is_bool() && record.get("success").as_bool());
        EXPECT_EQ(record.get_string("taskId", "?"), received[i].get_string("taskId", "!"));
    }

    std::vector<std::string> trace = client_.trace(since);
    ASSERT_GE(trace.size(), 4u);
    EXPECT_EQ(trace[0], "BUSY 1");
    EXPECT_EQ(trace[1], "LOG Iniciando envio de 5 arquivo(s) — operação " + std::string(FIRST_OPERATION) + ".");
    EXPECT_EQ(trace[trace.size() - 2], "STATUS Concluído: 5/5 enviado(s)");
    EXPECT_EQ(trace.back(), "BUSY 0");
    EXPECT_NE(std::find(trace.begin(), trace.end(), "STATUS Enviando 1/5: doc1.pdf"), trace.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "PROGRESS 5/5"), trace.end());
}

TEST_F(EndToEnd, SendSelectedDropsRowsBeyondTheFileList) {
    connect_and_scan();
    // A row the file list does not have, as when the list changed after the selection.
    HWND files = client_.control(FILES);
    SendMessageW(files, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"fantasma"));
    SendMessageW(files, LB_SETSEL, TRUE, 5);
    client_.press(SEND_SELECTED);
    EXPECT_EQ(box(IDOK), "Não há arquivos para enviar.");
    SendMessageW(files, LB_SETSEL, TRUE, 1);
    client_.press(SEND_SELECTED);
    EXPECT_EQ(box(IDNO), confirmation(1, FIRST_OPERATION, "ocr", 1));
}

TEST_F(EndToEnd, SendSelectedInSynchronousModeWithAnotherOperation) {
    connect_and_scan();
    SendMessageW(client_.control(SYNC), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(client_.control(OPERATIONS), LB_SETCURSEL, 2, 0);
    SendMessageW(client_.control(FILES), LB_SETSEL, TRUE, 0);
    SendMessageW(client_.control(FILES), LB_SETSEL, TRUE, 3);
    const size_t since = press(SEND_SELECTED);
    EXPECT_EQ(box(IDYES),
              confirmation(2, "Extração de dados de nota fiscal", "invoice-extract", 3) +
                  "\n\nModo síncrono: o envio aguarda o resultado de cada documento (até 5 minutos por arquivo).");
    ASSERT_TRUE(client_.wait_busy_end(since, TIMEOUT_MS));
    const json::Array received = submissions();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].get_string("filename", ""), "doc1.pdf");
    EXPECT_EQ(received[1].get_string("filename", ""), "scan.jpg");
    for (const json::Value& s : received) {
        EXPECT_EQ(s.get_string("operation", ""), "invoice-extract");
        EXPECT_EQ(s.get_string("awaitResult", ""), "true");
    }
    EXPECT_EQ(find_line(client_.log_lines(), "[FIM]"), "[FIM] 2 enviado(s), 0 com erro, 0 pulado(s) de 2.");
}

TEST_F(EndToEnd, CancelStopsTheBatchAfterTheCurrentFile) {
    connect_and_scan();
    // Cancel while nothing runs does nothing.
    const size_t idle_mark = press(CANCEL);
    pump_for(500);
    EXPECT_TRUE(client_.trace(idle_mark).empty());

    slow_uploads(2500);
    const size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDYES), confirmation(5, FIRST_OPERATION, "ocr", 1));
    ASSERT_TRUE(client_.wait_log(since, "[ENVIO]", TIMEOUT_MS));
    EXPECT_TRUE(client_.enabled(CANCEL));
    EXPECT_FALSE(client_.enabled(SEND_ALL));
    client_.screenshot("04-sending-slow");
    const size_t cancel_mark = press(CANCEL);
    ASSERT_TRUE(client_.wait_busy_end(since, TIMEOUT_MS));

    std::vector<std::string> after = client_.trace(cancel_mark);
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after[0], "LOG Cancelamento solicitado — aguardando o arquivo atual terminar...");
    EXPECT_EQ(after[1], "STATUS Cancelando...");
    EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const std::string& e) { return starts_with(e, "BOX"); }), 0);
    const std::vector<std::string> log = client_.log_lines();
    EXPECT_FALSE(find_line(log, "[CANCELADO]").empty());
    const double sent = submission_count();
    EXPECT_GE(sent, 1);
    EXPECT_LT(sent, 5);
    EXPECT_TRUE(starts_with(find_line(log, "[FIM]"), "[FIM] "));
    EXPECT_TRUE(starts_with(client_.trace(since).end()[-2], "STATUS Concluído: "));
}

TEST_F(EndToEnd, NoCreditsMidBatchEndsWithTheInterruptedBox) {
    connect_and_scan();
    service_call(L"POST", "/__control/credits", "{\"credits\":2}");
    const std::string text = send_until_interrupted(2, "send-stopped");
    EXPECT_NE(text.find("Créditos insuficientes"), std::string::npos) << text;
    EXPECT_EQ(submission_count(), 3);
}

// After a stop for credits, "Enviar todos" again asks which files to send: Cancelar sends
// nothing, Sim only the files not sent yet, Não every file again.
TEST_F(EndToEnd, SendingAgainAsksWhetherToSkipWhatWasAlreadySent) {
    connect_and_scan();
    service_call(L"POST", "/__control/credits", "{\"credits\":2}");
    send_until_interrupted(2);
    service_call(L"POST", "/__control/reset", "{\"credits\":100}");

    const std::string skip_two = "Enviar 5 arquivo(s)?\n\nOperação: " + std::string(FIRST_OPERATION) +
                                 " (ocr)\nCusto: 1 crédito(s) por arquivo\nCusto estimado: 3 crédito(s)"
                                 "\n\n2 arquivo(s) já foram enviados para esta operação e serão pulados."
                                 "\n\nSim = pular os já enviados, Não = enviar todos de novo, Cancelar = nada.";
    size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDCANCEL, "send-resume-question"), skip_two);
    pump_for(500);
    EXPECT_TRUE(client_.trace(since).empty());
    EXPECT_EQ(submission_count(), 0);

    since = press(SEND_ALL);
    EXPECT_EQ(box(IDYES), skip_two);
    ASSERT_TRUE(client_.wait_busy_end(since, TIMEOUT_MS));
    EXPECT_EQ(received_names(), (std::vector<std::string>{"photo.png", "scan.jpg", "notes.pdf"}));
    const std::vector<std::string> trace = client_.trace(since);
    EXPECT_NE(std::find_if(trace.begin(), trace.end(),
                           [](const std::string& e) { return starts_with(e, "LOG [PULADO] [1/5] doc1.pdf — já enviado em "); }),
              trace.end())
        << ::testing::PrintToString(trace);
    EXPECT_NE(std::find(trace.begin(), trace.end(), "LOG [FIM] 3 enviado(s), 0 com erro, 2 pulado(s) de 5."), trace.end());

    service_call(L"POST", "/__control/reset", "{\"credits\":100}");
    since = press(SEND_ALL);
    const std::string all_sent = box(IDNO);
    EXPECT_NE(all_sent.find("Custo estimado: 0 crédito(s)\n\n5 arquivo(s) já foram enviados"), std::string::npos) << all_sent;
    ASSERT_TRUE(client_.wait_busy_end(since, TIMEOUT_MS));
    EXPECT_EQ(submission_count(), 5);
}

TEST_F(EndToEnd, RejectedKeyMidBatchStopsItWithTheInterruptedBox) {
    connect_and_scan();
    service_call(L"POST", "/__control/faults",
                 "{\"method\":\"POST\",\"path\":\"/api/operations\",\"status\":401,"
                 "\"json\":{\"error\":\"API Key revogada\"},\"after\":1}");
    send_until_interrupted(1);
    EXPECT_EQ(received_names(), std::vector<std::string>{"doc1.pdf"});
}

TEST_F(EndToEnd, ClosingDuringAConnectAsksTooAndExitsWithoutWaiting) {
    service_call(L"POST", "/__control/faults", "{\"method\":\"GET\",\"delay_ms\":4000}");
    fill(g_config.service_url);
    const size_t since = press(CONNECT);
    ASSERT_TRUE(pump_until([&] { return client_.enabled(CANCEL); }, TIMEOUT_MS));
    client_.post_close();
    EXPECT_EQ(box(IDYES), EXIT_QUESTION);
    expect_clean_exit();
    // The worker was still waiting for the service: its end never reached the window.
    const std::vector<std::string> trace = client_.trace(since);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "BUSY 0"), 0) << ::testing::PrintToString(trace);
}

TEST_F(EndToEnd, ClosingWhileIdleAsksNothing) {
    connect();
    client_.post_close();
    expect_clean_exit();
}

TEST_F(EndToEnd, ClosingDuringASendAsksAndYesEndsTheProcessCleanly) {
    connect_and_scan();
    slow_uploads(3000);
    const size_t since = press(SEND_ALL);
    EXPECT_EQ(box(IDYES), confirmation(5, FIRST_OPERATION, "ocr", 1));
    ASSERT_TRUE(client_.wait_log(since, "[ENVIO]", TIMEOUT_MS));

    client_.post_close();
    EXPECT_EQ(box(IDNO, "exit-question"), EXIT_QUESTION);
    pump_for(500);
    ASSERT_TRUE(IsWindow(client_.window()));
    EXPECT_TRUE(client_.enabled(CANCEL));

    client_.post_close();
    EXPECT_EQ(box(IDYES), EXIT_QUESTION);
    expect_clean_exit();
    EXPECT_LT(submission_count(), 5);
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            const std::string prefix = std::string(name) + "=";
            return arg.rfind(prefix, 0) == 0 ? argv[i] + prefix.size() : nullptr;
        };
        if (const char* v = value("--client")) e2e::g_config.client_exe = e2e::windows_path(v);
        if (const char* v = value("--service")) e2e::g_config.service_url = v;
        if (const char* v = value("--samples")) e2e::g_config.samples = e2e::windows_path(v);
        if (const char* v = value("--work")) e2e::g_config.work_root = e2e::windows_path(v);
        if (const char* v = value("--screens")) e2e::g_config.screens = e2e::windows_path(v);
    }
    if (e2e::g_config.client_exe.empty() || e2e::g_config.service_url.empty() || e2e::g_config.samples.empty() ||
        e2e::g_config.work_root.empty() || e2e::g_config.screens.empty()) {
        std::fprintf(stderr, "uso: e2e_driver --client=EXE --service=URL --samples=PASTA --work=PASTA --screens=PASTA\n");
        return 2;
    }
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir = self;
    dir.erase(dir.find_last_of(L"\\/") + 1);
    e2e::install_spy(dir + L"e2e_spy.dll");
    CreateDirectoryW(e2e::g_config.work_root.c_str(), nullptr);
    CreateDirectoryW(e2e::g_config.screens.c_str(), nullptr);
    return RUN_ALL_TESTS();
}
