// The tool on Windows: files and consoles through the Win32 API, names and
// arguments in UTF-16, text through the ANSI code page's table that the
// automation object uses, so that the tool and the object on one machine
// make the same bytes of the same string.
#include <windows.h>

#include <fcntl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <morvik/detail/wipe.h>
#include <morvik/front/windows.h>

#include "../front.h"
#include "../platform.h"
#include "../terminal.h"

// Hidden by <io.h> in strict C++ mode.
extern "C" int _setmode(int fd, int mode);

namespace morvik::cli::platform {
namespace {

DWORD g_error = 0;  // of the last failed call, for LastError
Failure IoFailure(const std::string& what, DWORD error = GetLastError()) {
    g_error = error;
    return Failure(Exit::Io, what + ": " + SystemErrorText(error), static_cast<int>(error));
}

}  // namespace

namespace {

std::wstring Name(const std::string& path) { return Wide(path); }

// ---- What an interruption cleans up -----------------------------------------

// The temporary file of -o (the front layer's) and the console's input mode
// of --key-prompt. The console's events arrive on a thread of their own.
SRWLOCK  g_lock = SRWLOCK_INIT;
HANDLE   g_console_in = INVALID_HANDLE_VALUE;
DWORD    g_console_mode = 0;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            DiscardPendingReplacement();
            AcquireSRWLockExclusive(&g_lock);
            if (g_console_in != INVALID_HANDLE_VALUE) SetConsoleMode(g_console_in, g_console_mode);
            ReleaseSRWLockExclusive(&g_lock);
            return FALSE;  // and the run ends as it would have
        default:
            return FALSE;
    }
}

HANDLE Standard(int stream) { return StandardHandle(stream); }

// ---- Reading ------------------------------------------------------------------

class HandleSource final : public Source {
public:
    HandleSource(HANDLE h, bool owned) : h_(h), owned_(owned) {
        LARGE_INTEGER size{};
        if (GetFileType(h_) == FILE_TYPE_DISK && GetFileSizeEx(h_, &size))
            size_ = static_cast<std::uint64_t>(size.QuadPart);
    }
    ~HandleSource() override {
        if (owned_) CloseHandle(h_);
    }
    long long Read(char* into, std::size_t n) override {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
        if (ReadFile(h_, into, want, &got, nullptr)) return got;
        const DWORD error = GetLastError();
        if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;  // the writer is done
        g_error = error;
        return -1;
    }
    std::optional<std::uint64_t> Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, char* into, std::size_t n) override {
        // A read at an offset moves the position of a synchronous handle, so
        // the position is put back.
        LARGE_INTEGER zero{}, here{};
        if (!SetFilePointerEx(h_, zero, &here, FILE_CURRENT)) return false;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const bool ok = ReadFile(h_, into, static_cast<DWORD>(n), &got, &at) && got == n;
        SetFilePointerEx(h_, here, nullptr, FILE_BEGIN);
        return ok;
    }
    bool SameAsStandardInput() const override {
        if (!owned_) return true;
        BY_HANDLE_FILE_INFORMATION mine{}, standard{};
        return !StandardClosed(0) && GetFileInformationByHandle(h_, &mine) &&
               GetFileInformationByHandle(Standard(0), &standard) &&
               mine.dwVolumeSerialNumber == standard.dwVolumeSerialNumber &&
               mine.nFileIndexHigh == standard.nFileIndexHigh && mine.nFileIndexLow == standard.nFileIndexLow;
    }

private:
    HANDLE                       h_;
    bool                         owned_;
    std::optional<std::uint64_t> size_;
};

// ---- Writing ------------------------------------------------------------------

bool WriteHandle(HANDLE h, std::string_view rest) { return front::WriteHandle(h, rest, &g_error); }

}  // namespace

// ---- The interface ------------------------------------------------------------

void Start() noexcept {
    HoldStandardStreams();
    // Bytes in and out as they are; the C runtime's streams (messages on
    // standard error) write no CR before LF either.
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StandardClosed(int stream) noexcept { return StandardStreamClosed(stream); }

std::string LastError() { return SystemErrorText(g_error); }

std::unique_ptr<Source> OpenSource(const std::string& path, const std::string& name) {
    if (path == "-" || path.empty()) {
        if (StandardClosed(0)) throw IoFailure("cannot read standard input", ERROR_INVALID_HANDLE);
        return std::make_unique<HandleSource>(Standard(0), false);
    }
    const std::wstring w = Name(path);
    const DWORD attributes = GetFileAttributesW(w.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw Failure(Exit::Io, "cannot read " + name + ": Is a directory");
    const HANDLE h = CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw IoFailure("cannot open " + name);
    return std::make_unique<HandleSource>(h, true);
}

std::string WriteStandard(int stream, std::string_view bytes) noexcept {
    if (StandardClosed(stream)) return SystemErrorText(ERROR_INVALID_HANDLE);
    if (!WriteHandle(Standard(stream), bytes)) return SystemErrorText(g_error);
    return {};
}

bool ErrorIsTerminal() noexcept { return IsConsole(Standard(2)); }

int ErrorColumns() noexcept {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(Standard(2), &info) && info.srWindow.Right > info.srWindow.Left)
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

// Older consoles know no escape sequences: the line is cleared with spaces.
void DrawStatus(const std::string& line) noexcept {
    const std::size_t width = static_cast<std::size_t>(ErrorColumns() - 1);
    std::string text = "\r" + line;
    if (line.size() < width) text.append(width - line.size(), ' ');
    std::fflush(stderr);
    WriteHandle(Standard(2), text);
}

void ClearStatus() noexcept {
    std::string text = "\r";
    text.append(static_cast<std::size_t>(ErrorColumns() - 1), ' ');
    text += '\r';
    std::fflush(stderr);
    WriteHandle(Standard(2), text);
}

}  // namespace morvik::cli::platform

// ---- The key typed at the console ----------------------------------------------

namespace morvik::cli {
namespace {

constexpr std::size_t kLongestLine = 4096;

class Console {
public:
    Console() {
        in_ = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        out_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
        DWORD mode = 0;
        if (in_ == INVALID_HANDLE_VALUE || out_ == INVALID_HANDLE_VALUE || !GetConsoleMode(in_, &mode)) {
            Close();
            throw Failure(Exit::Usage, "--key-prompt: no console to read the key from; give --key-hex, --key or --key-file");
        }
        AcquireSRWLockExclusive(&platform::g_lock);
        platform::g_console_in = in_;
        platform::g_console_mode = mode;
        ReleaseSRWLockExclusive(&platform::g_lock);
        old_ = mode;
        quiet_ = SetConsoleMode(in_, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                                         ENABLE_PROCESSED_INPUT);
    }
    ~Console() {
        if (quiet_) SetConsoleMode(in_, old_);
        AcquireSRWLockExclusive(&platform::g_lock);
        platform::g_console_in = INVALID_HANDLE_VALUE;
        ReleaseSRWLockExclusive(&platform::g_lock);
        Close();
    }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    std::string ReadLine(const wchar_t* prompt) {
        Say(prompt);
        std::wstring line;
        bool failed = false;
        for (wchar_t c;;) {
            DWORD n = 0;
            if (!ReadConsoleW(in_, &c, 1, &n, nullptr)) failed = true;
            if (failed || n == 0 || c == L'\n') break;
            if (line.size() <= kLongestLine) line += c;
        }
        if (quiet_) Say(L"\r\n");  // the line break that was not echoed
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        std::string utf8 = Narrow(line);
        WipeWide(line);
        if (failed) {
            detail::Wipe(utf8);
            throw Failure(Exit::Io, "--key-prompt: cannot read the console");
        }
        return utf8;
    }

private:
    void Say(const wchar_t* text) {
        DWORD n = 0;
        WriteConsoleW(out_, text, static_cast<DWORD>(std::wcslen(text)), &n, nullptr);
    }
    void Close() {
        if (in_ != INVALID_HANDLE_VALUE) CloseHandle(in_);
        if (out_ != INVALID_HANDLE_VALUE) CloseHandle(out_);
        in_ = out_ = INVALID_HANDLE_VALUE;
    }

    HANDLE in_ = INVALID_HANDLE_VALUE, out_ = INVALID_HANDLE_VALUE;
    DWORD  old_ = 0;
    bool   quiet_ = false;
};

}  // namespace

std::string PromptKey(bool confirm) {
    Console console;
    return ConfirmedKey(confirm, [&](bool again) { return console.ReadLine(again ? L"Key again: " : L"Key: "); });
}

}  // namespace morvik::cli
