// The Python module `morvik`: the RC2 object with its members as properties
// and methods (the legacy object's rules), a strict constructor and one-shot
// functions, the codecs as functions, and file helpers that stream. Every
// rule is the C++ object's or the front layer's (keys, text, explanations,
// stages, the final line break, the replacement of files); this file
// converts arguments and errors.
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <climits>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <morvik/blind_ascii.h>
#include <morvik/detail/hints.h>
#include <morvik/detail/output.h>
#include <morvik/detail/wipe.h>
#include <morvik/error.h>
#include <morvik/hex.h>
#include <morvik/batch.h>
#include <morvik/rc2.h>
#include <morvik/version.h>

#include <morvik/front/chains.h>
#include <morvik/front/explain.h>
#include <morvik/front/keys.h>
#include <morvik/front/line_break.h>
#include <morvik/front/target.h>

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

// Hex and armoured texts: a str, whose characters become bytes through the
// front layer's code page as a Western Windows client's would (a character
// with no byte there is the object's Overflow error, explained), or the
// bytes themselves. A str may also hold a lone surrogate ("\ud800", or
// what surrogateescape made of a byte), which has no UTF-8 form: it too is a
// character with no byte, named after any such character before it.
std::string TextBytes(py::handle obj, const char* what = "the text") {
    if (!PyUnicode_Check(obj.ptr())) return std::string(Bytes(obj).view());
    Py_ssize_t n = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(obj.ptr(), &n))
        return morvik::front::TextBytes({utf8, static_cast<std::size_t>(n)}, what);
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw py::error_already_set();
    PyErr_Clear();
    const Py_ssize_t length = PyUnicode_GetLength(obj.ptr());
    Py_ssize_t at = 0;
    for (Py_UCS4 c; at < length && !((c = PyUnicode_ReadChar(obj.ptr(), at)) >= 0xD800 && c <= 0xDFFF);) ++at;
    py::object before = py::reinterpret_steal<py::object>(PyUnicode_Substring(obj.ptr(), 0, at));
    if (!before) throw py::error_already_set();
    morvik::detail::Secret checked{TextBytes(before, what)};
    morvik::ErrorPosition place;
    place.kind       = morvik::ErrorPosition::Kind::Unmappable;
    place.character  = static_cast<std::uint64_t>(at) + 1;
    place.code_point = PyUnicode_ReadChar(obj.ptr(), at);
    throw morvik::front::Explained(morvik::Error(morvik::ErrorNumber::Overflow, place), what);
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

// morvik.Error, raised as Error(number, text, where, position).
py::object error_class;

using morvik::front::Exit;
using morvik::front::Failure;
using morvik::front::Form;

// Where the error was found, as a dict of the position's fields that say
// something; None where no place is known.
py::object PositionOf(const morvik::ErrorPosition& at) {
    using Kind = morvik::ErrorPosition::Kind;
    py::dict d;
    switch (at.kind) {
        case Kind::None: return py::none();
        case Kind::IncompleteBlock: d["kind"] = "incomplete_block", d["offset"] = at.offset, d["size"] = at.size; break;
        case Kind::Group:
            d["kind"] = "group", d["group"] = at.group, d["character"] = at.character, d["size"] = at.size;
            break;
        case Kind::TailMark: d["kind"] = "tail_mark", d["character"] = at.character, d["value"] = at.value; break;
        case Kind::MalformedUtf8: d["kind"] = "malformed_utf8", d["offset"] = at.offset; break;
        case Kind::Unmappable:
            d["kind"] = "unmappable", d["character"] = at.character, d["code_point"] = static_cast<std::uint32_t>(at.code_point);
            break;
    }
    return d;
}

void SetError(const morvik::Error& e, const std::string& where) {
    py::object instance = error_class(e.code(), e.what(), where, PositionOf(e.position()));
    PyErr_SetObject(error_class.ptr(), instance.ptr());
}

// A failure of the front layer: the object's errors as morvik.Error, a bad
// key or length as ValueError, a file as OSError.
void SetError(const Failure& f, const std::string& filename = {}) {
    switch (f.status()) {
        case Exit::Invalid:
        case Exit::Overflow: {
            const auto number = static_cast<morvik::ErrorNumber>(f.status());
            py::object instance = error_class(static_cast<int>(number), morvik::ErrorText(number), f.what(), PositionOf(f.position()));
            PyErr_SetObject(error_class.ptr(), instance.ptr());
            return;
        }
        case Exit::Io: {
            py::object error = py::reinterpret_borrow<py::object>(PyExc_OSError)(
                f.system_error(), f.what(), filename.empty() ? py::none() : py::object(py::str(filename)));
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());  // FileNotFoundError, ...
            return;
        }
        default: PyErr_SetString(PyExc_ValueError, f.what());
    }
}

// An error of the object, explained as the tool explains it.
[[noreturn]] void Raise(const morvik::Error& e, const std::string& where) {
    SetError(e, where);
    throw py::error_already_set();
}
[[noreturn]] void Raise(const Failure& f, const std::string& filename = {}) {
    SetError(f, filename);
    throw py::error_already_set();
}

// Runs `f`, explaining an error of the object by `form` (the input's form)
// and the input `text`.
template <class F>
auto Explaining(Form form, std::string_view text, F&& f) {
    try {
        return f();
    } catch (const morvik::Error& e) {
        Raise(e, morvik::front::ExplainDecrypt(e, form, text));
    }
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

// --- File helpers: the front layer's chains of the core's streams between two
// files, a piece at a time, so memory stays bounded whatever the size; every
// rule (filling, removing zeros, blank ciphertexts, the text forms and their
// errors, the final line break of text read from a file) is the one the tool
// uses. They do not change Result. The output appears whole or not at all:
// the front layer's replacement writes it beside the destination and renames
// it over it only on success, keeping the old file's owner and mode.

constexpr std::size_t kFilePiece = 1 << 20;

Form FormOf(const std::string& name) {
    if (const auto form = morvik::front::FormNamed(name)) return *form;
    throw py::value_error("form must be 'raw', 'hex' or 'asc', not '" + name + "'");
}

// A path as os.fspath takes one (str, bytes, os.PathLike), in the file
// system's encoding. A NUL would end it early, and another file would be
// used: refused, as open() refuses it.
std::string Path(py::handle p) {
    py::bytes encoded = py::module_::import("os").attr("fsencode")(p);
    std::string path(encoded);
    if (path.find('\0') != std::string::npos) throw py::value_error("embedded null byte in the path " + std::string(py::repr(p)));
    // The layer reads "" and "-" as standard output (the tool's convention);
    // here a path is always a file, as open() has it.
    if (path.empty()) {
        PyErr_SetFromErrnoWithFilenameObject(PyExc_FileNotFoundError, p.ptr());
        throw py::error_already_set();
    }
    return path == "-" ? "./-" : path;
}

// A file read a piece at a time, its buffer wiped at the end (a plaintext,
// when encrypting).
class Reader {
public:
    explicit Reader(const std::string& path) : path_(path), buffer_(kFilePiece) {
        f_ = std::fopen(path.c_str(), "rb");
        if (!f_) Fail("cannot open");
    }
    ~Reader() {
        morvik::detail::Wipe(buffer_.data(), buffer_.size());
        std::fclose(f_);
    }
    Reader(const Reader&)            = delete;
    Reader& operator=(const Reader&) = delete;

    std::string_view Next() {
        const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), f_);
        if (got < buffer_.size() && std::ferror(f_)) Fail("cannot read");
        if (got > 0) last_ = buffer_[got - 1];
        return {buffer_.data(), got};
    }
    bool EndsWithLineBreak() const { return last_ == '\n' || last_ == '\r'; }

private:
    [[noreturn]] void Fail(const char* what) {
        const int error = errno;
        throw Failure(Exit::Io, std::string(what) + " " + morvik::front::Quoted(path_) + ": " + std::strerror(error), error);
    }

    std::string       path_;
    std::vector<char> buffer_;
    std::FILE*        f_ = nullptr;
    char              last_ = '\0';
};

// The front layer's target as the end of a chain, counting what it writes.
class Output final : public morvik::front::Sink {
public:
    explicit Output(const std::string& path) : name_(morvik::front::Quoted(path)), target_(morvik::front::OpenTarget(path, name_)) {}
    void Write(std::string_view bytes) override {
        if (!target_->Write(bytes))
            throw Failure(Exit::Io, "cannot write " + name_ + ": " + morvik::front::TargetError(),
                          morvik::front::TargetErrorNumber());
        written_ += bytes.size();
    }
    void Finish() override { target_->Commit(name_); }
    std::uint64_t written() const { return written_; }

private:
    std::string                             name_;
    std::unique_ptr<morvik::front::Target>  target_;
    std::uint64_t                           written_ = 0;
};

// As the tool: a plaintext ending in zero bytes, which decryption would not
// give back, is refused (and no file written) unless `allow_zeros`.
constexpr const char* kAllowZeros = "allow_trailing_zeros=True encrypts it anyway";

std::uint64_t EncryptFile(const RC2& rc2, const std::string& src, const std::string& dst, Form form, bool allow_zeros,
                          std::string&) {
    Output out(dst);
    Reader in(src);
    morvik::front::Chain chain(out);
    morvik::front::PrependEncrypt(chain, rc2, form);
    morvik::front::Pump([&] { return in.Next(); }, chain.Head(), !allow_zeros, {}, {}, kAllowZeros);
    return out.written();
}

// As the tool: one final line break of a text form is dropped unless
// `exact_input` keeps it, and a failure that it likely caused says so; hex
// with line breaks inside gets the tool's `warning`.
std::uint64_t DecryptFile(const RC2& rc2, const std::string& src, const std::string& dst, Form form, bool exact_input,
                          std::string& warning) {
    Output out(dst);
    Reader in(src);
    morvik::front::Chain chain(out);
    const auto* dropping = morvik::front::PrependDecrypt(chain, rc2, form, !exact_input);
    try {
        morvik::front::Pump([&] { return in.Next(); }, chain.Head());
    } catch (const Failure& f) {
        morvik::front::RethrowDecryptFailure(f, form, dropping ? dropping->PassedLineBreakLast() : in.EndsWithLineBreak());
    }
    if (const auto* hex = chain.Find<morvik::front::HexReadStage>())
        warning = hex->LineBreakWarning().value_or("");
    return out.written();
}

template <class F>
std::uint64_t FileCall(PyRC2& self, py::handle src, py::handle dst, const std::string& form, bool flag, F f) {
    const Form chosen = FormOf(form);
    const std::string in = Path(src), out = Path(dst);
    std::string warning;
    try {
        const std::uint64_t written =
            self.Run(kReleaseFrom, [&](RC2& rc2) { return f(rc2, in, out, chosen, flag, warning); });
        if (!warning.empty() &&
            PyErr_WarnEx(PyExc_UserWarning, (morvik::front::Quoted(in) + ": " + warning).c_str(), 1) != 0)
            throw py::error_already_set();
        return written;
    } catch (const Failure& e) {
        // The stages name the input; the message names the file too. A file
        // that cannot be opened, read or written names itself.
        if (e.status() == Exit::Io) Raise(e);
        Raise(Failure(e.status(), morvik::front::Quoted(in) + ": " + e.what(), e.position()));
    }
}

// --- The strict entry: a key of 1..128 bytes and a length of 0..1024, or an
// error; never the object's silent keeping of the previous key.

// An integer as operator.index takes one: an int or any object with
// __index__ (numpy integers, ...); the value, with `overflow` set beyond a
// long long.
long long IndexOf(py::handle v, int& overflow) {
    if (!PyIndex_Check(v.ptr()))
        throw py::type_error("effective_key_length must be an integer, not '" + std::string(py::str(py::type::of(v).attr("__name__"))) + "'");
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(v.ptr()));
    if (!index) throw py::error_already_set();
    const long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    return value;
}

std::int32_t StrictBits(py::handle v) {
    if (PyBool_Check(v.ptr())) throw py::type_error("effective_key_length must be an integer, not 'bool'");
    int overflow = 0;
    const long long bits = IndexOf(v, overflow);
    try {
        morvik::front::CheckEffectiveBits(overflow ? (overflow > 0 ? LLONG_MAX : LLONG_MIN) : bits, "effective_key_length");
    } catch (const Failure& f) {
        throw py::value_error(f.what());
    }
    return static_cast<std::int32_t>(bits);
}

// The key, set after the length, as the object needs them.
void StrictKey(RC2& rc2, py::handle key, std::int32_t bits) {
    if (PyUnicode_Check(key.ptr())) throw py::type_error("key must be a bytes-like object, not 'str'");
    Secret checked{std::string(Bytes(key).view())};
    try {
        morvik::front::CheckKeyLength(checked.s, "key");
    } catch (const Failure& f) {
        throw py::value_error(f.what());
    }
    rc2.EffectiveKeyLength(bits);
    rc2.Key(checked.s);
}

// A plaintext ending in zero bytes would not come back whole: said before it
// is encrypted, as every strict front says it, unless allowed.
void CheckZeros(std::string_view plain, bool allow, const std::string& where) {
    if (allow) return;
    if (const auto zeros = morvik::front::ZerosAtEnd(plain); zeros > 0)
        throw py::value_error(where + morvik::front::TrailingZeros(zeros, "the plaintext", kAllowZeros).what());
}

// morvik.encrypt / morvik.decrypt: a new object each call, nothing kept.
py::object OneShot(bool encrypting, py::handle data, py::handle key, py::handle bits, const std::string& form_name,
                   bool allow_zeros = false) {
    const Form form = FormOf(form_name);
    RC2 rc2;
    StrictKey(rc2, key, StrictBits(bits));
    if (encrypting) {
        Bytes in(data);
        CheckZeros(in.view(), allow_zeros, "");
        Secret text{Copy(in.view())};
        if (form == Form::Asc) return ToStr(rc2.EncryptAsc(text.s));
        const std::string cipher = rc2.Encrypt(text.s);
        if (form == Form::Hex) return ToStr(morvik::hex::Write(cipher));
        return ToBytes(cipher);
    }
    Secret text{form == Form::Raw ? std::string(Bytes(data).view()) : TextBytes(data)};
    return Explaining(form, text.s, [&] {
        if (form == Form::Hex) return ToBytes(Secret{rc2.DecryptHex(text.s)}.s);
        if (form == Form::Asc) return ToBytes(Secret{rc2.DecryptAsc(text.s)}.s);
        return ToBytes(Secret{rc2.Decrypt(text.s)}.s);
    });
}

// --- Batches: decrypt_many and encrypt_many. The values are read with the
// interpreter held, then go through the bulk kernels together without it.

// The values of an iterable as bytes, one after another, a chunk at a time:
// None stays None, a str becomes the code page's bytes (plaintexts, hex and
// armoured texts; a str that cannot be converted is a failure of that value
// alone), anything else is read as a bytes-like object. A chunk's buffers
// are used again for the next one, so they stay in the caches and a large
// batch never pays for fresh pages of memory.
class Values {
public:
    static constexpr std::size_t kChunk = 4096;

    Values(py::iterable values, bool raw_only, const char* what)
        : it_(Iterate(values)), raw_only_(raw_only), what_(what) {}

    // The next chunk; false when the values are used up.
    bool Next() {
        first_ += ends_.size();
        morvik::detail::Wipe(bytes_);
        bytes_.clear(), ends_.clear(), none_.clear(), unreadable_.clear(), views_.clear();
        for (; ends_.size() < kChunk && it_ != py::iterator::sentinel(); ++it_) Add(*it_);
        for (std::size_t i = 0; i < ends_.size(); ++i) {
            const std::size_t begin = i ? ends_[i - 1] : 0;
            views_.emplace_back(std::string_view(bytes_).substr(begin, ends_[i] - begin));
        }
        return !ends_.empty();
    }
    ~Values() { morvik::detail::Wipe(bytes_); }

    std::size_t size() const { return ends_.size(); }
    std::size_t first() const { return first_; }  // the index of the chunk's first value
    bool none(std::size_t i) const { return none_[i]; }
    const std::vector<std::string_view>& views() const { return views_; }
    // The values of this chunk that could not be read, in order.
    const std::vector<std::pair<std::size_t, Failure>>& unreadable() const { return unreadable_; }

private:
    // A str or a bytes-like object is one value, not a batch: iterated, its
    // characters or bytes would each be decrypted, a silent wrong answer.
    static py::iterator Iterate(py::iterable values) {
        if (PyUnicode_Check(values.ptr()) || PyObject_CheckBuffer(values.ptr()))
            throw py::type_error("values must be an iterable of values (a list, a Series), not a single '" +
                                 std::string(py::str(py::type::of(values).attr("__name__"))) + "'");
        return py::iter(values);
    }

    void Add(py::handle v) {
        const std::size_t index = first_ + ends_.size();
        none_.push_back(v.is_none());
        if (v.is_none()) {
        } else if (PyUnicode_Check(v.ptr()) && raw_only_) {
            throw py::type_error("value " + std::to_string(index) + ": a ciphertext in the form 'raw' is bytes, not 'str'");
        } else if (PyUnicode_Check(v.ptr()) && PyUnicode_IS_ASCII(v.ptr())) {
            // ASCII is its own bytes in the code page: no conversion.
            bytes_.append(static_cast<const char*>(PyUnicode_DATA(v.ptr())),
                          static_cast<std::size_t>(PyUnicode_GET_LENGTH(v.ptr())));
        } else if (!PyUnicode_Check(v.ptr())) {
            bytes_.append(Bytes(v).view());
        } else {
            try {
                Secret one{TextBytes(v, what_)};
                bytes_.append(one.s);
            } catch (const Failure& f) {
                unreadable_.emplace_back(ends_.size(), f);
            }
        }
        ends_.push_back(bytes_.size());
    }

    py::iterator                                  it_;
    bool                                          raw_only_;
    const char*                                   what_;
    std::size_t                                   first_ = 0;
    std::string                                   bytes_;
    std::vector<std::size_t>                      ends_;
    std::vector<bool>                             none_;
    std::vector<std::pair<std::size_t, Failure>>  unreadable_;
    std::vector<std::string_view>                 views_;
};

morvik::MessageForm MessageFormOf(Form form) {
    return form == Form::Raw ? morvik::MessageForm::Raw : form == Form::Hex ? morvik::MessageForm::Hex : morvik::MessageForm::Asc;
}

void Append(py::list& out, PyObject* item) {
    if (!item) throw py::error_already_set();
    const int status = PyList_Append(out.ptr(), item);
    Py_DECREF(item);
    if (status != 0) throw py::error_already_set();
}

py::list DecryptMany(py::iterable values, py::handle key, const std::string& form_name, py::handle bits,
                     const std::string& errors) {
    if (errors != "raise" && errors != "null") throw py::value_error("errors must be 'raise' or 'null', not '" + errors + "'");
    const Form form = FormOf(form_name);
    RC2 rc2;
    StrictKey(rc2, key, StrictBits(bits));
    Values in(values, form == Form::Raw, "the text");
    morvik::MessageBatch batch;
    py::list out;
    while (in.Next()) {
        {
            py::gil_scoped_release unlocked;
            morvik::DecryptMany(rc2, in.views(), MessageFormOf(form), batch);
        }
        // The first value of the chunk that failed, in the order of the values.
        const auto& unreadable = in.unreadable();
        std::size_t bad = in.size();
        if (!batch.failed.empty()) bad = batch.failed.front();
        if (!unreadable.empty()) bad = std::min(bad, unreadable.front().first);
        if (errors == "raise" && bad < in.size()) {
            const std::string where = "value " + std::to_string(in.first() + bad) + ": ";
            if (!unreadable.empty() && unreadable.front().first == bad) {
                const Failure& f = unreadable.front().second;
                Raise(Failure(f.status(), where + f.what(), f.position()));
            }
            Raise(batch.errors.front(), where + morvik::front::ExplainDecrypt(batch.errors.front(), form, in.views()[bad]));
        }
        std::size_t next_error = 0, next_unreadable = 0;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const bool failed = (next_error < batch.failed.size() && batch.failed[next_error] == i && ++next_error) |
                                (next_unreadable < unreadable.size() && unreadable[next_unreadable].first == i &&
                                 ++next_unreadable);
            if (in.none(i) || failed) {
                Py_INCREF(Py_None);
                Append(out, Py_None);
                continue;
            }
            const std::string_view plain = batch.Result(i);
            Append(out, PyBytes_FromStringAndSize(plain.data(), static_cast<Py_ssize_t>(plain.size())));
        }
    }
    morvik::detail::Wipe(batch.out);
    return out;
}

py::list EncryptMany(py::iterable values, py::handle key, const std::string& form_name, py::handle bits, bool allow_zeros) {
    const Form form = FormOf(form_name);
    RC2 rc2;
    StrictKey(rc2, key, StrictBits(bits));
    Values in(values, false, "the plaintext");
    morvik::MessageBatch batch;
    py::list out;
    while (in.Next()) {
        if (!in.unreadable().empty()) {
            const auto& [i, f] = in.unreadable().front();
            Raise(Failure(f.status(), "value " + std::to_string(in.first() + i) + ": " + f.what(), f.position()));
        }
        // A plaintext that ends in zero bytes would not come back whole: said
        // before it is encrypted, as every front says it.
        for (std::size_t i = 0; i < in.size(); ++i)
            CheckZeros(in.views()[i], allow_zeros, "value " + std::to_string(in.first() + i) + ": ");
        {
            py::gil_scoped_release unlocked;
            morvik::EncryptMany(rc2, in.views(), MessageFormOf(form), batch);
        }
        for (std::size_t i = 0; i < in.size(); ++i) {
            if (in.none(i)) {
                Py_INCREF(Py_None);
                Append(out, Py_None);
                continue;
            }
            const std::string_view cipher = batch.Result(i);
            const auto n = static_cast<Py_ssize_t>(cipher.size());
            Append(out, form == Form::Raw ? PyBytes_FromStringAndSize(cipher.data(), n)
                                          : PyUnicode_DecodeASCII(cipher.data(), n, nullptr));  // hex and armour are ASCII
        }
    }
    return out;
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
class Error(ValueError):
    """A failure of the RC2 object on bad input: `number` is its runtime error
    number (5, 6 or 9, as an automation client sees it), `text` the standard
    text, `where` the explanation of what the input was and where it failed,
    in the words of the morvik tool, and `position` the place as a dict
    (kind, and offset, character, group, ... as the kind has them), or None."""

    def __init__(self, number, text, where=None, position=None):
        super().__init__(number, text, where) if where is not None else super().__init__(number, text)
        self.number = number
        self.text = text
        self.where = where
        self.position = position

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
            SetError(e, morvik::front::Explain(e, "the input"));
        } catch (const Failure& f) {
            SetError(f);
        }
    });

    py::class_<PyRC2>(m, "RC2", R"(An RC2 object: a key schedule and the output of its last encryption or decryption.

RC2(key=None, *, effective_key_length=0) is strict: the length is stored
first, then the key; a key outside 1..128 bytes or a length outside 0..1024
raises ValueError, a wrong type TypeError.

The properties keep the legacy object's rules exactly, so that a script
ported line by line gives the script's bytes: setting key to 0 or more than
128 bytes is ignored (the previous key stays in use), key_hex is read
leniently, effective_key_length outside 0..1024 is ignored and takes effect
only from the next key. Encrypting fills a short final block with zero
bytes; decrypting removes every zero byte at the end. Errors of the input
raise morvik.Error.)")
        .def(py::init([](py::object key, py::object bits) {
                 auto made = std::make_unique<PyRC2>();
                 const std::int32_t checked = StrictBits(bits);
                 if (!key.is_none()) made->Run(0, [&](RC2& r) { StrictKey(r, key, checked); });
                 else made->Run(0, [&](RC2& r) { r.EffectiveKeyLength(checked); });
                 return made;
             }), py::arg("key") = py::none(), py::kw_only(), py::arg("effective_key_length") = 0,
             "A new object. Strict: a key (1..128 bytes) and effective_key_length (0..1024) given here are\n"
             "checked; without a key its expanded key is all zeros, with which encrypt already works.")
        .def_property("key",
            [](PyRC2& self) { return self.Run(0, [](RC2& r) { return ToBytes(r.Key()); }); },
            [](PyRC2& self, py::object v) {
                Bytes key(v);
                self.Run(0, [&](RC2& r) { r.Key(key.view()); });
            }, "The key as last stored (bytes); setting takes any bytes-like object. Legacy rule: a key of 0 or\n"
               "more than 128 bytes is ignored without an error and the previous key stays in use.")
        .def_property("key_hex",
            [](PyRC2& self) { return ToStr(Secret{self.Run(0, [](RC2& r) { return r.KeyHex(); })}.s); },
            [](PyRC2& self, py::object v) {
                Secret text{TextBytes(v)};
                self.Run(0, [&](RC2& r) { r.KeyHex(text.s); });
            }, "The key as hex text. Legacy rules: setting reads hex text leniently (a non-digit reads as 0), and\n"
               "a key of 0 or more than 128 bytes is stored as the key text but not used.")
        .def_property("effective_key_length",
            [](PyRC2& self) { return self.Run(0, [](RC2& r) { return r.EffectiveKeyLength(); }); },
            [](PyRC2& self, py::object v) {
                int overflow = 0;
                const long long bits = IndexOf(v, overflow);
                // Outside 0..1024 the object ignores the value; so it does here
                // for numbers beyond 32 bits too.
                if (overflow || bits < std::numeric_limits<std::int32_t>::min() || bits > std::numeric_limits<std::int32_t>::max()) return;
                self.Run(0, [&](RC2& r) { r.EffectiveKeyLength(static_cast<std::int32_t>(bits)); });
            }, "Effective key length in bits, 0..1024. Legacy rules: other values are ignored without an error,\n"
               "and a new value takes effect only when the key is next set.")
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
                const std::size_t kept = Explaining(Form::Raw, {}, [&] { return self.Run(in.view().size(), [&](RC2& r) { return r.DecryptTo(in.view(), out.data()); }); });
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
                return ToBytes(Secret{Explaining(Form::Hex, hex.s, [&] { return self.Run(hex.s.size(), [&](RC2& r) { return r.DecryptHex(hex.s); }); })}.s);
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
                return ToBytes(Secret{Explaining(Form::Asc, asc.s, [&] { return self.Run(asc.s.size(), [&](RC2& r) { return r.DecryptAsc(asc.s); }); })}.s);
            }, py::arg("text"), "Decrypts armoured ciphertext; returns the plaintext bytes. As the object, a final line\n"
               "break is part of the text (and the error says so); decrypt_file drops one as the tool does.")
        .def_property_readonly("result", [](PyRC2& self) { return self.Run(0, [](RC2& r) { return ToBytes(r.Result()); }); },
            "The output of the last successful encrypt or decrypt (bytes).")
        .def_property_readonly("result_hex", [](PyRC2& self) { return ToStr(Secret{self.Run(0, [](RC2& r) { return r.ResultHex(); })}.s); },
            "The last result as hex text.")
        .def_property_readonly("result_asc", [](PyRC2& self) { return ToStr(self.Run(0, [](RC2& r) { return r.ResultAsc(); })); },
            "The last result as armoured text.")
        .def("encrypt_file",
            [](PyRC2& self, py::object src, py::object dst, const std::string& form, bool allow_trailing_zeros) {
                return FileCall(self, src, dst, form, allow_trailing_zeros, EncryptFile);
            }, py::arg("src"), py::arg("dst"), py::arg("form") = "raw", py::kw_only(), py::arg("allow_trailing_zeros") = false,
            "Encrypts the file src into dst, streaming, as the ciphertext bytes (form 'raw'), its hex text\n"
            "('hex', as result_hex) or its armoured text ('asc', as encrypt_asc); returns the bytes written.\n"
            "Result is not changed. As the morvik tool, a file ending in zero bytes (which decryption would\n"
            "remove) raises ValueError and writes nothing, unless allow_trailing_zeros=True.")
        .def("decrypt_file",
            [](PyRC2& self, py::object src, py::object dst, const std::string& form, bool exact_input) {
                return FileCall(self, src, dst, form, exact_input, DecryptFile);
            }, py::arg("src"), py::arg("dst"), py::arg("form") = "raw", py::kw_only(), py::arg("exact_input") = false,
            "Decrypts the file src, a ciphertext in the given form (as decrypt, decrypt_hex or decrypt_asc\n"
            "read it), into dst, streaming; returns the bytes written. Result is not changed. As the morvik\n"
            "tool, one final line break of a hex or armoured file is dropped unless exact_input=True.");

    m.def("encrypt", [](py::object data, py::object key, py::object bits, const std::string& form, bool allow_zeros) {
        return OneShot(true, data, key, bits, form, allow_zeros);
    }, py::arg("data"), py::arg("key"), py::kw_only(), py::arg("effective_key_length") = 0, py::arg("form") = "raw",
       py::arg("allow_trailing_zeros") = false,
       "Strict one-shot encryption: the ciphertext of `data` with `key` (1..128 bytes) and\n"
       "effective_key_length (0..1024), as bytes (form 'raw') or as hex or armoured text (str).\n"
       "A bad key or length raises ValueError, a wrong type TypeError; so does data ending in zero\n"
       "bytes, which decryption would remove, unless allow_trailing_zeros=True.");
    m.def("decrypt", [](py::object data, py::object key, py::object bits, const std::string& form) {
        return OneShot(false, data, key, bits, form);
    }, py::arg("data"), py::arg("key"), py::kw_only(), py::arg("effective_key_length") = 0, py::arg("form") = "raw",
       "Strict one-shot decryption of a ciphertext (bytes, or hex or armoured text for those forms);\n"
       "returns the plaintext bytes. A bad key or length raises ValueError, a bad ciphertext morvik.Error.");

    m.def("decrypt_many", &DecryptMany, py::arg("values"), py::arg("key"), py::kw_only(),
          py::arg("form") = "asc", py::arg("effective_key_length") = 0, py::arg("errors") = "raise",
          "Strict batch decryption: each of `values` (str or bytes-like ciphertexts in `form`, or None) as\n"
          "morvik.decrypt gives it, in one pass through the bulk kernels without the GIL; a list of bytes,\n"
          "None for None. errors='raise' raises morvik.Error for the first value that cannot be decrypted,\n"
          "naming its index; errors='null' gives None for it.");
    m.def("encrypt_many", &EncryptMany, py::arg("values"), py::arg("key"), py::kw_only(),
          py::arg("form") = "asc", py::arg("effective_key_length") = 0, py::arg("allow_trailing_zeros") = false,
          "Strict batch encryption of `values` (str, taken through Windows-1252, or bytes-like; None\n"
          "stays None): ciphertexts as bytes ('raw') or hex or armoured text (str). A plaintext ending in\n"
          "zero bytes, which decryption would not give back, raises ValueError naming its index, unless\n"
          "allow_trailing_zeros=True.");
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
        return ToBytes(Secret{Explaining(Form::Asc, asc.s, [&] { return morvik::BlindAscii::Asc2Full(asc.s); })}.s);
    }, py::arg("text"), "Bytes of armoured text; raises morvik.Error 6 or 5 for malformed text.");
}
