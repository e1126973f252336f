// Per-record mode. In process: the table of cases in data/records.vec fed in
// pieces of every small size, the record limit, and quoting against reading.
// The built tool: every form and direction in line and CSV mode against the
// RC2 object's members called one record at a time, records across the
// tool's read size, --keep-going, every refusal with its status, and memory.
#include <gtest/gtest.h>


#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <morvik/cp1252.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>

#include "cli/front.h"
#include "cli/records.h"
#include "run_tool.h"
#include "tests/support/vec.h"


namespace {

namespace fs = std::filesystem;
using morvik::test::Slurp;
using morvik::test::Spit;
namespace hex = morvik::hex;
using morvik::RC2;
using namespace morvik::cli;

constexpr std::size_t kBuffer = 64 * 1024;  // the tool's read size

// ---- The table -------------------------------------------------------------------

// Stands in for the cipher; see the table's head.
class HexTransform final : public RecordTransform {
public:
    HexTransform(bool reading, bool plaintexts) : reading_(reading), plaintexts_(plaintexts) {}
    std::string Apply(std::string_view record) override {
        if (!record.empty() && record[0] == '!') throw morvik::Error(morvik::ErrorNumber::InvalidArgument);
        return reading_ ? hex::Read(record) : hex::Write(record);
    }
    bool MayBreakLines() const override { return reading_; }
    bool TakesPlaintexts() const override { return plaintexts_; }
    std::optional<std::size_t> ResultSize(std::string_view record) const override {
        return plaintexts_ ? std::optional<std::size_t>(2 * record.size()) : std::nullopt;
    }

private:
    bool reading_, plaintexts_;
};

struct EngineRun {
    std::string out, error;
    bool        finished = false;
    std::size_t reported = 0;  // lines on standard error
};

EngineRun Engine(const RecordOptions& options, bool reading, std::string_view input, std::size_t piece,
                 bool plaintexts = false, std::size_t limit = kMaxRecordSize) {
    HexTransform transform(reading, plaintexts);
    StringSink sink;
    EngineRun run;
    testing::internal::CaptureStderr();
    try {
        RecordEngine engine(transform, sink, options, "test: ", limit);
        for (std::size_t at = 0; at < input.size(); at += piece) engine.Feed(input.substr(at, piece));
        engine.Finish();
    } catch (const Failure& f) {
        run.error = f.what();
    }
    const std::string err = testing::internal::GetCapturedStderr();
    run.reported = static_cast<std::size_t>(std::count(err.begin(), err.end(), '\n'));
    run.out = sink.data;
    run.finished = sink.finished;
    return run;
}

TEST(RecordTable, EveryCaseInPiecesOfEverySize) {
    int count = 0;
    for (const auto& c : morvik::test::ReadVecFile(MORVIK_TEST_DATA "/records.vec")) {
        const auto& t = c.fields;
        const std::string line = c.Where();
        ASSERT_TRUE(t.size() == 6 || (t.size() == 8 && t[6] == "error")) << line;
        RecordOptions options;
        options.lines = t[0] == "lines";
        if (!options.lines) options.csv = t[1];
        options.delimiter = t[2] == "-" ? "," : t[2];
        options.header = t[3].find('h') != std::string::npos;
        options.keep_going = t[3].find('k') != std::string::npos;
        if (t[3].find('K') != std::string::npos) options.on_error = "keep";
        const bool reading = t[3][0] == '<';
        const std::string& input = t[4];
        const std::string expected_error = t.size() == 8 ? t[7] : "";
        for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{5},
                                        std::size_t{8}, std::max<std::size_t>(input.size(), 1)}) {
            const std::string what = line + " [pieces of " + std::to_string(piece) + "]";
            const EngineRun run = Engine(options, reading, input, piece, t[3].find('P') != std::string::npos);
            if (expected_error.empty()) {
                EXPECT_EQ(run.error, "") << what;
            } else {
                EXPECT_NE(run.error.find(expected_error), std::string::npos) << what << "\n" << run.error;
            }
            if (t[5] != "-") {
                EXPECT_EQ(run.out, t[5]) << what;
                EXPECT_TRUE(run.finished) << what;  // --keep-going finishes the output, then fails
            } else {
                EXPECT_FALSE(run.finished) << what;
            }
            if (options.Bad() != RecordOptions::OnError::Stop) {
                EXPECT_EQ(run.reported, std::stoul(expected_error)) << what;
            }
        }
        ++count;
    }
    EXPECT_GE(count, 68);
}

// A result is refused when the readers would refuse to read it again, as
// decryption reads it: the line, or the row with its other fields (and the
// quotes a result may need), at most the limit.
TEST(RecordTable, AResultTooLongToReadBackIsRefused) {
    const struct {
        bool        lines;
        std::string input, out, error;  // out "-": the run stops; error "": none
    } cases[] = {
        {true, "abcde\nx\n", "6162636465\n78\n", ""},
        {true, "x\nabcdef\n", "-", "line 2: its result would be 12 bytes long, longer than 10 bytes"},
        {false, "a,bcd\n", "a,626364\n", ""},
        {false, "ab,bcde\n", "-", "row 1 (line 1), column 2: its result would be 11 bytes long"},
        {false, "\"a\"\"\",bcd\n", "-", "row 1 (line 1), column 2: its result would be 12 bytes long"},
        {false, "\"a\"\"\",b\n", "\"a\"\"\",62\n", ""},
    };
    for (const auto& c : cases) {
        RecordOptions options;
        options.lines = c.lines;
        if (!c.lines) options.csv = "2";
        const EngineRun run = Engine(options, false, c.input, c.input.size(), true, 10);
        EXPECT_NE(run.error.find(c.error), std::string::npos) << c.input << "\n" << run.error;
        if (c.error.empty()) {
            EXPECT_EQ(run.error, "") << c.input;
        }
        if (c.out != "-") {
            EXPECT_EQ(run.out, c.out) << c.input;
        }
    }
    // With a delimiter the result holds, its quotes count: "6162" quoted is 6.
    RecordOptions options;
    options.csv = "2";
    options.delimiter = "6";
    EXPECT_EQ(Engine(options, false, "kl6ab\n", 7, true, 8).error,
              "row 1 (line 1), column 2: its result would be 9 bytes long, longer than 8 bytes, the longest record "
              "the tool reads: it could not be read back");
    EXPECT_EQ(Engine(options, false, "k6ab\n", 6, true, 8).out, "k6\"6162\"\n");
}

// The length of every record's ciphertext, known before encrypting it, is
// what the object's members give.
TEST(RecordTable, CiphertextTextSizeIsTheMembersOwn) {
    RC2 rc2;
    rc2.Key("size");
    for (std::size_t n = 0; n <= 50; ++n) {
        std::string plain(n, 'p'), again = plain;
        EXPECT_EQ(CiphertextTextSize(n, false), rc2.EncryptAsc(plain).size()) << n;
        rc2.Encrypt(again);
        EXPECT_EQ(CiphertextTextSize(n, true), rc2.ResultHex().size()) << n;
    }
    // The longest plaintext lines whose ciphertext decryption still reads.
    EXPECT_EQ(CiphertextTextSize(kMaxRecordSize / 2, true), kMaxRecordSize);
    EXPECT_GT(CiphertextTextSize(kMaxRecordSize / 2 + 1, true), kMaxRecordSize);
    EXPECT_EQ(CiphertextTextSize(kMaxRecordSize / 4 * 3 - 8, false), kMaxRecordSize - 7);
    EXPECT_GT(CiphertextTextSize(kMaxRecordSize / 4 * 3 - 7, false), kMaxRecordSize);
}

// ---- Readers ------------------------------------------------------------------------

struct Lines final : LineSplitter::Handler {
    void Line(std::string_view text, std::string_view ending) override {
        got.push_back(std::string(text) + "|" + std::string(ending == "\r\n" ? "CRLF" : ending == "\n" ? "LF" : ""));
    }
    std::vector<std::string> got;
};

struct Rows final : CsvReader::Handler {
    void Row(std::string_view bytes, std::span<const CsvField> fields, std::string_view) override {
        std::vector<std::string> row;
        for (const auto& f : fields) row.push_back(CsvReader::Value(bytes, f));
        got.push_back(row);
    }
    std::vector<std::vector<std::string>> got;
};

template <typename Reader>
std::string FeedAll(Reader& reader, const std::vector<std::string>& pieces) {
    try {
        for (const auto& p : pieces) reader.Feed(p);
        reader.Finish();
    } catch (const Failure& f) {
        EXPECT_EQ(f.status(), Exit::Io);
        return f.what();
    }
    return "";
}

// A record may be as long as the limit, its line break besides, however the
// pieces cut it; one byte more is an error that names it.
TEST(RecordLimit, UpToTheLimitAndNoFurther) {
    constexpr std::size_t kLimit = 10;
    const std::string ten(kLimit, 'x'), eleven(kLimit + 1, 'x');
    const struct {
        std::vector<std::string> pieces;
        std::string              error;  // "" for none
    } lines[] = {
        {{"a\n", ten, "\r", "\n"}, ""},
        {{"a\n" + ten + "\r\n"}, ""},
        {{"a\n", ten}, ""},
        {{"a\n", ten.substr(0, 5), ten.substr(5) + "\n"}, ""},
        {{"a\n", eleven + "\n"}, "line 2 is longer than 10 bytes"},
        {{"a\n", eleven}, "line 2 is longer than 10 bytes"},
        {{"a\n", ten, "x", "\n"}, "line 2 is longer than 10 bytes"},
        {{"a\n", ten, "\rx\n"}, "line 2 is longer than 10 bytes"},
    };
    for (const auto& c : lines) {
        Lines got;
        LineSplitter splitter(got, kLimit);
        EXPECT_NE(FeedAll(splitter, c.pieces).find(c.error), std::string::npos) << c.pieces.back();
        if (c.error.empty()) {
            EXPECT_EQ(got.got.size(), 2u);
        }
    }
    const struct {
        std::vector<std::string> pieces;
        std::string              error;
    } rows[] = {
        {{"a\n\"12345", "678\"\r\n"}, ""},
        {{"a\n", "12345,789\r", "\n"}, ""},
        {{"a\n", "12345,78901\n"}, "row 2 (line 2) is longer than 10 bytes"},
        {{"a\n\"1\n345", "6789\"\n"}, "row 2 (line 2) is longer than 10 bytes"},
        {{"a\n", "1234567890", "1"}, "row 2 (line 2) is longer than 10 bytes"},
    };
    for (const auto& c : rows) {
        Rows got;
        CsvReader reader(got, ',', kLimit);
        EXPECT_NE(FeedAll(reader, c.pieces).find(c.error), std::string::npos) << c.pieces.back();
        if (c.error.empty()) {
            EXPECT_EQ(got.got.size(), 2u);
        }
    }
    // Fields, too, are bounded: their spans would outgrow the row's bytes.
    for (const std::size_t fields : {CsvReader::kMaxFields, CsvReader::kMaxFields + 1}) {
        Rows got;
        CsvReader reader(got, ';');
        const std::string error = FeedAll(reader, {"a\n" + std::string(fields - 1, ';') + "\n"});
        if (fields == CsvReader::kMaxFields) {
            EXPECT_EQ(error, "");
            ASSERT_EQ(got.got.size(), 2u);
            EXPECT_EQ(got.got[1].size(), fields);
        } else {
            EXPECT_EQ(error, "row 2 (line 2) has more than 1048576 fields, the most the tool reads");
        }
    }
}

// Whatever a field holds, written and read again it is the same field.
TEST(CsvQuoting, WrittenFieldsReadBackUnchanged) {
    std::mt19937_64 rng(4180);
    const char alphabet[] = "a,;\t\"\r\n x";
    for (const char delimiter : {',', ';', '\t'}) {
        for (int round = 0; round < 2000; ++round) {
            std::vector<std::string> row(1 + rng() % 4);
            std::string text;
            for (std::size_t i = 0; i < row.size(); ++i) {
                for (std::size_t n = rng() % 6; n > 0; --n) row[i] += alphabet[rng() % (sizeof alphabet - 1)];
                if (i > 0) text += delimiter;
                CsvReader::AppendField(row[i], delimiter, text);
            }
            text += rng() % 2 ? "\r\n" : "\n";
            Rows got;
            CsvReader reader(got, delimiter);
            ASSERT_EQ(FeedAll(reader, {text}), "") << text;
            // A row of one empty field is a blank line, which holds no field.
            const auto expected = row.size() == 1 && row[0].empty() ? std::vector<std::string>{} : row;
            ASSERT_EQ(got.got, std::vector<std::vector<std::string>>{expected}) << text;
        }
    }
}

// ---- The tool --------------------------------------------------------------------------

struct Result {
    int         status = -1;
    std::string out, err;
};

class Records : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = morvik::test::MakeTempDir("morvik-records");
        rc2_.EffectiveKeyLength(77);
        rc2_.Key(kKey);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Path(const std::string& name) const { return dir_ / name; }
    fs::path File(const std::string& name, std::string_view data) const {
        Spit(Path(name), data);
        return Path(name);
    }

    // The tool with the test's key, `input` on standard input.
    Result Morvik(std::vector<std::string> args, std::string_view input = {},
                  const std::vector<std::string>& env = {}, const std::vector<std::string>& wrapper = {}) {
        if (args.size() > 0 && (args[0] == "encrypt" || args[0] == "decrypt") && env.empty()) {
            args.insert(args.begin() + 1, {"--bits", "77", "--key-hex", hex::Write(kKey)});
        }
        File(".in", input);
        std::vector<std::string> argv_s = wrapper;
        const std::vector<std::string> tool = morvik::test::ToolCommand(MORVIK_TOOL);
        argv_s.insert(argv_s.end(), tool.begin(), tool.end());
        argv_s.insert(argv_s.end(), args.begin(), args.end());
        Result r;
        r.status = morvik::test::RunProgram(argv_s, Path(".in"), Path(".out"), Path(".err"), env);
        EXPECT_NE(r.status, -1) << "cannot start " << argv_s[0];
        r.out = Slurp(Path(".out"));
        r.err = Slurp(Path(".err"));
        return r;
    }

    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            if (e.path().filename().string()[0] != '.' || e.path().filename().string().find("morvik") != std::string::npos)
                names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // The object's members, one record at a time.
    std::string Encrypted(const std::string& plain, const std::string& form) {
        std::string text = plain;
        if (form == "asc") return rc2_.EncryptAsc(text);
        rc2_.Encrypt(text);
        return rc2_.ResultHex();
    }
    std::string Decrypted(const std::string& cipher, const std::string& form) {
        return form == "asc" ? rc2_.DecryptAsc(cipher) : rc2_.DecryptHex(cipher);
    }

    static inline const std::string kKey = "record key\x01\xfe";
    fs::path dir_;
    RC2 rc2_;
};

void Succeeded(const Result& r, const std::string& what) {
    EXPECT_EQ(r.status, 0) << what << ": " << r.err;
    EXPECT_EQ(r.err, "") << what;
}

// Written independently of the tool's writer: quotes around anything that
// holds a delimiter, a quote or a line break, or has blanks at either end.
std::string CsvField(const std::string& v, char delimiter) {
    const bool blank_ends = !v.empty() && (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t');
    if (v.find_first_of(std::string("\"\r\n") + delimiter) == std::string::npos && !blank_ends) return v;
    std::string q = "\"";
    for (char c : v) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// Plaintexts of every length class: empty, short, whole blocks, blocks and a
// tail, zero bytes at the end (which decryption drops), bytes above 0x7F.
const std::vector<std::string> kPlains = {
    "", "a", "abcdefg", "abcdefgh", "abcdefghi", "Grüße \x80\xff", std::string("zero\0\0", 6),
    "a somewhat longer plaintext of 40 bytes.", "   spaces   ", "1234567812345678"};

TEST_F(Records, LinesEveryFormAndDirectionAreTheObjectsMembers) {
    for (const std::string form : {"asc", "hex"}) {
        for (const std::string ending : {"\n", "\r\n"}) {
            for (const std::string last : {"with", "without", "then empty"}) {
                std::string plain_file, cipher_file, back_file;
                for (const auto& p : kPlains) {
                    plain_file += p + ending;
                    cipher_file += Encrypted(p, form) + ending;
                    std::string stripped = p;
                    stripped.erase(stripped.find_last_not_of('\0') + 1);
                    back_file += stripped + ending;
                }
                if (last == "without") {
                    for (std::string* f : {&plain_file, &cipher_file, &back_file}) f->resize(f->size() - ending.size());
                } else if (last == "then empty") {
                    for (std::string* f : {&plain_file, &cipher_file, &back_file}) *f += ending;
                }
                const std::string what = form + " " + hex::Write(ending) + " " + last;
                Result r = Morvik({"encrypt", "--lines", "--allow-trailing-zeros", "--form", form}, plain_file);
                Succeeded(r, what);
                EXPECT_EQ(r.out, cipher_file) << what;
                r = Morvik({"decrypt", "--lines", "--form", form}, cipher_file);
                Succeeded(r, what);
                EXPECT_EQ(r.out, back_file) << what;
                // Decryption of every line equals the member's own answer.
                std::istringstream lines(cipher_file);
                std::string expected;
                for (std::string l; std::getline(lines, l);) {
                    if (!l.empty() && l.back() == '\r') l.pop_back();
                    expected += Decrypted(l, form);
                }
                std::string got = r.out;
                std::erase(got, '\n'), std::erase(got, '\r');
                EXPECT_EQ(got, expected) << what;
            }
        }
    }
}

TEST_F(Records, CsvEveryFormAndDirectionAreTheObjectsMembers) {
    // Plaintexts that need quoting too: delimiters, quotes and line breaks.
    std::vector<std::string> plains = kPlains;
    for (const char* p : {"a,b", "semi;colon", "tab\there", "say \"hi\"", "two\nlines", "cr\r\nlf", "bare\rcr", "\"", ","})
        plains.push_back(p);
    for (const std::string form : {"asc", "hex"}) {
        for (const char delimiter : {',', ';', '\t'}) {
            for (const std::string ending : {"\n", "\r\n"}) {
                const std::string d(1, delimiter);
                std::string plain_csv = "id" + d + "secret" + d + "note" + ending, cipher_csv = plain_csv,
                            back_csv = plain_csv;
                int id = 0;
                for (const auto& p : plains) {
                    const std::string left = std::to_string(++id) + d, right = d + "\"kept " + d + " \"\"as is\"\"\"" + ending;
                    std::string stripped = p;
                    stripped.erase(stripped.find_last_not_of('\0') + 1);
                    plain_csv += left + CsvField(p, delimiter) + right;
                    cipher_csv += left + CsvField(Encrypted(p, form), delimiter) + right;
                    back_csv += left + CsvField(stripped, delimiter) + right;
                }
                const std::string what = form + " " + hex::Write(d) + " " + hex::Write(ending);
                const std::string delim_arg = delimiter == '\t' ? "tab" : d;
                Result r = Morvik({"encrypt", "--allow-trailing-zeros", "--form", form, "--csv", "secret", "--header",
                                   "--delimiter", delim_arg},
                                  plain_csv);
                Succeeded(r, what);
                EXPECT_EQ(r.out, cipher_csv) << what;
                r = Morvik({"decrypt", "--form", form, "--csv", "2", "--header", "--delimiter", delim_arg}, cipher_csv);
                Succeeded(r, what);
                EXPECT_EQ(r.out, back_csv) << what;
            }
        }
    }
}

// Records that begin in one read and end in another, a line break split
// between two reads, and a record several reads long.
TEST_F(Records, RecordsAcrossTheReadSize) {
    std::mt19937_64 rng(12);
    std::vector<std::string> plains;
    std::string plain_file;
    auto add = [&](std::string p, const std::string& ending) {
        plain_file += p + ending;
        plains.push_back(std::move(p));
    };
    while (plain_file.size() < kBuffer - 40) add(std::string(rng() % 30, 'a' + rng() % 26), "\n");
    add(std::string(kBuffer - 1 - plain_file.size(), 'c'), "\r\n");  // the CR ends the first read
    add(std::string(3 * kBuffer + 5, 'L'), "\n");
    while (plain_file.size() < 6 * kBuffer) add(std::string(rng() % 100, 'a' + rng() % 26), rng() % 2 ? "\n" : "\r\n");
    ASSERT_EQ(plain_file[kBuffer - 1], '\r');
    for (const std::string form : {"asc", "hex"}) {
        std::string expected;
        std::size_t at = 0;
        for (const auto& p : plains) {
            at += p.size();
            const std::string ending = plain_file[at] == '\r' ? "\r\n" : "\n";
            at += ending.size();
            expected += Encrypted(p, form) + ending;
        }
        File("plain", plain_file);
        Result r = Morvik({"encrypt", "--lines", "--form", form, Path("plain").string(), "-o", Path("cipher").string()});
        Succeeded(r, form);
        const std::string cipher = Slurp(Path("cipher"));
        EXPECT_TRUE(cipher == expected) << form;
        r = Morvik({"decrypt", "--lines", "--form", form, Path("cipher").string()});
        Succeeded(r, form);
        EXPECT_TRUE(r.out == plain_file) << form;
        // The same records as the one column of a CSV file.
        r = Morvik({"decrypt", "--csv", "1", "--form", form, Path("cipher").string()});
        Succeeded(r, form);
        EXPECT_TRUE(r.out == plain_file) << form;
    }
}

TEST_F(Records, KeepGoingReportsEveryBadRecordAndEndsWithTheFirstStatus) {
    const std::string good = Encrypted("fine", "asc"), breaks = Encrypted("two\nlines", "asc");
    // Line 2: tail mark 'J' (status 6); 4: 3 bytes (5); 5: a line break (7).
    const std::string input = good + "\nmd9J\n" + good + "\nmd9J0\n" + breaks + "\n\n" + good + "\n";
    Result r = Morvik({"decrypt", "--lines", "--keep-going", "-", "-o", Path("out").string()}, input);
    EXPECT_EQ(r.status, 6) << r.err;
    EXPECT_EQ(Slurp(Path("out")), "fine\n\nfine\n\n\n\nfine\n");
    std::vector<std::string> err;
    std::istringstream lines(r.err);
    for (std::string l; std::getline(lines, l);) err.push_back(l);
    ASSERT_EQ(err.size(), 4u) << r.err;
    EXPECT_EQ(err[0].rfind("morvik decrypt: line 2: armoured text: the tail mark 'J'", 0), 0u) << err[0];
    EXPECT_EQ(err[1].rfind("morvik decrypt: line 4: the ciphertext decoded from the armoured text is 3 bytes", 0), 0u)
        << err[1];
    EXPECT_EQ(err[2].rfind("morvik decrypt: line 5: the plaintext holds a line break", 0), 0u) << err[2];
    EXPECT_EQ(err[3], "morvik decrypt: 3 of 7 records failed (the first: line 2); their lines were written empty");

    // Without it the first bad record stops the run, and no file is left.
    fs::remove(Path("out"));
    r = Morvik({"decrypt", "--lines", "-o", Path("out").string()}, input);
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.err.rfind("morvik decrypt: line 2: armoured text: the tail mark 'J'", 0), 0u) << r.err;
    EXPECT_EQ(Listing(), std::vector<std::string>{});

    // In CSV mode the plaintext with a line break is no error at all.
    const std::string csv = "1," + good + "\n2,md9J0\n3," + breaks + "\n4,md9J\n";
    r = Morvik({"decrypt", "--csv", "2", "--keep-going"}, csv);
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_EQ(r.out, "1,fine\n2,\n3,\"two\nlines\"\n4,\n");
    EXPECT_NE(r.err.find("morvik decrypt: row 2 (line 2), column 2: the ciphertext decoded"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("morvik decrypt: row 4 (line 4), column 2: armoured text"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 of 4 records failed (the first: row 2 (line 2), column 2); their fields were written empty"),
              std::string::npos)
        << r.err;
}

TEST_F(Records, EveryRefusalHasItsStatus) {
    const std::string breaks = Encrypted("a\r\nb", "hex");
    const struct {
        std::vector<std::string> args;
        std::string              input;
        int                      status;
        std::string              message;
    } cases[] = {
        {{"encrypt", "--lines", "--form", "raw"}, "a", 2, "--lines: records hold text, so the ciphertext is hex or asc"},
        {{"decrypt", "--csv", "1", "--form", "raw"}, "a", 2, "--csv: records hold text"},
        {{"decrypt", "--csv", "0"}, "", 2, "--csv 0: columns are counted from 1"},
        {{"decrypt", "--csv", "name"}, "", 2, "--csv 'name': a column is chosen by name only with --header"},
        {{"decrypt", "--csv", "1", "--delimiter", "\""}, "", 2, "--delimiter '\"': give one ASCII character"},
        {{"decrypt", "--csv", "1", "--delimiter", ",,"}, "", 2, "--delimiter ',,'"},
        {{"decrypt", "--keep-going"}, "", 2, "--keep-going works only with --lines or --csv"},
        {{"decrypt", "--lines", "--csv", "1"}, "", 2, "excludes"},
        {{"decrypt", "--header"}, "", 2, "requires --csv"},
        {{"decrypt", "--csv", "x", "--header"}, "a,b\n", 2, "--csv 'x': the header row has no column of that name"},
        {{"decrypt", "--form", "hex", "--lines"}, "\n" + breaks + "\n", 7,
         "morvik decrypt: line 2: the plaintext holds a line break (byte 0x0D at byte 2), so it cannot be one line; "
         "--csv 1 writes such plaintexts whole, in quotes"},
        {{"decrypt", "--form", "hex", "--lines"}, "00112233445566\n", 5,
         "line 1: the ciphertext read from the hex text is 7 bytes long, not a multiple of 8"},
        {{"decrypt", "--csv", "2"}, "a,b\nc,\"d\"e\n", 4, "row 2 (line 2), column 2: 'e' follows the closing quote"},
        {{"decrypt", "--csv", "2"}, "a,b\nc\n", 4, "row 2 (line 2), column 2: the row has only 1 field"},
        {{"encrypt", "--csv", "1"}, "\"open\n", 4, "row 1 (line 1), column 1: the quoted field is still open"},
        {{"decrypt", "--lines"}, "\xEF\xBB\xBF" + Encrypted("abc", "asc") + "\n", 5,
         "line 1: the ciphertext decoded from the armoured text is 11 bytes long, not a multiple of 8: the block at "
         "byte offset 8 has only 3 bytes (the record begins with a UTF-8 byte order mark, which counts as part of it)"},
        {{"decrypt", "--csv", "1"}, "\xEF\xBB\xBF" + Encrypted("abc", "asc") + ",x\n", 5,
         "row 1 (line 1), column 1: the ciphertext decoded from the armoured text is 11 bytes long"},
        // What decryption would not give back is refused as it is encrypted.
        {{"encrypt", "--lines"}, std::string("abc\0\nx\n", 7), 7,
         "morvik encrypt: line 1: the plaintext ends in 1 zero byte, which decryption would remove: the ciphertext "
         "would not give it back whole (--allow-trailing-zeros encrypts it anyway)"},
        {{"encrypt", "--csv", "v", "--header", "--form", "hex"}, std::string("id,v\n1,\"a\0\0\"\n", 14), 7,
         "morvik encrypt: row 2 (line 2), column 2: the plaintext ends in 2 zero bytes"},
        {{"encrypt", "--lines"}, "ok\nmid\rdle\n", 7,
         "morvik encrypt: line 2: the plaintext holds a line break (byte 0x0D at byte 4), so it cannot be one line: "
         "decrypting its line could not give it back"},
        {{"encrypt", "--csv", "a", "--header"}, "a,b,a\n1,2,3\n", 2,
         "--csv 'a': the header row has more than one column of that name (columns 1 and 3); give the column's "
         "number"},
    };
    for (const auto& c : cases) {
        std::string what;
        for (const auto& a : c.args) what += a + " ";
        const Result r = Morvik(c.args, c.input);
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << what << "\n" << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << what << ": one line\n" << r.err;
    }
}

// What encryption writes, decryption gives back: records it could not are
// reported and skipped with --keep-going, and a lone empty field stays a row.
TEST_F(Records, EncryptedRecordsComeBack) {
    Result r = Morvik({"encrypt", "--lines", "--keep-going"}, "a\rb\n" + std::string("z\0", 2) + "\nc\n");
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, "\n\n" + Encrypted("c", "asc") + "\n");
    EXPECT_NE(r.err.find("morvik encrypt: line 1: the plaintext holds a line break"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("morvik encrypt: line 2: the plaintext ends in 1 zero byte"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 of 3 records failed (the first: line 1); their lines were written empty"),
              std::string::npos)
        << r.err;

    // Python's csv reads an empty line as no row at all, and pandas skips it.
    const std::string csv = "\"\"\n\"x\"\r\n\"\"";
    r = Morvik({"encrypt", "--csv", "1"}, csv);
    Succeeded(r, "empty field");
    EXPECT_EQ(r.out, "\"\"\n" + Encrypted("x", "asc") + "\r\n\"\"");
    r = Morvik({"decrypt", "--csv", "1"}, r.out);
    Succeeded(r, "empty field");
    EXPECT_EQ(r.out, "\"\"\nx\r\n\"\"");
}

// Key sources, --bits, --text and --utf8 as in the whole-input commands.
TEST_F(Records, OptionsWorkPerRecord) {
    // The environment's key and its own --bits.
    RC2 plain_key;
    plain_key.Key("env key");
    std::string abc = "abc";
    const std::string abc_asc = plain_key.EncryptAsc(abc);
    Result r = Morvik({"encrypt", "--lines"}, "abc\n", {"MORVIK_KEY_HEX=" + hex::Write("env key")});
    Succeeded(r, "env");
    EXPECT_EQ(r.out, abc_asc + "\n");

    // --text is one record, line breaks and all.
    r = Morvik({"encrypt", "--lines", "--text", "one\ntwo"});
    Succeeded(r, "--text");
    EXPECT_EQ(r.out, Encrypted("one\ntwo", "asc"));
    r = Morvik({"decrypt", "--lines", "--text", r.out});
    EXPECT_EQ(r.status, 7);
    r = Morvik({"decrypt", "--csv", "1", "--text", Encrypted("one\ntwo", "asc")});
    EXPECT_EQ(r.out, "\"one\ntwo\"");

    // --utf8: each plaintext's Windows-1252 bytes written as UTF-8; the other
    // fields stay as they are.
    const std::string cp = "Gr\xfc\xdf" "e \x80";
    r = Morvik({"decrypt", "--lines", "--utf8"}, Encrypted(cp, "asc") + "\n" + Encrypted("x", "asc") + "\n");
    Succeeded(r, "--utf8");
    EXPECT_EQ(r.out, "Grüße €\nx\n");
    r = Morvik({"decrypt", "--csv", "2", "--utf8"}, "\xfc," + Encrypted(cp, "asc") + "\n");
    EXPECT_EQ(r.out, "\xfc,Grüße €\n");
}

TEST_F(Records, ARecordOverTheLimitIsAnErrorNamingIt) {
    std::string input = "short\n" + std::string(kMaxRecordSize + 1, 'x') + "\n";
    File("big", input);
    Result r = Morvik({"encrypt", "--lines", Path("big").string(), "-o", Path("out").string()});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "morvik encrypt: line 2 is longer than 64 MiB, the longest record the tool reads\n");
    EXPECT_EQ(Listing(), std::vector<std::string>{"big"});
    input.back() = ',';  // one row of 64 MiB and more
    File("big", input.substr(6));
    r = Morvik({"encrypt", "--csv", "1", Path("big").string()});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "morvik encrypt: row 1 (line 1) is longer than 64 MiB, the longest record the tool reads\n");

    // A line whose ciphertext decryption would refuse as too long: hex
    // doubles the 32 MiB and 8 bytes it is filled to.
    File("big", "short\n" + std::string(kMaxRecordSize / 2 + 1, 'x') + "\n");
    const std::string refused = "morvik encrypt: line 2: its result would be 67108880 bytes long, longer than 64 MiB, "
                                "the longest record the tool reads: it could not be read back";
    r = Morvik({"encrypt", "--lines", "--form", "hex", Path("big").string(), "-o", Path("out").string()});
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.err, refused + "\n");
    EXPECT_EQ(Listing(), std::vector<std::string>{"big"});
    r = Morvik({"encrypt", "--lines", "--form", "hex", "--keep-going", Path("big").string()});
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, Encrypted("short", "hex") + "\n\n");
    EXPECT_EQ(r.err.rfind(refused + "\n", 0), 0u) << r.err;
}

// Many records in little memory: nothing grows with their number. GNU time
// measures the tool alone (a child spawned from this process would count the
// memory they shared before its exec).
TEST_F(Records, MemoryDoesNotGrowWithTheRecords) {
#ifdef _WIN32
    GTEST_SKIP() << "the peak measured with GNU time: POSIX only";
#endif
    if (!fs::exists("/usr/bin/time")) GTEST_SKIP() << "GNU time (scripts/setup.sh installs it) is not there";
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "built with AddressSanitizer, whose shadow memory would count";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "built with AddressSanitizer, whose shadow memory would count";
#endif
#endif
    const char* preload = std::getenv("LD_PRELOAD");
    if ((preload && std::strstr(preload, "vgpreload")) || std::getenv("MORVIK_TOOL_WRAPPER"))
        GTEST_SKIP() << "under Valgrind, whose own memory would count";
    std::string cipher;
    const std::string one = Encrypted("sixteen bytes!!!", "asc") + "\n";
    for (int i = 0; i < 400000; ++i) cipher += one;  // 10 MB
    File("many", cipher);
    File("blank", std::string(20 << 20, '\n'));  // rows that hold nothing to decrypt
    for (const char* mode : {"--lines", "--csv", "--csv blank"}) {
        const bool blank = std::string(mode) == "--csv blank";
        std::vector<std::string> args = {"decrypt", blank ? "--csv" : mode, Path(blank ? "blank" : "many").string(),
                                         "-o", "/dev/null"};
        if (std::string(mode) != "--lines") args.insert(args.begin() + 2, "1");
        const Result r = Morvik(args, {}, {}, {"/usr/bin/time", "-f", "%M", "-o", Path(".rss").string()});
        Succeeded(r, mode);
        const long max_rss_kib = std::stol(Slurp(Path(".rss")));
        EXPECT_LT(max_rss_kib, 8 * 1024) << mode;
    }
}

}  // namespace
