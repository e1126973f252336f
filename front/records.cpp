#include <morvik/front/records.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include <morvik/blind_ascii.h>
#include <morvik/code_page.h>
#include <morvik/error.h>

#include <morvik/front/chains.h>
#include <morvik/front/keys.h>

namespace morvik::front {
namespace {

std::string Size(std::size_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return Decimal(bytes >> 20) + " MiB";
    return Decimal(bytes) + " bytes";
}

}  // namespace

// ---- Lines ----------------------------------------------------------------------

void LineSplitter::TooLong() const {
    throw Failure(Exit::Io, "line " + Decimal(number_ + 1) + " is longer than " + Size(limit_) +
                                ", the longest record the tool reads");
}

void LineSplitter::Hold(std::string_view bytes) {
    // One byte more than the limit: the CR of a CRLF that the next piece completes.
    if (carry_.size() + bytes.size() > limit_ + 1) TooLong();
    carry_.append(bytes);
}

void LineSplitter::Feed(std::string_view piece) {
    while (!piece.empty()) {
        const void* lf = std::memchr(piece.data(), '\n', piece.size());
        if (lf == nullptr) {
            Hold(piece);
            return;
        }
        const auto n = static_cast<std::size_t>(static_cast<const char*>(lf) - piece.data());
        std::string_view text = piece.substr(0, n);
        piece.remove_prefix(n + 1);
        if (!carry_.empty()) {
            Hold(text);
            text = carry_;
        }
        const bool crlf = !text.empty() && text.back() == '\r';
        if (crlf) text.remove_suffix(1);
        if (text.size() > limit_) TooLong();
        ++number_;
        handler_.Line(text, crlf ? "\r\n" : "\n");
        carry_.clear();
    }
}

void LineSplitter::Finish() {
    if (carry_.empty()) return;
    if (carry_.size() > limit_) TooLong();
    ++number_;
    handler_.Line(carry_, "");
    carry_.clear();
}

// ---- CSV ------------------------------------------------------------------------

void CsvReader::EndField(std::size_t end, bool quoted) {
    // A row of nothing but delimiters would otherwise take far more memory
    // for its fields than for its bytes.
    if (fields_.size() == kMaxFields)
        throw Failure(Exit::Io, "row " + Decimal(row_ + 1) + " (line " + Decimal(next_line_) +
                                    ") has more than " + Decimal(kMaxFields) + " fields, the most the tool reads");
    fields_.push_back({field_begin_, end, quoted});
}

// The row ends at piece[lf], a line feed; its bytes began at piece[start], after
// whatever carry_ holds from earlier pieces.
void CsvReader::EndRow(std::string_view piece, std::size_t start, std::size_t lf, bool crlf) {
    std::string_view bytes;
    if (carry_.empty()) {
        bytes = piece.substr(start, lf - start);
    } else {
        carry_.append(piece.substr(start, lf - start));
        bytes = carry_;
    }
    if (crlf) bytes.remove_suffix(1);
    ++row_;
    line_ = next_line_;
    if (bytes.size() > limit_)
        throw Failure(Exit::Io, "row " + Decimal(row_) + " (line " + Decimal(line_) +
                                    ") is longer than " + Size(limit_) + ", the longest record the tool reads");
    // Line breaks inside quoted fields move the line count on as well.
    next_line_ = line_ + 1 + static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    if (bytes.empty()) fields_.clear();  // a blank line holds no field, not one empty field
    handler_.Row(bytes, fields_, lf < piece.size() ? std::string_view(crlf ? "\r\n" : "\n") : std::string_view());
    fields_.clear();
    carry_.clear();
    state_ = State::FieldStart;
}

void CsvReader::Malformed(const std::string& what) const {
    throw Failure(Exit::Io, "row " + Decimal(row_ + 1) + " (line " + Decimal(next_line_) +
                                "), column " + Decimal(fields_.size() + 1) + ": " + what +
                                "; the input is not CSV as RFC 4180 writes it");
}

void CsvReader::Feed(std::string_view p) {
    const std::size_t n = p.size();
    std::size_t start = 0;  // where the current row's bytes in p begin
    std::size_t i = 0;
    const auto at = [&](std::size_t index) { return carry_.size() + (index - start); };
    while (i < n) {
        switch (state_) {
        case State::FieldStart:
            field_begin_ = at(i);
            if (p[i] == '"') {
                state_ = State::Quoted;
                ++i;
                break;
            }
            state_ = State::Unquoted;
            [[fallthrough]];
        case State::Unquoted: {
            const char d = delimiter_;
            while (i < n && p[i] != d && p[i] != '\n' && p[i] != '\r') ++i;
            if (i == n) break;
            if (p[i] == d) {
                EndField(at(i), false);
                state_ = State::FieldStart;
                ++i;
            } else if (p[i] == '\n') {
                EndField(at(i), false);
                EndRow(p, start, i, false);
                start = ++i;
            } else {
                state_ = State::CrUnquoted;
                ++i;
            }
            break;
        }
        case State::CrUnquoted:
            if (p[i] == '\n') {
                EndField(at(i) - 1, false);
                EndRow(p, start, i, true);
                start = ++i;
            } else {
                state_ = State::Unquoted;  // a CR of the field's own; look at this byte again
            }
            break;
        case State::Quoted: {
            const void* quote = std::memchr(p.data() + i, '"', n - i);
            if (quote == nullptr) {
                i = n;
                break;
            }
            i = static_cast<std::size_t>(static_cast<const char*>(quote) - p.data()) + 1;
            state_ = State::QuoteSeen;
            break;
        }
        case State::QuoteSeen:
            if (p[i] == '"') {
                state_ = State::Quoted;  // a doubled quote
                ++i;
            } else if (p[i] == delimiter_) {
                EndField(at(i), true);
                state_ = State::FieldStart;
                ++i;
            } else if (p[i] == '\n') {
                EndField(at(i), true);
                EndRow(p, start, i, false);
                start = ++i;
            } else if (p[i] == '\r') {
                state_ = State::CrQuoted;
                ++i;
            } else {
                Malformed(Describe(p[i]) + " follows the closing quote of a field");
            }
            break;
        case State::CrQuoted:
            if (p[i] != '\n') Malformed("a CR without LF follows the closing quote of a field");
            EndField(at(i) - 1, true);
            EndRow(p, start, i, true);
            start = ++i;
            break;
        }
    }
    if (start < n) {
        if (carry_.size() + (n - start) > limit_ + 1)
            throw Failure(Exit::Io, "row " + Decimal(row_ + 1) + " (line " + Decimal(next_line_) +
                                        ") is longer than " + Size(limit_) + ", the longest record the tool reads");
        carry_.append(p.substr(start));
    }
}

void CsvReader::Finish() {
    switch (state_) {
    case State::FieldStart:
        if (carry_.empty()) return;  // the input ended with its last row's line break
        [[fallthrough]];
    case State::Unquoted:
    case State::CrUnquoted:
        field_begin_ = state_ == State::FieldStart ? carry_.size() : field_begin_;
        EndField(carry_.size(), false);
        break;
    case State::QuoteSeen:
        EndField(carry_.size(), true);
        break;
    case State::Quoted:
        Malformed("the quoted field is still open at the end of the input");
    case State::CrQuoted:
        Malformed("a CR without LF follows the closing quote of a field");
    }
    const std::string rest = std::move(carry_);
    carry_.clear();
    EndRow(rest, 0, rest.size(), false);
}

std::string CsvReader::Value(std::string_view bytes, const CsvField& field) {
    std::string_view raw = bytes.substr(field.begin, field.end - field.begin);
    if (!field.quoted) return std::string(raw);
    raw = raw.substr(1, raw.size() - 2);
    std::string value;
    value.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        value += raw[i];
        if (raw[i] == '"') ++i;  // the second of a doubled quote
    }
    return value;
}

void CsvReader::AppendField(std::string_view value, char delimiter, std::string& out) {
    // Spaces at either end need no quotes as RFC 4180 reads, but readers that
    // trim unquoted fields would lose them.
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const bool quote = std::any_of(value.begin(), value.end(),
                                   [delimiter](char c) { return c == delimiter || c == '"' || c == '\r' || c == '\n'; }) ||
                       (!value.empty() && (blank(value.front()) || blank(value.back())));
    if (!quote) {
        out.append(value);
        return;
    }
    out += '"';
    for (const char c : value) {
        out += c;
        if (c == '"') out += '"';
    }
    out += '"';
}

// ---- Options --------------------------------------------------------------------

namespace {

std::optional<std::size_t> ColumnNumber(const std::string& column) {
    if (column.empty() || column.size() > 9 || column.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<std::size_t>(std::stoul(column));
}

char Delimiter(const std::string& text) {
    if (text == "tab" || text == "\\t") return '\t';
    if (text.size() != 1 || static_cast<unsigned char>(text[0]) >= 0x80 || text[0] == '"' || text[0] == '\r' ||
        text[0] == '\n')
        throw Failure(Exit::Usage, "--delimiter " + Quoted(text) +
                                       ": give one ASCII character other than a quote or a line break, or 'tab'");
    return text[0];
}

}  // namespace

void CheckRecordOptions(const RecordOptions& options, bool raw_form) {
    if (!options.Active()) {
        if (options.keep_going) throw Failure(Exit::Usage, "--keep-going works only with --lines or --csv");
        if (options.on_error) throw Failure(Exit::Usage, "--on-error works only with --lines or --csv");
        return;
    }
    if (options.on_error && *options.on_error != "stop" && *options.on_error != "keep" && *options.on_error != "empty")
        throw Failure(Exit::Usage, "--on-error '" + Printable(*options.on_error) + "': it is stop, keep or empty");
    const char* mode = options.lines ? "--lines" : "--csv";
    if (raw_form)
        throw Failure(Exit::Usage, std::string(mode) +
                                       ": records hold text, so the ciphertext is hex or asc, not raw (--form)");
    if (options.csv) {
        const auto number = ColumnNumber(*options.csv);
        if (number == std::size_t{0}) throw Failure(Exit::Usage, "--csv 0: columns are counted from 1");
        if (options.csv->empty()) throw Failure(Exit::Usage, "--csv: give a column's number or name");
        const bool digits = options.csv->find_first_not_of("0123456789") == std::string::npos;
        if (!number && digits && !options.header)
            throw Failure(Exit::Usage, "--csv " + *options.csv + ": the column number is out of range (1 to 999999999)");
        if (!number && !options.header)
            throw Failure(Exit::Usage, "--csv " + Quoted(*options.csv) +
                                           ": a column is chosen by name only with --header; give its number");
        Delimiter(options.delimiter);
    }
}

// ---- Running ----------------------------------------------------------------------

std::size_t CiphertextTextSize(std::size_t n, bool hex) noexcept {
    const std::size_t filled = RC2::FilledSize(n);
    return hex ? 2 * filled : BlindAscii::AscSize(filled);
}

namespace {

// One record through the object's own member, as a caller of the object would
// make the call; every rule (filling, stripping, leniency, errors) is the
// object's.
class RecordCipher final : public RecordTransform {
public:
    RecordCipher(RC2& rc2, const RecordJob& job) : rc2_(rc2), job_(job) {}

    std::string Apply(std::string_view record) override {
        if (job_.encrypting) {
            // A record's character with no byte is the record's error, as
            // the object's own would be.
            if (job_.utf8) text_ = SystemCodePage().FromUtf8(record);
            else text_.assign(record);
            if (!job_.allow_zeros) {
                if (const auto zeros = ZerosAtEnd(text_); zeros > 0) throw TrailingZeros(zeros, "the plaintext");
            }
            if (!job_.hex) return rc2_.EncryptAsc(text_);
            rc2_.Encrypt(text_);
            return rc2_.ResultHex();
        }
        std::string plain = job_.hex ? rc2_.DecryptHex(record) : rc2_.DecryptAsc(record);
        return job_.utf8 ? BytesToUtf8(plain) : plain;
    }

    // The same explanation as the whole-input commands give, from the place
    // the member's error carries: the armour's own, or the ciphertext's.
    std::string Explain(std::string_view, const Error& error) override {
        if (job_.encrypting)
            return error.position().kind == ErrorPosition::Kind::None ? error.what()
                                                                       : front::Explain(error, "the plaintext");
        const auto kind = error.position().kind;
        const bool armour = kind == ErrorPosition::Kind::Group || kind == ErrorPosition::Kind::TailMark;
        return Explained(error, armour     ? "armoured text"
                                : job_.hex ? "the ciphertext read from the hex text"
                                           : "the ciphertext decoded from the armoured text")
            .what();
    }

    bool MayBreakLines() const override { return !job_.encrypting; }
    bool TakesPlaintexts() const override { return job_.encrypting; }

    std::optional<std::size_t> ResultSize(std::string_view record) const override {
        if (!job_.encrypting) return std::nullopt;
        // A code page has one byte for each character: UTF-8 gives as many
        // bytes as it has characters, one lead byte each (text that is not
        // UTF-8 fails in Apply whatever this says).
        const std::size_t bytes =
            job_.utf8 ? static_cast<std::size_t>(std::count_if(record.begin(), record.end(),
                                                               [](char c) { return (c & 0xC0) != 0x80; }))
                      : record.size();
        return CiphertextTextSize(bytes, job_.hex);
    }

private:
    RC2&             rc2_;
    const RecordJob& job_;
    std::string      text_;
};

}  // namespace

// Bad records: the first stops the run, or with --on-error keep or empty
// (--keep-going) each is reported and the run goes on.
class RecordEngine::Verdicts {
public:
    Verdicts(RecordOptions::OnError on_error, std::string prefix) : on_error_(on_error), prefix_(std::move(prefix)) {}

    // Whether a bad record is written unchanged, rather than empty.
    bool Keeps() const { return on_error_ == RecordOptions::OnError::Keep; }

    void Bad(Exit status, const std::string& where, const std::string& message) {
        if (on_error_ == RecordOptions::OnError::Stop) throw Failure(status, where + ": " + message);
        std::cerr << prefix_ << where << ": " << message << '\n';
        if (bad_++ == 0) first_ = status, first_where_ = where;
    }

    void Done(std::uint64_t records, const char* what) const {
        if (bad_ == 0) return;
        throw Failure(first_, Decimal(bad_) + " of " + Decimal(records) + " records failed (the first: " +
                                  first_where_ + "); their " + what + " written " + (Keeps() ? "unchanged" : "empty"));
    }

private:
    RecordOptions::OnError on_error_;
    std::string   prefix_;
    std::uint64_t bad_ = 0;
    Exit          first_ = Exit::Ok;
    std::string   first_where_;
};

// The output, handed on in pieces of about kChunkSize.
class RecordEngine::Job {
public:
    Job(RecordTransform& transform, Sink& out, Verdicts& verdicts, std::size_t limit)
        : transform_(transform), out_(out), verdicts_(verdicts), limit_(limit) {
        buffer_.reserve(2 * kChunkSize);
    }
    virtual ~Job() = default;
    virtual void Feed(std::string_view piece) = 0;
    virtual void Finish() = 0;
    virtual void Whole(std::string_view input) {
        Feed(input);
        Finish();
    }

protected:
    void Maybe() {
        if (buffer_.size() >= kChunkSize) Flush();
    }
    void Flush() {
        out_.Write(buffer_);
        buffer_.clear();
    }
    // A result the readers would refuse to read again, as too long a record,
    // is refused as it is made.
    void Fits(std::size_t size) const {
        if (size > limit_)
            throw Failure(Exit::DataLoss, "its result would be " + Decimal(size) + " bytes long, longer than " +
                                              Size(limit_) + ", the longest record the tool reads: it could not be "
                                                             "read back");
    }

    RecordTransform& transform_;
    Sink&            out_;
    Verdicts&        verdicts_;
    std::size_t      limit_;
    std::string      buffer_;
};

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Editors and scripts on Windows often start a UTF-8 file with a byte order
// mark, which then is the first record's own first three bytes.
std::string MarkHint(std::string_view record) {
    return record.substr(0, 3) == kByteOrderMark
               ? " (the record begins with a UTF-8 byte order mark, which counts as part of it)"
               : "";
}

// A plaintext of one line holds no line break: decryption per line refuses
// one, and so encryption refuses what it could not give back.
std::string LineBreakIn(std::string_view plain, std::size_t brk) {
    return "the plaintext holds a line break (" + Describe(plain[brk]) + " at byte " + Decimal(brk + 1) +
           "), so it cannot be one line";
}

class LineJob final : public RecordEngine::Job, LineSplitter::Handler {
public:
    using Job::Job;

    void Feed(std::string_view piece) override { splitter_.Feed(piece); }
    void Finish() override {
        splitter_.Finish();
        Flush();
        out_.Finish();
        verdicts_.Done(splitter_.Number(), "lines were");
    }

    void Whole(std::string_view input) override {
        Record(input, "", 1, true);
        Flush();
        out_.Finish();
        verdicts_.Done(1, "lines were");
    }

    void Line(std::string_view text, std::string_view ending) override { Record(text, ending, splitter_.Number()); }

private:
    // `whole`: the record is the whole --text, no line of a file, so it may
    // hold line breaks.
    void Record(std::string_view text, std::string_view ending, std::uint64_t number, bool whole = false) {
        const auto hint = [&] { return number == 1 ? MarkHint(text) : std::string(); };
        const auto where = [number] { return "line " + Decimal(number); };
        try {
            if (transform_.TakesPlaintexts() && !whole) {
                // Only a bare CR can be here: a LF ends the line.
                if (const std::size_t brk = text.find_first_of("\r\n"); brk != std::string::npos)
                    throw Failure(Exit::DataLoss,
                                  LineBreakIn(text, brk) + ": decrypting its line could not give it back");
            }
            if (const auto size = transform_.ResultSize(text)) Fits(*size);
            const std::string result = transform_.Apply(text);
            const std::size_t brk = transform_.MayBreakLines() ? result.find_first_of("\r\n") : std::string::npos;
            if (brk != std::string::npos)
                throw Failure(Exit::DataLoss,
                              LineBreakIn(result, brk) + "; --csv 1 writes such plaintexts whole, in quotes");
            buffer_ += result;
        } catch (const Failure& f) {
            verdicts_.Bad(f.status(), where(), f.what());
            if (verdicts_.Keeps()) buffer_ += text;
        } catch (const Error& e) {
            verdicts_.Bad(static_cast<Exit>(e.code()), where(), transform_.Explain(text, e) + hint());
            if (verdicts_.Keeps()) buffer_ += text;
        }
        buffer_ += ending;
        Maybe();
    }

    LineSplitter splitter_{*this, limit_};
};

class CsvJob final : public RecordEngine::Job, CsvReader::Handler {
public:
    CsvJob(RecordTransform& transform, Sink& out, RecordEngine::Verdicts& verdicts, const RecordOptions& options,
           std::size_t limit)
        : Job(transform, out, verdicts, limit), delimiter_(Delimiter(options.delimiter)), header_(options.header),
          name_(*options.csv) {
        if (const auto number = ColumnNumber(name_)) column_ = *number - 1, named_ = false;
    }

    void Feed(std::string_view piece) override { reader_.Feed(piece); }
    void Finish() override {
        reader_.Finish();
        Flush();
        out_.Finish();
        verdicts_.Done(records_, "fields were");
    }

    void Row(std::string_view bytes, std::span<const CsvField> fields, std::string_view ending) override {
        if (header_ && reader_.Number() == 1) {
            if (named_) FindColumn(bytes, fields);
            buffer_.append(bytes).append(ending);
            Maybe();
            return;
        }
        if (fields.empty()) {  // a blank line
            buffer_.append(ending);
            Maybe();
            return;
        }
        ++records_;
        const auto where = [&] {
            return "row " + Decimal(reader_.Number()) + " (line " + Decimal(reader_.Line()) +
                   "), column " + Decimal(column_ + 1);
        };
        if (column_ >= fields.size()) {
            verdicts_.Bad(Exit::Io, where(), "the row has only " + Decimal(fields.size()) +
                                                 (fields.size() == 1 ? " field" : " fields"));
            buffer_.append(bytes).append(ending);
            Maybe();
            return;
        }
        const CsvField& field = fields[column_];
        const std::size_t row_at = buffer_.size();
        buffer_.append(bytes.substr(0, field.begin));
        const std::size_t field_at = buffer_.size();
        const std::string value = CsvReader::Value(bytes, field);
        // The row's bytes around the field, which the result joins.
        const std::size_t around = field.begin + (bytes.size() - field.end);
        try {
            const auto size = transform_.ResultSize(value);
            if (size) Fits(around + *size);
            CsvReader::AppendField(transform_.Apply(value), delimiter_, buffer_);
            if (size) Fits(around + (buffer_.size() - field_at));  // with the quotes it may need
        } catch (const Failure& f) {
            buffer_.resize(field_at);
            verdicts_.Bad(f.status(), where(), f.what());
            if (verdicts_.Keeps()) buffer_.append(bytes.substr(field.begin, field.end - field.begin));
        } catch (const Error& e) {
            verdicts_.Bad(static_cast<Exit>(e.code()), where(),
                          transform_.Explain(value, e) + (reader_.Number() == 1 ? MarkHint(value) : ""));
            if (verdicts_.Keeps()) buffer_.append(bytes.substr(field.begin, field.end - field.begin));  // as it was, quotes and all
        }
        // An empty line is no row to most readers (Python's csv reads [],
        // pandas skips it): a row of one empty field says so in quotes.
        if (fields.size() == 1 && buffer_.size() == row_at) buffer_ += "\"\"";
        buffer_.append(bytes.substr(field.end)).append(ending);
        Maybe();
    }

private:
    void FindColumn(std::string_view bytes, std::span<const CsvField> fields) {
        std::string names;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            std::string value = CsvReader::Value(bytes, fields[i]);
            if (i == 0 && value.substr(0, 3) == kByteOrderMark) value.erase(0, 3);
            if (value == name_ && !named_)
                throw Failure(Exit::Usage, "--csv " + Quoted(name_) + ": the header row has more than one column of that "
                                           "name (columns " + Decimal(column_ + 1) + " and " + Decimal(i + 1) +
                                           "); give the column's number");
            if (value == name_) column_ = i, named_ = false;
            names += (i ? ", " : "") + Quoted(value);
        }
        if (!named_) return;
        throw Failure(Exit::Usage, "--csv " + Quoted(name_) + ": the header row has no column of that name (it has " +
                                       (names.empty() ? std::string("none") : names) + ")");
    }

    char          delimiter_;
    bool          header_;
    std::string   name_;
    bool          named_ = true;
    std::size_t   column_ = 0;
    std::uint64_t records_ = 0;
    CsvReader     reader_{*this, delimiter_};  // after the delimiter, which it reads
};

}  // namespace

RecordEngine::RecordEngine(RecordTransform& transform, Sink& out, const RecordOptions& options, std::string prefix,
                           std::size_t limit)
    : verdicts_(std::make_unique<Verdicts>(options.Bad(), std::move(prefix))) {
    if (options.lines) job_ = std::make_unique<LineJob>(transform, out, *verdicts_, limit);
    else job_ = std::make_unique<CsvJob>(transform, out, *verdicts_, options, limit);
}

RecordEngine::~RecordEngine() = default;

void RecordEngine::Feed(std::string_view piece) { job_->Feed(piece); }
void RecordEngine::Finish() { job_->Finish(); }
void RecordEngine::Whole(std::string_view input) { job_->Whole(input); }

void RunRecords(RC2& rc2, const std::function<std::string_view()>& next, Sink& out, const RecordOptions& options,
                const RecordJob& job, const std::function<void(std::size_t)>& advance,
                const std::function<void()>& ended) {
    RecordCipher cipher(rc2, job);
    RecordEngine engine(cipher, out, options, job.encrypting ? "morvik encrypt: " : "morvik decrypt: ");
    if (job.one_record && options.lines) {
        // The whole text is one record, whatever it holds: as one line with no
        // ending it goes through the same path.
        std::string whole;
        for (std::string_view piece; !(piece = next()).empty();) whole += piece;
        engine.Whole(whole);
        return;
    }
    for (std::string_view piece; !(piece = next()).empty();) {
        engine.Feed(piece);
        if (advance) advance(piece.size());
    }
    if (ended) ended();
    engine.Finish();
}

}  // namespace morvik::front
