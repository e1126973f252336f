// The C interface under any lengths and pointers: one function chosen by the
// input, called with NULL where the input says, with room for its output
// chosen around the size it needs, against the same member of a C++ object.
// Whatever the call, the status is the one the header promises; a failing
// call writes nothing, leaves *out_len alone (but for a short buffer, which
// learns the exact size) and leaves the last result as it was; a succeeding
// one writes exactly the member's bytes, and the allocating twin gives the
// same.
#include <morvik/morvik.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>

#include "fuzz/input.h"

namespace {

using morvik::fuzz::Check;
using morvik::RC2;
using Bytes = const std::uint8_t*;

// One function of the interface, in both kinds of output, and the member it adapts.
struct Op {
    bool object;  // takes an object
    bool input;   // takes a text
    std::function<int(morvik_rc2*, const char*, std::size_t, void*, std::size_t*)>  call;
    std::function<int(morvik_rc2*, const char*, std::size_t, void**, std::size_t*)> alloc;
    std::function<std::string(RC2&, std::string_view)>                              member;
};

template <class T>
T** As(void** p) {
    return reinterpret_cast<T**>(p);
}
Bytes B(const char* p) { return reinterpret_cast<Bytes>(p); }
std::uint8_t* O(void* p) { return static_cast<std::uint8_t*>(p); }
char* C(void* p) { return static_cast<char*>(p); }

const std::vector<Op>& Ops() {
    static const std::vector<Op> ops = {
        {true, true, [](morvik_rc2* o, const char* t, std::size_t n, void* out, std::size_t* len) { return morvik_rc2_encrypt(o, B(t), n, O(out), len); },
         [](morvik_rc2* o, const char* t, std::size_t n, void** out, std::size_t* len) { return morvik_rc2_encrypt_alloc(o, B(t), n, As<std::uint8_t>(out), len); },
         [](RC2& r, std::string_view t) { std::string s(t); return r.Encrypt(s); }},
        {true, true, [](morvik_rc2* o, const char* t, std::size_t n, void* out, std::size_t* len) { return morvik_rc2_encrypt_hex(o, t, n, O(out), len); },
         [](morvik_rc2* o, const char* t, std::size_t n, void** out, std::size_t* len) { return morvik_rc2_encrypt_hex_alloc(o, t, n, As<std::uint8_t>(out), len); },
         [](RC2& r, std::string_view t) { return r.EncryptHex(t); }},
        {true, true, [](morvik_rc2* o, const char* t, std::size_t n, void* out, std::size_t* len) { return morvik_rc2_encrypt_asc(o, B(t), n, C(out), len); },
         [](morvik_rc2* o, const char* t, std::size_t n, void** out, std::size_t* len) { return morvik_rc2_encrypt_asc_alloc(o, B(t), n, As<char>(out), len); },
         [](RC2& r, std::string_view t) { std::string s(t); return r.EncryptAsc(s); }},
        {true, true, [](morvik_rc2* o, const char* t, std::size_t n, void* out, std::size_t* len) { return morvik_rc2_decrypt(o, B(t), n, O(out), len); },
         [](morvik_rc2* o, const char* t, std::size_t n, void** out, std::size_t* len) { return morvik_rc2_decrypt_alloc(o, B(t), n, As<std::uint8_t>(out), len); },
         [](RC2& r, std::string_view t) { return r.Decrypt(t); }},
        {true, true, [](morvik_rc2* o, const char* t, std::size_t n, void* out, std::size_t* len) { return morvik_rc2_decrypt_hex(o, t, n, O(out), len); },
         [](morvik_rc2* o, const char* t, std::size_t n, void** out, std::size_t* len) { return morvik_rc2_decrypt_hex_alloc(o, t, n, As<std::uint8_t>(out), len); },
         [](RC2& r, std::string_view t) { return r.DecryptHex(t); }},
        {true, true, [](morvik_rc2* o, const char* t, std::size_t n, void* out, std::size_t* len) { return morvik_rc2_decrypt_asc(o, t, n, O(out), len); },
         [](morvik_rc2* o, const char* t, std::size_t n, void** out, std::size_t* len) { return morvik_rc2_decrypt_asc_alloc(o, t, n, As<std::uint8_t>(out), len); },
         [](RC2& r, std::string_view t) { return r.DecryptAsc(t); }},
        {true, false, [](morvik_rc2* o, const char*, std::size_t, void* out, std::size_t* len) { return morvik_rc2_result_asc(o, C(out), len); },
         [](morvik_rc2* o, const char*, std::size_t, void** out, std::size_t* len) { return morvik_rc2_result_asc_alloc(o, As<char>(out), len); },
         [](RC2& r, std::string_view) { return r.ResultAsc(); }},
        {true, false, [](morvik_rc2* o, const char*, std::size_t, void* out, std::size_t* len) { return morvik_rc2_key_hex(o, C(out), len); },
         [](morvik_rc2* o, const char*, std::size_t, void** out, std::size_t* len) { return morvik_rc2_key_hex_alloc(o, As<char>(out), len); },
         [](RC2& r, std::string_view) { return r.KeyHex(); }},
        {false, true, [](morvik_rc2*, const char* t, std::size_t n, void* out, std::size_t* len) { return morvik_hex_read(t, n, O(out), len); },
         [](morvik_rc2*, const char* t, std::size_t n, void** out, std::size_t* len) { return morvik_hex_read_alloc(t, n, As<std::uint8_t>(out), len); },
         [](RC2&, std::string_view t) { return morvik::hex::Read(t); }},
        {false, true, [](morvik_rc2*, const char* t, std::size_t n, void* out, std::size_t* len) { return morvik_asc_decode(t, n, O(out), len); },
         [](morvik_rc2*, const char* t, std::size_t n, void** out, std::size_t* len) { return morvik_asc_decode_alloc(t, n, As<std::uint8_t>(out), len); },
         [](RC2&, std::string_view t) { return morvik::BlindAscii::Asc2Full(t); }},
        {false, true, [](morvik_rc2*, const char* t, std::size_t n, void* out, std::size_t* len) { return morvik_asc_encode(B(t), n, C(out), len); },
         [](morvik_rc2*, const char* t, std::size_t n, void** out, std::size_t* len) { return morvik_asc_encode_alloc(B(t), n, As<char>(out), len); },
         [](RC2&, std::string_view t) { return morvik::BlindAscii::Full2Asc(t); }},
    };
    return ops;
}

std::string Result(const morvik_rc2* o) {
    std::size_t len = 0;
    morvik_rc2_result(o, nullptr, &len);
    std::string out(len, '\0');
    Check(morvik_rc2_result(o, reinterpret_cast<std::uint8_t*>(out.data()), &len) == MORVIK_OK);
    return out;
}

void SetUp(morvik_rc2* o, RC2& twin, std::int32_t bits, std::string_view key, std::string_view previous) {
    Check(morvik_rc2_set_effective_key_length(o, bits) == MORVIK_OK);
    Check(morvik_rc2_set_key(o, B(key.data()), key.size()) == MORVIK_OK);
    twin.EffectiveKeyLength(bits);
    twin.Key(key);
    // A last result to be kept by failures.
    std::size_t len = 64;
    std::uint8_t buf[64];
    Check(morvik_rc2_encrypt(o, B(previous.data()), previous.size(), buf, &len) == MORVIK_OK);
    std::string p(previous);
    twin.Encrypt(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    morvik::fuzz::Input in(data, size);
    const Op& op = Ops()[in.Byte() % Ops().size()];
    const std::uint8_t nulls = in.Byte();  // bits: object, out, out_len, input
    const std::uint8_t room_choice = in.Byte();
    const auto bits = static_cast<std::int32_t>(static_cast<std::int16_t>(in.Word()));
    const std::string_view key = in.Bytes(in.Byte() % 140);
    const std::string_view previous = in.Bytes(in.Byte() % 24);
    const std::string text(in.Rest());

    morvik_rc2* obj = nullptr;
    Check(morvik_rc2_new(&obj) == MORVIK_OK);
    RC2 twin;
    SetUp(obj, twin, bits, key, previous);
    const std::string before = Result(obj);
    Check(before == twin.Result());

    int expected_error = MORVIK_OK;
    std::string expected;
    try {
        expected = op.member(twin, text);
    } catch (const morvik::Error& e) {
        expected_error = e.code();
    }

    const bool null_object = op.object && (nulls & 1);
    const bool null_out = nulls & 2;
    const bool null_len = (nulls & 4) && (nulls & 1) == 0;  // seldom: most inputs test the buffers
    const bool null_input = op.input && (nulls & 8) && !text.empty();
    std::size_t room = 0;
    switch (room_choice % 4) {
        case 0: room = 0; break;
        case 1: room = expected.empty() ? 0 : expected.size() - 1; break;
        case 2: room = expected.size(); break;
        default: room = expected.size() + room_choice / 4; break;
    }
    constexpr std::size_t kCanary = 16;
    std::vector<std::uint8_t> buffer(room + kCanary, 0xA5);
    std::size_t len = room;
    const int status = op.call(null_object ? nullptr : obj, null_input ? nullptr : text.data(), text.size(),
                               null_out ? nullptr : buffer.data(), null_len ? nullptr : &len);

    if (null_object || null_len || null_input) {
        Check(status == MORVIK_E_NULL_POINTER);
    } else if (expected_error != MORVIK_OK) {
        // A NULL buffer with room for the most the call could give is found
        // before the input is looked at.
        Check(status == expected_error || (null_out && status == MORVIK_E_NULL_POINTER));
    } else if (room < expected.size()) {
        Check(status == MORVIK_E_SHORT_BUFFER && len == expected.size());
    } else if (null_out && status != MORVIK_OK) {
        Check(status == MORVIK_E_NULL_POINTER);
    } else {
        Check(status == MORVIK_OK);
    }

    if (status == MORVIK_OK) {
        Check(len == expected.size() && std::memcmp(buffer.data(), expected.data(), len) == 0);
        for (std::size_t i = len; i < buffer.size(); ++i) Check(buffer[i] == 0xA5);
        Check(Result(obj) == twin.Result());
    } else {
        for (const std::uint8_t b : buffer) Check(b == 0xA5);
        Check(status == MORVIK_E_SHORT_BUFFER || null_len || len == room);
        Check(Result(obj) == before);
    }

    // The allocating form, on an object set up the same way.
    morvik_rc2* other = nullptr;
    Check(morvik_rc2_new(&other) == MORVIK_OK);
    RC2 unused;
    SetUp(other, unused, bits, key, previous);
    void* allocated = nullptr;
    std::size_t allocated_len = 0;
    const int alloc_status = op.alloc(other, text.data(), text.size(), &allocated, &allocated_len);
    Check(alloc_status == expected_error);
    if (alloc_status == MORVIK_OK) {
        Check(allocated != nullptr && allocated_len == expected.size() &&
              std::memcmp(allocated, expected.data(), allocated_len) == 0);
        Check(Result(other) == twin.Result());
    } else {
        Check(allocated == nullptr && Result(other) == before);
    }
    Check(morvik_buffer_free(allocated, allocated_len) == MORVIK_OK);
    Check(morvik_rc2_free(other) == MORVIK_OK);
    Check(morvik_rc2_free(obj) == MORVIK_OK);
    return 0;
}
