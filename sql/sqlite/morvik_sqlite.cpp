// The SQL functions as a loadable SQLite extension (morvik_sqlite): `.load`
// in the sqlite3 shell, load_extension() from Python's sqlite3.
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "../calls.h"

namespace {

using morvik::sql::Arg;
using morvik::sql::Call;
using morvik::sql::Fault;
using morvik::sql::Keyed;

struct Function {
    const char* name;
    Call        call;
    bool        try_null;  // the try_ variant: NULL for a value that cannot be decrypted
};

// Bytes are a BLOB, text is TEXT (UTF-8). A number is neither: SQLite would
// hand over its decimal text, and a key or plaintext of "1.5" is a mistake to
// report, not to encrypt with (PostgreSQL refuses it by type).
Arg ArgOf(sqlite3_value* v, int type, const char* what) {
    if (type == SQLITE_INTEGER || type == SQLITE_FLOAT)
        throw Fault{0, std::string(what) + " is a number; it must be text or a blob", false};
    if (type == SQLITE_BLOB) {
        const void* p = sqlite3_value_blob(v);
        return {std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(sqlite3_value_bytes(v))), false};
    }
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return {std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v))), true};
}

void Fail(sqlite3_context* ctx, const Function& f, const Fault& fault) {
    const std::string m = morvik::sql::Message(f.name, fault);
    sqlite3_result_error(ctx, m.c_str(), static_cast<int>(m.size()));
}

void Give(sqlite3_context* ctx, std::string_view out, bool text) {
    if (text) sqlite3_result_text(ctx, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
    else sqlite3_result_blob(ctx, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

void Cipher(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const auto& f = *static_cast<const Function*>(sqlite3_user_data(ctx));
    int type[3];
    for (int i = 0; i < argc; ++i)
        if ((type[i] = sqlite3_value_type(argv[i])) == SQLITE_NULL) return sqlite3_result_null(ctx);
    try {
        long long bits = 0;
        if (argc == 3) {
            if (type[2] != SQLITE_INTEGER) throw Fault{0, "bits must be an integer from 0 to 1024", false};
            bits = sqlite3_value_int64(argv[2]);
        }
        const Arg key = ArgOf(argv[1], type[1], "key");
        // The key schedule stays with the statement while the key argument
        // is a constant: made for the first row, reused for the others.
        const bool text = morvik::sql::GivesText(f.call);
        if (auto* kept = static_cast<Keyed*>(sqlite3_get_auxdata(ctx, 1)); kept && kept->Same(key, bits))
            return Give(ctx, kept->Run(f.call, ArgOf(argv[0], type[0], "the value")), text);
        auto made = std::make_unique<Keyed>(key, bits);
        Give(ctx, made->Run(f.call, ArgOf(argv[0], type[0], "the value")), text);
        // Last: SQLite may free it at once (a key that is not a constant).
        sqlite3_set_auxdata(ctx, 1, made.release(), [](void* p) { delete static_cast<Keyed*>(p); });
    } catch (const Fault& fault) {
        if (f.try_null && fault.bad_value) return sqlite3_result_null(ctx);
        Fail(ctx, f, fault);
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(ctx);
    }
}

void Text(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    static const Function self{"rc2_text", Call::Encrypt, false};
    try {
        const Arg in = ArgOf(argv[0], sqlite3_value_type(argv[0]), "the value");
        Give(ctx, morvik::sql::TextOfBytes(in.data), true);
    } catch (const Fault& fault) {
        Fail(ctx, self, fault);
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(ctx);
    }
}

void Bytes(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    static const Function self{"rc2_bytes", Call::Encrypt, false};
    try {
        const Arg in = ArgOf(argv[0], sqlite3_value_type(argv[0]), "the value");
        Give(ctx, in.text ? morvik::sql::BytesOfText(in.data) : std::string(in.data), false);
    } catch (const Fault& fault) {
        Fail(ctx, self, fault);
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(ctx);
    }
}

const Function kFunctions[] = {
    {"rc2_encrypt", Call::Encrypt, false},
    {"rc2_decrypt", Call::Decrypt, false},
    {"rc2_encrypt_to_hex", Call::EncryptToHex, false},
    {"rc2_decrypt_from_hex", Call::DecryptFromHex, false},
    {"rc2_encrypt_to_asc", Call::EncryptToAsc, false},
    {"rc2_decrypt_from_asc", Call::DecryptFromAsc, false},
    {"try_rc2_decrypt", Call::Decrypt, true},
    {"try_rc2_decrypt_from_hex", Call::DecryptFromHex, true},
    {"try_rc2_decrypt_from_asc", Call::DecryptFromAsc, true},
};

int Register(sqlite3* db, char** error) {
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    int rc = SQLITE_OK;
    for (const Function& f : kFunctions)
        for (int arity : {2, 3})
            if (rc == SQLITE_OK)
                rc = sqlite3_create_function_v2(db, f.name, arity, flags, const_cast<Function*>(&f), Cipher, nullptr,
                                                nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_create_function_v2(db, "rc2_text", 1, flags, nullptr, Text, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_create_function_v2(db, "rc2_bytes", 1, flags, nullptr, Bytes, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK && error) *error = sqlite3_mprintf("morvik_sqlite: %s", sqlite3_errmsg(db));
    return rc;
}

}  // namespace

// The entry point SQLite derives from the file name morvik_sqlite, and the
// generic one for a renamed file.
extern "C" __attribute__((visibility("default"))) int sqlite3_morviksqlite_init(sqlite3* db, char** error,
                                                                                 const sqlite3_api_routines* api) {
    SQLITE_EXTENSION_INIT2(api);
    return Register(db, error);
}

extern "C" __attribute__((visibility("default"))) int sqlite3_extension_init(sqlite3* db, char** error,
                                                                              const sqlite3_api_routines* api) {
    SQLITE_EXTENSION_INIT2(api);
    return Register(db, error);
}
