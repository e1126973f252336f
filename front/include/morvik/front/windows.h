// Morvik RC2 fronts, Windows side — what the tool and the file layer share of
// the Win32 API: names in UTF-16, the system's error texts, whole writes.
#pragma once

#include <string>
#include <string_view>

namespace morvik::front {

// UTF-8 names and arguments as the system's UTF-16, and back (text/'s
// Utf8ToUtf16 and Utf16ToUtf8; an unpaired surrogate survives both ways).
std::wstring Wide(std::string_view utf8, std::size_t* bad = nullptr);
std::string Narrow(std::wstring_view utf16);
void WipeWide(std::wstring& w) noexcept;

// The system's text for an error number, in ASCII, without the final period.
std::string SystemErrorText(unsigned long error);

// The handle of standard stream 0, 1 or 2, and whether a handle is a console.
void* StandardHandle(int stream);
bool IsConsole(void* handle);

// All of `bytes` to the handle; false with `*error` set otherwise.
bool WriteHandle(void* handle, std::string_view bytes, unsigned long* error);

}  // namespace morvik::front
