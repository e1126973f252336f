// The Python module `morvik`: the RC2 object with its members as properties
// and methods, the codecs as functions, and file helpers that stream. Every
// rule is the C++ object's; this file converts arguments and errors.
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

#include <morvik/blind_ascii.h>
#include <morvik/cp1252.h>
#include <morvik/detail/hints.h>
#include <morvik/detail/output.h>
#include <morvik/detail/wipe.h>
#include <morvik/error.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include <morvik/version.h>

namespace py = pybind11;

namespace {

using morvik::RC2;

// Inputs this large run without the GIL, so other threads go on meanwhile.
constexpr std::size_t kReleaseFrom = 64 * 1024;

// A contiguous bytes-like object (bytes, bytearray, memoryview, array, ...),
// held for the length of a call so that it cannot be resized meanwhile.
class Bytes {
public:
    explicit Bytes(py::handle obj) {
        if (PyUnicode_Check(obj.ptr())) throw py::type_error("a bytes-like object is required, not 'str'");
        if (PyObject_GetBuffer(obj.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    }
    ~Bytes() { PyBuffer_Release(&view_); }
    Bytes(const Bytes&)            = delete;
    Bytes& operator=(const Bytes&) = delete;
    std::string_view view() const noexcept { return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)}; }

private:
    Py_buffer view_{};
};

// Hex and armoured texts: a str, whose characters become bytes through
// Windows-1252 as a Western Windows client's would (a character with no byte
// there is the object's Overflow error), or the bytes themselves.
std::string TextBytes(py::handle obj) {
    if (PyUnicode_Check(obj.ptr())) {
        Py_ssize_t n = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(obj.ptr(), &n);
        if (!utf8) throw py::error_already_set();
        return morvik::cp1252::FromUtf8({utf8, static_cast<std::size_t>(n)});
    }
    return std::string(Bytes(obj).view());
}

// Copies of plaintext, keys and ciphertext are wiped when they go.
using morvik::detail::Secret;

// Large outputs land on huge pages where the system offers them: the first
// touch of each small page of a fresh buffer costs more than the copy.
py::bytes ToBytes(std::string_view s) {
    if (s.size() < kReleaseFrom) return py::bytes(s.data(), s.size());
    PyObject* b = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(s.size()));
    if (!b) throw py::error_already_set();
    morvik::detail::AdviseHugePages(PyBytes_AS_STRING(b), s.size());
    std::memcpy(PyBytes_AS_STRING(b), s.data(), s.size());
    return py::reinterpret_steal<py::bytes>(b);
}

// A bytes object that a member writes into, made with the GIL held and
// filled without it: no other reference to it exists until Take.
class NewBytes {
public:
    explicit NewBytes(std::size_t n) : bytes_(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n))) {
        if (!bytes_) throw py::error_already_set();
        if (n >= kReleaseFrom) morvik::detail::AdviseHugePages(data(), n);
    }
    ~NewBytes() { Py_XDECREF(bytes_); }
    NewBytes(const NewBytes&)            = delete;
    NewBytes& operator=(const NewBytes&) = delete;

    char* data() const noexcept { return PyBytes_AS_STRING(bytes_); }
    std::size_t size() const noexcept { return static_cast<std::size_t>(PyBytes_GET_SIZE(bytes_)); }

    // The object, cut to its first `n` bytes.
    py::bytes Take(std::size_t n) {
        if (n != size() && _PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(n)) != 0) throw py::error_already_set();
        return py::reinterpret_steal<py::bytes>(std::exchange(bytes_, nullptr));
    }

private:
    PyObject* bytes_;
};

// A copy of an input that a member may write back into (EncryptAsc fills it).
std::string Copy(std::string_view in) {
    std::string s = morvik::detail::Reserved(RC2::FilledSize(in.size()));
    s.append(in);
    return s;
}
py::str ToStr(const std::string& ascii) { return py::str(ascii.data(), ascii.size()); }

// morvik.Error, raised as Error(number, text[, where]).
py::object error_class;

[[noreturn]] void Raise(const morvik::Error& e, const std::string& where = {}) {
    py::object instance = where.empty() ? error_class(e.code(), e.what()) : error_class(e.code(), e.what(), where);
    PyErr_SetObject(error_class.ptr(), instance.ptr());
    throw py::error_already_set();
}

// The object of one Python RC2. Calls on one object take its lock, so that a
// call that runs without the GIL never meets another on the same object.
class PyRC2 {
public:
    template <class F>
    auto Run(std::size_t size, F&& f) {
        if (size >= kReleaseFrom) {
            py::gil_scoped_release released;
            std::lock_guard lock(mutex_);
            return f(rc2_);
        }
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) {
            py::gil_scoped_release released;  // the other call may be waiting for the GIL
            lock.lock();
        }
        return f(rc2_);
    }

private:
    RC2 rc2_;
    std::mutex mutex_;
};

// --- File helpers: the core's streams between two files, a piece at a time,
// so memory stays bounded whatever the size; every rule (filling, removing
// zeros, blank ciphertexts, the text forms and their errors) is the
// streams', which give exactly what the members give on the whole file. They
// do not change Result. The output appears whole or not at all: it is
// written beside the destination and renamed over it only on success.

constexpr std::size_t kFilePiece = 1 << 20;

enum class Form { Raw, Hex, Asc };

Form FormOf(const std::string& name) {
    if (name == "raw") return Form::Raw;
    if (name == "hex") return Form::Hex;
    if (name == "asc") return Form::Asc;
    throw py::value_error("form must be 'raw', 'hex' or 'asc', not '" + name + "'");
}

std::string Path(py::handle p) {
    py::bytes encoded = py::module_::import("os").attr("fsencode")(p);
    return std::string(encoded);
}

struct File {
    std::FILE* f = nullptr;
    ~File() {
        if (f) std::fclose(f);
    }
};

// A failing system call on a file, raised as OSError with its name.
struct FileError {
    int error;
    std::string path;
};

// The output file under construction, renamed over `path` at Commit.
class Output final : public morvik::Sink {
public:
    explicit Output(std::string path) : path_(std::move(path)) {
        temp_ = path_ + ".morvik-XXXXXX";
        const int fd = mkstemp(temp_.data());
        if (fd < 0) throw FileError{errno, path_};
        file_.f = fdopen(fd, "wb");
        if (!file_.f) {
            const int e = errno;
            close(fd);
            std::remove(temp_.c_str());
            throw FileError{e, path_};
        }
    }
    ~Output() override {
        if (!committed_) {
            if (file_.f) std::fclose(file_.f);
            file_.f = nullptr;
            std::remove(temp_.c_str());
        }
    }
    void Write(std::string_view bytes) override {
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_.f) != bytes.size())
            throw FileError{errno, path_};
        written_ += bytes.size();
    }
    std::uint64_t Commit() {
        const int closed = std::fclose(file_.f);
        file_.f = nullptr;
        if (closed != 0) throw FileError{errno, path_};
        if (std::rename(temp_.c_str(), path_.c_str()) != 0) throw FileError{errno, path_};
        committed_ = true;
        return written_;
    }

private:
    std::string path_, temp_;
    File file_;
    std::uint64_t written_ = 0;
    bool committed_ = false;
};

// One core stream as a sink, handing its output on to `next`.
template <class Stream>
class Stage final : public morvik::Sink {
public:
    template <class... Args>
    explicit Stage(morvik::Sink& next, const Args&... args) : stream_(args...), next_(next) {}
    void Write(std::string_view bytes) override { stream_.Update(bytes, next_); }
    void Finish() { stream_.Finish(next_); }

private:
    Stream stream_;
    morvik::Sink& next_;
};

// Feeds the file at `path` to `first` a piece at a time; `finish` ends each
// stage in order once the input has ended.
template <class Finish>
void Pump(const std::string& path, morvik::Sink& first, Finish finish) {
    File in;
    in.f = std::fopen(path.c_str(), "rb");
    if (!in.f) throw FileError{errno, path};
    std::vector<char> buf(kFilePiece);
    struct Wiped {
        std::vector<char>& b;
        ~Wiped() { morvik::detail::Wipe(b.data(), b.size()); }
    } wiped{buf};  // a plaintext, when encrypting
    for (;;) {
        const std::size_t got = std::fread(buf.data(), 1, buf.size(), in.f);
        if (got < buf.size() && std::ferror(in.f)) throw FileError{errno, path};
        if (got == 0) break;
        first.Write(std::string_view(buf.data(), got));
    }
    finish();
}

std::uint64_t EncryptFile(const RC2& rc2, const std::string& src, const std::string& dst, Form form) {
    Output out(dst);
    switch (form) {
        case Form::Raw: {
            Stage<morvik::EncryptStream> cipher(out, rc2);
            Pump(src, cipher, [&] { cipher.Finish(); });
            break;
        }
        case Form::Hex: {
            Stage<morvik::hex::WriteStream> text(out);
            Stage<morvik::EncryptStream> cipher(text, rc2);
            Pump(src, cipher, [&] { cipher.Finish(), text.Finish(); });
            break;
        }
        case Form::Asc: {
            Stage<morvik::AscEncodeStream> text(out);
            Stage<morvik::EncryptStream> cipher(text, rc2);
            Pump(src, cipher, [&] { cipher.Finish(), text.Finish(); });
            break;
        }
    }
    return out.Commit();
}

std::uint64_t DecryptFile(const RC2& rc2, const std::string& src, const std::string& dst, Form form) {
    Output out(dst);
    Stage<morvik::DecryptStream> cipher(out, rc2);
    switch (form) {
        case Form::Raw: Pump(src, cipher, [&] { cipher.Finish(); }); break;
        case Form::Hex: {
            Stage<morvik::hex::ReadStream> text(cipher);
            Pump(src, text, [&] { text.Finish(), cipher.Finish(); });
            break;
        }
        case Form::Asc: {
            Stage<morvik::AscDecodeStream> text(cipher);
            Pump(src, text, [&] { text.Finish(), cipher.Finish(); });
            break;
        }
    }
    return out.Commit();
}

// Where in the file a stream's error was found, from the error's position.
std::string Where(const std::string& path, const morvik::ErrorPosition& at) {
    using Kind = morvik::ErrorPosition::Kind;
    const auto n = [](std::uint64_t v) { return std::to_string(v); };
    switch (at.kind) {
        case Kind::IncompleteBlock:
            return path + ": the ciphertext is " + n(at.offset + at.size) + " bytes, not a whole number of " +
                   "8-byte blocks (the block at byte offset " + n(at.offset) + " has " + n(at.size) + ")";
        case Kind::Group:
            return path + ": armour group " + n(at.group) + " (characters " + n(at.character) + " to " +
                   n(at.character + at.size - 1) + ") is too large for " + n(at.bytes) + " bytes";
        case Kind::TailMark:
            return path + ": the tail mark (character " + n(at.character) + ") has the value " + n(at.value) +
                   "; it must be 0 to 4";
        default: return path;
    }
}

template <class F>
std::uint64_t FileCall(PyRC2& self, py::handle src, py::handle dst, const std::string& form, F f) {
    const Form chosen = FormOf(form);
    const std::string in = Path(src), out = Path(dst);
    try {
        return self.Run(kReleaseFrom, [&](RC2& rc2) { return f(rc2, in, out, chosen); });
    } catch (const morvik::Error& e) {
        Raise(e, Where(in, e.position()));
    } catch (const FileError& e) {
        errno = e.error;
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, e.path.c_str());
        throw py::error_already_set();
    }
}

}  // namespace

PYBIND11_MODULE(morvik, m) {
    m.doc() = R"(RC2 (RFC 2268) with hex and base-66 armoured text forms, byte for byte as the Morvik.RC2 object.

    >>> import morvik
    >>> rc2 = morvik.RC2()
    >>> rc2.effective_key_length = 64          # before the key
    >>> rc2.key_hex = "88bca90e90875a7f0f79c384627bafb2"
    >>> rc2.decrypt_asc("VKPAyyty0bBg2")
    b'abc'

RC2 is the object (help(morvik.RC2)); Error is what it raises. The functions
hex_write, hex_read, asc_encode and asc_decode are the two text forms alone,
zero_fill the text that encrypt works on. Guide: docs/python.md.)";
    m.attr("__version__") = morvik::kVersion;
    m.attr("BLOCK_SIZE") = RC2::kBlockSize;

    py::dict scope;
    py::exec(R"py(
class Error(Exception):
    """A failure of the RC2 object: `number` is its runtime error number
    (5, 6 or 9, as an automation client sees it), `text` the standard text,
    and `where` what the input was and where it failed, when known."""

    def __init__(self, number, text, where=None):
        super().__init__(number, text, where) if where is not None else super().__init__(number, text)
        self.number = number
        self.text = text
        self.where = where

    def __str__(self):
        s = f"{self.text} (error {self.number})"
        return f"{s}: {self.where}" if self.where else s
)py", py::globals(), scope);
    error_class = scope["Error"];
    error_class.attr("__module__") = "morvik";
    m.attr("Error") = error_class;
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const morvik::Error& e) {
            py::object instance = error_class(e.code(), e.what());
            PyErr_SetObject(error_class.ptr(), instance.ptr());
        }
    });

    py::class_<PyRC2>(m, "RC2", R"(An RC2 object: a key schedule and the output of its last encryption or decryption.

Keys of 1..128 bytes are used, other lengths ignored; effective_key_length
0..1024 is stored (0: the key's own bits) and applies from the next key.
Encrypting fills a short final block with zero bytes; decrypting removes
every zero byte at the end. Errors raise morvik.Error.)")
        .def(py::init<>(), "A new object: no key yet (its expanded key is all zeros, with which encrypt\n"
                           "already works), effective_key_length 0, an empty last result.")
        .def_property("key",
            [](PyRC2& self) { return self.Run(0, [](RC2& r) { return ToBytes(r.Key()); }); },
            [](PyRC2& self, py::object v) {
                Bytes key(v);
                self.Run(0, [&](RC2& r) { r.Key(key.view()); });
            }, "The key as last stored (bytes); setting takes any bytes-like object.")
        .def_property("key_hex",
            [](PyRC2& self) { return ToStr(Secret{self.Run(0, [](RC2& r) { return r.KeyHex(); })}.s); },
            [](PyRC2& self, py::object v) {
                Secret text{TextBytes(v)};
                self.Run(0, [&](RC2& r) { r.KeyHex(text.s); });
            }, "The key as hex text; setting reads hex text leniently.")
        .def_property("effective_key_length",
            [](PyRC2& self) { return self.Run(0, [](RC2& r) { return r.EffectiveKeyLength(); }); },
            [](PyRC2& self, py::int_ v) {
                int overflow = 0;
                const long long bits = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
                if (bits == -1 && PyErr_Occurred()) throw py::error_already_set();
                // Outside 0..1024 the object ignores the value; so it does here
                // for numbers beyond 32 bits too.
                if (overflow || bits < std::numeric_limits<std::int32_t>::min() || bits > std::numeric_limits<std::int32_t>::max()) return;
                self.Run(0, [&](RC2& r) { r.EffectiveKeyLength(static_cast<std::int32_t>(bits)); });
            }, "Effective key length in bits, 0..1024; other values are ignored.")
        .def("encrypt",
            [](PyRC2& self, py::object data) {
                Bytes in(data);
                NewBytes out(RC2::FilledSize(in.view().size()));
                self.Run(in.view().size(), [&](RC2& r) { r.EncryptTo(in.view(), out.data()); });
                return out.Take(out.size());
            }, py::arg("data"), "Returns the ciphertext of `data`; the text encrypted is zero_fill(data).")
        .def("decrypt",
            [](PyRC2& self, py::object data) {
                Bytes in(data);
                NewBytes out(in.view().size());
                const std::size_t kept = self.Run(in.view().size(), [&](RC2& r) { return r.DecryptTo(in.view(), out.data()); });
                return out.Take(kept);
            }, py::arg("data"), "Returns the plaintext, without zero bytes at its end.")
        .def("encrypt_hex",
            [](PyRC2& self, py::object text) {
                Secret hex{TextBytes(text)};
                return ToBytes(self.Run(hex.s.size(), [&](RC2& r) { return r.EncryptHex(hex.s); }));
            }, py::arg("text"), "Encrypts the bytes that hex text reads as; returns the ciphertext bytes.")
        .def("decrypt_hex",
            [](PyRC2& self, py::object text) {
                Secret hex{TextBytes(text)};
                return ToBytes(Secret{self.Run(hex.s.size(), [&](RC2& r) { return r.DecryptHex(hex.s); })}.s);
            }, py::arg("text"), "Decrypts the bytes that hex text reads as; returns the plaintext bytes.")
        .def("encrypt_asc",
            [](PyRC2& self, py::object data) {
                Bytes in(data);
                return ToStr(self.Run(in.view().size(), [&](RC2& r) {
                    Secret text{Copy(in.view())};
                    return r.EncryptAsc(text.s);
                }));
            }, py::arg("data"), "Returns the ciphertext of `data` as armoured text.")
        .def("decrypt_asc",
            [](PyRC2& self, py::object text) {
                Secret asc{TextBytes(text)};
                return ToBytes(Secret{self.Run(asc.s.size(), [&](RC2& r) { return r.DecryptAsc(asc.s); })}.s);
            }, py::arg("text"), "Decrypts armoured ciphertext; returns the plaintext bytes.")
        .def_property_readonly("result", [](PyRC2& self) { return self.Run(0, [](RC2& r) { return ToBytes(r.Result()); }); },
            "The output of the last successful encrypt or decrypt (bytes).")
        .def_property_readonly("result_hex", [](PyRC2& self) { return ToStr(Secret{self.Run(0, [](RC2& r) { return r.ResultHex(); })}.s); },
            "The last result as hex text.")
        .def_property_readonly("result_asc", [](PyRC2& self) { return ToStr(self.Run(0, [](RC2& r) { return r.ResultAsc(); })); },
            "The last result as armoured text.")
        .def("encrypt_file",
            [](PyRC2& self, py::object src, py::object dst, const std::string& form) {
                return FileCall(self, src, dst, form, EncryptFile);
            }, py::arg("src"), py::arg("dst"), py::arg("form") = "raw",
            "Encrypts the file src into dst, streaming, as the ciphertext bytes (form 'raw'), its hex text\n"
            "('hex', as result_hex) or its armoured text ('asc', as encrypt_asc); returns the bytes written.\n"
            "Result is not changed.")
        .def("decrypt_file",
            [](PyRC2& self, py::object src, py::object dst, const std::string& form) {
                return FileCall(self, src, dst, form, DecryptFile);
            }, py::arg("src"), py::arg("dst"), py::arg("form") = "raw",
            "Decrypts the file src, a ciphertext in the given form (as decrypt, decrypt_hex or decrypt_asc\n"
            "read it), into dst, streaming; returns the bytes written. Result is not changed.");

    m.def("zero_fill", [](py::object data) {
        Bytes in(data);
        Secret filled{std::string(in.view())};
        filled.s.resize(RC2::FilledSize(filled.s.size()), '\0');
        return ToBytes(filled.s);
    }, py::arg("data"), "`data` followed by zero bytes up to a whole block: the text that encrypt works on.");
    m.def("hex_write", [](py::object data) { return ToStr(Secret{morvik::hex::Write(Bytes(data).view())}.s); },
          py::arg("data"), "Two uppercase hex digits per byte.");
    m.def("hex_read", [](py::object text) { return ToBytes(Secret{morvik::hex::Read(Secret{TextBytes(text)}.s)}.s); },
          py::arg("text"), "Lenient hex reading: pairs from the left; never fails.");
    m.def("asc_encode", [](py::object data) { return ToStr(morvik::BlindAscii::Full2Asc(Bytes(data).view())); },
          py::arg("data"), "The base-66 armoured text of bytes.");
    m.def("asc_decode", [](py::object text) {
        Secret asc{TextBytes(text)};
        return ToBytes(Secret{morvik::BlindAscii::Asc2Full(asc.s)}.s);
    }, py::arg("text"), "Bytes of armoured text; raises morvik.Error 6 or 5 for malformed text.");
}
