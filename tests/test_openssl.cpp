// Differential test against OpenSSL's RC2 (ECB, no padding): random keys of
// every length, every class of effective length, both directions.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <memory>
#include <random>

#include "cipher/rc2.h"
#include "vec.h"

namespace morvik {
namespace {

class OpenSsl {
public:
    OpenSsl()
        : legacy_(OSSL_PROVIDER_load(nullptr, "legacy")),
          default_(OSSL_PROVIDER_load(nullptr, "default")),
          cipher_(EVP_CIPHER_fetch(nullptr, "RC2-ECB", "provider=legacy")) {}
    ~OpenSsl() {
        EVP_CIPHER_free(cipher_);
        if (default_) OSSL_PROVIDER_unload(default_);
        if (legacy_) OSSL_PROVIDER_unload(legacy_);
    }
    bool ready() const { return legacy_ && cipher_; }

    // `bits` is the effective key length OpenSSL is given: 1..1024.
    std::string Run(bool encrypt, const std::string& key, int bits, const std::string& in) const {
        std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
        const int enc = encrypt ? 1 : 0;
        const auto* k = reinterpret_cast<const unsigned char*>(key.data());
        if (EVP_CipherInit_ex(ctx.get(), cipher_, nullptr, nullptr, nullptr, enc) != 1 ||
            EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) != 1 ||
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_SET_RC2_KEY_BITS, bits, nullptr) != 1 ||
            EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, k, nullptr, enc) != 1 ||
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1)
            throw std::runtime_error("OpenSSL RC2 set-up failed");
        std::string out(in.size() + 16, '\0');
        int n = 0, m = 0;
        if (EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                             reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size())) != 1 ||
            EVP_CipherFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + n, &m) != 1)
            throw std::runtime_error("OpenSSL RC2 failed");
        out.resize(static_cast<std::size_t>(n + m));
        return out;
    }

private:
    OSSL_PROVIDER* legacy_;
    OSSL_PROVIDER* default_;
    EVP_CIPHER* cipher_;
};

std::string RandomBytes(std::mt19937_64& rng, std::size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// An effective length from each class in turn: the key's own (0), 1..8,
// non-multiples of 8, multiples of 8, the top end 1017..1023, and 1024.
int EffectiveBits(std::mt19937_64& rng, int round) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    switch (round % 6) {
        case 0: return 0;
        case 1: return pick(1, 8);
        case 2: { int b; do b = pick(9, 1016); while (b % 8 == 0); return b; }
        case 3: return 8 * pick(1, 128);
        case 4: return pick(1017, 1023);
        default: return 1024;
    }
}

TEST(Differential, AgreesWithOpenSsl) {
    const OpenSsl peer;
    if (!peer.ready()) GTEST_SKIP() << "OpenSSL legacy provider (RC2) not available";
    std::mt19937_64 rng(0x52433268);
    for (int round = 0; round < 3000; ++round) {
        // Key lengths 1 and 128 come up often; the rest at random.
        const std::size_t keyLength = round % 10 == 0 ? 1 : round % 10 == 1 ? 128 : 1 + rng() % 128;
        const std::string key = RandomBytes(rng, keyLength);
        const int bits = EffectiveBits(rng, round);
        const int peerBits = bits != 0 ? bits : static_cast<int>(8 * keyLength);
        SCOPED_TRACE("round " + std::to_string(round) + ", key " + test::Hex(key) + ", bits " + std::to_string(bits));

        RC2 rc2;
        rc2.EffectiveKeyLength(bits);
        rc2.Key(key);

        std::string text = RandomBytes(rng, rng() % 101);
        const std::string cipher = rc2.Encrypt(text);  // fills `text` to whole blocks
        ASSERT_EQ(test::Hex(cipher), test::Hex(peer.Run(true, key, peerBits, text)));

        const std::string received = RandomBytes(rng, 8 * (rng() % 13));
        std::string expected = peer.Run(false, key, peerBits, received);
        expected.erase(expected.find_last_not_of('\0') + 1);
        ASSERT_EQ(test::Hex(rc2.Decrypt(received)), test::Hex(expected));
    }
}

}  // namespace
}  // namespace morvik
