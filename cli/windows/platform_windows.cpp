// The tool on Windows: files and consoles through the Win32 API, names and
// arguments in UTF-16, text through the ANSI code page's table that the
// automation object uses, so that the tool and the object on one machine
// make the same bytes of the same string.
#include <windows.h>

#include <fcntl.h>

#include <code_page.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <morvik/detail/wipe.h>

#include "../failure.h"
#include "../platform.h"
#include "../terminal.h"

// Hidden by <io.h> in strict C++ mode.
extern "C" int _setmode(int fd, int mode);

namespace morvik::cli::platform {
namespace {

void WipeWide(std::wstring& w) noexcept { detail::Wipe(w.data(), w.capacity() * sizeof(wchar_t)); }

DWORD g_error = 0;  // of the last failed call, for LastError
bool  g_closed[3];

std::string ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring w = n && text ? std::wstring(text, n) : std::wstring();
    if (text) LocalFree(text);
    while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r' || w.back() == L' ' || w.back() == L'.'))
        w.pop_back();
    std::string s;
    for (wchar_t c : w) s += c < 0x80 ? static_cast<char>(c) : '?';
    if (s.empty()) s = "error " + std::to_string(error);
    return s;
}

Failure IoFailure(const std::string& what, DWORD error = GetLastError()) {
    g_error = error;
    return Failure(Exit::Io, what + ": " + ErrorText(error));
}

}  // namespace

// UTF-16 to UTF-8, keeping an unpaired surrogate as its own three bytes, so
// that a name the system gave comes back to it unchanged.
std::string Utf8(std::wstring_view w) {
    std::string s;
    s.reserve(w.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
        char32_t c = w[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00);
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (c >> 18));
            s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

namespace {

// The other way; `bad` gets the byte offset of the first malformed sequence
// (an overlong form, a truncated or stray byte, a value beyond U+10FFFF).
std::wstring Utf16(std::string_view s, std::size_t* bad = nullptr) {
    std::wstring w;
    w.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int extra = b < 0x80 ? 0 : b >= 0xC2 && b < 0xE0 ? 1 : b >= 0xE0 && b < 0xF0 ? 2 : b >= 0xF0 && b < 0xF5 ? 3 : -1;
        char32_t c = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
        bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < s.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            ok = (t & 0xC0) == 0x80;
            c = c << 6 | (t & 0x3F);
        }
        ok = ok && !(extra == 2 && c < 0x800) && !(extra == 3 && (c < 0x10000 || c > 0x10FFFF));
        if (!ok) {
            if (bad) *bad = i;
            return w;
        }
        if (c >= 0x10000) {
            w += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            w += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            w += static_cast<wchar_t>(c);
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    if (bad) *bad = std::string::npos;
    return w;
}

std::wstring Name(const std::string& path) { return Utf16(path); }

// ---- What an interruption cleans up -----------------------------------------

// The temporary file of -o and the console's input mode of --key-prompt.
// The console's events arrive on a thread of their own; the lock keeps the
// handler from removing a file that is being renamed into place.
SRWLOCK  g_lock = SRWLOCK_INIT;
wchar_t  g_temp[32768];
HANDLE   g_console_in = INVALID_HANDLE_VALUE;
DWORD    g_console_mode = 0;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            AcquireSRWLockExclusive(&g_lock);
            if (g_temp[0] != L'\0') DeleteFileW(g_temp);  // gone once the handle closes at the exit
            g_temp[0] = L'\0';
            if (g_console_in != INVALID_HANDLE_VALUE) SetConsoleMode(g_console_in, g_console_mode);
            ReleaseSRWLockExclusive(&g_lock);
            return FALSE;  // and the run ends as it would have
        default:
            return FALSE;
    }
}

void RememberTemp(const std::wstring& path) {
    AcquireSRWLockExclusive(&g_lock);
    const std::size_t n = std::min(path.size(), std::size(g_temp) - 1);
    std::wmemcpy(g_temp, path.c_str(), n);
    g_temp[n] = L'\0';
    ReleaseSRWLockExclusive(&g_lock);
}

void ForgetTemp() {
    AcquireSRWLockExclusive(&g_lock);
    g_temp[0] = L'\0';
    ReleaseSRWLockExclusive(&g_lock);
}

HANDLE Standard(int stream) {
    return GetStdHandle(stream == 0 ? STD_INPUT_HANDLE : stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE h) {
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

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

private:
    HANDLE                       h_;
    bool                         owned_;
    std::optional<std::uint64_t> size_;
};

// ---- Writing ------------------------------------------------------------------

bool WriteHandle(HANDLE h, std::string_view rest) {
    while (!rest.empty()) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1u << 30));
        if (!WriteFile(h, rest.data(), want, &n, nullptr)) {
            g_error = GetLastError();
            return false;
        }
        rest.remove_prefix(n);
    }
    return true;
}

// Standard output, or a device or pipe that -o names.
class Through final : public Target {
public:
    Through(HANDLE h, bool owned) : h_(h), owned_(owned) {}
    ~Through() override {
        if (owned_) CloseHandle(h_);
    }
    bool Write(std::string_view bytes) override { return WriteHandle(h_, bytes); }
    bool Replaces() const override { return false; }
    bool Terminal() const override { return IsConsole(h_); }
    void Commit(const std::string& name) override {
        if (!owned_) return;
        owned_ = false;
        if (!CloseHandle(h_)) throw IoFailure("cannot write " + name);
    }

private:
    HANDLE h_;
    bool   owned_;
};

std::wstring RandomSuffix() {
    static constexpr wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned long long counter = 0;
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    unsigned long long x = static_cast<unsigned long long>(now.QuadPart) ^ (GetCurrentProcessId() * 2654435761ull) ^
                           (++counter * 0x9E3779B97F4A7C15ull);
    std::wstring s;
    for (int i = 0; i < 6; ++i) {
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        s += kAlphabet[x % (std::size(kAlphabet) - 1)];
    }
    return s;
}

// A regular file, new or existing: the bytes go to a temporary file beside
// it, which takes its place on Commit. ReplaceFileW keeps the old file's
// attributes and security, as the POSIX side keeps owner and mode.
class Replacement final : public Target {
public:
    Replacement(std::wstring target, bool exists, const std::string& name) : target_(std::move(target)), exists_(exists) {
        const std::size_t slash = target_.find_last_of(L"\\/:");
        const std::wstring dir = slash == std::wstring::npos ? std::wstring() : target_.substr(0, slash + 1);
        const std::wstring base = slash == std::wstring::npos ? target_ : target_.substr(slash + 1);
        for (int attempt = 0;; ++attempt) {
            temp_ = dir + L"." + base + L".morvik-" + RandomSuffix();
            RememberTemp(temp_);
            h_ = CreateFileW(temp_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h_ != INVALID_HANDLE_VALUE) break;
            const DWORD error = GetLastError();
            ForgetTemp();
            if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == 100) {
                temp_.clear();
                throw IoFailure("cannot create a temporary file beside " + name, error);
            }
        }
    }
    ~Replacement() override { Discard(); }
    bool Write(std::string_view bytes) override { return WriteHandle(h_, bytes); }
    bool Replaces() const override { return true; }
    bool Terminal() const override { return false; }
    void Commit(const std::string& name) override {
        DWORD error = FlushFileBuffers(h_) ? 0 : GetLastError();
        if (!CloseHandle(h_) && error == 0) error = GetLastError();
        h_ = INVALID_HANDLE_VALUE;
        if (error != 0) {
            Discard();
            throw IoFailure("cannot write " + name, error);
        }
        AcquireSRWLockExclusive(&g_lock);
        bool done = g_temp[0] != L'\0';  // else an interruption has removed it
        if (done && exists_)
            done = ReplaceFileW(target_.c_str(), temp_.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                                nullptr);
        if (done && !exists_) done = MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (!done && exists_ && g_temp[0] != L'\0') {
            // ReplaceFileW fails where the file system cannot keep the
            // attributes; a plain replacement is still atomic.
            done = MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        }
        error = done ? 0 : GetLastError();
        if (done) {
            g_temp[0] = L'\0';
            temp_.clear();
        }
        ReleaseSRWLockExclusive(&g_lock);
        if (!done) {
            Discard();
            throw IoFailure("cannot replace " + name, error);
        }
    }

private:
    void Discard() noexcept {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        if (!temp_.empty()) {
            DeleteFileW(temp_.c_str());
            ForgetTemp();
            temp_.clear();
        }
    }

    std::wstring target_, temp_;
    bool         exists_;
    HANDLE       h_ = INVALID_HANDLE_VALUE;
};

}  // namespace

// ---- The interface ------------------------------------------------------------

void Start() noexcept {
    for (int stream = 0; stream < 3; ++stream) {
        const HANDLE h = Standard(stream);
        g_closed[stream] = h == nullptr || h == INVALID_HANDLE_VALUE;
    }
    // Bytes in and out as they are; the C runtime's streams (messages on
    // standard error) write no CR before LF either.
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StandardClosed(int stream) noexcept { return stream >= 0 && stream < 3 && g_closed[stream]; }

std::string LastError() { return ErrorText(g_error); }

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

std::unique_ptr<Target> OpenTarget(const std::string& path, const std::string& name) {
    if (path.empty() || path == "-") {
        if (StandardClosed(1)) throw IoFailure("cannot write standard output", ERROR_INVALID_HANDLE);
        return std::make_unique<Through>(Standard(1), false);
    }
    const std::wstring w = Name(path);
    if (!w.empty() && (w.back() == L'\\' || w.back() == L'/'))
        throw Failure(Exit::Io, "cannot write " + name + ": Is a directory");
    const DWORD attributes = GetFileAttributesW(w.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw Failure(Exit::Io, "cannot write " + name + ": Is a directory");
    // Opening the target for writing, without changing it, tells a device
    // (NUL, CON, COM1, a named pipe), which is written through, from a file,
    // and checks that the user may write the file at all.
    const HANDLE h = CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A missing folder is found out by the temporary file beside the target.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) throw IoFailure("cannot write " + name, error);
        return std::make_unique<Replacement>(w, false, name);
    }
    if (GetFileType(h) != FILE_TYPE_DISK) return std::make_unique<Through>(h, true);
    CloseHandle(h);
    return std::make_unique<Replacement>(w, true, name);
}

std::string WriteStandard(int stream, std::string_view bytes) noexcept {
    if (StandardClosed(stream)) return ErrorText(ERROR_INVALID_HANDLE);
    if (!WriteHandle(Standard(stream), bytes)) return ErrorText(g_error);
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

std::string TextBytes(std::string_view utf8, const std::string& option) {
    std::size_t bad = 0;
    std::wstring w = Utf16(utf8, &bad);
    if (bad != std::string::npos) {
        WipeWide(w);
        throw Failure(Exit::Overflow, option + ": malformed UTF-8 at byte offset " + std::to_string(bad));
    }
    const frame::CodePage& page = frame::CodePage::Ansi();
    std::string bytes(w.size(), '\0');
    for (std::size_t i = 0; i < w.size(); ++i) {
        const int b = page.Byte(w[i]);
        if (b < 0) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(w[i]));
            WipeWide(w);
            detail::Wipe(bytes);
            const UINT acp = GetACP();
            throw Failure(Exit::Overflow, option + ": character " + std::to_string(i + 1) + " (" + code + ") has no " +
                                              (acp == 1252 ? std::string("Windows-1252 byte")
                                                           : "byte in the ANSI code page " + std::to_string(acp)));
        }
        bytes[i] = static_cast<char>(b);
    }
    WipeWide(w);
    return bytes;
}

std::string BytesToUtf8(std::string_view bytes) {
    const frame::CodePage& page = frame::CodePage::Ansi();
    std::wstring w(bytes.size(), L'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) w[i] = page.Char(static_cast<std::uint8_t>(bytes[i]));
    return Utf8(w);
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
        std::string utf8 = platform::Utf8(line);
        platform::WipeWide(line);
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
