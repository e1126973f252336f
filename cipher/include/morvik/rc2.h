// Morvik RC2 — the RC2 block cipher of RFC 2268 over byte strings.
//
// Byte strings are std::string (or std::string_view) holding one byte per
// char; the value of a byte is static_cast<unsigned char>(c). How characters of
// some text become these bytes is the caller's business (see text/cp1252.h).
//
// Contract of the class, member by member:
//
//  Key (write)       A key of kMinKeyLength..kMaxKeyLength bytes is stored as
//                    the key text and expanded at once with the effective
//                    length in force. Any other length is ignored silently:
//                    key text and expanded key stay as they were.
//  EffectiveKeyLength (write)
//                    kMinEffectiveBits..kMaxEffectiveBits is stored, anything
//                    else ignored silently. It takes effect at the next key;
//                    0 means "the key's own length in bits".
//  KeyHex            Hex form of the key text. Writing reads the text leniently
//                    (see cipher/hex.h); a result of 0 or more than 128 bytes is
//                    ignored entirely, exactly as Key ignores it.
//  Encrypt           ECB over 8-byte blocks. A text whose length is not a
//                    multiple of 8 is filled with zero bytes first, and the
//                    filled text is written back into the argument. Never fails.
//  Decrypt           ECB over 8-byte blocks; every zero byte at the end of the
//                    plaintext is removed, whether padding or not. A text of
//                    spaces only (or empty) returns "" and leaves Result alone.
//                    Any other length that is not a multiple of 8 fails with
//                    ErrorNumber::InvalidArgument.
//  EncryptHex/DecryptHex
//                    Read hex text to bytes, then Encrypt/Decrypt them; they
//                    return bytes, not hex.
//  EncryptAsc        Encrypt (writing the filled text back into the argument),
//                    then armour the ciphertext.
//  DecryptAsc        De-armour (may fail with Overflow or InvalidArgument, see
//                    armour/blind_ascii.h), then Decrypt.
//  EncryptTo/DecryptTo
//                    Encrypt and Decrypt with the output written into storage
//                    the caller provides instead of a string of their own: the
//                    same bytes, the same last result, the same errors. The
//                    text is read as Encrypt would leave it once filled, but
//                    the argument itself is not written back (FilledSize says
//                    how long the filled text is).
//  Result/ResultHex/ResultAsc
//                    The output of the last successful Encrypt or Decrypt, in
//                    the three forms. A failing call never changes it.
//
// Before any key is set the expanded key is 128 zero bytes and encryption works
// with it. A Decrypt error for a bad length carries the place of the incomplete
// block in its position (morvik/error.h).
//
// EncryptStream and DecryptStream are Encrypt and Decrypt over a message that
// arrives in pieces, for inputs of any size: every way of cutting the input
// gives exactly the bytes and the error of the member on the whole of it (the
// stream neither reads nor writes the object's Result). They hold back at most
// one incomplete block and a count of bytes (the zeros at the end of the
// plaintext so far; the spaces of a ciphertext that is still blank). A failing member changes nothing. Key material is wiped from memory
// when it is replaced and when the object ends. One object serves one caller at
// a time; separate objects share nothing writable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <morvik/error.h>
#include <morvik/export.h>
#include <morvik/kernel.h>
#include <morvik/sink.h>

namespace morvik {

class MORVIK_API RC2 final {
public:
    static constexpr std::size_t  kBlockSize        = 8;
    static constexpr std::size_t  kMinKeyLength     = 1;
    static constexpr std::size_t  kMaxKeyLength     = 128;
    static constexpr std::int32_t kMinEffectiveBits = 0;
    static constexpr std::int32_t kMaxEffectiveBits = 1024;

    RC2() noexcept = default;
    ~RC2();
    RC2(const RC2&)            = delete;
    RC2& operator=(const RC2&) = delete;

    const std::string& Key() const noexcept { return key_; }
    void Key(std::string_view sKey);

    std::int32_t EffectiveKeyLength() const noexcept { return effective_bits_; }
    void EffectiveKeyLength(std::int32_t lLen) noexcept;

    std::string KeyHex() const;
    void KeyHex(std::string_view sKeyHex);

    std::string Encrypt(std::string& sText);
    std::string Decrypt(std::string_view sText);

    // The length of an n-byte text once Encrypt has filled it: the length of
    // its ciphertext.
    static constexpr std::size_t FilledSize(std::size_t n) noexcept {
        return n + (kBlockSize - n % kBlockSize) % kBlockSize;
    }
    // EncryptTo writes FilledSize(sText.size()) bytes to `out`. DecryptTo
    // fails, as Decrypt does, before it writes anything; otherwise it writes
    // sText.size() bytes (none for a blank text) and returns how many of them
    // are the plaintext: the rest are the zero bytes it removed. `out` is
    // either sText's own storage or does not overlap it, and it never
    // overlaps Result.
    void EncryptTo(std::string_view sText, char* out);
    std::size_t DecryptTo(std::string_view sText, char* out);
    // The length of the plaintext that Decrypt gives for sText, found without
    // touching the object (the blocks are decrypted from the end until one
    // holds a byte that is not zero); fails as Decrypt does.
    std::size_t DecryptedSize(std::string_view sText) const;
    std::string EncryptHex(std::string_view sHex);
    std::string DecryptHex(std::string_view sHex);
    std::string EncryptAsc(std::string& sText);
    std::string DecryptAsc(std::string_view sAsc);

    const std::string& Result() const noexcept { return result_; }
    std::string ResultHex() const;
    std::string ResultAsc() const;

    // Raw ECB over whole blocks, with no filling, no stripping and no effect
    // on Result: for callers that stream large inputs. `in` and `out` hold
    // blocks * kBlockSize bytes and may be the same buffer (not overlapping
    // otherwise).
    void EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const noexcept;
    void DecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const noexcept;

    // The expanded key L(0..127); exposed for tests and diagnostics.
    const std::array<std::uint8_t, 128>& ExpandedKey() const noexcept { return L_; }

private:
    // The block transform and block loading and storing are in cipher/block.h,
    // shared with the bulk kernels.
    static std::uint8_t PiLookup(std::uint8_t x) noexcept;
    std::int32_t KeyWord(std::int32_t i) const;  // K(i); ErrorNumber::SubscriptOutOfRange outside 0..63

    void ExpandKey() noexcept;  // from key_ and effective_bits_

    // The second output of Transform: appended to a string, or written from
    // `to` on.
    struct Copy {
        std::string* appended = nullptr;
        char*        to       = nullptr;
    };
    // Runs `in` through the cipher into result_ and into `copy`, a piece at
    // a time through a buffer that stays in the first-level cache, so a
    // large message goes out to memory once per output and is never read
    // back for a copy. Encrypting, a final incomplete block is filled with
    // zero bytes; decrypting, `in` is whole blocks. `spare` is the new buffer
    // of result_ if it is too small (the old one is wiped); `copy` has room
    // for the whole output. Nothing here can fail.
    void Transform(bool encrypting, std::string_view in, std::string& spare, Copy copy) noexcept;
    // What Decrypt does once its input is known to be whole blocks that do not
    // overlap result_; `copy` gets all of the blocks, zero bytes included.
    // Returns the length of the plaintext.
    std::size_t DecryptBlocksToResult(std::string_view sText, Copy copy);
    // Encrypt with the ciphertext in result_ only, for members that need no
    // copy of their own.
    void EncryptIntoResult(std::string& sText);

    std::array<std::uint8_t, 128> L_{};  // expanded key
    detail::KeySchedule ks_{};           // L_ as words, what the kernels read
    std::string result_;                 // last result
    std::string key_;                    // key text
    std::int32_t effective_bits_ = 0;
};

// Encrypt over pieces: Finish fills the final block with zero bytes. The
// stream then starts a new message, as it does after an exception (its
// own or one that `out` throws). It uses the object's key as it is at each
// call.
class MORVIK_API EncryptStream final {
public:
    explicit EncryptStream(const RC2& rc2) noexcept : rc2_(rc2) {}
    ~EncryptStream();
    EncryptStream(const EncryptStream&)            = delete;
    EncryptStream& operator=(const EncryptStream&) = delete;

    void Update(std::string_view plain, Sink& out);
    void Finish(Sink& out);

    void Update(std::string_view plain, std::string& out) { AppendSink sink(out); Update(plain, sink); }
    void Finish(std::string& out) { AppendSink sink(out); Finish(sink); }

private:
    void Blocks(std::string_view plain, Sink& out);

    const RC2&   rc2_;
    std::uint8_t carry_[RC2::kBlockSize] = {};
    std::size_t  held_ = 0;
};

// Decrypt over pieces: zero bytes of plaintext go out only once a byte that is
// not zero follows them, and Finish drops those at the end. A ciphertext of
// spaces only gives nothing; any other of a length that is not a multiple of
// 8 fails in Finish with ErrorNumber::InvalidArgument. The stream then starts
// a new message, as it does after an exception that `out` throws.
class MORVIK_API DecryptStream final {
public:
    explicit DecryptStream(const RC2& rc2) noexcept : rc2_(rc2) {}
    ~DecryptStream() = default;
    DecryptStream(const DecryptStream&)            = delete;
    DecryptStream& operator=(const DecryptStream&) = delete;

    void Update(std::string_view cipher, Sink& out);
    void Finish(Sink& out);

    void Update(std::string_view cipher, std::string& out) { AppendSink sink(out); Update(cipher, sink); }
    void Finish(std::string& out) { AppendSink sink(out); Finish(sink); }

private:
    void Pieces(std::string_view cipher, Sink& out);
    void Blocks(const std::uint8_t* in, std::size_t n, Sink& out);
    void Emit(const std::uint8_t* plain, std::size_t n, Sink& out);

    const RC2&    rc2_;
    std::uint8_t  carry_[RC2::kBlockSize] = {};
    std::size_t   held_   = 0;
    bool          blank_  = true;  // nothing but spaces so far
    std::uint64_t spaces_ = 0;     // how many, while blank_
    std::uint64_t length_ = 0;     // ciphertext bytes so far
    std::uint64_t zeros_  = 0;     // zero bytes of plaintext held back
};

}  // namespace morvik
