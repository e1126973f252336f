/* A C program on the installed library: one message of the project's vectors
 * through the C interface, and one error. */
#include <stdio.h>
#include <string.h>

#include <morvik/morvik.h>

static int fail(const char* what, int status) {
    printf("consumer.c: %s: %d %s\n", what, status, morvik_status_text(status));
    return 1;
}

int main(void) {
    static const char key[] = "88bca90e90875a7f0f79c384627bafb2";
    morvik_rc2* rc2 = NULL;
    int s = morvik_rc2_new(&rc2);
    if (s != MORVIK_OK) return fail("new", s);
    if ((s = morvik_rc2_set_effective_key_length(rc2, 64)) != MORVIK_OK) return fail("effective length", s);
    if ((s = morvik_rc2_set_key_hex(rc2, key, strlen(key))) != MORVIK_OK) return fail("key", s);

    char asc[64];
    size_t asc_len = sizeof asc;
    if ((s = morvik_rc2_encrypt_asc(rc2, (const uint8_t*)"abc", 3, asc, &asc_len)) != MORVIK_OK) return fail("encrypt", s);
    char hex[64];
    size_t hex_len = sizeof hex;
    if ((s = morvik_rc2_result_hex(rc2, hex, &hex_len)) != MORVIK_OK) return fail("result", s);
    if (asc_len != 13 || memcmp(asc, "VKPAyyty0bBg2", 13) != 0 || hex_len != 16 || memcmp(hex, "FD28CA977134C4C6", 16) != 0)
        return fail("wrong ciphertext", 0);

    uint8_t* plain = NULL;
    size_t plain_len = 0;
    if ((s = morvik_rc2_decrypt_asc_alloc(rc2, asc, asc_len, &plain, &plain_len)) != MORVIK_OK) return fail("decrypt", s);
    const int same = plain_len == 3 && memcmp(plain, "abc", 3) == 0;
    morvik_buffer_free(plain, plain_len);
    if (!same) return fail("wrong plaintext", 0);

    uint8_t out[16];
    size_t out_len = sizeof out;
    if ((s = morvik_rc2_decrypt(rc2, (const uint8_t*)"twelve bytes", 12, out, &out_len)) != MORVIK_E_INVALID_ARGUMENT)
        return fail("decrypt of 12 bytes", s);
    morvik_rc2_free(rc2);
    printf("C interface of Morvik %s: ok\n", morvik_version());
    return 0;
}
