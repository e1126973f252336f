// The SQL functions as a PostgreSQL extension (CREATE EXTENSION morvik).
//
// The server reports errors with longjmp, which would skip C++ destructors:
// every C++ object lives in Compute, which returns plain palloc'd memory or
// a palloc'd message, and only the C frame above it raises the error.
extern "C" {
#include <postgres.h>

#include <catalog/pg_type.h>
#include <fmgr.h>
#include <mb/pg_wchar.h>
#include <utils/memutils.h>

PG_MODULE_MAGIC;
}

#include <cstring>
#include <new>
#include <string>

#include "../calls.h"

namespace {

using morvik::sql::Arg;
using morvik::sql::Call;
using morvik::sql::Fault;
using morvik::sql::Keyed;

// The key schedule of a query, kept in the function's own memory for as long
// as the query runs and freed with it.
struct Cache {
    Keyed*                keyed = nullptr;
    MemoryContextCallback freed;
};

void FreeCache(void* p) {
    auto* cache = static_cast<Cache*>(p);
    delete cache->keyed;
    cache->keyed = nullptr;
}

struct Outcome {
    varlena*    value   = nullptr;  // palloc'd, or null for SQL NULL
    const char* error   = nullptr;  // palloc'd message
    int         sqlstate = 0;
};

const char* Copy(const std::string& s) {
    auto* p = static_cast<char*>(palloc_extended(s.size() + 1, MCXT_ALLOC_NO_OOM));
    if (p) std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

varlena* Varlena(std::string_view s) {
    auto* v = static_cast<varlena*>(palloc_extended(VARHDRSZ + s.size(), MCXT_ALLOC_NO_OOM));
    if (v) {
        SET_VARSIZE(v, VARHDRSZ + s.size());
        std::memcpy(VARDATA(v), s.data(), s.size());
    }
    return v;
}

Outcome Failed(const char* name, const Fault& fault) {
    // A key or bits out of range is the caller's argument; the object's own
    // errors (5, 6) and a plaintext it could not give back are the data's.
    const int state = fault.number != 0  ? ERRCODE_INVALID_BINARY_REPRESENTATION
                      : fault.bad_value  ? ERRCODE_DATA_EXCEPTION
                                         : ERRCODE_INVALID_PARAMETER_VALUE;
    return {nullptr, Copy(morvik::sql::Message(name, fault)), state};
}

Outcome Compute(FmgrInfo* flinfo, const char* name, Call call, bool try_null, Arg value, Arg key, long long bits) {
    try {
        auto* cache = static_cast<Cache*>(flinfo->fn_extra);
        if (cache == nullptr) {
            cache = static_cast<Cache*>(MemoryContextAllocExtended(flinfo->fn_mcxt, sizeof(Cache),
                                                                   MCXT_ALLOC_NO_OOM | MCXT_ALLOC_ZERO));
            if (cache == nullptr) throw std::bad_alloc();
            cache->freed.func = FreeCache;
            cache->freed.arg  = cache;
            MemoryContextRegisterResetCallback(flinfo->fn_mcxt, &cache->freed);
            flinfo->fn_extra = cache;
        }
        if (cache->keyed == nullptr || !cache->keyed->Same(key, bits)) {
            delete cache->keyed;
            cache->keyed = nullptr;
            cache->keyed = new Keyed(key, bits);
        }
        Outcome o{Varlena(cache->keyed->Run(call, value)), nullptr, 0};
        if (o.value == nullptr) throw std::bad_alloc();
        return o;
    } catch (const Fault& fault) {
        if (try_null && fault.bad_value) return {};
        return Failed(name, fault);
    } catch (const std::bad_alloc&) {
        return {nullptr, "out of memory", ERRCODE_OUT_OF_MEMORY};
    }
}

// An argument's bytes; text in the database's encoding becomes UTF-8 first.
Arg ArgOf(FunctionCallInfo fcinfo, int i) {
    varlena* v = PG_DETOAST_DATUM_PACKED(PG_GETARG_DATUM(i));
    const char* data = VARDATA_ANY(v);
    int size = static_cast<int>(VARSIZE_ANY_EXHDR(v));
    const Oid type = get_fn_expr_argtype(fcinfo->flinfo, i);
    if (type == BYTEAOID) return {std::string_view(data, static_cast<std::size_t>(size)), false};
    if (GetDatabaseEncoding() != PG_UTF8) {
        data = pg_server_to_any(data, size, PG_UTF8);
        size = static_cast<int>(std::strlen(data));
    }
    return {std::string_view(data, static_cast<std::size_t>(size)), true};
}

Datum Raise(const Outcome& o) {
    ereport(ERROR, (errcode(o.sqlstate), errmsg("%s", o.error ? o.error : "out of memory")));
    return 0;
}

Datum Run(FunctionCallInfo fcinfo, const char* name, Call call, bool try_null) {
    const Arg value = ArgOf(fcinfo, 0), key = ArgOf(fcinfo, 1);
    const long long bits = PG_NARGS() > 2 ? PG_GETARG_INT32(2) : 0;
    const Outcome o = Compute(fcinfo->flinfo, name, call, try_null, value, key, bits);
    if (o.sqlstate != 0) return Raise(o);
    if (o.value == nullptr) PG_RETURN_NULL();
    PG_RETURN_POINTER(o.value);  // hex and armour are ASCII: the same in every server encoding
}

Outcome TextOf(Arg in) {
    try {
        Outcome o{Varlena(morvik::sql::TextOfBytes(in.data)), nullptr, 0};
        if (o.value == nullptr) throw std::bad_alloc();
        return o;
    } catch (const std::bad_alloc&) {
        return {nullptr, "out of memory", ERRCODE_OUT_OF_MEMORY};
    }
}

Outcome BytesOf(Arg in) {
    try {
        Outcome o{Varlena(in.text ? morvik::sql::BytesOfText(in.data) : std::string(in.data)), nullptr, 0};
        if (o.value == nullptr) throw std::bad_alloc();
        return o;
    } catch (const Fault& fault) {
        return Failed("rc2_bytes", fault);
    } catch (const std::bad_alloc&) {
        return {nullptr, "out of memory", ERRCODE_OUT_OF_MEMORY};
    }
}

}  // namespace

#define MORVIK_SQL_FUNCTION(sym, call, try_null)                                                         \
    extern "C" {                                                                                         \
    PG_FUNCTION_INFO_V1(sym);                                                                            \
    }                                                                                                    \
    extern "C" Datum sym(PG_FUNCTION_ARGS) { return Run(fcinfo, #sym + 7, call, try_null); }

// The C names are the SQL names with "morvik_" in front.
MORVIK_SQL_FUNCTION(morvik_rc2_encrypt, Call::Encrypt, false)
MORVIK_SQL_FUNCTION(morvik_rc2_decrypt, Call::Decrypt, false)
MORVIK_SQL_FUNCTION(morvik_rc2_encrypt_to_hex, Call::EncryptToHex, false)
MORVIK_SQL_FUNCTION(morvik_rc2_decrypt_from_hex, Call::DecryptFromHex, false)
MORVIK_SQL_FUNCTION(morvik_rc2_encrypt_to_asc, Call::EncryptToAsc, false)
MORVIK_SQL_FUNCTION(morvik_rc2_decrypt_from_asc, Call::DecryptFromAsc, false)
MORVIK_SQL_FUNCTION(morvik_try_rc2_decrypt, Call::Decrypt, true)
MORVIK_SQL_FUNCTION(morvik_try_rc2_decrypt_from_hex, Call::DecryptFromHex, true)
MORVIK_SQL_FUNCTION(morvik_try_rc2_decrypt_from_asc, Call::DecryptFromAsc, true)

extern "C" {
PG_FUNCTION_INFO_V1(morvik_rc2_text);
PG_FUNCTION_INFO_V1(morvik_rc2_bytes);
}

extern "C" Datum morvik_rc2_text(PG_FUNCTION_ARGS) {
    const Outcome o = TextOf(ArgOf(fcinfo, 0));
    if (o.sqlstate != 0) return Raise(o);
    // UTF-8 from here, in the server's encoding for the result.
    if (GetDatabaseEncoding() == PG_UTF8) PG_RETURN_POINTER(o.value);
    const char* utf8 = VARDATA(o.value);
    const int size = static_cast<int>(VARSIZE(o.value) - VARHDRSZ);
    const char* server = pg_any_to_server(utf8, size, PG_UTF8);
    const int length = server == utf8 ? size : static_cast<int>(std::strlen(server));
    text* out = static_cast<text*>(palloc(VARHDRSZ + length));
    SET_VARSIZE(out, VARHDRSZ + length);
    std::memcpy(VARDATA(out), server, static_cast<std::size_t>(length));
    PG_RETURN_TEXT_P(out);
}

extern "C" Datum morvik_rc2_bytes(PG_FUNCTION_ARGS) {
    const Outcome o = BytesOf(ArgOf(fcinfo, 0));
    if (o.sqlstate != 0) return Raise(o);
    PG_RETURN_BYTEA_P(o.value);
}
