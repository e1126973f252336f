// The record readers of the command-line tool, fed the input in pieces cut at
// fuzzed places and with a fuzzed record limit, against a model that reads the
// whole input at once. Both give the same records, or fail at the same record;
// the records put back together are the input.
// Input: mode (bit 0: lines or CSV; bits 1-2: the delimiter), the limit, the
// number of cuts and each piece's length, then the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/front.h"
#include "cli/records.h"
#include "fuzz/input.h"

namespace {

using namespace morvik;
using morvik::fuzz::Check;

struct Record {
    std::string                bytes;
    std::vector<cli::CsvField> fields;
    std::string                ending;
    bool operator==(const Record&) const = default;
};

struct Outcome {
    std::vector<Record> records;
    std::uint64_t       failed_at = 0;  // the record (line or row) that failed, from 1; 0 for none
    std::uint64_t       line = 0;       // CSV: the line that record starts on
    bool                too_long = false;
};

// ---- The model -------------------------------------------------------------------

Outcome ModelLines(std::string_view t, std::size_t limit) {
    Outcome o;
    for (std::size_t start = 0, number = 1; start < t.size(); ++number) {
        const std::size_t lf = t.find('\n', start);
        Record r;
        if (lf == std::string_view::npos) {
            r.bytes = t.substr(start);
            start = t.size();
        } else {
            r.bytes = t.substr(start, lf - start);
            r.ending = "\n";
            if (!r.bytes.empty() && r.bytes.back() == '\r') r.bytes.pop_back(), r.ending = "\r\n";
            start = lf + 1;
        }
        if (r.bytes.size() > limit) {
            o.failed_at = number, o.too_long = true;
            return o;
        }
        o.records.push_back(r);
    }
    return o;
}

Outcome ModelCsv(std::string_view t, char d, std::size_t limit) {
    Outcome o;
    std::uint64_t row = 1, line = 1;
    std::size_t i = 0;
    const std::size_t n = t.size();
    const auto fail = [&](bool too_long) {
        o.failed_at = row, o.line = line, o.too_long = too_long;
        return o;
    };
    while (i < n) {
        const std::size_t start = i;
        Record r;
        for (bool more = true; more;) {
            cli::CsvField f;
            f.begin = i - start;
            if (t[i] == '"') {
                f.quoted = true;
                for (++i;; ++i) {  // ++i: past the second quote of a doubled one
                    const std::size_t q = t.find('"', i);
                    if (q == std::string_view::npos) {
                        // Still open at the end; or too long first, when the pieces tell so.
                        const bool too_long = n - start > limit + 1;
                        return fail(too_long);
                    }
                    i = q + 1;
                    if (i >= n || t[i] != '"') break;
                }
                f.end = i - start;
                if (i == n) {
                    more = false;
                } else if (t[i] == d) {
                    ++i;
                } else if (t[i] == '\n') {
                    r.ending = "\n", ++i, more = false;
                } else if (t[i] == '\r' && i + 1 < n && t[i + 1] == '\n') {
                    r.ending = "\r\n", i += 2, more = false;
                } else {
                    // Malformed; or too long first, when the pieces tell so.
                    const bool too_long = i + 1 - start > limit + 1;
                    return fail(too_long);
                }
            } else {
                std::size_t j = i;
                while (j < n && t[j] != d && t[j] != '\n') ++j;
                f.end = j - start;
                if (j == n) {
                    more = false;
                } else if (t[j] == d) {
                } else if (j > i && t[j - 1] == '\r') {
                    --f.end, r.ending = "\r\n", more = false;
                } else {
                    r.ending = "\n", more = false;
                }
                i = j + (j < n ? 1 : 0);
            }
            r.fields.push_back(f);
            // A row that ends in a delimiter has one more, empty, field.
            if (more && i == n) r.fields.push_back({i - start, i - start, false}), more = false;
        }
        r.bytes = t.substr(start, i - start - r.ending.size());
        if (r.bytes.size() > limit) return fail(true);
        if (r.bytes.empty()) r.fields.clear();
        for (const char c : t.substr(start, i - start)) line += c == '\n';
        o.records.push_back(r);
        ++row;
    }
    return o;
}

// ---- The readers ---------------------------------------------------------------------

struct Collect final : cli::LineSplitter::Handler, cli::CsvReader::Handler {
    void Line(std::string_view text, std::string_view ending) override {
        records.push_back({std::string(text), {}, std::string(ending)});
    }
    void Row(std::string_view bytes, std::span<const cli::CsvField> fields, std::string_view ending) override {
        records.push_back({std::string(bytes), {fields.begin(), fields.end()}, std::string(ending)});
    }
    std::vector<Record> records;
};

template <typename Reader>
bool Read(Reader& reader, const std::vector<std::string_view>& pieces, std::string& error) {
    try {
        for (const std::string_view piece : pieces) reader.Feed(piece);
        reader.Finish();
    } catch (const cli::Failure& f) {
        Check(f.status() == cli::Exit::Io);
        error = f.what();
        return false;
    }
    return true;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    morvik::fuzz::Input in(data, size);
    const std::uint8_t mode = in.Byte();
    const bool csv = mode & 1;
    const char delimiter = ",;\t|"[(mode >> 1) & 3];
    const std::uint8_t limit_byte = in.Byte();
    const std::size_t limit = limit_byte < 128 ? limit_byte : cli::kMaxRecordSize;
    std::vector<std::uint8_t> lengths(in.Byte() % 16);
    for (auto& n : lengths) n = in.Byte();
    const std::string_view text = in.Rest();

    std::vector<std::string_view> pieces;
    std::string_view rest = text;
    for (const std::uint8_t n : lengths) {
        pieces.push_back(rest.substr(0, n));
        rest.remove_prefix(pieces.back().size());
    }
    pieces.push_back(rest);

    Collect got;
    std::string error;
    bool ok;
    Outcome model;
    if (csv) {
        cli::CsvReader reader(got, delimiter, limit);
        ok = Read(reader, pieces, error);
        model = ModelCsv(text, delimiter, limit);
    } else {
        cli::LineSplitter splitter(got, limit);
        ok = Read(splitter, pieces, error);
        model = ModelLines(text, limit);
    }

    Check(got.records == model.records);
    Check(ok == (model.failed_at == 0));
    if (ok) {
        std::string whole;
        for (const auto& r : got.records) {
            whole += r.bytes + r.ending;
            if (!csv || r.fields.empty()) continue;
            // The fields cover the row, a delimiter between each two.
            Check(r.fields.front().begin == 0 && r.fields.back().end == r.bytes.size());
            for (std::size_t k = 1; k < r.fields.size(); ++k)
                Check(r.fields[k].begin == r.fields[k - 1].end + 1 && r.bytes[r.fields[k - 1].end] == delimiter);
            // Every value, written again, reads back the same.
            for (const auto& f : r.fields) {
                const std::string value = cli::CsvReader::Value(r.bytes, f);
                std::string written;
                cli::CsvReader::AppendField(value, delimiter, written);
                Collect again;
                cli::CsvReader reader(again, delimiter);
                std::string unused;
                Check(Read(reader, {written + "\n"}, unused));
                Check(again.records.size() == 1);
                Check(written.empty() ? again.records[0].fields.empty()
                                      : cli::CsvReader::Value(again.records[0].bytes, again.records[0].fields[0]) == value);
            }
        }
        Check(whole == text);
        return 0;
    }
    if (!csv) {
        Check(error == "line " + std::to_string(model.failed_at) + " is longer than " + std::to_string(limit) +
                           " bytes, the longest record the tool reads" ||
              (limit == cli::kMaxRecordSize && Has(error, "line " + std::to_string(model.failed_at) + " is longer")));
        return 0;
    }
    // The same row; a row that is too long and malformed too may be reported
    // as either, depending on where the pieces end.
    Check(Has(error, "row " + std::to_string(model.failed_at) + " (line " + std::to_string(model.line) + ")"));
    Check(model.too_long ? Has(error, "is longer than") || Has(error, "RFC 4180") : Has(error, "RFC 4180"));
    return 0;
}
