// The built tool, run as a user runs it: known answers, every form both ways,
// every key source, inputs far larger than its buffers, and every error with
// its message and exit status. Expected ciphertexts come from published
// vectors or from the RC2 object in this process, never from the tool.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/kernel.h>
#include <morvik/rc2.h>

#include "run_tool.h"
#include "tests/support/conformance.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace {

namespace fs = std::filesystem;
using morvik::test::Slurp;
using morvik::test::Spit;
using morvik::RC2;
using morvik::BlindAscii;
namespace hex = morvik::hex;

constexpr std::size_t kBuffer = 64 * 1024;  // the tool's piece size

struct Result {
    int         status = -1;
    std::string out, err;
};

class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = morvik::test::MakeTempDir("morvik-cli");
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Path(const std::string& name) const { return dir_ / name; }

    fs::path File(const std::string& name, std::string_view data) const {
        Spit(Path(name), data);
        return Path(name);
    }

#ifndef _WIN32
    // Starts the tool with `input` as its standard input.
    pid_t Start(const std::vector<std::string>& args, int input, const std::vector<std::string>& env = {}) {
        std::vector<std::string> argv = morvik::test::ToolCommand(MORVIK_TOOL);
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t pid = morvik::test::StartProgram(argv, input, Path(".out"), Path(".err"), env);
        EXPECT_NE(pid, -1) << "cannot start " << MORVIK_TOOL;
        return pid;
    }

    Result Wait(pid_t pid) {
        Result r;
        r.status = morvik::test::WaitProgram(pid);
        r.out = Slurp(Path(".out"));
        r.err = Slurp(Path(".err"));
        return r;
    }
#endif

    Result Morvik(const std::vector<std::string>& args, std::string_view input = {},
                  const std::vector<std::string>& env = {}) {
        File(".in", input);
        std::vector<std::string> argv = morvik::test::ToolCommand(MORVIK_TOOL);
        argv.insert(argv.end(), args.begin(), args.end());
        Result r;
        r.status = morvik::test::RunProgram(argv, Path(".in"), Path(".out"), Path(".err"), env);
        EXPECT_NE(r.status, -1) << "cannot start " << MORVIK_TOOL;
        r.out = Slurp(Path(".out"));
        r.err = Slurp(Path(".err"));
        return r;
    }

    // What is left in the working folder besides the tool's own stdio files.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            if (e.path().filename().string()[0] != '.' || e.path().filename().string().find("morvik") != std::string::npos)
                names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string Random(std::size_t n) {
        std::string s(n, '\0');
        for (auto& c : s) c = static_cast<char>(rng_() & 0xFF);
        return s;
    }

    fs::path dir_;
    std::mt19937_64 rng_{42};
};

// The tool refuses to encrypt a plaintext that decryption would not give back
// whole; the object's own behaviour, which these tests compare with, needs
// the flag.
std::vector<std::string> ZerosAllowed(std::string_view plain) {
    if (!plain.empty() && plain.back() == '\0') return {"--allow-trailing-zeros"};
    return {};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Stripped(std::string s) {
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

void Succeeded(const Result& r, const std::string& what) {
    EXPECT_EQ(r.status, 0) << what << ": " << r.err;
    EXPECT_EQ(r.err, "") << what;  // and so no progress line when stderr is not a terminal
}

// ---- Known answers ------------------------------------------------------------

// The table every front runs: rows for the tool read the input from a file
// (standard input), rows for tool-text give it with --text.
TEST_F(Tool, ConformanceTable) {
    int rows = 0;
    for (const auto& c : morvik::test::ReadConformance(MORVIK_SHARED_DATA "/conformance.vec")) {
        const bool text = c.For("tool-text");
        if (!text && !c.For("tool")) continue;
        ++rows;
        std::vector<std::string> args = {c.encrypt ? "encrypt" : "decrypt", "--key-hex", morvik::test::Hex(c.key),
                                         "--bits", std::to_string(c.bits), "--form", c.form};
        if (text) args.insert(args.end(), {"--text", c.input});
        const Result r = Morvik(args, text ? std::string_view() : std::string_view(c.input));
        if (c.error != 0) {
            EXPECT_EQ(r.status, c.error) << c.Where() << ": " << r.err;
            EXPECT_NE(r.err.find(morvik::test::PlaceWords(c)), std::string::npos) << c.Where() << ": " << r.err;
            EXPECT_EQ(r.out, "") << c.Where();
        } else {
            Succeeded(r, c.Where());
            EXPECT_EQ(r.out, c.expected) << c.Where();
        }
    }
    EXPECT_GE(rows, 15);
}

// A key file saved by an editor ends in a line break, which is part of the
// key: the key stays the file's bytes, and the tool says so.
TEST_F(Tool, KeyFileEndingInALineBreakWarns) {
    const fs::path with = File("key.txt", "my key\n"), without = File("key.bin", "my key");
    Result warned = Morvik({"encrypt", "--key-file", with.string(), "--text", "abc"});
    EXPECT_EQ(warned.status, 0) << warned.err;
    EXPECT_NE(warned.err.find("warning: --key-file '" + with.string() + "': the key ends with a line break"),
              std::string::npos) << warned.err;
    RC2 rc2;
    rc2.Key("my key\n");
    std::string abc = "abc";
    EXPECT_EQ(warned.out, rc2.EncryptAsc(abc));
    const Result quiet = Morvik({"encrypt", "--key-file", without.string(), "--text", "abc"});
    Succeeded(quiet, "a key file without a line break");
    EXPECT_NE(quiet.out, warned.out);
}

TEST_F(Tool, Rfc2268Vectors) {
    int count = 0;
    for (const auto& v : morvik::test::ReadVecFile(MORVIK_SHARED_DATA "/rfc2268.vec")) {
        const auto& w = v.fields;
        const std::string line = v.Where();
        ASSERT_EQ(w.size(), 4u) << line;
        const std::string key = w[0], bits = w[1], plain = hex::Read(w[2]), cipher_hex = hex::Write(hex::Read(w[3]));
        Result r = Morvik(std::vector<std::string>{"encrypt", "--form", "hex", "--key-hex", key, "--bits", bits} +
                              ZerosAllowed(plain),
                          plain);
        Succeeded(r, line);
        EXPECT_EQ(r.out, cipher_hex) << line;
        r = Morvik(std::vector<std::string>{"encrypt", "--form", "raw", "--key-hex", key, "--bits", bits} +
                       ZerosAllowed(plain),
                   plain);
        EXPECT_EQ(r.out, hex::Read(cipher_hex)) << line;
        r = Morvik({"decrypt", "--form", "hex", "--key-hex", key, "--bits", bits, "--text", w[3]});
        Succeeded(r, line);
        EXPECT_EQ(r.out, Stripped(plain)) << line;
        ++count;
    }
    EXPECT_EQ(count, 8);
}

// Whole messages whose ciphertexts came from OpenSSL; the COM server's client
// runs the same file.
TEST_F(Tool, MessageVectors) {
    int count = 0;
    for (const auto& v : morvik::test::ReadVecFile(MORVIK_SHARED_DATA "/messages.vec")) {
        const auto& w = v.fields;
        const std::string line = v.Where();
        ASSERT_EQ(w.size(), 5u) << line;
        auto field = [](const std::string& f) { return f == "-" ? std::string() : f; };
        const std::string key = w[0], bits = w[1], plain = hex::Read(field(w[2]));
        const std::string cipher_hex = field(w[3]), cipher_asc = field(w[4]);
        Result r = Morvik(std::vector<std::string>{"encrypt", "--form", "hex", "--key-hex", key, "--bits", bits} +
                              ZerosAllowed(plain),
                          plain);
        Succeeded(r, line);
        EXPECT_EQ(r.out, cipher_hex) << line;
        r = Morvik(std::vector<std::string>{"encrypt", "--form", "asc", "--key-hex", key, "--bits", bits} +
                       ZerosAllowed(plain),
                   plain);
        Succeeded(r, line);
        EXPECT_EQ(r.out, cipher_asc) << line;
        r = Morvik({"decrypt", "--form", "asc", "--key-hex", key, "--bits", bits}, cipher_asc);
        Succeeded(r, line);
        EXPECT_EQ(r.out, Stripped(plain)) << line;
        ++count;
    }
    EXPECT_GE(count, 16);
}

TEST_F(Tool, TextFormVectors) {
    int count = 0;
    for (const auto& v : morvik::test::ReadVecFile(MORVIK_TEST_DATA "/forms.vec")) {
        const auto& w = v.fields;
        const std::string line = v.Where();
        ASSERT_EQ(w.size(), 3u) << line;
        const std::string form = w[0].substr(0, 3), text = w[1], bytes = w[2] == "-" ? "" : hex::Read(w[2]);
        Result r = Morvik({form, "decode", "--text", text});
        Succeeded(r, line);
        EXPECT_EQ(r.out, bytes) << line;
        if (w[0].back() != '<') {
            r = Morvik({form, "encode"}, bytes);
            Succeeded(r, line);
            EXPECT_EQ(r.out, text) << line;
        }
        ++count;
    }
    EXPECT_EQ(count, 23);
}

// ---- Every form, every key source -----------------------------------------------

TEST_F(Tool, EveryFormIsTheObjectsAndComesBack) {
    const std::string key = "Morvik key\x01\xff";
    const std::string key_hex = hex::Write(key);
    File("key.bin", key);
    RC2 rc2;
    rc2.EffectiveKeyLength(77);
    rc2.Key(key);
    const std::vector<std::vector<std::string>> key_args = {
        {"--key-hex", key_hex}, {"--key-file", Path("key.bin").string()}, {}};
    // Long inputs are LargeStreamsEqualTheInMemoryResult's business; here every
    // form meets every key source across the short lengths.
    std::size_t round = 0;
    for (std::size_t length : {0, 1, 7, 8, 9, 23, 24, 25, 1000}) {
        std::size_t turn = round++;
        std::string plain = Random(length);
        if (length > 10) plain.replace(length - 9, 9, 9, '\0');  // a tail of zeros, which decryption drops
        File("plain", plain);
        std::string padded = plain;
        const std::string raw = rc2.Encrypt(padded);
        const std::map<std::string, std::string> expected = {
            {"raw", raw}, {"hex", rc2.ResultHex()}, {"asc", rc2.ResultAsc()}};
        for (const auto& [form, cipher] : expected) {
            const std::size_t k = turn++ % key_args.size();
            const std::string what = form + " " + std::to_string(length) + " key#" + std::to_string(k);
            std::vector<std::string> args = {"encrypt", "--bits", "77", "--form", form, Path("plain").string(),
                                             "-o", Path("cipher").string()};
            args.insert(args.end(), key_args[k].begin(), key_args[k].end());
            const std::vector<std::string> env = {"MORVIK_KEY_HEX=" + key_hex};
            Result r = Morvik(args + ZerosAllowed(plain), "", k == 2 ? env : std::vector<std::string>{});
            Succeeded(r, what);
            EXPECT_EQ(r.out, "") << what;
            ASSERT_EQ(Slurp(Path("cipher")), cipher) << what;

            args[0] = "decrypt";
            args[5] = Path("cipher").string();
            args[7] = Path("back").string();
            r = Morvik(args, "", k == 2 ? env : std::vector<std::string>{});
            Succeeded(r, what);
            EXPECT_EQ(Slurp(Path("back")), Stripped(plain)) << what;
        }
    }
}

TEST_F(Tool, InputFromFileStdinOrTextIsTheSame) {
    const std::string plain = "Attack at dawn, caf\xe9 \x80 5";
    const std::string utf8 = "Attack at dawn, café € 5";
    RC2 rc2;
    rc2.Key("k");
    std::string padded = plain;
    const std::string asc = rc2.EncryptAsc(padded);
    File("p", plain);
    for (const auto& source : std::vector<std::vector<std::string>>{{}, {"-"}, {Path("p").string()}, {"--text", utf8}}) {
        std::vector<std::string> args = {"encrypt", "--key", "k"};
        args.insert(args.end(), source.begin(), source.end());
        const Result r = Morvik(args, plain);
        Succeeded(r, args.back());
        EXPECT_EQ(r.out, asc) << args.back();
    }
    Result r = Morvik({"decrypt", "--key", "k", "--text", asc});
    EXPECT_EQ(r.out, plain);
    r = Morvik({"decrypt", "--key", "k", "--utf8"}, asc);
    EXPECT_EQ(r.out, utf8);
}

// EncryptHex and DecryptHex take hex text on the plaintext side: a pipe
// through the hex codec gives the same bytes.
TEST_F(Tool, ObjectsHexMembersArePipes) {
    RC2 rc2;
    rc2.Key("k");
    const std::string hex_plain = "616263 z1\n0";  // read leniently: 61 62 63 00 01 00
    Result r = Morvik({"hex", "decode", "--text", hex_plain});
    r = Morvik(std::vector<std::string>{"encrypt", "--key", "k", "--form", "raw"} + ZerosAllowed(r.out), r.out);
    Succeeded(r, "encrypt");
    EXPECT_EQ(r.out, rc2.EncryptHex(hex_plain));
    r = Morvik({"decrypt", "--key", "k", "--form", "hex", "--text", rc2.ResultHex()});
    Succeeded(r, "decrypt");
    EXPECT_EQ(r.out, rc2.DecryptHex(rc2.ResultHex()));
    EXPECT_EQ(r.out, std::string("abc\0\x01", 5));
}

TEST_F(Tool, KeyTextIsWindows1252) {
    // G r ü ß e € in Windows-1252.
    const Result by_text = Morvik({"encrypt", "--key", "Grüße€", "--text", "x"});
    const Result by_hex = Morvik({"encrypt", "--key-hex", "4772FCDF6580", "--text", "x"});
    Succeeded(by_text, "--key");
    EXPECT_EQ(by_text.out, by_hex.out);
    // Lowercase hex digits are digits; anything else in a typed key is refused
    // (the rows of safety_test.cpp) rather than read as KeyHex would read it.
    EXPECT_EQ(Morvik({"encrypt", "--key-hex", "4772fcdf6580", "--text", "x"}).out, by_hex.out);
    const Result odd = Morvik({"encrypt", "--key-hex", "4772fcdf658", "--text", "x"});
    EXPECT_EQ(odd.status, 3);
    EXPECT_EQ(odd.out, "");
}

TEST_F(Tool, BitsTakeEffect) {
    for (const char* bits : {"0", "1", "63", "64", "1024"}) {
        RC2 rc2;
        rc2.EffectiveKeyLength(std::stoi(bits));
        rc2.Key("12345678");
        std::string p = "abc";
        const Result r = Morvik({"encrypt", "--bits", bits, "--key", "12345678", "--form", "hex", "--text", "abc"});
        Succeeded(r, bits);
        EXPECT_EQ(r.out, (rc2.Encrypt(p), rc2.ResultHex())) << bits;
    }
}

// ---- Streams far larger than the buffers ---------------------------------------------

TEST_F(Tool, LargeStreamsEqualTheInMemoryResult) {
    RC2 rc2;
    rc2.Key("big");
    struct Case {
        const char* name;
        std::string plain;
    };
    std::vector<Case> cases;
    // Zero runs that end on, just before and just after a buffer edge, and that
    // span several buffers; a plaintext of nothing but zeros.
    cases.push_back({"zeros to the end", Random(kBuffer - 3) + std::string(3 * kBuffer + 11, '\0')});
    cases.push_back({"zeros then a byte", Random(2 * kBuffer + 8) + std::string(2 * kBuffer, '\0') + "z"});
    cases.push_back({"zeros only", std::string(4 * kBuffer + 1, '\0')});
    cases.push_back({"random", Random(5 * kBuffer + 13)});
    for (const auto& c : cases) {
        std::string padded = c.plain;
        const std::string raw = rc2.Encrypt(padded);
        File("plain", c.plain);
        for (const auto& [form, cipher] : std::vector<std::pair<std::string, std::string>>{
                 {"raw", raw}, {"hex", rc2.ResultHex()}, {"asc", rc2.ResultAsc()}}) {
            Result r = Morvik(std::vector<std::string>{"encrypt", "--key", "big", "--form", form, Path("plain").string()} +
                                  ZerosAllowed(c.plain));
            Succeeded(r, c.name);
            ASSERT_EQ(r.out.size(), cipher.size()) << c.name << " " << form;
            EXPECT_TRUE(r.out == cipher) << c.name << " " << form;
            // Through a pipe the tool sees pieces of whatever size the pipe gives.
            r = Morvik({"decrypt", "--key", "big", "--form", form}, cipher);
            Succeeded(r, c.name);
            EXPECT_TRUE(r.out == rc2.Decrypt(raw)) << c.name << " " << form;
        }
    }
}

TEST_F(Tool, BlankCiphertextsGiveNothing) {
    // Only spaces: Decrypt returns nothing, whatever the length; in hex the
    // spaces are the digits 20, in armour the text decodes to spaces.
    const std::string spaces(3 * kBuffer + 5, ' ');
    std::string hex_spaces;
    for (std::size_t i = 0; i < 2 * kBuffer + 1; ++i) hex_spaces += "20";
    const struct {
        const char* form;
        std::string input;
    } cases[] = {
        {"raw", ""}, {"raw", spaces}, {"hex", ""}, {"hex", hex_spaces}, {"asc", ""}, {"asc", "q"},
        {"asc", BlindAscii::Full2Asc(std::string(3 * kBuffer + 1, ' '))},
    };
    for (const auto& c : cases) {
        const Result r = Morvik({"decrypt", "--key", "k", "--form", c.form}, c.input);
        Succeeded(r, c.form);
        EXPECT_EQ(r.out, "") << c.form << " of " << c.input.size();
    }
    // But a run of spaces followed by anything else is decrypted, spaces and all.
    RC2 rc2;
    rc2.Key("k");
    const std::string not_blank = spaces.substr(0, 3 * kBuffer) + "12345678";
    EXPECT_TRUE(Morvik({"decrypt", "--key", "k", "--form", "raw"}, not_blank).out == rc2.Decrypt(not_blank));
}

// ---- Errors ------------------------------------------------------------------------

TEST_F(Tool, EveryErrorHasItsStatusAndOneLine) {
    File("empty", "");
    File("long", std::string(129, 'k'));
    File("ok", "key");
    File("odd", std::string(3 * kBuffer + 12, 'x'));
    const std::string valid = BlindAscii::Full2Asc(std::string(3 * kBuffer, 'a'));
    const std::string bad_group = valid.substr(0, 4 * 50000) + "ZZZZ" + valid.substr(4 * 50000);
    const std::string k[] = {"--key", "k"};
#ifdef _WIN32
    const std::string no_such_file = "File not found";  // the system's own words
#else
    const std::string no_such_file = "No such file";
#endif
    const struct {
        std::vector<std::string> args;
        std::string              input;
        int                      status;
        std::string              message;
    } cases[] = {
        {{}, "", 2, "morvik: A subcommand is required"},
        {{"encrypt", "--bogus"}, "", 2, "morvik encrypt: unknown option '--bogus' (see morvik encrypt --help)"},
        {{"hex"}, "", 2, "morvik hex: A subcommand is required (see morvik hex --help)"},
        {{"encrypt", "--form", "b64", "--key", "k"}, "", 2, "--form"},
        {{"encrypt", "--key", "k", "--key-hex", "00"}, "", 2, "excludes"},
        {{"encrypt", "--key-file", "-"}, "abc", 2, "--key-file -: standard input cannot hold both the key and the input"},
        {{"encrypt", "--key", "k", "--text", "a", Path("ok").string()}, "", 2, "excludes"},
        {{"encrypt", "--bits", "ten", "--key", "k"}, "", 3, "--bits 'ten' is not a decimal number"},
        {{"encrypt"}, "a", 3, "morvik encrypt: no key: give --key-hex, --key, --key-file or --key-prompt, or set MORVIK_KEY_HEX"},
        {{"encrypt", "--key-hex", ""}, "a", 3, "--key-hex: the key has 0 bytes; a key has 1 to 128 bytes"},
        {{"decrypt", "--key-hex", std::string(258, 'a')}, "", 3, "--key-hex: the key has more than 128 bytes"},
        {{"encrypt", "--key-file", Path("empty").string()}, "a", 3, "the key has 0 bytes"},
        {{"encrypt", "--key-file", Path("long").string()}, "a", 3, "the key has more than 128 bytes"},
        {{"encrypt", "--key", "k", "--bits", "-1"}, "a", 3, "--bits -1: the effective key length must be 0 to 1024"},
        {{"decrypt", "--key", "k", "--bits", "1025"}, "a", 3, "--bits 1025: the effective key length must be 0 to 1024"},
        {{"encrypt", "--key-file", Path("none").string()}, "a", 4, "cannot open '" + Path("none").string() + "': " + no_such_file},
        {{"encrypt", "--key", "k", Path("none").string()}, "", 4, "morvik encrypt: cannot open '" + Path("none").string()},
        {{"hex", "encode", dir_.string()}, "", 4, "morvik hex encode: cannot read '" + dir_.string() + "': Is a directory"},
        {{"encrypt", "--key", "k", "-o", Path("no/such/dir").string()}, "a", 4, "no' does not exist"},
        {{"decrypt", k[0], k[1], "--form", "raw"}, std::string(12, 'x'), 5,
         "morvik decrypt: the ciphertext is 12 bytes long, not a multiple of 8: the block at byte offset 8 has only 4 bytes"},
        {{"decrypt", k[0], k[1], "--form", "raw", Path("odd").string()}, "", 5,
         "is 196620 bytes long, not a multiple of 8: the block at byte offset 196616 has only 4 bytes"},
        {{"decrypt", k[0], k[1], "--form", "hex", "--exact-input"}, "0011223344556677\n", 5,
         "the ciphertext read from the hex text is 9 bytes long, not a multiple of 8: the block at byte offset 8 "
         "has only 1 byte (the text ends with a line break, which counts as part of it)"},
        {{"decrypt", k[0], k[1], "--form", "asc"}, "md9J0 ", 5,
         "the ciphertext decoded from the armoured text is 6 bytes long"},
        {{"decrypt", k[0], k[1]}, "md9J", 6, "morvik decrypt: armoured text: the tail mark 'J' (character 4) has the value 45; a tail mark must be 0 to 4"},
        {{"asc", "decode"}, "ZZZZ0", 5, "group 1 (characters 1 to 4: 'Z' 'Z' 'Z' 'Z') is too large for the 3 bytes"},
        {{"asc", "decode"}, bad_group, 5, "group 50001 (characters 200001 to 200004: 'Z' 'Z' 'Z' 'Z') is above 16777215"},
        // A line break after the tail mark becomes the tail mark, and the old
        // mark a final group of three bytes.
        {{"decrypt", k[0], k[1], "--exact-input"}, valid + "\n", 5, "decoded from the armoured text is 196611 bytes long"},
        {{"asc", "decode", "--text", "ab c"}, "", 6, "the tail mark 'c' (character 4) has the value 12"},
        {{"encrypt", "--key", "中"}, "", 6, "morvik encrypt: --key: character 1 (U+4E2D) has no Windows-1252 byte"},
#ifdef _WIN32
        // A command line is UTF-16 there: the broken character arrives as U+FFFD.
        {{"hex", "encode", "--text", "ab\xe2\x82"}, "", 6, "--text: character 3 (U+FFFD) has no Windows-1252 byte"},
#else
        {{"hex", "encode", "--text", "ab\xe2\x82"}, "", 6, "--text: malformed UTF-8 at byte offset 2"},
#endif
        {{"encrypt", "--key", "k", "--text", "Ωmega"}, "", 6, "--text: character 1 (U+03A9) has no Windows-1252 byte"},
    };
    for (const auto& c : cases) {
        std::string what;
        for (const auto& a : c.args) what += a.substr(0, 40) + " ";
        const Result r = Morvik(c.args, c.input);
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << what << "\n" << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << what << ": one line, ending in a line break\n" << r.err;
        EXPECT_EQ(r.err.rfind("morvik", 0), 0u) << what;
    }
}

// Devices are written, never replaced; a link keeps pointing at the new file.
TEST_F(Tool, SpecialTargetsAreWrittenInPlace) {
#ifdef _WIN32
    // The device NUL is written through, never replaced by a file.
    Result nul = Morvik({"hex", "encode", "-o", "NUL"}, "abc");
    Succeeded(nul, "NUL");
    EXPECT_EQ(Listing(), std::vector<std::string>{});
    GTEST_SKIP() << "/dev paths and symbolic links: POSIX only";
#endif
    Result r = Morvik({"hex", "encode", "-o", "/dev/null"}, "abc");
    Succeeded(r, "/dev/null");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    if (fs::is_character_file("/dev/full")) {
        r = Morvik({"hex", "encode", "-o", "/dev/full"}, "abc");
        EXPECT_EQ(r.status, 4);
        EXPECT_EQ(r.err, "morvik hex encode: cannot write '/dev/full': No space left on device\n");
        EXPECT_TRUE(fs::is_character_file("/dev/full"));
    }
    File("real", "old");
    fs::create_symlink("real", Path("link"));
    r = Morvik({"hex", "encode", "-o", Path("link").string()}, "abc");
    Succeeded(r, "link");
    EXPECT_TRUE(fs::is_symlink(Path("link")));
    EXPECT_EQ(Slurp(Path("real")), "616263");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"link", "real"}));
}

// ---- Output files ------------------------------------------------------------

TEST_F(Tool, FailureLeavesNoFileBehindAndTheOldOneWhole) {
    RC2 rc2;
    rc2.Key("k");
    std::string plain = Random(3 * kBuffer);
    const std::string cipher = rc2.Encrypt(plain);
    File("bad", cipher + "xyz");  // fails only at its very end, after megabytes of output
    Result r = Morvik({"decrypt", "--key", "k", "--form", "raw", Path("bad").string(), "-o", Path("out").string()});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(Listing(), std::vector<std::string>{"bad"});

    File("out", "precious");
#ifndef _WIN32
    ::chmod(Path("out").c_str(), 0640);
#endif
    r = Morvik({"decrypt", "--key", "k", "--form", "raw", Path("bad").string(), "-o", Path("out").string()});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(Slurp(Path("out")), "precious");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"bad", "out"}));

    // Success replaces it and keeps its mode; the output may be the input.
    File("c", cipher);
    r = Morvik({"decrypt", "--key", "k", "--form", "raw", Path("c").string(), "-o", Path("out").string()});
    Succeeded(r, "replace");
    EXPECT_TRUE(Slurp(Path("out")) == rc2.Decrypt(cipher));
#ifndef _WIN32
    EXPECT_EQ(fs::status(Path("out")).permissions(), fs::perms(0640));  // Windows has no mode bits
#endif
    r = Morvik({"decrypt", "--key", "k", "--form", "raw", Path("c").string(), "-o", Path("c").string()});
    Succeeded(r, "in place");
    EXPECT_TRUE(Slurp(Path("c")) == rc2.Decrypt(cipher));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"bad", "c", "out"}));
}

// A run stopped by any signal whose default action ends the process removes
// its temporary file and ends as that signal would end it; a signal that the
// caller ignores stays ignored.
TEST_F(Tool, InterruptedRunLeavesNoFileBehind) {
#ifdef _WIN32
    // Windows has no signals; Ctrl-Break (as Ctrl-C and closing the console)
    // must still remove the temporary file.
    morvik::test::Running run({MORVIK_TOOL, "encrypt", "--key", "k", "-o", Path("out").string()}, Path(".out"),
                              Path(".err"));
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.Feed(std::string(kBuffer, 'a')));
    for (int i = 0; i < 500 && Listing().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Listing().size(), 1u);  // the temporary file, mid-run
    if (!run.Interrupt()) GTEST_SKIP() << "no console to send Ctrl-Break through (as under a headless Wine)";
    const int status = run.Wait();
    EXPECT_NE(status, 0);
    EXPECT_EQ(Listing(), std::vector<std::string>{});
#else
    const struct rlimit no_core {0, 0};  // the core-dumping ones must not leave a core file either
    ::setrlimit(RLIMIT_CORE, &no_core);
    const struct {
        int  sig;
        bool ignored;
    } cases[] = {
        {SIGTERM, false}, {SIGINT, true},    {SIGINT, false},  {SIGHUP, false},  {SIGQUIT, false},
        {SIGPIPE, false}, {SIGALRM, false},  {SIGUSR1, false}, {SIGUSR2, false}, {SIGVTALRM, false},
        {SIGPROF, false}, {SIGXCPU, false},  {SIGXFSZ, false}, {SIGRTMIN, false}, {SIGUSR1, true},
    };  // not SIGSYS, which Valgrind (cli.memcheck) takes for itself
    for (const auto& c : cases) {
        const std::string what = std::string(strsignal(c.sig)) + (c.ignored ? " (ignored)" : "");
        int pipe_fds[2];
        ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
        const auto previous = std::signal(c.sig, c.ignored ? SIG_IGN : SIG_DFL);  // inherited by the tool
        const pid_t pid = Start({"encrypt", "--key", "k", "-o", Path("out").string()}, pipe_fds[0]);
        std::signal(c.sig, previous);
        ::close(pipe_fds[0]);
        const std::string some(kBuffer, 'a');
        ASSERT_EQ(::write(pipe_fds[1], some.data(), some.size()), static_cast<ssize_t>(some.size()));
        for (int i = 0; i < 500 && Listing().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(Listing().size(), 1u) << what;  // the temporary file, mid-run
        ::kill(pid, c.sig);
        if (c.ignored) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::close(pipe_fds[1]);
        const Result r = Wait(pid);
        if (c.ignored) {
            EXPECT_EQ(r.status, 0) << what << ": " << r.err;
            EXPECT_EQ(Listing(), std::vector<std::string>{"out"}) << what;
        } else {
            EXPECT_EQ(r.status, 128 + c.sig) << what;
            EXPECT_EQ(Listing(), std::vector<std::string>{}) << what;
        }
        for (const auto& name : Listing()) fs::remove(Path(name));  // each case starts afresh
    }
#endif
}

// ---- Help ----------------------------------------------------------------------

TEST_F(Tool, EveryCommandHasHelpWithExamples) {
    for (const auto& command : std::vector<std::vector<std::string>>{
             {}, {"encrypt"}, {"decrypt"}, {"hex"}, {"hex", "encode"}, {"hex", "decode"}, {"asc"}, {"asc", "encode"},
             {"asc", "decode"}}) {
        auto args = command;
        args.push_back("--help");
        const Result r = Morvik(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_NE(r.out.find("Examples:"), std::string::npos) << args[0];
        EXPECT_NE(r.out.find("Exit status:"), std::string::npos) << args[0];
    }
    const Result r = Morvik({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("morvik ", 0), 0u);
}

// --kernel only changes which bulk kernel does the work, never the bytes; a
// kernel the processor lacks is refused rather than quietly replaced. (The
// text forms sit above the cipher and do not depend on the kernel.)
TEST_F(Tool, KernelOptionChangesNoByte) {
    std::string plain = Random(8 * 300 + 5);
    plain.back() = 'x';  // nothing for decryption to strip
    const std::vector<std::string> key{"--form", "raw", "--key-hex", "88BCA90E90875A7F0F79C384627BAFB2"};
    auto args = [&](const char* command, const std::string& kernel) {
        std::vector<std::string> a{command};
        a.insert(a.end(), key.begin(), key.end());
        if (!kernel.empty()) a.insert(a.end(), {"--kernel", kernel});
        return a;
    };
    const Result expected = Morvik(args("encrypt", ""), plain);
    ASSERT_EQ(expected.status, 0) << expected.err;
    ASSERT_EQ(expected.out.size(), 8 * 301u);
    for (const morvik::Kernel k : {morvik::Kernel::Scalar, morvik::Kernel::SSE2, morvik::Kernel::AVX2,
                                   morvik::Kernel::AVX512}) {
        const std::string name = morvik::KernelName(k);
        SCOPED_TRACE(name);
        const Result encrypted = Morvik(args("encrypt", name), plain);
        if (!morvik::KernelAvailable(k)) {
            EXPECT_EQ(encrypted.status, 2);
            EXPECT_NE(encrypted.err.find("--kernel " + name), std::string::npos) << encrypted.err;
            continue;
        }
        ASSERT_EQ(encrypted.status, 0) << encrypted.err;
        EXPECT_EQ(encrypted.out, expected.out);
        const Result decrypted = Morvik(args("decrypt", name), expected.out);
        ASSERT_EQ(decrypted.status, 0) << decrypted.err;
        EXPECT_EQ(decrypted.out, plain);
    }
    const Result bad = Morvik(args("decrypt", "mmx"), "");
    EXPECT_EQ(bad.status, 2);
}

}  // namespace
