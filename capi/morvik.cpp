// The C interface: each export runs inside Guard, which turns every exception
// into a status, so no C++ exception reaches a C caller. The exports only
// adapt pointers and lengths; every rule of the object stays in morvik::RC2.
#include <morvik/morvik.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include <morvik/blind_ascii.h>
#include <morvik/detail/wipe.h>
#include <morvik/error.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include <morvik/version.h>

struct morvik_rc2 {
    morvik::RC2 rc2;
};

namespace {

using morvik::RC2;

// A status of this boundary, thrown from inside a guarded call.
struct Status {
    int code;
};

template <class F>
int Guard(F&& f) noexcept {
    try {
        f();
        return MORVIK_OK;
    } catch (const Status& s) {
        return s.code;
    } catch (const morvik::Error& e) {
        return e.code();
    } catch (const std::bad_alloc&) {
        return MORVIK_E_OUT_OF_MEMORY;
    } catch (...) {
        return MORVIK_E_INTERNAL;
    }
}

template <class T>
T& Need(T* p) {
    if (!p) throw Status{MORVIK_E_NULL_POINTER};
    return *p;
}

std::string_view In(const void* p, std::size_t n) {
    if (n == 0) return {};
    if (!p) throw Status{MORVIK_E_NULL_POINTER};
    return {static_cast<const char*>(p), n};
}

// Plaintext and ciphertext pass through these; they are wiped on the way out.
using morvik::detail::Secret;

constexpr std::size_t FilledSize(std::size_t n) noexcept { return RC2::FilledSize(n); }
std::size_t ArmouredSize(std::size_t n) noexcept { return n ? (n + 2) / 3 * 4 + 1 : 0; }

// The length that Decrypt will give for `c`, found without touching the
// object: the blocks are decrypted from the end until one holds a byte that
// is not zero. Only size queries need it.
std::size_t PlaintextSize(const RC2& rc2, std::string_view c) {
    if (c.find_first_not_of(' ') == std::string_view::npos) return 0;
    if (c.size() % RC2::kBlockSize != 0) throw morvik::Error(morvik::ErrorNumber::InvalidArgument);
    std::uint8_t block[RC2::kBlockSize];
    for (std::size_t end = c.size(); end > 0; end -= RC2::kBlockSize) {
        rc2.DecryptBlocks(reinterpret_cast<const std::uint8_t*>(c.data()) + end - RC2::kBlockSize, block, 1);
        for (std::size_t i = RC2::kBlockSize; i > 0; --i) {
            if (block[i - 1] != 0) {
                morvik::detail::Wipe(block, sizeof block);
                return end - RC2::kBlockSize + i;
            }
        }
    }
    morvik::detail::Wipe(block, sizeof block);
    return 0;
}

// Where an output goes: the caller's buffer or one the library allocates.
// Prepare runs before the object changes, so that a short buffer or a failed
// allocation leaves everything as it was; Put cannot fail.
class Sink {
public:
    Sink(void* out, std::size_t* out_len) : buffer_(out), len_(&Need(out_len)) {}
    template <class T>
    Sink(T** out, std::size_t* out_len)
        : owner_(&Need(out)), hand_over_([](void* owner, void* p) { *static_cast<T**>(owner) = static_cast<T*>(p); }),
          len_(&Need(out_len)) {}
    Sink(const Sink&)            = delete;
    Sink& operator=(const Sink&) = delete;
    ~Sink() { std::free(allocated_); }

    // The output will be `most` bytes at most; `exact` tells its exact size
    // without side effects, asked only when a caller's buffer is smaller.
    template <class Exact>
    void Prepare(std::size_t most, Exact exact) {
        if (owner_) {
            if (most > PTRDIFF_MAX) throw Status{MORVIK_E_OUT_OF_MEMORY};
            allocated_ = std::malloc(most ? most : 1);
            if (!allocated_) throw Status{MORVIK_E_OUT_OF_MEMORY};
            buffer_ = allocated_;
            return;
        }
        const std::size_t needed = *len_ < most ? exact() : most;
        if (*len_ < needed) {
            *len_ = needed;
            throw Status{MORVIK_E_SHORT_BUFFER};
        }
        if (!buffer_ && needed) throw Status{MORVIK_E_NULL_POINTER};
    }
    void Prepare(std::size_t exact) {
        Prepare(exact, [exact] { return exact; });
    }

    void Put(std::string_view bytes) noexcept {
        if (!bytes.empty()) std::memcpy(buffer_, bytes.data(), bytes.size());
        *len_ = bytes.size();
        if (owner_) {
            hand_over_(owner_, allocated_);
            allocated_ = nullptr;
        }
    }

    // For outputs that exist before anything changes.
    void Emit(std::string_view bytes) {
        Prepare(bytes.size());
        Put(bytes);
    }

private:
    void*        buffer_    = nullptr;
    void*        owner_     = nullptr;  // the caller's T*, set by hand_over_
    void       (*hand_over_)(void* owner, void* p) = nullptr;
    void*        allocated_ = nullptr;
    std::size_t* len_;
};

// The members behind both kinds of output. Their exports take the object
// before they read the input, so that a NULL object is reported as such
// whatever the input holds.
void Encrypt(RC2& rc2, std::string_view text, Sink& out) {
    Secret filled{std::string(text)};
    out.Prepare(FilledSize(text.size()));
    out.Put(Secret{rc2.Encrypt(filled.s)}.s);
}

void EncryptAsc(RC2& rc2, std::string_view text, Sink& out) {
    Secret filled{std::string(text)};
    out.Prepare(ArmouredSize(FilledSize(text.size())));
    out.Put(rc2.EncryptAsc(filled.s));
}

void Decrypt(RC2& rc2, std::string_view text, Sink& out) {
    out.Prepare(text.size(), [&] { return PlaintextSize(rc2, text); });
    out.Put(Secret{rc2.Decrypt(text)}.s);
}

const RC2& Object(const morvik_rc2* obj) { return Need(obj).rc2; }

}  // namespace

extern "C" {

const char* morvik_status_text(int status) {
    switch (status) {
        case MORVIK_OK:              return "Success";
        case MORVIK_E_NULL_POINTER:  return "Null pointer";
        case MORVIK_E_SHORT_BUFFER:  return "Output buffer too small";
        case MORVIK_E_OUT_OF_MEMORY: return "Out of memory";
        case MORVIK_E_INTERNAL:      return "Internal error";
        case MORVIK_E_INVALID_ARGUMENT:
        case MORVIK_E_OVERFLOW:
        case MORVIK_E_SUBSCRIPT_OUT_OF_RANGE:
            return morvik::ErrorText(static_cast<morvik::ErrorNumber>(status));
        default: return "Unknown status";
    }
}

const char* morvik_version(void) { return MORVIK_VERSION_STRING; }

int morvik_rc2_new(morvik_rc2** obj) {
    return Guard([&] {
        morvik_rc2*& slot = Need(obj);  // before the new: an assignment evaluates its right side first
        slot = new morvik_rc2;
    });
}

int morvik_rc2_free(morvik_rc2* obj) {
    return Guard([&] { delete obj; });  // ~RC2 wipes the key, its expansion and the last result
}

int morvik_rc2_set_key(morvik_rc2* obj, const uint8_t* key, size_t key_len) {
    return Guard([&] { Need(obj).rc2.Key(In(key, key_len)); });
}

int morvik_rc2_key(const morvik_rc2* obj, uint8_t* out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Object(obj).Key()); });
}

int morvik_rc2_key_alloc(const morvik_rc2* obj, uint8_t** out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Object(obj).Key()); });
}

int morvik_rc2_set_key_hex(morvik_rc2* obj, const char* hex, size_t hex_len) {
    return Guard([&] { Need(obj).rc2.KeyHex(In(hex, hex_len)); });
}

int morvik_rc2_key_hex(const morvik_rc2* obj, char* out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{Object(obj).KeyHex()}.s); });
}

int morvik_rc2_key_hex_alloc(const morvik_rc2* obj, char** out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{Object(obj).KeyHex()}.s); });
}

int morvik_rc2_set_effective_key_length(morvik_rc2* obj, int32_t bits) {
    return Guard([&] { Need(obj).rc2.EffectiveKeyLength(bits); });
}

int morvik_rc2_effective_key_length(const morvik_rc2* obj, int32_t* bits) {
    return Guard([&] { Need(bits) = Object(obj).EffectiveKeyLength(); });
}

int morvik_rc2_encrypt(morvik_rc2* obj, const uint8_t* text, size_t text_len, uint8_t* out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        Encrypt(rc2, In(text, text_len), sink);
    });
}

int morvik_rc2_encrypt_alloc(morvik_rc2* obj, const uint8_t* text, size_t text_len, uint8_t** out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        Encrypt(rc2, In(text, text_len), sink);
    });
}

int morvik_rc2_encrypt_hex(morvik_rc2* obj, const char* hex, size_t hex_len, uint8_t* out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        Encrypt(rc2, Secret{morvik::hex::Read(In(hex, hex_len))}.s, sink);
    });
}

int morvik_rc2_encrypt_hex_alloc(morvik_rc2* obj, const char* hex, size_t hex_len, uint8_t** out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        Encrypt(rc2, Secret{morvik::hex::Read(In(hex, hex_len))}.s, sink);
    });
}

int morvik_rc2_encrypt_asc(morvik_rc2* obj, const uint8_t* text, size_t text_len, char* out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        EncryptAsc(rc2, In(text, text_len), sink);
    });
}

int morvik_rc2_encrypt_asc_alloc(morvik_rc2* obj, const uint8_t* text, size_t text_len, char** out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        EncryptAsc(rc2, In(text, text_len), sink);
    });
}

int morvik_rc2_decrypt(morvik_rc2* obj, const uint8_t* text, size_t text_len, uint8_t* out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        Decrypt(rc2, In(text, text_len), sink);
    });
}

int morvik_rc2_decrypt_alloc(morvik_rc2* obj, const uint8_t* text, size_t text_len, uint8_t** out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        Decrypt(rc2, In(text, text_len), sink);
    });
}

int morvik_rc2_decrypt_hex(morvik_rc2* obj, const char* hex, size_t hex_len, uint8_t* out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        Decrypt(rc2, morvik::hex::Read(In(hex, hex_len)), sink);
    });
}

int morvik_rc2_decrypt_hex_alloc(morvik_rc2* obj, const char* hex, size_t hex_len, uint8_t** out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        Decrypt(rc2, morvik::hex::Read(In(hex, hex_len)), sink);
    });
}

int morvik_rc2_decrypt_asc(morvik_rc2* obj, const char* asc, size_t asc_len, uint8_t* out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        Decrypt(rc2, morvik::BlindAscii::Asc2Full(In(asc, asc_len)), sink);
    });
}

int morvik_rc2_decrypt_asc_alloc(morvik_rc2* obj, const char* asc, size_t asc_len, uint8_t** out, size_t* out_len) {
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        Decrypt(rc2, morvik::BlindAscii::Asc2Full(In(asc, asc_len)), sink);
    });
}

int morvik_rc2_result(const morvik_rc2* obj, uint8_t* out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Object(obj).Result()); });
}

int morvik_rc2_result_alloc(const morvik_rc2* obj, uint8_t** out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Object(obj).Result()); });
}

int morvik_rc2_result_hex(const morvik_rc2* obj, char* out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{Object(obj).ResultHex()}.s); });
}

int morvik_rc2_result_hex_alloc(const morvik_rc2* obj, char** out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{Object(obj).ResultHex()}.s); });
}

int morvik_rc2_result_asc(const morvik_rc2* obj, char* out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{Object(obj).ResultAsc()}.s); });
}

int morvik_rc2_result_asc_alloc(const morvik_rc2* obj, char** out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{Object(obj).ResultAsc()}.s); });
}

int morvik_zero_fill(const uint8_t* text, size_t text_len, uint8_t* out, size_t* out_len) {
    return Guard([&] {
        Secret filled{std::string(In(text, text_len))};
        filled.s.resize(FilledSize(filled.s.size()), '\0');
        Sink(out, out_len).Emit(filled.s);
    });
}

size_t morvik_filled_size(size_t text_len) {
    return text_len > SIZE_MAX - RC2::kBlockSize ? SIZE_MAX : FilledSize(text_len);
}

int morvik_hex_write(const uint8_t* bytes, size_t len, char* out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{morvik::hex::Write(In(bytes, len))}.s); });
}

int morvik_hex_write_alloc(const uint8_t* bytes, size_t len, char** out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{morvik::hex::Write(In(bytes, len))}.s); });
}

int morvik_hex_read(const char* text, size_t len, uint8_t* out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{morvik::hex::Read(In(text, len))}.s); });
}

int morvik_hex_read_alloc(const char* text, size_t len, uint8_t** out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{morvik::hex::Read(In(text, len))}.s); });
}

int morvik_asc_encode(const uint8_t* bytes, size_t len, char* out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{morvik::BlindAscii::Full2Asc(In(bytes, len))}.s); });
}

int morvik_asc_encode_alloc(const uint8_t* bytes, size_t len, char** out, size_t* out_len) {
    return Guard([&] {
        Sink(out, out_len).Emit(Secret{morvik::BlindAscii::Full2Asc(In(bytes, len))}.s);
    });
}

int morvik_asc_decode(const char* text, size_t len, uint8_t* out, size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{morvik::BlindAscii::Asc2Full(In(text, len))}.s); });
}

int morvik_asc_decode_alloc(const char* text, size_t len, uint8_t** out, size_t* out_len) {
    return Guard([&] {
        Sink(out, out_len).Emit(Secret{morvik::BlindAscii::Asc2Full(In(text, len))}.s);
    });
}

int morvik_buffer_free(void* buf, size_t len) {
    return Guard([&] {
        if (!buf) return;
        morvik::detail::Wipe(buf, len);
        std::free(buf);
    });
}

}  // extern "C"
