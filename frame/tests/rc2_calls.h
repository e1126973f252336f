// Small calls on the server for the test clients: an object by its ProgID,
// and the members of _RC2 through the vtable with their HRESULTs checked.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "morvik.h"
#include "com_owners.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace morvik::test {

using Method = HRESULT (STDMETHODCALLTYPE _RC2::*)(BSTR*, BSTR*);
using Getter = HRESULT (STDMETHODCALLTYPE _RC2::*)(BSTR*);

inline Ptr<_RC2> CreateRC2() {
    Ptr<_RC2> rc2;
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(L"Morvik.RC2", &clsid), S_OK);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__RC2, rc2.out()), S_OK);
    return rc2;
}

inline std::wstring Get(_RC2* rc2, Getter member) {
    Bstr out;
    EXPECT_EQ((rc2->*member)(out.out()), S_OK);
    return out.text();
}

inline std::wstring Call(_RC2* rc2, Method member, const std::wstring& arg) {
    Bstr in(arg), out;
    EXPECT_EQ((rc2->*member)(in.inout(), out.out()), S_OK);
    return out.text();
}

inline HRESULT PutKey(_RC2* rc2, const std::wstring& key) {
    Bstr k(key);
    return rc2->put_Key(k.inout());
}

inline HRESULT PutKeyHex(_RC2* rc2, const std::wstring& hex) {
    Bstr k(hex);
    return rc2->put_KeyHex(k.inout());
}

inline void PutBits(_RC2* rc2, LONG bits) { EXPECT_EQ(rc2->put_EffectiveKeyLength(&bits), S_OK); }

// One line of tests/data/messages.vec: hex fields, "-" for an empty one.
struct Message {
    std::string key_hex;
    LONG bits = 0;
    std::string plain_hex, cipher_hex, asc;
};

inline std::vector<Message> ReadMessages(const char* path) {
    std::vector<Message> out;
    std::ifstream vec(path);
    EXPECT_TRUE(vec.good()) << path;
    for (std::string line; std::getline(vec, line);) {
        std::istringstream words(line);
        Message m;
        std::string bits;
        if (!(words >> m.key_hex) || m.key_hex[0] == '#') continue;
        EXPECT_TRUE(words >> bits >> m.plain_hex >> m.cipher_hex >> m.asc) << line;
        m.bits = std::stol(bits);
        for (std::string* f : {&m.plain_hex, &m.cipher_hex, &m.asc})
            if (*f == "-") f->clear();
        out.push_back(m);
    }
    return out;
}

inline std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

inline std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

inline std::wstring UpperHex(const std::string& bytes) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

}  // namespace morvik::test
