// `dorvane convert`: one TIFF into one PDF, or the window's "Converter TIFFs" for a folder, with
// the same log lines (time-stamped, on stderr). The service is not involved.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/common.h"
#include "core/fileutils.h"
#include "files/scan.h"
#include "service/convert_tiffs.h"

namespace {

const char* const USAGE =
    "Uso: dorvane convert [--compact] ENTRADA.tif -o SAIDA.pdf\n"
    "     dorvane convert [--compact] [--recursive] [--quiet] [PASTA]\n"
    "\n"
    "Converte TIFF (fax e digitalizações) em PDF, sem falar com o serviço.\n"
    "Com -o, converte um arquivo. Sem -o, faz o que \"Converter TIFFs\" faz na janela: os TIFFs da\n"
    "PASTA (padrão: a pasta atual) e das subpastas diretas viram PDFs em PASTA/dorvane_converted;\n"
    "PDFs já convertidos antes são reaproveitados e arquivos que não são TIFF são pulados.\n"
    "\n"
    "  -o, --output SAIDA.pdf   arquivo PDF a gravar (substitui um existente, nunca o próprio TIFF)\n"
    "      --compact            PDF compacto: página no tamanho real (resolução do TIFF) e imagem\n"
    "                           comprimida (fax em CCITT G4, cinza e cor em Flate). Sem esta\n"
    "                           opção, um PDF que passaria do limite de envio (50 MB) também é\n"
    "                           gravado compacto, e a linha [OK] diz \"compactado\".\n"
    "      --recursive          varre a PASTA em todos os níveis (exceto as pastas de saída)\n"
    "      --quiet              mostra só erros, avisos e o resumo\n"
    "\n"
    "Saída: 0 tudo convertido, 1 algum arquivo com erro ou pulado, 64 uso incorreto.\n";

int convert_one(const std::string& in, const std::string& out, bool compact) {
    const std::string refused = dorvane::not_tiff_line(in);
    if (!refused.empty()) {
        cli::log_line(refused);
        return cli::EXIT_SOME_FAILED;
    }
    const std::string name = fileutils::base_name(in);
    const std::string out_folder = fileutils::dir_name(out);
    if (!out_folder.empty() && !fileutils::is_directory(out_folder)) {
        cli::log_line("[ERRO] " + name + " — a pasta de saída não existe: " + out_folder);
        return cli::EXIT_SOME_FAILED;
    }
    std::string line;
    const bool ok = dorvane::convert_one_tiff(in, out, compact, line);
    cli::log_line(line);
    return ok ? cli::EXIT_OK : cli::EXIT_SOME_FAILED;
}

int convert_folder(std::string folder, bool compact, bool recursive) {
    if (folder.empty()) folder = fileutils::current_dir();
    const std::vector<std::string> tiffs =
        recursive ? fileutils::scan_tree(folder, fileutils::TIFF_EXTENSIONS) : dorvane::find_tiffs(folder);
    if (!recursive) {
        const size_t deeper = fileutils::scan_tree(folder, fileutils::TIFF_EXTENSIONS).size() - tiffs.size();
        if (deeper > 0) {
            cli::log_line("[AVISO] " + std::to_string(deeper) +
                          " TIFF(s) em subpastas mais profundas ficaram de fora — use --recursive para incluí-los.");
        }
    }
    if (tiffs.empty()) {
        // The window's two-line box text, one log line each (a log line never holds a line break).
        const std::string message = dorvane::no_tiff_message(folder);
        const size_t br = message.find('\n');
        cli::log_line(message.substr(0, br));
        cli::log_line(message.substr(br + 1));
        return cli::EXIT_OK;
    }
    cli::log_line(dorvane::convert_start_line(tiffs.size()));
    // Without a file list, "ready" counts the PDFs this run produced or found.
    size_t ready = 0;
    dorvane::ConvertCallbacks cb;
    cb.log = cli::log_line;
    cb.add_file = [&ready](const std::string&) { ++ready; };
    const dorvane::ConvertSummary s = dorvane::convert_tiffs(tiffs, folder, cb, compact);
    for (const std::string& line : dorvane::convert_summary_lines(s, ready)) cli::log_line(line);
    return (s.failed > 0 || s.not_tiff > 0) ? cli::EXIT_SOME_FAILED : cli::EXIT_OK;
}

int run_convert(const std::vector<std::string>& args) {
    static const std::vector<cli::OptionSpec> specs = {
        {"-o", true}, {"--output", true}, {"--compact", false}, {"--recursive", false}, {"--quiet", false}};
    cli::ParsedArgs parsed;
    std::string error;
    if (!cli::parse_args(args, specs, parsed, error)) return cli::usage_error("convert", error);
    cli::set_quiet(parsed.has("--quiet"));
    if (parsed.help) {
        std::fputs(USAGE, stdout);
        return cli::EXIT_OK;
    }
    const std::string out = parsed.value("-o", parsed.value("--output"));
    const bool compact = parsed.has("--compact");
    if (parsed.has("-o") || parsed.has("--output")) {
        if (out.empty()) return cli::usage_error("convert", "informe o arquivo PDF de saída");
        if (parsed.positional.size() != 1)
            return cli::usage_error("convert", "informe exatamente um arquivo TIFF com -o");
        // Writing the PDF over its own TIFF would destroy the only copy of the document.
        if (fileutils::same_file(parsed.positional[0], out))
            return cli::usage_error("convert", "o PDF de saída seria o próprio TIFF de entrada: " + out);
        return convert_one(parsed.positional[0], out, compact);
    }
    if (parsed.positional.size() > 1)
        return cli::usage_error("convert", "informe uma só pasta (ou um arquivo com -o SAIDA.pdf)");
    if (!parsed.positional.empty() && !fileutils::is_directory(parsed.positional[0]))
        return cli::usage_error("convert", "não é uma pasta: " + parsed.positional[0] +
                                               " (para um arquivo, use -o SAIDA.pdf)");
    return convert_folder(parsed.positional.empty() ? std::string() : parsed.positional[0], compact,
                          parsed.has("--recursive"));
}

const cli::Registrar registrar({"convert", "converte TIFFs em PDF (um arquivo ou uma pasta)", &run_convert});

}  // namespace
