// morvik — RC2 encryption of files and streams, in the three forms of the
// Morvik.RC2 automation object: raw bytes, hex text and armoured text.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <morvik/detail/wipe.h>
#include <morvik/kernel.h>
#include <morvik/rc2.h>
#include <morvik/version.h>

#include "front.h"
#include "io.h"
#include "platform.h"
#include "progress.h"
#include "records.h"
#include "suggest.h"
#include "terminal.h"

namespace morvik::cli {
namespace {

constexpr const char* kExitStatuses = R"(
Exit status:
  0  success
  1  internal error (out of memory)
  2  usage error: unknown command or option, conflicting inputs, an option
     given twice or with an empty value
  3  key refused: no key, a key of 0 or more than 128 bytes, a hex key that is
     not hex digits two by two, the two keys of --key-prompt differ, --bits
     not a decimal number 0 to 1024
  4  input or output error: a file that cannot be read or written; with
     --lines or --csv, a record over 64 MiB, input that is not CSV, or a
     row without the chosen column
  5  invalid ciphertext: a length that is not a multiple of 8 bytes, or an
     armour group too large for its bytes (the object's error 5)
  6  overflow: an armour tail mark of 5 or more, or a character that has no
     Windows-1252 byte (on Windows: no byte in the ANSI code page), malformed
     UTF-8 (the object's error 6)
  7  data would be lost: a plaintext that ends in zero bytes, which decryption
     would remove (see encrypt --help); with --lines, a plaintext that holds
     a line break; a record whose ciphertext would be over 64 MiB
Errors are reported on one line of standard error. With -o FILE nothing is
written unless the run succeeds. On standard output (or a pipe or device
given to -o) the first MiB of output is held back until the input ends, so
an input that fails within it writes nothing; beyond that, bytes produced
before a late error may already have been written.)";

constexpr const char* kMainFooter = R"(
Examples:
  morvik encrypt --key 'my key' --text 'Attack at dawn' > msg.asc
  morvik decrypt --key 'my key' msg.asc
  export MORVIK_KEY_HEX=000102030405060708090A0B0C0D0E0F
  tar cf - docs | xz | morvik encrypt --form raw -o docs.rc2
  morvik decrypt --form raw docs.rc2 | xz -d | tar xf -
  morvik hex encode --text abc           (prints 616263)
  morvik asc decode --text md9J0         (prints abc)
Run 'morvik help COMMAND' (or 'morvik COMMAND --help') for each command.)";

constexpr const char* kEncryptFooter = R"(
The plaintext is bytes: a file, standard input, or --text (converted to
Windows-1252, as a Western Windows client's string is; on Windows, to the
ANSI code page, as the COM object there converts it). With --utf8 a file or
standard input is UTF-8 text, converted the same way (a character with no
byte there fails with status 6, naming its byte offset and line), so that
decrypt --utf8 gives the text back. A final block shorter
than 8 bytes is filled with zero bytes. The output is exactly what the object
gives: Encrypt (raw), ResultHex after Encrypt (hex), EncryptAsc (asc). Text
forms end with a line break only when written to a terminal.

Decryption removes every zero byte at the end of the plaintext, so an input
that ends in zero bytes (as archives and disk images often do) would not come
back whole: it is refused with status 7, unless --allow-trailing-zeros. A
file or --text is checked before anything is written; a pipe is judged at
its end, and its first MiB of ciphertext is held back until then, so a longer
refused pipe leaves an incomplete ciphertext on standard output (with -o,
no file at all). Compress archives (xz ends in no zero byte), or keep the
length elsewhere and pass --allow-trailing-zeros.

Examples:
  morvik encrypt --key-hex 88BCA90E90875A7F --bits 64 --form hex --text abc
                                                          (03272B80B524F109)
  printf %s 'my key' > key.bin
  morvik encrypt --key-file key.bin report.pdf -o report.asc
  morvik encrypt --key-prompt notes.txt -o notes.asc
  morvik encrypt --key 'Grüße' --utf8 note.txt -o note.asc
  tar cf - docs | xz | MORVIK_KEY_HEX=00112233 morvik encrypt --form raw > docs.rc2)";

constexpr const char* kDecryptFooter = R"(
The input is ciphertext in the chosen form; the output is the plaintext bytes,
exactly as the object's Decrypt, DecryptHex or DecryptAsc returns them: every
zero byte at the end of the plaintext is removed (which is why encrypt
refuses such input), and a raw ciphertext of spaces only gives nothing. Hex
or armoured text read from a file or standard input loses one final line
break (LF or CRLF), which the object never writes and `echo` adds;
--exact-input keeps it, as the object would read it, and --text is always
taken exactly.

Examples:
  morvik decrypt --key-file key.bin report.asc -o report.pdf
  morvik decrypt --key-prompt notes.asc -o notes.txt
  morvik decrypt --key-hex 88BCA90E90875A7F --bits 64 --form hex --text 03272B80B524F109
  morvik decrypt --key 'Grüße' --utf8 note.asc)";

constexpr const char* kKeyHelp = R"(
Key (exactly one; 1 to 128 bytes):
  --key-hex HEX, --key TEXT, --key-file FILE, --key-prompt, or the
  environment variable MORVIK_KEY_HEX (used when no key option is given),
  which keeps the key out of process listings. A key in hex is read strictly:
  hex digits only, two per byte. --bits N (decimal) sets the effective key
  length (0 means the key's own length in bits) before the key is set.)";

constexpr const char* kHexFooter = R"(
encode writes two uppercase hex digits per byte, as ResultHex does. decode
reads as the object reads: pairs from the left, spaces, tabs and line feeds in
a pair skipped, a pair stopped by its first other character, a last single
character worth its own digit. decode never fails. A final line break (LF
or CRLF) of a file or standard input is dropped first, unless --exact-input;
a line break inside the text shifts every pair after it, which is read so
with a warning.

Examples:
  morvik hex encode --text abc                  (616263)
  morvik hex decode --text 0a0B | od -An -tx1   (0a 0b)
  morvik hex decode --text ABC  | od -An -tx1   (ab 0c))";

constexpr const char* kAscFooter = R"(
encode writes the armoured base-66 text of the bytes, as ResultAsc does:
four characters per three bytes and a tail mark (0, 1 or 2). decode reads as
the object reads: characters outside the alphabet count as 0, a tail mark of
5 or more fails with status 6, a group too large for its bytes with status 5.
A final line break (LF or CRLF) of a file or standard input is dropped first,
unless --exact-input.

Examples:
  morvik asc encode --text abc        (md9J0)
  morvik asc decode --text md9J001y1  (abcd))";

struct IoOptions {
    std::string                input;
    std::optional<std::string> text;
    std::string                output;
    bool                       no_progress = false;
    bool                       exact = false;  // keep a final line break of text input
};

struct KeyOptions {
    std::string  hex, text, file, bits;
    CLI::Option* hex_opt    = nullptr;
    CLI::Option* text_opt   = nullptr;
    CLI::Option* file_opt   = nullptr;
    CLI::Option* prompt_opt = nullptr;
    CLI::Option* bits_opt   = nullptr;
    bool         prompt     = false;
    bool         confirm    = false;  // ask twice at the prompt
};

void AddIo(CLI::App& cmd, IoOptions& io, const char* input_what) {
    auto* input = cmd.add_option("input", io.input, std::string(input_what) + "; standard input if absent or -")
                      ->option_text("FILE");
    cmd.add_option("--text", io.text, "take the input from TEXT (UTF-8, converted to Windows-1252; on Windows to the ANSI code page) instead")
        ->option_text("TEXT")
        ->excludes(input);
    cmd.add_option("-o,--output", io.output, "write to FILE (replaced only on success) instead of standard output")
        ->option_text("FILE");
    cmd.add_flag("--no-progress", io.no_progress, "no progress line, even on a terminal");
}

void AddKey(CLI::App& cmd, KeyOptions& k) {
    k.hex_opt  = cmd.add_option("--key-hex", k.hex, "the key as hex text")->option_text("HEX");
    k.text_opt = cmd.add_option("--key", k.text, "the key as text, converted to Windows-1252 (on Windows, the ANSI code page)")->option_text("TEXT");
    k.file_opt = cmd.add_option("--key-file", k.file, "the key: the raw bytes of FILE")->option_text("FILE");
    k.prompt_opt = cmd.add_flag("--key-prompt", k.prompt, "the key as text typed at the terminal, not shown");
    k.hex_opt->excludes(k.text_opt)->excludes(k.file_opt)->excludes(k.prompt_opt);
    k.text_opt->excludes(k.file_opt)->excludes(k.prompt_opt);
    k.file_opt->excludes(k.prompt_opt);
    k.bits_opt = cmd.add_option("--bits", k.bits, "effective key length in bits, 0 to 1024 (default 0: the key's length)")
                     ->option_text("N");
}

void AddExactInput(CLI::App& cmd, IoOptions& io) {
    cmd.add_flag("--exact-input", io.exact, "keep a final line break of the text read, as the object would");
}

// Standard input cannot hold both the key and the input, under any of its
// names: the key would take what was meant as the input, or the other way.
// It is refused before anything is read.
std::string ReadKeyFile(const std::string& path, bool reads_stdin) {
    const auto refuse = [&] {
        return Failure(Exit::Usage, "--key-file " + (path == "-" ? std::string("-") : Quoted(path)) +
                                        ": standard input cannot hold both the key and the input");
    };
    if (reads_stdin && (path == "-" || path.empty())) throw refuse();
    Input in = Input::File(path);
    if (reads_stdin && in.StandardInput()) throw refuse();
    std::string key;
    for (std::string_view piece; !(piece = in.Next()).empty();) {
        key.append(piece.substr(0, RC2::kMaxKeyLength + 1 - key.size()));
        if (key.size() > RC2::kMaxKeyLength) break;
    }
    return key;
}

// The object ignores a key of a bad length and keeps the previous one; the
// tool has no previous key, so it refuses instead.
void SetKey(RC2& rc2, const KeyOptions& k, bool reads_stdin) {
    const std::int32_t bits = k.bits_opt->count() > 0 ? EffectiveBits(k.bits) : 0;
    std::string key, source;
    if (k.hex_opt->count() > 0) {
        key = StrictHexKey(k.hex, "--key-hex"), source = "--key-hex";
    } else if (k.prompt_opt->count() > 0) {
        std::string typed = PromptKey(k.confirm);
        source = "--key-prompt";
        try {
            key = TextBytes(typed, source);
        } catch (...) {
            detail::Wipe(typed);
            throw;
        }
        detail::Wipe(typed);
    } else if (k.text_opt->count() > 0) {
        key = TextBytes(k.text, "--key"), source = "--key";
    } else if (k.file_opt->count() > 0) {
        key = ReadKeyFile(k.file, reads_stdin), source = "--key-file " + Quoted(k.file);
        // An editor or `echo` ends a saved key with a line break, which is
        // then part of the key: the key stays the file's bytes, but says so.
        if (!key.empty() && (key.back() == '\n' || key.back() == '\r') && key.size() <= RC2::kMaxKeyLength)
            std::cerr << "morvik: warning: " << source << ": the key ends with a line break (" << Describe(key.back())
                      << "), which is part of the key: --key-file reads the file whole (printf %s writes a key "
                         "without one)\n";
    } else if (const char* env = std::getenv("MORVIK_KEY_HEX")) {
        key = StrictHexKey(env, "MORVIK_KEY_HEX"), source = "MORVIK_KEY_HEX";
    } else {
        throw Failure(Exit::Key, "no key: give --key-hex, --key, --key-file or --key-prompt, or set MORVIK_KEY_HEX");
    }
    if (key.empty() || key.size() > RC2::kMaxKeyLength) {
        const std::string length = key.size() > RC2::kMaxKeyLength ? "more than 128" : "0";
        detail::Wipe(key);
        throw Failure(Exit::Key, source + ": the key has " + length + " bytes; a key has 1 to 128 bytes");
    }
    rc2.EffectiveKeyLength(bits);
    rc2.Key(key);
    detail::Wipe(key);
}

Input OpenInput(const IoOptions& io) {
    if (io.text) return Input::Text(TextBytes(*io.text, "--text"));
    return Input::File(io.input);
}

// Pushes the whole input through a chain of stages. With `refuse_zeros`, an
// input that turns out to end in zero bytes fails before the chain finishes,
// so that no output file appears and held-back output is dropped.
void Pump(Input& in, Sink& head, const IoOptions& io, const std::string& label, bool refuse_zeros = false) {
    Progress progress(label, in.Size(), !io.no_progress);
    front::Pump([&] { return in.Next(); }, head, refuse_zeros, [&](std::size_t n) { progress.Advance(n); },
                [&] { progress.Clear(); });
}

// Hex folded into lines reads to other bytes, with no error when their number
// happens to be right: said at the end of the run.
void WarnOfLineBreaks(const Chain& chain) {
    if (const auto* hex = chain.Find<HexReadStage>()) {
        if (const auto warning = hex->LineBreakWarning()) std::cerr << "morvik: warning: " << *warning << '\n';
    }
}

void AddRecords(CLI::App& cmd, RecordOptions& r) {
    auto* lines = cmd.add_flag("--lines", r.lines, "every line is one message (see Records below)");
    auto* csv = cmd.add_option("--csv", r.csv, "CSV: the field in COLUMN (a number, or a name with --header) of every "
                                               "row is one message")
                    ->option_text("COLUMN");
    lines->excludes(csv);
    cmd.add_flag("--header", r.header, "with --csv: the first row holds names and passes through")->needs(csv);
    cmd.add_option("--delimiter", r.delimiter, "with --csv: the field delimiter, one character or 'tab' (default ,)")
        ->option_text("C")
        ->needs(csv);
    auto* keep_going =
        cmd.add_flag("--keep-going", r.keep_going, "with --lines or --csv: the same as --on-error empty");
    cmd.add_option("--on-error", r.on_error, "with --lines or --csv: stop at a bad record (stop, the default), or go "
                                             "on writing it unchanged (keep) or empty (empty)")
        ->option_text("stop|keep|empty")
        ->excludes(keep_going);
}

void Records(RC2& rc2, const IoOptions& io, const RecordOptions& records, RecordJob job) {
    Output out(io.output);
    Input in = OpenInput(io);
    job.one_record = io.text.has_value();
    job.progress = !io.no_progress;
    if (job.one_record) out.EndTextWithNewlineOnTerminal();
    RunRecords(rc2, in, out, records, job);
}

// The output is set up before the input is opened, so that a /dev/fd/N given
// to -o can only name a descriptor the tool was given.
void Encrypt(const IoOptions& io, const KeyOptions& k, Form form, bool allow_zeros, bool utf8,
             const RecordOptions& records) {
    CheckRecordOptions(records, form == Form::Raw);
    RC2 rc2;
    SetKey(rc2, k, !io.text && (io.input.empty() || io.input == "-"));
    // --text is UTF-8 already, and already converted.
    utf8 = utf8 && !io.text;
    // One record is one message, whose zero filling is the stored value's
    // own padding: decryption removes exactly it.
    if (records.Active())
        return Records(rc2, io, records,
                       {.encrypting = true, .hex = form == Form::Hex, .utf8 = utf8, .allow_zeros = allow_zeros});
    Output out(io.output);
    if (form == Form::Raw && out.Terminal())
        throw Failure(Exit::Usage, "raw ciphertext is binary and would garble the terminal: write it to a file "
                                   "(-o FILE), pipe it, or choose a text form (--form hex or --form asc)");
    Input in = OpenInput(io);
    if (!allow_zeros) {
        if (const auto zeros = in.TrailingZerosAhead(); zeros && *zeros > 0) throw TrailingZeros(*zeros);
    }
    Chain chain(out);
    if (form != Form::Raw) out.EndTextWithNewlineOnTerminal();
    PrependEncrypt(chain, rc2, form);
    if (utf8) chain.Prepend<FromUtf8Stage>();
    try {
        Pump(in, chain.Head(), io, "encrypting", !allow_zeros);
    } catch (const Failure& f) {
        if (f.status() != Exit::DataLoss || !out.Started()) throw;
        throw Failure(f.status(), std::string(f.what()) + "; the ciphertext written so far is incomplete");
    }
}

void Decrypt(const IoOptions& io, const KeyOptions& k, Form form, bool utf8, const RecordOptions& records) {
    CheckRecordOptions(records, form == Form::Raw);
    RC2 rc2;
    SetKey(rc2, k, !io.text && (io.input.empty() || io.input == "-"));
    if (records.Active())
        return Records(rc2, io, records, {.encrypting = false, .hex = form == Form::Hex, .utf8 = utf8});
    Output out(io.output);
    Input in = OpenInput(io);
    Chain chain(out);
    if (utf8) chain.Prepend<Utf8Stage>();
    const FinalLineBreakStage* dropping = PrependDecrypt(chain, rc2, form, !io.text && !io.exact);
    try {
        Pump(in, chain.Head(), io, "decrypting");
    } catch (const Failure& f) {
        WarnOfLineBreaks(chain);  // the likely cause of a bad length
        RethrowDecryptFailure(f, form, dropping ? dropping->PassedLineBreakLast() : in.EndsWithLineBreak());
    }
    WarnOfLineBreaks(chain);
}

void Codec(const IoOptions& io, Form form, bool encode) {
    Output out(io.output);
    Input in = OpenInput(io);
    Chain chain(out);
    if (encode) out.EndTextWithNewlineOnTerminal();
    if (form == Form::Hex) encode ? (void)chain.Prepend<HexWriteStage>() : (void)chain.Prepend<HexReadStage>();
    if (form == Form::Asc) encode ? (void)chain.Prepend<AscEncodeStage>() : (void)chain.Prepend<AscDecodeStage>();
    if (!encode && !io.text && !io.exact) chain.Prepend<FinalLineBreakStage>();
    Pump(in, chain.Head(), io, encode ? "encoding" : "decoding");
    WarnOfLineBreaks(chain);
}

// Help and version text, written as any output is: a write error is status 4.
int WriteHelp(const std::string& text) {
    const std::string error = platform::WriteStandard(1, text);
    if (error.empty()) return static_cast<int>(Exit::Ok);
    std::cerr << "morvik: cannot write standard output: " << error << '\n';
    return static_cast<int>(Exit::Io);
}

// The options that choose a key, which only encrypt and decrypt take.
bool KeyOption(const std::string& name) {
    return name == "--key" || name == "--key-hex" || name == "--key-file" || name == "--key-prompt" || name == "--bits";
}

// CLI11 answers a mistyped command with "A subcommand is required", a
// mistyped option with what its guess made of it ("input excludes --text"
// for --kye), an option given twice with "At Most 1 required but received 2",
// and reads `--output=` (an empty variable in `--output="$OUT"`) as --output
// taking the next word as its value; this names the word the user typed and
// what they probably meant, before anything runs.
std::optional<std::string> Misread(const CLI::App& app, int argc, char** argv) {
    const CLI::App* at = &app;
    std::string path = "morvik";
    int i = 1;
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        const auto commands = at->get_subcommands([](const CLI::App*) { return true; });
        if (commands.empty() || word.empty() || word[0] == '-') break;
        const CLI::App* next = nullptr;
        std::string names;
        std::vector<std::string> candidates;
        for (const CLI::App* c : commands) {
            if (c->get_name() == word) next = c;
            names += (names.empty() ? "" : ", ") + c->get_name();
            candidates.push_back(c->get_name());
        }
        if (!next) {
            const std::string guess = Closest(word, candidates);
            return path + ": unknown command '" + Printable(word) + "'" +
                   (guess.empty() ? "; the" : "; did you mean '" + guess + "'? The") + " commands are " + names +
                   " (see " + path + " --help)";
        }
        at = next;
        path += " " + word;
    }
    std::vector<std::string> names{"--help"};
    for (const CLI::Option* option : at->get_options()) {
        for (const std::string& n : option->get_lnames()) names.push_back("--" + n);
        for (const std::string& n : option->get_snames()) names.push_back("-" + n);
    }
    const std::string command = path.substr(path.find(' ') + 1);
    std::map<const CLI::Option*, std::string> given;  // each option taking a value, as first typed
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") break;
        if (word.size() < 2 || word[0] != '-') continue;
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        // -o FILE, -oFILE and --output=FILE all name -o.
        const std::string named = word[1] != '-' ? name.substr(0, 2) : name;
        const CLI::Option* option = at->get_option_no_throw(named);
        if (option == nullptr && named != "--help" && named != "-h") {
            if (KeyOption(name) && at->get_parent() != &app)
                return path + ": " + name + ": " + command + " takes no key: it converts " + at->get_description() +
                       " (morvik " + (at->get_name() == "encode" ? "encrypt" : "decrypt") + " --form " +
                       at->get_parent()->get_name() + " uses a key)";
            const std::string guess = Closest(name, names);
            return path + ": unknown option " + Quoted(name) +
                   (guess.empty() ? "" : "; did you mean '" + guess + "'?") + " (see " + path + " --help)";
        }
        // The value of an option that takes one is not an option, whatever it
        // looks like. (A flag's type size is 1 too; it expects no items.)
        if (option == nullptr || option->get_items_expected_min() == 0) continue;
        const bool attached = equals != std::string::npos || (word[1] != '-' && word.size() > 2);
        if (word[1] == '-' && equals == word.size() - 1)
            return path + ": " + word + ": the value is empty (" + name + " takes one; see " + path + " --help)";
        // An empty name would be standard output or standard input.
        if (!attached && i + 1 < argc && argv[i + 1][0] == '\0' && (named == "-o" || named == "--output" || named == "--key-file"))
            return path + ": " + named + " '': the file name is empty" +
                   (named == "--key-file" ? "" : " (leave out " + named + " to write to standard output)");
        if (const auto first = given.find(option); first != given.end())
            return path + ": " + named + " given twice" + (first->second == named ? "" : " (as " + first->second + " before)") +
                   "; give it once";
        given.emplace(option, named);
        if (!attached) ++i;
    }
    return std::nullopt;
}

// "morvik help [COMMAND...]" is "morvik [COMMAND...] --help".
std::vector<char*> HelpArguments(int argc, char** argv) {
    static char help[] = "--help";
    std::vector<char*> args(argv, argv + argc);
    if (argc >= 2 && std::string(argv[1]) == "help") {
        args.erase(args.begin() + 1);
        args.push_back(help);
    }
    return args;
}

int Main(int argc, char** argv) {
    CLI::App app{"Morvik RC2: RC2 (RFC 2268) encryption of files and streams, byte-compatible with Morvik.RC2",
                 "morvik"};
    app.set_version_flag("--version", std::string("morvik ") + kVersion);
    app.require_subcommand(1);
    // The same options everywhere: "/x" is a path, never an option.
    app.allow_windows_style_options(false);
    app.footer(std::string(kMainFooter) + "\n" + kExitStatuses);

    IoOptions io;
    RecordOptions records;
    KeyOptions encrypt_key, decrypt_key;  // one each: the options are told apart by their counts
    std::string form_name = "asc";
    bool utf8 = false, allow_zeros = false;
    const std::map<std::string, Form> forms{{"raw", Form::Raw}, {"hex", Form::Hex}, {"asc", Form::Asc}};
    const auto add_form = [&](CLI::App& cmd, const char* what) {
        cmd.add_option("--form", form_name, std::string(what) + ": raw, hex or asc (default asc)")
            ->option_text("raw|hex|asc")
            ->check(CLI::IsMember({"raw", "hex", "asc"}));
    };

    // For comparing and checking the bulk kernels; the results never differ.
    std::string kernel_name;
    const auto add_kernel = [&](CLI::App& cmd) {
        cmd.add_option("--kernel", kernel_name,
                       "run the cipher on this bulk kernel instead of the widest the processor has")
            ->option_text("scalar|sse2|avx2|avx512")
            ->check(CLI::IsMember({"scalar", "sse2", "avx2", "avx512"}))
            ->group("Diagnostics");
    };

    auto* encrypt = app.add_subcommand("encrypt", "encrypt bytes into a ciphertext");
    AddIo(*encrypt, io, "the plaintext file");
    add_form(*encrypt, "form of the ciphertext written");
    AddKey(*encrypt, encrypt_key);
    add_kernel(*encrypt);
    encrypt_key.confirm = true;
    encrypt->add_flag("--allow-trailing-zeros", allow_zeros,
                      "encrypt an input that ends in zero bytes, which decryption will not give back");
    encrypt->add_flag("--utf8", utf8, "read the plaintext as UTF-8 and encrypt its Windows-1252 bytes (on Windows, the ANSI code page's)");
    AddRecords(*encrypt, records);
    encrypt->footer(std::string(kKeyHelp) + "\n" + kEncryptFooter + "\n" + kRecordsHelp + "\n" + kExitStatuses);

    auto* decrypt = app.add_subcommand("decrypt", "decrypt a ciphertext into bytes");
    AddIo(*decrypt, io, "the ciphertext file");
    add_form(*decrypt, "form of the ciphertext read");
    AddKey(*decrypt, decrypt_key);
    add_kernel(*decrypt);
    AddExactInput(*decrypt, io);
    decrypt->add_flag("--utf8", utf8, "write the plaintext as UTF-8, reading its bytes as Windows-1252 (on Windows, the ANSI code page)");
    AddRecords(*decrypt, records);
    decrypt->footer(std::string(kKeyHelp) + "\n" + kDecryptFooter + "\n" + kRecordsHelp + "\n" + kExitStatuses);

    std::vector<std::pair<CLI::App*, Form>> codecs;
    for (const auto& [name, form, what, footer] :
         {std::tuple{"hex", Form::Hex, "hex text", kHexFooter}, std::tuple{"asc", Form::Asc, "armoured text", kAscFooter}}) {
        auto* group = app.add_subcommand(name, std::string("convert between bytes and ") + what);
        group->require_subcommand(1);
        group->footer(std::string(footer) + "\n" + kExitStatuses);
        for (const char* verb : {"encode", "decode"}) {
            auto* cmd = group->add_subcommand(verb, std::string(verb) == "encode" ? std::string("bytes to ") + what
                                                                                  : std::string(what) + " to bytes");
            AddIo(*cmd, io, std::string(verb) == "encode" ? "the file of bytes" : "the text file");
            if (std::string(verb) == "decode") AddExactInput(*cmd, io);
            cmd->footer(std::string(footer) + "\n" + kExitStatuses);
            codecs.emplace_back(cmd, form);
        }
    }

    // Listed with the commands; the words after it are read below.
    app.add_subcommand("help", "show the help of morvik or of a COMMAND (morvik help COMMAND)")->allow_extras();

    std::string prefix = "morvik: ";
    std::vector<char*> args = HelpArguments(argc, argv);
    if (const auto misread = Misread(app, static_cast<int>(args.size()), args.data())) {
        std::cerr << *misread << '\n';
        return static_cast<int>(Exit::Usage);
    }
    try {
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::Success& e) {  // --help, --help-all, --version
        std::ostringstream text;
        app.exit(e, text, std::cerr);
        return WriteHelp(text.str());
    } catch (const CLI::ParseError& e) {
        // Name the command whose arguments went wrong, as far as it was read.
        std::string command = "morvik";
        for (const CLI::App* at = &app; !at->get_subcommands().empty();) {
            at = at->get_subcommands().front();
            command += " " + at->get_name();
        }
        // CLI11 quotes what was typed as it was typed.
        std::cerr << command << ": " << Printable(e.what()) << " (see " << command << " --help)\n";
        return static_cast<int>(Exit::Usage);
    }

    const auto force_kernel = [&] {
        if (kernel_name.empty()) return;
        const Kernel kernel = *KernelNamed(kernel_name);
        if (!KernelAvailable(kernel))
            throw Failure(Exit::Usage, "--kernel " + kernel_name + ": this processor or build lacks that kernel");
        ForceKernel(kernel);
    };
    try {
        if (encrypt->parsed()) {
            prefix = "morvik encrypt: ";
            force_kernel();
            Encrypt(io, encrypt_key, forms.at(form_name), allow_zeros, utf8, records);
        } else if (decrypt->parsed()) {
            prefix = "morvik decrypt: ";
            force_kernel();
            Decrypt(io, decrypt_key, forms.at(form_name), utf8, records);
        } else {
            for (const auto& [cmd, form] : codecs) {
                if (!cmd->parsed()) continue;
                prefix = "morvik " + cmd->get_parent()->get_name() + " " + cmd->get_name() + ": ";
                Codec(io, form, cmd->get_name() == "encode");
            }
        }
    } catch (const Failure& f) {
        // Names are quoted printable where the message is made; this keeps
        // whatever else reached a message from driving the terminal.
        std::cerr << prefix << Printable(f.what()) << '\n';
        return static_cast<int>(f.status());
    } catch (const Error& e) {
        std::cerr << prefix << Printable(e.what()) << '\n';
        return e.code();
    } catch (const std::bad_alloc&) {
        std::cerr << prefix << "out of memory\n";
        return static_cast<int>(Exit::Internal);
    } catch (const std::exception& e) {
        std::cerr << prefix << Printable(e.what()) << '\n';
        return static_cast<int>(Exit::Internal);
    }
    return static_cast<int>(Exit::Ok);
}

}  // namespace
}  // namespace morvik::cli

namespace {

void OutOfMemory() {
    morvik::cli::platform::WriteStandard(2, "morvik: out of memory\n");
}

// Throwing std::bad_alloc takes memory too (the exception, the unwinding), so
// a reserve is kept and given up at the first failed allocation; only the next
// one throws. Before main (CLI11 builds static objects) nothing could catch
// it, so the run ends there and then.
void* g_reserve = nullptr;
bool  g_in_main = false;

void GiveUpReserve() {
    if (g_reserve) {
        std::free(g_reserve);
        g_reserve = nullptr;
        return;  // and the allocation is tried again
    }
    if (!g_in_main) {
        OutOfMemory();
        std::_Exit(static_cast<int>(morvik::cli::Exit::Internal));
    }
    std::set_new_handler(nullptr);
    throw std::bad_alloc();
}

struct Reserve {
    Reserve() {
        g_reserve = std::malloc(64 * 1024);
        if (!g_reserve) {
            OutOfMemory();
            std::_Exit(static_cast<int>(morvik::cli::Exit::Internal));
        }
        std::set_new_handler(GiveUpReserve);
    }
};
// Before every other static object of the program.
__attribute__((init_priority(101))) Reserve g_reserve_first;

}  // namespace

// Out of memory at any point, the setting up of the options included, ends
// the run with status 1, not with an abort. The entry point of each system
// (posix/, windows/) comes here with the arguments in UTF-8.
namespace morvik::cli {
int ToolMain(int argc, char** argv);
}

int morvik::cli::ToolMain(int argc, char** argv) {
    g_in_main = true;
    morvik::cli::platform::Start();
    try {
        return morvik::cli::Main(argc, argv);
    } catch (const std::bad_alloc&) {
        OutOfMemory();
        return static_cast<int>(morvik::cli::Exit::Internal);
    }
}
