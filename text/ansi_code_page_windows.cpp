// The table of a Windows code page, from the system's own conversions.
#include <windows.h>

#include <morvik/code_page.h>

#include <algorithm>
#include <bitset>
#include <new>

namespace morvik {
namespace {

constexpr char16_t kPrivateFirst    = 0xE000;
constexpr char16_t kPrivateLast     = 0xF8FF;
constexpr char16_t kSubstituteFirst = 0xF700;  // + the byte value

// The byte that `c` alone converts to in `code_page`, or -1 where it takes
// more than one byte, or the code page's default character stands in for it.
int SingleByte(UINT code_page, wchar_t c) noexcept {
    char out[8];
    BOOL used_default = FALSE;
    int n = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, &c, 1, out, sizeof out, nullptr, &used_default);
    if (n == 0 && (GetLastError() == ERROR_INVALID_FLAGS || GetLastError() == ERROR_INVALID_PARAMETER)) {
        // UTF-8 takes neither the flag nor the default-character report; it
        // has no best fit and no default character to hide behind anyway.
        used_default = FALSE;
        n = WideCharToMultiByte(code_page, 0, &c, 1, out, sizeof out, nullptr, nullptr);
    }
    return n == 1 && !used_default ? static_cast<unsigned char>(out[0]) : -1;
}

alignas(AnsiCodePage) unsigned char g_ansi[sizeof(AnsiCodePage)];

BOOL CALLBACK MakeAnsi(PINIT_ONCE, PVOID, PVOID*) {
    new (g_ansi) AnsiCodePage(GetACP());
    return TRUE;
}

}  // namespace

const AnsiCodePage& AnsiCodePage::Ansi() noexcept {
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, MakeAnsi, nullptr, nullptr);
    return *std::launder(reinterpret_cast<const AnsiCodePage*>(g_ansi));
}

const CodePage& SystemCodePage() noexcept { return AnsiCodePage::Ansi(); }

AnsiCodePage::AnsiCodePage(unsigned code_page) noexcept : code_page_(code_page) {
    std::bitset<0x10000> taken;
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        wchar_t c = 0;
        // Without MB_ERR_INVALID_CHARS: that flag also refuses the Private
        // Use characters that the system gives to unassigned bytes, which do
        // convert back; the round trip is the test.
        if (MultiByteToWideChar(code_page, 0, &byte, 1, &c, 1) == 1 && SingleByte(code_page, c) == b) {
            chars_[b] = static_cast<char16_t>(c);
            taken.set(c);
        } else {
            substituted_[b] = true;
        }
    }
    for (int b = 0; b < 256; ++b) {
        if (!substituted_[b]) continue;
        // At most 256 of the 6400 Private Use characters are taken, so the
        // search ends.
        char16_t c = static_cast<char16_t>(kSubstituteFirst + b);
        while (taken[c]) c = c == kPrivateLast ? kPrivateFirst : static_cast<char16_t>(c + 1);
        chars_[b] = c;
        taken.set(c);
    }
    for (int b = 0; b < 256; ++b) by_char_[b] = {chars_[b], static_cast<std::uint8_t>(b)};
    std::sort(std::begin(by_char_), std::end(by_char_), [](const Entry& x, const Entry& y) { return x.c < y.c; });
}

int AnsiCodePage::Byte(char32_t c) const noexcept {
    if (c > 0xFFFF) return -1;
    if (c < 0x80 && chars_[c] == c) return static_cast<int>(c);  // ASCII stands for itself wherever it can
    const auto it = std::lower_bound(std::begin(by_char_), std::end(by_char_), c,
                                     [](const Entry& entry, char32_t x) { return entry.c < x; });
    return it != std::end(by_char_) && it->c == c ? it->byte : -1;
}

std::string AnsiCodePage::Name() const {
    return code_page_ == 1252 ? std::string("Windows-1252") : "the ANSI code page " + std::to_string(code_page_);
}

}  // namespace morvik
