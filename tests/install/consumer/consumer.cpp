// A C++ program on the installed library: one message of the project's
// vectors through morvik::RC2, and an error caught across the library's edge.
#include <cstdio>
#include <string>

#include <morvik/error.h>
#include <morvik/rc2.h>
#include <morvik/version.h>

int main() {
    morvik::RC2 rc2;
    rc2.EffectiveKeyLength(64);
    rc2.KeyHex("88bca90e90875a7f0f79c384627bafb2");
    std::string text = "abc";
    const std::string asc = rc2.EncryptAsc(text);
    if (asc != "VKPAyyty0bBg2" || rc2.ResultHex() != "FD28CA977134C4C6" || text != std::string("abc\0\0\0\0\0", 8)) {
        std::printf("consumer.cpp: wrong ciphertext %s\n", asc.c_str());
        return 1;
    }
    if (rc2.DecryptAsc(asc) != "abc") return 1;
    try {
        rc2.Decrypt("twelve bytes");
        std::printf("consumer.cpp: no error for 12 bytes\n");
        return 1;
    } catch (const morvik::Error& e) {
        if (e.number() != morvik::ErrorNumber::InvalidArgument) return 1;
    }
    std::printf("C++ interface of Morvik %s: ok\n", morvik::kVersion);
    return 0;
}
