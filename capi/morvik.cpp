// The C interface: each export runs inside Guard, which turns every exception
// into a status and its explanation (the front layer's, as the tool words
// it), so no C++ exception reaches a C caller. The exports only adapt
// pointers and lengths; every rule of the object stays in morvik::RC2, and
// every rule of a front (key lengths, explanations) in the front layer.
#include <morvik/morvik.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include <morvik/blind_ascii.h>
#include <morvik/detail/wipe.h>
#include <morvik/error.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include <morvik/version.h>

#include <morvik/front/chains.h>
#include <morvik/front/explain.h>
#include <morvik/front/keys.h>

struct morvik_rc2 {
    morvik::RC2 rc2;
};

namespace {

using morvik::RC2;
using morvik::front::Decimal;
using morvik::front::Form;

// A status of this boundary, thrown from inside a guarded call, with what the
// last error text says of it.
struct Status {
    int         code;
    std::string why;
};

thread_local std::string t_last_error;

// Sets the last error text; a failure to allocate it leaves the text empty.
int Failed(int code, const char* text) noexcept {
    try {
        t_last_error = text;
    } catch (...) {
        t_last_error.clear();
    }
    return code;
}

// `form` names the input in explanations: the text form an error of the
// text codecs was found in, or the ciphertext's.
template <class F>
int Guard(F&& f, Form form = Form::Raw, std::string_view text = {}) noexcept {
    try {
        f();
        return MORVIK_OK;
    } catch (const Status& s) {
        return Failed(s.code, s.why.empty() ? morvik_status_text(s.code) : s.why.c_str());
    } catch (const morvik::front::Failure& failure) {
        return Failed(failure.status() == morvik::front::Exit::Key ? MORVIK_E_KEY_LENGTH : MORVIK_E_INTERNAL,
                      failure.what());
    } catch (const morvik::Error& e) {
        try {
            return Failed(e.code(), morvik::front::ExplainDecrypt(e, form, text).c_str());
        } catch (...) {
            return Failed(e.code(), e.what());
        }
    } catch (const std::bad_alloc&) {
        return Failed(MORVIK_E_OUT_OF_MEMORY, "out of memory");
    } catch (const std::length_error&) {
        return Failed(MORVIK_E_LENGTH, "a length beyond what the library's buffers can hold");
    } catch (...) {
        return Failed(MORVIK_E_INTERNAL, "internal error");
    }
}

template <class T>
T& Need(T* p) {
    if (!p) throw Status{MORVIK_E_NULL_POINTER, "a required pointer is NULL"};
    return *p;
}

// The most bytes an input or output may have: what a string holds, and never
// more than PTRDIFF_MAX, beyond which no object exists. A larger length is
// no size at all (often a negative number passed as a size_t), and must not
// wrap around in the sizes computed from it.
std::size_t MostBytes() noexcept { return std::min<std::size_t>(std::string().max_size(), PTRDIFF_MAX); }

[[noreturn]] void TooLong(const char* what, std::size_t n) {
    // snprintf, not std::to_chars: the latter's digit table would become a
    // symbol of the shared library.
    char digits[24];
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(n));
    std::string why = what + std::string(" of ") + digits + " bytes, more than a buffer can hold";
    if (n > PTRDIFF_MAX) why += " (the length " + Decimal(static_cast<std::ptrdiff_t>(n)) + " as a signed number?)";
    throw Status{MORVIK_E_LENGTH, why};
}

std::string_view In(const void* p, std::size_t n) {
    if (n == 0) return {};
    if (n > MostBytes()) TooLong("an input", n);
    if (!p) throw Status{MORVIK_E_NULL_POINTER, "an input of " + Decimal(n) + " bytes is a NULL pointer"};
    return {static_cast<const char*>(p), n};
}

// Plaintext and ciphertext pass through these; they are wiped on the way out.
using morvik::detail::Secret;

constexpr std::size_t FilledSize(std::size_t n) noexcept { return RC2::FilledSize(n); }

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
        if (most > MostBytes()) TooLong("an output", most);
        if (owner_) {
            allocated_ = std::malloc(most ? most : 1);
            if (!allocated_) throw std::bad_alloc();
            buffer_ = allocated_;
            return;
        }
        const std::size_t needed = *len_ < most ? exact() : most;
        if (*len_ < needed) {
            const std::string why = "the output needs " + Decimal(needed) + " bytes; the buffer has room for " +
                                    Decimal(*len_);
            *len_ = needed;
            throw Status{MORVIK_E_SHORT_BUFFER, why};
        }
        if (!buffer_ && needed) throw Status{MORVIK_E_NULL_POINTER, "the output buffer is a NULL pointer"};
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
    out.Prepare(morvik::BlindAscii::AscSize(FilledSize(text.size())));
    out.Put(rc2.EncryptAsc(filled.s));
}

void Decrypt(RC2& rc2, std::string_view text, Sink& out) {
    out.Prepare(text.size(), [&] { return rc2.DecryptedSize(text); });
    out.Put(Secret{rc2.Decrypt(text)}.s);
}

const RC2& Object(const morvik_rc2* obj) { return Need(obj).rc2; }

// Each pair of exports (into a caller's buffer, and _alloc) is one function:
// the Sink takes either kind of output.
template <class Out>
int KeyOut(const morvik_rc2* obj, Out out, std::size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Object(obj).Key()); });
}
template <class Out>
int KeyHexOut(const morvik_rc2* obj, Out out, std::size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{Object(obj).KeyHex()}.s); });
}
template <class Out>
int ResultOut(const morvik_rc2* obj, Out out, std::size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Object(obj).Result()); });
}
template <class Out>
int ResultHexOut(const morvik_rc2* obj, Out out, std::size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{Object(obj).ResultHex()}.s); });
}
template <class Out>
int ResultAscOut(const morvik_rc2* obj, Out out, std::size_t* out_len) {
    return Guard([&] { Sink(out, out_len).Emit(Secret{Object(obj).ResultAsc()}.s); });
}

// The message members: `form` is the form of the input (Hex reads hex text
// first, Asc decodes armour first) or, for EncryptAsc, of the output.
enum class Member { Encrypt, EncryptHex, EncryptAsc, Decrypt, DecryptHex, DecryptAsc };

template <class Out>
int Message(Member member, morvik_rc2* obj, const void* in, std::size_t in_len, Out out, std::size_t* out_len) {
    const Form form = member == Member::DecryptHex ? Form::Hex : member == Member::DecryptAsc ? Form::Asc : Form::Raw;
    return Guard([&] {
        Sink sink(out, out_len);
        RC2& rc2 = Need(obj).rc2;
        const std::string_view text = In(in, in_len);
        switch (member) {
            case Member::Encrypt:    Encrypt(rc2, text, sink); break;
            case Member::EncryptHex: Encrypt(rc2, Secret{morvik::hex::Read(text)}.s, sink); break;
            case Member::EncryptAsc: EncryptAsc(rc2, text, sink); break;
            case Member::Decrypt:    Decrypt(rc2, text, sink); break;
            case Member::DecryptHex: Decrypt(rc2, morvik::hex::Read(text), sink); break;
            case Member::DecryptAsc: Decrypt(rc2, morvik::BlindAscii::Asc2Full(text), sink); break;
        }
    }, form, in_len && in ? std::string_view(static_cast<const char*>(in), in_len) : std::string_view());
}

enum class Codec { HexWrite, HexRead, AscEncode, AscDecode };

template <class Out>
int Coded(Codec codec, const void* in, std::size_t in_len, Out out, std::size_t* out_len) {
    return Guard([&] {
        const std::string_view text = In(in, in_len);
        switch (codec) {
            case Codec::HexWrite:  Sink(out, out_len).Emit(Secret{morvik::hex::Write(text)}.s); break;
            case Codec::HexRead:   Sink(out, out_len).Emit(Secret{morvik::hex::Read(text)}.s); break;
            case Codec::AscEncode: Sink(out, out_len).Emit(Secret{morvik::BlindAscii::Full2Asc(text)}.s); break;
            case Codec::AscDecode: Sink(out, out_len).Emit(Secret{morvik::BlindAscii::Asc2Full(text)}.s); break;
        }
    }, codec == Codec::AscDecode ? Form::Asc : Form::Raw,
       in_len && in ? std::string_view(static_cast<const char*>(in), in_len) : std::string_view());
}

}  // namespace

extern "C" {

const char* morvik_status_text(int status) {
    switch (status) {
        case MORVIK_OK:              return "Success";
        case MORVIK_E_NULL_POINTER:  return "Null pointer";
        case MORVIK_E_SHORT_BUFFER:  return "Output buffer too small";
        case MORVIK_E_OUT_OF_MEMORY: return "Out of memory";
        case MORVIK_E_INTERNAL:      return "Internal error";
        case MORVIK_E_KEY_LENGTH:    return "Key length outside 1..128 bytes";
        case MORVIK_E_EFFECTIVE_KEY_LENGTH: return "Effective key length outside 0..1024";
        case MORVIK_E_LENGTH:        return "Length beyond any buffer";
        case MORVIK_E_INVALID_ARGUMENT:
        case MORVIK_E_OVERFLOW:
        case MORVIK_E_SUBSCRIPT_OUT_OF_RANGE:
            return morvik::ErrorText(static_cast<morvik::ErrorNumber>(status));
        default: return "Unknown status";
    }
}

const char* morvik_last_error(void) { return t_last_error.c_str(); }

const char* morvik_version(void) { return MORVIK_VERSION_STRING; }

int morvik_rc2_new(morvik_rc2** obj) {
    return Guard([&] {
        morvik_rc2*& slot = Need(obj);  // before the new: an assignment evaluates its right side first
        slot = new morvik_rc2;
    });
}

int morvik_rc2_new_key(morvik_rc2** obj, const uint8_t* key, size_t key_len, int32_t effective_key_length) {
    return Guard([&] {
        morvik_rc2*& slot = Need(obj);
        Secret checked{std::string(In(key, key_len))};
        morvik::front::CheckKeyLength(checked.s, "the key");
        try {
            morvik::front::CheckEffectiveBits(effective_key_length, "the effective key length");
        } catch (const morvik::front::Failure& f) {
            throw Status{MORVIK_E_EFFECTIVE_KEY_LENGTH, f.what()};
        }
        auto made = std::make_unique<morvik_rc2>();
        made->rc2.EffectiveKeyLength(effective_key_length);
        made->rc2.Key(checked.s);
        slot = made.release();
    });
}

int morvik_rc2_free(morvik_rc2* obj) {
    return Guard([&] { delete obj; });  // ~RC2 wipes the key, its expansion and the last result
}

int morvik_rc2_set_key(morvik_rc2* obj, const uint8_t* key, size_t key_len) {
    return Guard([&] { Need(obj).rc2.Key(In(key, key_len)); });
}

int morvik_rc2_key(const morvik_rc2* obj, uint8_t* out, size_t* out_len) { return KeyOut(obj, out, out_len); }
int morvik_rc2_key_alloc(const morvik_rc2* obj, uint8_t** out, size_t* out_len) { return KeyOut(obj, out, out_len); }

int morvik_rc2_set_key_hex(morvik_rc2* obj, const char* hex, size_t hex_len) {
    return Guard([&] { Need(obj).rc2.KeyHex(In(hex, hex_len)); });
}

int morvik_rc2_key_hex(const morvik_rc2* obj, char* out, size_t* out_len) { return KeyHexOut(obj, out, out_len); }
int morvik_rc2_key_hex_alloc(const morvik_rc2* obj, char** out, size_t* out_len) { return KeyHexOut(obj, out, out_len); }

int morvik_rc2_set_effective_key_length(morvik_rc2* obj, int32_t bits) {
    return Guard([&] { Need(obj).rc2.EffectiveKeyLength(bits); });
}

int morvik_rc2_effective_key_length(const morvik_rc2* obj, int32_t* bits) {
    return Guard([&] { Need(bits) = Object(obj).EffectiveKeyLength(); });
}

#define MORVIK_MESSAGE(name, member, In, Out)                                                               \
    int name(morvik_rc2* obj, const In* in, size_t in_len, Out* out, size_t* out_len) {                     \
        return Message(Member::member, obj, in, in_len, out, out_len);                                      \
    }                                                                                                       \
    int name##_alloc(morvik_rc2* obj, const In* in, size_t in_len, Out** out, size_t* out_len) {            \
        return Message(Member::member, obj, in, in_len, out, out_len);                                      \
    }
MORVIK_MESSAGE(morvik_rc2_encrypt, Encrypt, uint8_t, uint8_t)
MORVIK_MESSAGE(morvik_rc2_encrypt_hex, EncryptHex, char, uint8_t)
MORVIK_MESSAGE(morvik_rc2_encrypt_asc, EncryptAsc, uint8_t, char)
MORVIK_MESSAGE(morvik_rc2_decrypt, Decrypt, uint8_t, uint8_t)
MORVIK_MESSAGE(morvik_rc2_decrypt_hex, DecryptHex, char, uint8_t)
MORVIK_MESSAGE(morvik_rc2_decrypt_asc, DecryptAsc, char, uint8_t)
#undef MORVIK_MESSAGE

int morvik_rc2_result(const morvik_rc2* obj, uint8_t* out, size_t* out_len) { return ResultOut(obj, out, out_len); }
int morvik_rc2_result_alloc(const morvik_rc2* obj, uint8_t** out, size_t* out_len) { return ResultOut(obj, out, out_len); }
int morvik_rc2_result_hex(const morvik_rc2* obj, char* out, size_t* out_len) { return ResultHexOut(obj, out, out_len); }
int morvik_rc2_result_hex_alloc(const morvik_rc2* obj, char** out, size_t* out_len) { return ResultHexOut(obj, out, out_len); }
int morvik_rc2_result_asc(const morvik_rc2* obj, char* out, size_t* out_len) { return ResultAscOut(obj, out, out_len); }
int morvik_rc2_result_asc_alloc(const morvik_rc2* obj, char** out, size_t* out_len) { return ResultAscOut(obj, out, out_len); }

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

#define MORVIK_CODEC(name, codec, In, Out)                                                                  \
    int name(const In* in, size_t len, Out* out, size_t* out_len) {                                        \
        return Coded(Codec::codec, in, len, out, out_len);                                                  \
    }                                                                                                       \
    int name##_alloc(const In* in, size_t len, Out** out, size_t* out_len) {                               \
        return Coded(Codec::codec, in, len, out, out_len);                                                  \
    }
MORVIK_CODEC(morvik_hex_write, HexWrite, uint8_t, char)
MORVIK_CODEC(morvik_hex_read, HexRead, char, uint8_t)
MORVIK_CODEC(morvik_asc_encode, AscEncode, uint8_t, char)
MORVIK_CODEC(morvik_asc_decode, AscDecode, char, uint8_t)
#undef MORVIK_CODEC

int morvik_buffer_free(void* buf, size_t len) {
    return Guard([&] {
        if (!buf) return;
        morvik::detail::Wipe(buf, len);
        std::free(buf);
    });
}

}  // extern "C"
