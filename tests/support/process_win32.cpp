#include <windows.h>

#include <algorithm>
#include <chrono>
#include <iterator>

#include "core/text.h"
#include "support/process.h"
#include "support/support.h"

namespace testing_support {

namespace {

// The quoting CommandLineToArgvW and the C runtime undo: blanks and quotes inside double quotes,
// backslashes doubled only where they precede a quote.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring q = L"\"";
    size_t slashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
        } else {
            if (c == L'"') q.append(slashes + 1, L'\\');
            slashes = 0;
        }
        q += c;
    }
    q.append(slashes, L'\\');
    return q + L"\"";
}

// The parent's environment with `env` applied, as CreateProcessW takes it.
std::wstring environment_block(const std::map<std::string, std::string>& env) {
    std::vector<std::wstring> vars;
    wchar_t* own = GetEnvironmentStringsW();
    for (const wchar_t* p = own; *p; p += wcslen(p) + 1) vars.emplace_back(p);
    FreeEnvironmentStringsW(own);
    for (const auto& e : env) {
        const std::wstring prefix = text::to_wide(e.first) + L"=";
        vars.erase(std::remove_if(vars.begin(), vars.end(),
                                  [&](const std::wstring& v) {
                                      return _wcsnicmp(v.c_str(), prefix.c_str(), prefix.size()) == 0;
                                  }),
                   vars.end());
        if (!e.second.empty()) vars.push_back(prefix + text::to_wide(e.second));
    }
    std::wstring block;
    for (const auto& v : vars) block += v + L'\0';
    return block + L'\0';
}

// Output goes to files, not pipes: Wine's background processes inherit the handles and would keep
// a pipe open after the program has ended.
std::wstring temp_file() {
    wchar_t dir[MAX_PATH + 1] = {}, name[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"dvo", 0, name);
    return name;
}

HANDLE inheritable(const std::wstring& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string take_text(const std::wstring& path) {
    const auto bytes = read_bytes(text::to_utf8(path));
    DeleteFileW(path.c_str());
    return std::string(bytes.begin(), bytes.end());
}

RunResult run_line(std::wstring command, const std::map<std::string, std::string>& env, int timeout_seconds,
                   const std::function<bool(int pid)>& on_tick, const std::string& stdin_path) {
    std::wstring block = environment_block(env);
    const std::wstring out_path = temp_file(), err_path = temp_file();
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inheritable(stdin_path.empty() ? L"NUL" : text::to_wide(stdin_path), false);
    si.hStdOutput = inheritable(out_path, true);
    si.hStdError = inheritable(err_path, true);
    PROCESS_INFORMATION pi{};
    RunResult result;
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                       block.data(), nullptr, &si, &pi)) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
        bool ticking = static_cast<bool>(on_tick);
        DWORD waited = WAIT_TIMEOUT;
        while (waited == WAIT_TIMEOUT && std::chrono::steady_clock::now() < deadline) {
            if (ticking && on_tick(static_cast<int>(pi.dwProcessId))) ticking = false;
            waited = WaitForSingleObject(pi.hProcess, 100);
        }
        DWORD code = 0;
        if (waited == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &code)) result.exit_code = static_cast<int>(code);
        if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        result.exit_code = 127;
    }
    for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError}) CloseHandle(h);
    result.out = take_text(out_path);
    result.err = take_text(err_path);
    return result;
}

}  // namespace

std::string bin_path(const std::string& name) {
    wchar_t self[MAX_PATH * 4] = {};
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self))));
    return text::to_utf8(path.substr(0, path.find_last_of(L"\\/") + 1)) + name;
}

RunResult run_program(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                      int timeout_seconds, const std::function<bool(int pid)>& on_tick, const std::string& stdin_path) {
    std::wstring command;
    for (const auto& a : argv) command += (command.empty() ? L"" : L" ") + quoted(text::to_wide(a));
    return run_line(command, env, timeout_seconds, on_tick, stdin_path);
}

RunResult run_command_line(const std::string& command_line, int timeout_seconds) {
    return run_line(text::to_wide(command_line), {}, timeout_seconds, nullptr, {});
}

}  // namespace testing_support
