// Sets a key and runs one text through all three forms of the cipher.
#include <cstdio>
#include <string>

#include <morvik/rc2.h>
#include <morvik/cp1252.h>

int main(int argc, char** argv) {
    const std::string key  = morvik::cp1252::FromUtf8(argc > 1 ? argv[1] : "Morvik example key");
    std::string       text = morvik::cp1252::FromUtf8(argc > 2 ? argv[2] : "Attack at dawn");

    morvik::RC2 rc2;
    rc2.EffectiveKeyLength(128);
    rc2.Key(key);

    const std::string original = text;
    rc2.Encrypt(text);
    const std::string hex = rc2.ResultHex();
    std::string again = original;
    const std::string asc = rc2.EncryptAsc(again);

    std::printf("key (hex)      %s\n", rc2.KeyHex().c_str());
    std::printf("plaintext      %s\n", morvik::cp1252::ToUtf8(original).c_str());
    std::printf("ciphertext hex %s\n", hex.c_str());
    std::printf("ciphertext asc %s\n", asc.c_str());
    std::printf("from hex       %s\n", morvik::cp1252::ToUtf8(rc2.DecryptHex(hex)).c_str());
    std::printf("from asc       %s\n", morvik::cp1252::ToUtf8(rc2.DecryptAsc(asc)).c_str());
    const bool ok = rc2.DecryptHex(hex) == original && rc2.DecryptAsc(asc) == original;
    std::printf("%s\n", ok ? "round trip ok" : "ROUND TRIP FAILED");
    return ok ? 0 : 1;
}
