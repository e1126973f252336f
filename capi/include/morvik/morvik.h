/* Morvik RC2 — the C interface.
 *
 * An opaque object with every member of the C++ class morvik::RC2
 * (<morvik/rc2.h>), and the hex and armour codecs on their own. The bytes and
 * the errors are those of the C++ object, which this interface only adapts.
 *
 * Statuses. Every function returns an int: MORVIK_OK (0), one of the object's
 * error numbers (5, 6, 9: the numbers an automation client of Morvik.RC2
 * sees), or one of the negative codes of this boundary. No C++ exception
 * crosses it. A call that fails changes nothing: not the object, not the
 * output buffer, not *out_len, except that MORVIK_E_SHORT_BUFFER sets *out_len
 * to the size needed.
 *
 * Outputs, two ways:
 *  - Into a caller's buffer: `out` and `out_len`, where *out_len is the room in
 *    `out` on entry and the number of bytes written on return. If the room is
 *    too small the call returns MORVIK_E_SHORT_BUFFER and sets *out_len to the
 *    size needed; so `*out_len = 0` with `out` NULL asks for the size alone. A
 *    size query of an encrypt or decrypt call changes neither the object nor
 *    its last result; repeating the call with the room asked for then
 *    succeeds. (An output of 0 bytes needs no room, so there the query is
 *    the call itself and has its effect.) Text outputs (hex, armour) are ASCII and not NUL-terminated.
 *  - Allocated by the library: the *_alloc functions set *out to a new buffer
 *    of *out_len bytes (never NULL on success, even for 0 bytes), which the
 *    caller releases with morvik_buffer_free(*out, *out_len); that call wipes
 *    it first, as it may hold plaintext or a key.
 * Inputs are pointer and length; a NULL pointer is accepted only with length
 * 0. Input and output buffers must not overlap.
 *
 * Threads: an object may be used from any thread, but by one thread at a
 * time; calls on one object are not synchronised, so a caller that shares an
 * object serialises its calls. Separate objects, and the codec and buffer
 * functions, share nothing writable and may run at the same time on any
 * threads. The kernel chosen by processor is detected once, safely.
 *
 * Lifetime: morvik_rc2_new creates an object with no key (the expanded key is
 * 128 zero bytes and encryption works with it), effective length 0 and an
 * empty last result. morvik_rc2_free wipes the key, the expanded key and the
 * last result, and frees the object, in one call. */
#ifndef MORVIK_MORVIK_H
#define MORVIK_MORVIK_H

#include <stddef.h>
#include <stdint.h>

#include <morvik/export.h>

#ifdef __cplusplus
extern "C" {
#endif

enum morvik_status {
    MORVIK_OK                     = 0,
    /* The object's errors, with their standard texts. */
    MORVIK_E_INVALID_ARGUMENT     = 5,  /* "Invalid procedure call or argument": a ciphertext
                                           that is not whole blocks, a byte above 255 in armour */
    MORVIK_E_OVERFLOW             = 6,  /* "Overflow": armour with a tail mark of 5 or more */
    MORVIK_E_SUBSCRIPT_OUT_OF_RANGE = 9,/* "Subscript out of range" */
    /* This boundary's own. */
    MORVIK_E_NULL_POINTER         = -1, /* a required pointer was NULL */
    MORVIK_E_SHORT_BUFFER         = -2, /* *out_len now holds the size needed */
    MORVIK_E_OUT_OF_MEMORY        = -3,
    MORVIK_E_INTERNAL             = -4, /* an unexpected failure inside; a bug */
    /* The strict constructor's refusals (morvik_rc2_new_key). */
    MORVIK_E_KEY_LENGTH           = -5, /* a key of 0 or more than 128 bytes */
    MORVIK_E_EFFECTIVE_KEY_LENGTH = -6, /* an effective key length outside 0..1024 */
    /* A length no buffer can have: an input longer than PTRDIFF_MAX bytes (or
       than the library's strings hold), or an output whose size would not fit
       in a size_t or exceed PTRDIFF_MAX; usually a negative number passed as
       a size_t. */
    MORVIK_E_LENGTH               = -7
};

/* The standard text of a status ("Overflow", "Null pointer", ...); a text for
 * unknown numbers too. The text is static. */
MORVIK_API const char* morvik_status_text(int status);

/* What the last failing call on this thread found wrong, and where, in the
 * words of the morvik tool ("armoured text: the tail mark 'n' (character 26)
 * has the value 23; a tail mark must be 0 to 4"); "" before any failure. The
 * text stays until the next failing call on the same thread; a successful
 * call leaves it. */
MORVIK_API const char* morvik_last_error(void);

/* The library's version, "1.2.0"; static. */
MORVIK_API const char* morvik_version(void);

typedef struct morvik_rc2 morvik_rc2;

/* Two entries. morvik_rc2_new makes the legacy object: it keeps every rule
 * of Morvik.RC2, so a key of a bad length set later is ignored without an
 * error (MORVIK_OK) and the previous key stays in use, as a ported script
 * expects. morvik_rc2_new_key is the strict entry for new code: it takes the
 * key and the effective length together (the length first, as it must be),
 * and refuses a key of 0 or more than 128 bytes (MORVIK_E_KEY_LENGTH) or a
 * length outside 0..1024 (MORVIK_E_EFFECTIVE_KEY_LENGTH); *obj stays as it
 * was on any failure. */
MORVIK_API int morvik_rc2_new(morvik_rc2** obj);
MORVIK_API int morvik_rc2_new_key(morvik_rc2** obj, const uint8_t* key, size_t key_len,
                                  int32_t effective_key_length);
/* Wipes and frees; NULL is accepted and does nothing. Freeing an object
 * twice, or using it after, is undefined, as with free(). */
MORVIK_API int morvik_rc2_free(morvik_rc2* obj);

/* The key (legacy rules): 1 to 128 bytes are stored and expanded with the
 * effective length in force; any other length is ignored without an error
 * (MORVIK_OK), as the object does: prefer morvik_rc2_new_key. Reading gives the key as last stored. */
MORVIK_API int morvik_rc2_set_key(morvik_rc2* obj, const uint8_t* key, size_t key_len);
MORVIK_API int morvik_rc2_key(const morvik_rc2* obj, uint8_t* out, size_t* out_len);
MORVIK_API int morvik_rc2_key_alloc(const morvik_rc2* obj, uint8_t** out, size_t* out_len);
/* The key as hex text: read leniently (pairs from the left, see <morvik/hex.h>),
 * written as two uppercase digits per byte. */
MORVIK_API int morvik_rc2_set_key_hex(morvik_rc2* obj, const char* hex, size_t hex_len);
MORVIK_API int morvik_rc2_key_hex(const morvik_rc2* obj, char* out, size_t* out_len);
MORVIK_API int morvik_rc2_key_hex_alloc(const morvik_rc2* obj, char** out, size_t* out_len);

/* Effective key length in bits: 0..1024 is stored (0: the key's own length),
 * anything else ignored without an error. It applies from the next key. */
MORVIK_API int morvik_rc2_set_effective_key_length(morvik_rc2* obj, int32_t bits);
MORVIK_API int morvik_rc2_effective_key_length(const morvik_rc2* obj, int32_t* bits);

/* Encrypt: ECB over 8-byte blocks; a short final block is filled with zero
 * bytes, so the ciphertext has morvik_filled_size(text_len) bytes. The object
 * gives the filled plaintext back to its caller; here morvik_zero_fill
 * produces those same bytes. The _hex form reads its input as hex text first;
 * the _asc form returns the ciphertext armoured. Encrypting never fails on
 * any input. Each sets the last result to the ciphertext (bytes). */
MORVIK_API int morvik_rc2_encrypt(morvik_rc2* obj, const uint8_t* text, size_t text_len,
                                  uint8_t* out, size_t* out_len);
MORVIK_API int morvik_rc2_encrypt_hex(morvik_rc2* obj, const char* hex, size_t hex_len,
                                      uint8_t* out, size_t* out_len);
MORVIK_API int morvik_rc2_encrypt_asc(morvik_rc2* obj, const uint8_t* text, size_t text_len,
                                      char* out, size_t* out_len);
MORVIK_API int morvik_rc2_encrypt_alloc(morvik_rc2* obj, const uint8_t* text, size_t text_len,
                                        uint8_t** out, size_t* out_len);
MORVIK_API int morvik_rc2_encrypt_hex_alloc(morvik_rc2* obj, const char* hex, size_t hex_len,
                                            uint8_t** out, size_t* out_len);
MORVIK_API int morvik_rc2_encrypt_asc_alloc(morvik_rc2* obj, const uint8_t* text, size_t text_len,
                                            char** out, size_t* out_len);

/* Decrypt: ECB over 8-byte blocks, every zero byte at the end of the plaintext
 * removed. A ciphertext of spaces only (or empty) gives 0 bytes and leaves the
 * last result alone; any other length that is not a multiple of 8 fails with
 * MORVIK_E_INVALID_ARGUMENT. The _hex form reads hex text first; the _asc form
 * decodes armour first (MORVIK_E_OVERFLOW or MORVIK_E_INVALID_ARGUMENT for
 * malformed armour). The plaintext never exceeds the ciphertext's bytes, so
 * room for those always suffices. Each sets the last result to the
 * plaintext. */
MORVIK_API int morvik_rc2_decrypt(morvik_rc2* obj, const uint8_t* text, size_t text_len,
                                  uint8_t* out, size_t* out_len);
MORVIK_API int morvik_rc2_decrypt_hex(morvik_rc2* obj, const char* hex, size_t hex_len,
                                      uint8_t* out, size_t* out_len);
MORVIK_API int morvik_rc2_decrypt_asc(morvik_rc2* obj, const char* asc, size_t asc_len,
                                      uint8_t* out, size_t* out_len);
MORVIK_API int morvik_rc2_decrypt_alloc(morvik_rc2* obj, const uint8_t* text, size_t text_len,
                                        uint8_t** out, size_t* out_len);
MORVIK_API int morvik_rc2_decrypt_hex_alloc(morvik_rc2* obj, const char* hex, size_t hex_len,
                                            uint8_t** out, size_t* out_len);
MORVIK_API int morvik_rc2_decrypt_asc_alloc(morvik_rc2* obj, const char* asc, size_t asc_len,
                                            uint8_t** out, size_t* out_len);

/* The output of the last successful encrypt or decrypt, as bytes, hex text or
 * armour; empty in a new object. */
MORVIK_API int morvik_rc2_result(const morvik_rc2* obj, uint8_t* out, size_t* out_len);
MORVIK_API int morvik_rc2_result_hex(const morvik_rc2* obj, char* out, size_t* out_len);
MORVIK_API int morvik_rc2_result_asc(const morvik_rc2* obj, char* out, size_t* out_len);
MORVIK_API int morvik_rc2_result_alloc(const morvik_rc2* obj, uint8_t** out, size_t* out_len);
MORVIK_API int morvik_rc2_result_hex_alloc(const morvik_rc2* obj, char** out, size_t* out_len);
MORVIK_API int morvik_rc2_result_asc_alloc(const morvik_rc2* obj, char** out, size_t* out_len);

/* The zero-filled text that encrypting `text` works on (and that the object
 * writes back into its caller's argument): `text` followed by zero bytes up
 * to the next multiple of 8, morvik_filled_size(text_len) bytes in all. */
MORVIK_API int morvik_zero_fill(const uint8_t* text, size_t text_len, uint8_t* out, size_t* out_len);
/* text_len rounded up to a multiple of 8; SIZE_MAX where that does not fit. */
MORVIK_API size_t morvik_filled_size(size_t text_len);

/* The codecs on their own. Hex writing: two uppercase digits per byte; hex
 * reading: lenient, never fails, (n + 1) / 2 bytes. Armour encoding: 4 * ceil(n / 3)
 * + 1 characters (0 for no bytes); decoding may fail with MORVIK_E_OVERFLOW or
 * MORVIK_E_INVALID_ARGUMENT (<morvik/blind_ascii.h>). */
MORVIK_API int morvik_hex_write(const uint8_t* bytes, size_t len, char* out, size_t* out_len);
MORVIK_API int morvik_hex_read(const char* text, size_t len, uint8_t* out, size_t* out_len);
MORVIK_API int morvik_asc_encode(const uint8_t* bytes, size_t len, char* out, size_t* out_len);
MORVIK_API int morvik_asc_decode(const char* text, size_t len, uint8_t* out, size_t* out_len);
MORVIK_API int morvik_hex_write_alloc(const uint8_t* bytes, size_t len, char** out, size_t* out_len);
MORVIK_API int morvik_hex_read_alloc(const char* text, size_t len, uint8_t** out, size_t* out_len);
MORVIK_API int morvik_asc_encode_alloc(const uint8_t* bytes, size_t len, char** out, size_t* out_len);
MORVIK_API int morvik_asc_decode_alloc(const char* text, size_t len, uint8_t** out, size_t* out_len);

/* Wipes `len` bytes at `buf` and frees it: for buffers from the *_alloc
 * functions, with the length they gave. NULL is accepted and does nothing.
 * Undefined, as with free(): freeing a buffer twice, a pointer the *_alloc
 * functions did not give, or a length other than the one they gave (the wipe
 * would write outside the buffer or leave part of it). */
MORVIK_API int morvik_buffer_free(void* buf, size_t len);

#ifdef __cplusplus
}
#endif

#endif
