// Morvik RC2 fronts — the record engine (the tool's --lines and --csv): every line of the input, or one field of every
// CSV row, is a message of its own, encrypted or decrypted by one call of the
// object's member on it.
//
// The readers hand on whole records and never copy a record that lies inside
// one input piece; a record that spans pieces is gathered in a buffer of at
// most the record limit, so memory stays bounded whatever the number of
// records, and a longer record is an error that names it.
//
//   LineSplitter   lines ended by LF or CRLF; the last may have no ending.
//                  A CR not followed by LF is part of its line.
//   CsvReader      RFC 4180 rows: fields split by one delimiter character,
//                  a field in double quotes may hold delimiters, line breaks
//                  and doubled quotes. Rows end with LF or CRLF outside quotes.
//                  A quote inside an unquoted field is an ordinary character;
//                  anything but a delimiter or a line break after a closing
//                  quote, and a quote still open at the end, are errors.
//                  A row with no bytes at all (a blank line) has no fields.
//                  A row may have up to kMaxFields fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <morvik/error.h>
#include <morvik/rc2.h>

#include <functional>

#include <morvik/front/explain.h>
#include <morvik/front/failure.h>
#include <morvik/front/stages.h>

namespace morvik::front {

inline constexpr std::size_t kMaxRecordSize = std::size_t{64} << 20;

// ---- Readers ------------------------------------------------------------------

class LineSplitter {
public:
    class Handler {
    public:
        virtual ~Handler() = default;
        // `text` excludes the ending: "\n", "\r\n", or "" for a last line
        // without a line break. The views live until the call returns.
        virtual void Line(std::string_view text, std::string_view ending) = 0;
    };

    explicit LineSplitter(Handler& handler, std::size_t limit = kMaxRecordSize) : handler_(handler), limit_(limit) {}

    void Feed(std::string_view piece);
    void Finish();
    // The line being handed on, from 1.
    std::uint64_t Number() const { return number_; }

private:
    void Hold(std::string_view bytes);
    [[noreturn]] void TooLong() const;

    Handler&      handler_;
    std::size_t   limit_;
    std::uint64_t number_ = 0;
    std::string   carry_;  // the start of a line that began in an earlier piece
};

struct CsvField {
    std::size_t begin = 0, end = 0;  // in the row's bytes; a quoted field's span includes its quotes
    bool        quoted = false;
    bool operator==(const CsvField&) const = default;
};

class CsvReader {
public:
    class Handler {
    public:
        virtual ~Handler() = default;
        // `bytes` is the row without its ending ("\n", "\r\n", or "" at the
        // very end); the fields cover it, delimiters between them.
        virtual void Row(std::string_view bytes, std::span<const CsvField> fields, std::string_view ending) = 0;
    };

    static constexpr std::size_t kMaxFields = std::size_t{1} << 20;  // in one row

    CsvReader(Handler& handler, char delimiter, std::size_t limit = kMaxRecordSize)
        : handler_(handler), limit_(limit), delimiter_(delimiter) {}

    void Feed(std::string_view piece);
    void Finish();

    // The row being handed on, from 1, and the line it starts on.
    std::uint64_t Number() const { return row_; }
    std::uint64_t Line() const { return line_; }

    // The text a field stands for: without its quotes, doubled quotes single.
    static std::string Value(std::string_view bytes, const CsvField& field);
    // Appends `value` as a field, in quotes (and its quotes doubled) only when
    // it holds the delimiter, a quote, CR or LF, or begins or ends with a
    // space or a tab.
    static void AppendField(std::string_view value, char delimiter, std::string& out);

private:
    enum class State { FieldStart, Unquoted, CrUnquoted, Quoted, QuoteSeen, CrQuoted };

    void EndField(std::size_t end, bool quoted);
    void EndRow(std::string_view piece, std::size_t start, std::size_t lf, bool crlf);
    [[noreturn]] void Malformed(const std::string& what) const;

    Handler&              handler_;
    std::size_t           limit_;
    char                  delimiter_;
    State                 state_ = State::FieldStart;
    std::size_t           field_begin_ = 0;
    std::vector<CsvField> fields_;
    std::string           carry_;  // the start of a row that began in an earlier piece
    std::uint64_t         row_ = 0;
    std::uint64_t         line_ = 1;
    std::uint64_t         next_line_ = 1;
};

// ---- The command ---------------------------------------------------------------

struct RecordOptions {
    bool                       lines = false;
    std::optional<std::string> csv;  // the column: a number from 1, or a name with header
    bool                       header = false;
    std::string                delimiter = ",";
    bool                       keep_going = false;  // the same as --on-error empty
    std::optional<std::string> on_error;            // stop, keep or empty

    bool Active() const { return lines || csv.has_value(); }
    // What a bad record's field or line becomes: stop the run (the default),
    // keep it unchanged, or write it empty.
    enum class OnError { Stop, Keep, Empty };
    OnError Bad() const {
        if (keep_going || on_error == "empty") return OnError::Empty;
        return on_error == "keep" ? OnError::Keep : OnError::Stop;
    }
};

// Refuses (Exit::Usage) what cannot work per record: the raw form, a bad
// column or delimiter, --keep-going or --on-error without a record mode, an
// --on-error other than stop, keep or empty.
void CheckRecordOptions(const RecordOptions& options, bool raw_form);

// What happens to one record. Apply may throw morvik::Error for a bad record.
class RecordTransform {
public:
    virtual ~RecordTransform() = default;
    virtual std::string Apply(std::string_view record) = 0;
    // The message for a record that Apply refused.
    virtual std::string Explain(std::string_view record, const Error& error) { (void)record; return error.what(); }
    // Whether a result may hold CR or LF, which then cannot be one line.
    virtual bool MayBreakLines() const { return true; }
    // Whether records are plaintexts that the inverse transform must give
    // back (encryption's): in line mode one that holds CR or LF is refused,
    // as the inverse would refuse its result.
    virtual bool TakesPlaintexts() const { return false; }
    // The length of Apply's result for `record`, where it is known before
    // applying it: a result longer than the readers' limit is refused up front.
    virtual std::optional<std::size_t> ResultSize(std::string_view record) const { (void)record; return std::nullopt; }
};

// The length of the ciphertext text (hex, else armoured) that encrypting an
// n-byte plaintext gives.
std::size_t CiphertextTextSize(std::size_t n, bool hex) noexcept;

// The records of an input pushed in pieces of any size, each through the
// transform, into `out`: the output is the input with every record (line, or
// field of the chosen column) replaced by its result. Finish() finishes `out`
// unless a record stopped the run; with --keep-going it finishes `out` and then
// throws the first bad record's status with a count. `prefix` starts the
// lines that --keep-going writes to standard error. `limit` is the longest
// record read, and the longest result of a transform that knows its
// results' lengths (ResultSize) written: what is written can be read again.
class RecordEngine {
public:
    class Job;
    class Verdicts;

    RecordEngine(RecordTransform& transform, Sink& out, const RecordOptions& options, std::string prefix,
                 std::size_t limit = kMaxRecordSize);
    ~RecordEngine();

    void Feed(std::string_view piece);
    void Finish();
    // The whole input at once; in line mode it is then one record, line
    // breaks and all.
    void Whole(std::string_view input);

private:
    std::unique_ptr<Verdicts> verdicts_;
    std::unique_ptr<Job>      job_;
};

struct RecordJob {
    bool encrypting = true;
    bool hex        = false;  // the ciphertext's form: hex, else armoured
    bool utf8       = false;  // each plaintext read (encrypting) or written (decrypting) as UTF-8
    bool one_record = false;  // the input is --text: in line mode one record
    bool allow_zeros = false; // encrypt a plaintext that ends in zero bytes all the same
    bool progress   = true;
};

// Runs the records of the pieces that `next` gives (empty at the end)
// through the object's members into `out`; `advance` hears of each piece.
void RunRecords(RC2& rc2, const std::function<std::string_view()>& next, Sink& out, const RecordOptions& options,
                const RecordJob& job, const std::function<void(std::size_t)>& advance = {},
                const std::function<void()>& ended = {});

}  // namespace morvik::front
