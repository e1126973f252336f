// The Windows side of the output layer: whole writes to handles, and the
// replacement of a file by way of a temporary file beside it.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <iterator>

#include <morvik/code_page.h>
#include <morvik/detail/wipe.h>

#include <morvik/front/explain.h>
#include <morvik/front/failure.h>
#include <morvik/front/keys.h>
#include <morvik/front/target.h>
#include <morvik/front/windows.h>

namespace morvik::front {

std::wstring Wide(std::string_view utf8, std::size_t* bad) {
    std::u16string w = Utf8ToUtf16(utf8, bad);
    std::wstring out(reinterpret_cast<const wchar_t*>(w.data()), w.size());
    detail::Wipe(w.data(), w.capacity() * sizeof(char16_t));  // the text may be a key
    return out;
}

std::string Narrow(std::wstring_view w) {
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

void WipeWide(std::wstring& w) noexcept { detail::Wipe(w.data(), w.capacity() * sizeof(wchar_t)); }

std::string SystemErrorText(unsigned long error) {
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
    if (s.empty()) s = "error " + Decimal(error);
    return s;
}

void* StandardHandle(int stream) {
    return GetStdHandle(stream == 0 ? STD_INPUT_HANDLE : stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(void* h) {
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

bool WriteHandle(void* h, std::string_view rest, unsigned long* error) {
    while (!rest.empty()) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1u << 30));
        if (!WriteFile(h, rest.data(), want, &n, nullptr)) {
            *error = GetLastError();
            return false;
        }
        rest.remove_prefix(n);
    }
    return true;
}

namespace {

DWORD g_error = 0;  // of the last failed write, for TargetError
bool  g_closed[3];

Failure IoFailure(const std::string& what, DWORD error = GetLastError()) {
    return Failure(Exit::Io, what + ": " + SystemErrorText(error), static_cast<int>(error));
}

// The temporary file under way. The console's events arrive on a thread of
// their own; the lock keeps the handler from removing a file that is being
// renamed into place.
SRWLOCK g_lock = SRWLOCK_INIT;
wchar_t g_temp[32768];

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

HANDLE Standard(int stream) { return StandardHandle(stream); }

// Standard output, or a device or pipe that the path names.
class Through final : public Target {
public:
    Through(HANDLE h, bool owned) : h_(h), owned_(owned) {}
    ~Through() override {
        if (owned_) CloseHandle(h_);
    }
    bool Write(std::string_view bytes) override { return WriteHandle(h_, bytes, &g_error); }
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

// The first folder on the way to `dir` that does not exist: "a\\b" of
// "a\\b\\c\\"; empty if there is none.
std::wstring MissingFolder(const std::wstring& dir) {
    for (std::size_t end = dir.find_first_of(L"\\/", 1);; end = dir.find_first_of(L"\\/", end + 1)) {
        const std::wstring folder = dir.substr(0, end);
        if (!folder.empty() && folder.back() != L':' && GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return folder;
        }
        if (end == std::wstring::npos) return {};
    }
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
                if (const std::wstring missing = MissingFolder(dir); error == ERROR_PATH_NOT_FOUND && !missing.empty())
                    throw Failure(Exit::Io, "cannot write " + name + ": the folder " + Quoted(Narrow(missing)) +
                                                " does not exist", static_cast<int>(error));
                throw IoFailure("cannot create a temporary file beside " + name, error);
            }
        }
    }
    ~Replacement() override { Discard(); }
    bool Write(std::string_view bytes) override { return WriteHandle(h_, bytes, &g_error); }
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

void DiscardPendingReplacement() noexcept {
    AcquireSRWLockExclusive(&g_lock);
    if (g_temp[0] != L'\0') DeleteFileW(g_temp);  // gone once the handle closes at the exit
    g_temp[0] = L'\0';
    ReleaseSRWLockExclusive(&g_lock);
}

void HoldStandardStreams() noexcept {
    for (int stream = 0; stream < 3; ++stream) {
        const HANDLE h = Standard(stream);
        g_closed[stream] = h == nullptr || h == INVALID_HANDLE_VALUE;
    }
}

bool StandardStreamClosed(int stream) noexcept { return stream >= 0 && stream < 3 && g_closed[stream]; }

std::string TargetError() { return SystemErrorText(g_error); }
int TargetErrorNumber() { return static_cast<int>(g_error); }

std::unique_ptr<Target> OpenTarget(const std::string& path, const std::string& name) {
    if (path.empty() || path == "-") {
        if (StandardStreamClosed(1)) throw IoFailure("cannot write standard output", ERROR_INVALID_HANDLE);
        return std::make_unique<Through>(Standard(1), false);
    }
    const std::wstring w = Wide(path);
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

}  // namespace morvik::front
