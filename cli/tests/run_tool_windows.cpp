#include <windows.h>

#include "run_tool.h"

#include <random>
#include <stdexcept>

namespace morvik::test {
namespace {

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// One argument as the C runtime's parser reads it back.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring q = L"\"";
    for (std::size_t i = 0;; ++i) {
        std::size_t slashes = 0;
        while (i < arg.size() && arg[i] == L'\\') ++i, ++slashes;
        if (i == arg.size()) {
            q.append(slashes * 2, L'\\');
            break;
        }
        if (arg[i] == L'"') q.append(slashes * 2 + 1, L'\\');
        else q.append(slashes, L'\\');
        q += arg[i];
    }
    return q + L"\"";
}

HANDLE Open(const std::filesystem::path& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.wstring().c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int RunProgram(const std::vector<std::string>& args, const std::filesystem::path& in,
               const std::filesystem::path& out, const std::filesystem::path& err,
               const std::vector<std::string>& env) {
    std::wstring line;
    for (const auto& a : args) line += (line.empty() ? L"" : L" ") + Quoted(Wide(a));
    std::wstring block;
    if (wchar_t* own = GetEnvironmentStringsW()) {
        for (const wchar_t* e = own; *e; e += wcslen(e) + 1)
            if (_wcsnicmp(e, L"MORVIK_KEY_HEX=", 15) != 0) block.append(e).push_back(L'\0');
        FreeEnvironmentStringsW(own);
    }
    for (const auto& e : env) block.append(Wide(e)).push_back(L'\0');
    block.push_back(L'\0');

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = Open(in, false);
    si.hStdOutput = Open(out, true);
    si.hStdError = Open(err, true);
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                                        block.data(), nullptr, &si, &pi);
    CloseHandle(si.hStdInput);
    CloseHandle(si.hStdOutput);
    CloseHandle(si.hStdError);
    if (!started) return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(status);
}

Running::Running(const std::vector<std::string>& args, const std::filesystem::path& out,
                 const std::filesystem::path& err) {
    std::wstring line;
    for (const auto& a : args) line += (line.empty() ? L"" : L" ") + Quoted(Wide(a));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) return;
    SetHandleInformation(write, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = read;
    si.hStdOutput = Open(out, true);
    si.hStdError = Open(err, true);
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                                        nullptr, nullptr, &si, &pi);
    CloseHandle(read);
    CloseHandle(si.hStdOutput);
    CloseHandle(si.hStdError);
    input_ = write;
    if (!started) return;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    id_ = pi.dwProcessId;
}

Running::~Running() {
    CloseInput();
    if (process_) {
        TerminateProcess(process_, 1);
        CloseHandle(process_);
    }
}

bool Running::Feed(const std::string& bytes) {
    DWORD n = 0;
    return input_ && WriteFile(input_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) && n == bytes.size();
}

void Running::CloseInput() {
    if (input_) CloseHandle(input_);
    input_ = nullptr;
}

bool Running::Interrupt() { return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, id_) != 0; }

int Running::Wait() {
    if (!process_) return -1;
    if (WaitForSingleObject(process_, 20000) != WAIT_OBJECT_0) return -2;
    DWORD status = 0;
    GetExitCodeProcess(process_, &status);
    CloseHandle(process_);
    process_ = nullptr;
    return static_cast<int>(status);
}

std::vector<std::string> ToolCommand(const std::string& tool) { return {tool}; }

std::filesystem::path MakeTempDir(const std::string& stem) {
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto dir = std::filesystem::temp_directory_path() / (stem + "-" + std::to_string(seed() % 1000000000));
        if (std::filesystem::create_directory(dir)) return dir;
    }
    throw std::runtime_error("cannot make a temporary folder");
}

}  // namespace morvik::test
