// RC2-ECB through OpenSSL's EVP interface (legacy provider): the independent
// oracle of the kernel tests and the reference peer of the benchmarks.
#pragma once

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace morvik::peers {

class OpenSslRc2 {
public:
    // `effective_bits` as RFC 2268's T1, 1..1024.
    OpenSslRc2(std::string_view key, int effective_bits, bool encrypting) {
        static const Providers providers;
        if (!providers.loaded()) throw std::runtime_error("OpenSSL legacy provider not available");
        cipher_ = EVP_CIPHER_fetch(nullptr, "RC2-ECB", nullptr);
        ctx_    = EVP_CIPHER_CTX_new();
        const auto* k = reinterpret_cast<const unsigned char*>(key.data());
        if (cipher_ == nullptr || ctx_ == nullptr ||
            EVP_CipherInit_ex2(ctx_, cipher_, nullptr, nullptr, encrypting ? 1 : 0, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_key_length(ctx_, static_cast<int>(key.size())) != 1 ||
            EVP_CIPHER_CTX_ctrl(ctx_, EVP_CTRL_SET_RC2_KEY_BITS, effective_bits, nullptr) != 1 ||
            EVP_CipherInit_ex2(ctx_, nullptr, k, nullptr, encrypting ? 1 : 0, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_padding(ctx_, 0) != 1) {
            Release();
            throw std::runtime_error("OpenSSL refused the RC2 key");
        }
    }
    ~OpenSslRc2() { Release(); }
    OpenSslRc2(const OpenSslRc2&)            = delete;
    OpenSslRc2& operator=(const OpenSslRc2&) = delete;

    // A new key under the same effective length and direction.
    void Rekey(std::string_view key) {
        if (static_cast<std::size_t>(EVP_CIPHER_CTX_get_key_length(ctx_)) != key.size() ||
            EVP_CipherInit_ex2(ctx_, nullptr, reinterpret_cast<const unsigned char*>(key.data()), nullptr, -1,
                               nullptr) != 1)
            throw std::runtime_error("OpenSSL refused the RC2 key");
    }

    // Whole blocks only.
    void Blocks(const std::uint8_t* in, std::uint8_t* out, std::size_t bytes) {
        int written = 0;
        if (EVP_CipherUpdate(ctx_, out, &written, in, static_cast<int>(bytes)) != 1 ||
            static_cast<std::size_t>(written) != bytes)
            throw std::runtime_error("OpenSSL RC2 update failed");
    }

private:
    // Loaded once and unloaded at exit (before OpenSSL's own clean-up, which
    // was registered first), so that leak checkers see nothing left over.
    struct Providers {
        OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        OSSL_PROVIDER* fallback = OSSL_PROVIDER_load(nullptr, "default");
        bool loaded() const { return legacy != nullptr && fallback != nullptr; }
        ~Providers() {
            if (legacy != nullptr) OSSL_PROVIDER_unload(legacy);
            if (fallback != nullptr) OSSL_PROVIDER_unload(fallback);
        }
    };

    void Release() noexcept {
        EVP_CIPHER_CTX_free(ctx_);
        EVP_CIPHER_free(cipher_);
        ctx_    = nullptr;
        cipher_ = nullptr;
    }

    EVP_CIPHER*     cipher_ = nullptr;
    EVP_CIPHER_CTX* ctx_    = nullptr;
};

}  // namespace morvik::peers
