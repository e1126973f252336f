// morvik — RC2 encryption of files and streams, in the three forms of the
// Morvik.RC2 automation object: raw bytes, hex text and armoured text.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <morvik/cp1252.h>
#include <morvik/detail/wipe.h>
#include <morvik/hex.h>
#include <morvik/kernel.h>
#include <morvik/rc2.h>
#include <morvik/version.h>

#include "failure.h"
#include "io.h"
#include "stages.h"

namespace morvik::cli {
namespace {

constexpr const char* kExitStatuses = R"(
Exit status:
  0  success
  1  internal error (out of memory)
  2  usage error: unknown command or option, conflicting inputs
  3  key refused: no key, a key of 0 or more than 128 bytes, --bits outside 0..1024
  4  input or output error: a file that cannot be read or written
  5  invalid ciphertext: a length that is not a multiple of 8 bytes, or an
     armour group too large for its bytes (the object's error 5)
  6  overflow: an armour tail mark of 5 or more, or a character that has no
     Windows-1252 byte (the object's error 6)
Errors are reported on one line of standard error. With -o FILE nothing is
written unless the run succeeds; on standard output, bytes produced before a
late error may already have been written.)";

constexpr const char* kMainFooter = R"(
Examples:
  morvik encrypt --key 'my key' --text 'Attack at dawn' > msg.asc
  morvik decrypt --key 'my key' msg.asc
  export MORVIK_KEY_HEX=000102030405060708090A0B0C0D0E0F
  morvik encrypt --form raw big.iso -o big.rc2
  morvik decrypt --form raw big.rc2 -o big.iso
  morvik hex encode --text abc           (prints 616263)
  morvik asc decode --text md9J0         (prints abc)
Run 'morvik COMMAND --help' for each command.)";

constexpr const char* kEncryptFooter = R"(
The plaintext is bytes: a file, standard input, or --text (converted to
Windows-1252, as a Western Windows client's string is). A final block shorter
than 8 bytes is filled with zero bytes. The output is exactly what the object
gives: Encrypt (raw), ResultHex after Encrypt (hex), EncryptAsc (asc). Text
forms end with a line break only when written to a terminal.

Examples:
  morvik encrypt --key-hex 88BCA90E90875A7F --bits 64 --form hex --text abc
                                                          (03272B80B524F109)
  printf %s 'my key' > key.bin
  morvik encrypt --key-file key.bin report.pdf -o report.asc
  tar c docs | MORVIK_KEY_HEX=00112233 morvik encrypt --form raw > docs.rc2)";

constexpr const char* kDecryptFooter = R"(
The input is ciphertext in the chosen form; the output is the plaintext bytes,
exactly as the object's Decrypt, DecryptHex or DecryptAsc returns them: every
zero byte at the end of the plaintext is removed (a file that ends in zero
bytes does not come back whole), and a ciphertext of spaces only gives
nothing. Text input is used exactly as it is: a line break at its end is part
of it, as it would be for the object (write texts with printf %s, not echo).

Examples:
  morvik decrypt --key-file key.bin report.asc -o report.pdf
  morvik decrypt --key-hex 88BCA90E90875A7F --bits 64 --form hex --text 03272B80B524F109
  morvik decrypt --key 'Grüße' --utf8 note.asc)";

constexpr const char* kKeyHelp = R"(
Key (exactly one; 1 to 128 bytes):
  --key-hex HEX, --key TEXT, --key-file FILE, or the environment variable
  MORVIK_KEY_HEX (used when no key option is given), which keeps the key out
  of process listings. --bits sets the
  effective key length (0 means the key's own length in bits) before the key
  is set.)";

constexpr const char* kHexFooter = R"(
encode writes two uppercase hex digits per byte, as ResultHex does. decode
reads as the object reads: pairs from the left, spaces, tabs and line feeds in
a pair skipped, a pair stopped by its first other character, a last single
character worth its own digit. decode never fails.

Examples:
  morvik hex encode --text abc                  (616263)
  morvik hex decode --text 0a0B | od -An -tx1   (0a 0b)
  morvik hex decode --text ABC  | od -An -tx1   (ab 0c))";

constexpr const char* kAscFooter = R"(
encode writes the armoured base-66 text of the bytes, as ResultAsc does:
four characters per three bytes and a tail mark (0, 1 or 2). decode reads as
the object reads: characters outside the alphabet count as 0, a tail mark of
5 or more fails with status 6, a group too large for its bytes with status 5.

Examples:
  morvik asc encode --text abc        (md9J0)
  morvik asc decode --text md9J001y1  (abcd))";

struct IoOptions {
    std::string                input;
    std::optional<std::string> text;
    std::string                output;
    bool                       no_progress = false;
};

struct KeyOptions {
    std::string  hex, text, file;
    CLI::Option* hex_opt  = nullptr;
    CLI::Option* text_opt = nullptr;
    CLI::Option* file_opt = nullptr;
    std::int64_t bits     = 0;
};

void AddIo(CLI::App& cmd, IoOptions& io, const char* input_what) {
    auto* input = cmd.add_option("input", io.input, std::string(input_what) + "; standard input if absent or -")
                      ->option_text("FILE");
    cmd.add_option("--text", io.text, "take the input from TEXT (UTF-8, converted to Windows-1252) instead")
        ->option_text("TEXT")
        ->excludes(input);
    cmd.add_option("-o,--output", io.output, "write to FILE (replaced only on success) instead of standard output")
        ->option_text("FILE");
    cmd.add_flag("--no-progress", io.no_progress, "no progress line, even on a terminal");
}

void AddKey(CLI::App& cmd, KeyOptions& k) {
    k.hex_opt  = cmd.add_option("--key-hex", k.hex, "the key as hex text")->option_text("HEX");
    k.text_opt = cmd.add_option("--key", k.text, "the key as text, converted to Windows-1252")->option_text("TEXT");
    k.file_opt = cmd.add_option("--key-file", k.file, "the key: the raw bytes of FILE")->option_text("FILE");
    k.hex_opt->excludes(k.text_opt)->excludes(k.file_opt);
    k.text_opt->excludes(k.file_opt);
    cmd.add_option("--bits", k.bits, "effective key length in bits, 0 to 1024 (default 0: the key's length)")
        ->option_text("N");
}

// Command-line text becomes bytes the way a Western Windows client's string
// does; a character with no Windows-1252 byte is refused, never replaced.
std::string TextArgument(std::string_view utf8, const std::string& option) {
    try {
        return cp1252::FromUtf8(utf8);
    } catch (const Error&) {
    }
    std::size_t at = 0, index = 1;
    for (; at < utf8.size(); ++index) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        const std::size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        const std::string_view one = utf8.substr(at, len);
        try {
            cp1252::FromUtf8(one);
        } catch (const Error&) {
            char32_t c = len == 1 ? lead : lead & (0x7F >> len);
            bool ok = len > 1 && one.size() == len;
            for (std::size_t i = 1; ok && i < len; ++i) {
                const auto b = static_cast<unsigned char>(one[i]);
                ok = (b & 0xC0) == 0x80;
                c = (c << 6) | (b & 0x3F);
            }
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            if (!ok)
                throw Failure(Exit::Overflow, option + ": malformed UTF-8 at byte offset " + std::to_string(at));
            throw Failure(Exit::Overflow, option + ": character " + std::to_string(index) + " (" + code +
                                              ") has no Windows-1252 byte");
        }
        at += len;
    }
    throw Failure(Exit::Overflow, option + ": text cannot be converted to Windows-1252");
}

std::string ReadKeyFile(const std::string& path) {
    Input in = Input::File(path);
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
    if (k.bits < RC2::kMinEffectiveBits || k.bits > RC2::kMaxEffectiveBits)
        throw Failure(Exit::Key, "--bits " + std::to_string(k.bits) + ": the effective key length must be 0 to 1024");
    std::string key, source;
    if (k.hex_opt->count() > 0) {
        key = hex::Read(k.hex), source = "--key-hex";
    } else if (k.text_opt->count() > 0) {
        key = TextArgument(k.text, "--key"), source = "--key";
    } else if (k.file_opt->count() > 0) {
        if (k.file == "-" && reads_stdin)
            throw Failure(Exit::Usage, "--key-file -: standard input cannot hold both the key and the input");
        key = ReadKeyFile(k.file), source = "--key-file '" + k.file + "'";
    } else if (const char* env = std::getenv("MORVIK_KEY_HEX")) {
        key = hex::Read(env), source = "MORVIK_KEY_HEX";
    } else {
        throw Failure(Exit::Key, "no key: give --key-hex, --key or --key-file, or set MORVIK_KEY_HEX");
    }
    if (key.empty() || key.size() > RC2::kMaxKeyLength) {
        const std::string length = key.size() > RC2::kMaxKeyLength ? "more than 128" : "0";
        detail::Wipe(key);
        throw Failure(Exit::Key, source + ": the key has " + length + " bytes; a key has 1 to 128 bytes");
    }
    rc2.EffectiveKeyLength(static_cast<std::int32_t>(k.bits));
    rc2.Key(key);
    detail::Wipe(key);
}

Input OpenInput(const IoOptions& io) {
    if (io.text) return Input::Text(TextArgument(*io.text, "--text"));
    return Input::File(io.input);
}

// Pushes the whole input through a chain of stages.
void Pump(Input& in, Sink& head, const IoOptions& io, const std::string& label) {
    Progress progress(label, in.Size(), !io.no_progress);
    for (std::string_view piece; !(piece = in.Next()).empty();) {
        head.Write(piece);
        progress.Advance(piece.size());
    }
    head.Finish();
}

enum class Form { Raw, Hex, Asc };

class Chain {
public:
    explicit Chain(Sink& tail) : head_(&tail) {}
    template <typename Stage, typename... Args>
    void Prepend(Args&&... args) {
        stages_.push_back(std::make_unique<Stage>(std::forward<Args>(args)..., *head_));
        head_ = stages_.back().get();
    }
    Sink& Head() { return *head_; }

private:
    std::vector<std::unique_ptr<Sink>> stages_;
    Sink* head_;
};

void Encrypt(const IoOptions& io, const KeyOptions& k, Form form) {
    RC2 rc2;
    SetKey(rc2, k, !io.text && (io.input.empty() || io.input == "-"));
    Input in = OpenInput(io);
    Output out(io.output);
    Chain chain(out);
    if (form != Form::Raw) out.EndTextWithNewlineOnTerminal();
    if (form == Form::Hex) chain.Prepend<HexWriteStage>();
    if (form == Form::Asc) chain.Prepend<AscEncodeStage>();
    chain.Prepend<EncryptStage>(rc2);
    Pump(in, chain.Head(), io, "encrypting");
}

void Decrypt(const IoOptions& io, const KeyOptions& k, Form form, bool utf8) {
    RC2 rc2;
    SetKey(rc2, k, !io.text && (io.input.empty() || io.input == "-"));
    Input in = OpenInput(io);
    Output out(io.output);
    Chain chain(out);
    if (utf8) chain.Prepend<Utf8Stage>();
    const char* what = form == Form::Raw   ? "the ciphertext"
                       : form == Form::Hex ? "the ciphertext read from the hex text"
                                           : "the ciphertext decoded from the armoured text";
    chain.Prepend<DecryptStage>(rc2, what);
    if (form == Form::Hex) chain.Prepend<HexReadStage>();
    if (form == Form::Asc) chain.Prepend<AscDecodeStage>();
    try {
        Pump(in, chain.Head(), io, "decrypting");
    } catch (const Failure& f) {
        // The usual cause of a ciphertext text that reads to a bad length.
        if (form == Form::Raw || f.status() != Exit::Invalid || !in.EndsWithLineBreak()) throw;
        throw Failure(f.status(), std::string(f.what()) + " (the text ends with a line break, which counts as part of it)");
    }
}

void Codec(const IoOptions& io, Form form, bool encode) {
    Input in = OpenInput(io);
    Output out(io.output);
    Chain chain(out);
    if (encode) out.EndTextWithNewlineOnTerminal();
    if (form == Form::Hex) encode ? chain.Prepend<HexWriteStage>() : chain.Prepend<HexReadStage>();
    if (form == Form::Asc) encode ? chain.Prepend<AscEncodeStage>() : chain.Prepend<AscDecodeStage>();
    Pump(in, chain.Head(), io, encode ? "encoding" : "decoding");
}

int Main(int argc, char** argv) {
    CLI::App app{"Morvik RC2: RC2 (RFC 2268) encryption of files and streams, byte-compatible with Morvik.RC2",
                 "morvik"};
    app.set_version_flag("--version", std::string("morvik ") + kVersion);
    app.require_subcommand(1);
    app.footer(std::string(kMainFooter) + "\n" + kExitStatuses);

    IoOptions io;
    KeyOptions encrypt_key, decrypt_key;  // one each: the options are told apart by their counts
    std::string form_name = "asc";
    bool utf8 = false;
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
    encrypt->footer(std::string(kKeyHelp) + "\n" + kEncryptFooter + "\n" + kExitStatuses);

    auto* decrypt = app.add_subcommand("decrypt", "decrypt a ciphertext into bytes");
    AddIo(*decrypt, io, "the ciphertext file");
    add_form(*decrypt, "form of the ciphertext read");
    AddKey(*decrypt, decrypt_key);
    add_kernel(*decrypt);
    decrypt->add_flag("--utf8", utf8, "write the plaintext as UTF-8, reading its bytes as Windows-1252");
    decrypt->footer(std::string(kKeyHelp) + "\n" + kDecryptFooter + "\n" + kExitStatuses);

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
            cmd->footer(std::string(footer) + "\n" + kExitStatuses);
            codecs.emplace_back(cmd, form);
        }
    }

    std::string prefix = "morvik: ";
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // Name the command whose arguments went wrong, as far as it was read.
        std::string command = "morvik";
        for (const CLI::App* at = &app; !at->get_subcommands().empty();) {
            at = at->get_subcommands().front();
            command += " " + at->get_name();
        }
        std::cerr << command << ": " << e.what() << " (see " << command << " --help)\n";
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
            Encrypt(io, encrypt_key, forms.at(form_name));
        } else if (decrypt->parsed()) {
            prefix = "morvik decrypt: ";
            force_kernel();
            Decrypt(io, decrypt_key, forms.at(form_name), utf8);
        } else {
            for (const auto& [cmd, form] : codecs) {
                if (!cmd->parsed()) continue;
                prefix = "morvik " + cmd->get_parent()->get_name() + " " + cmd->get_name() + ": ";
                Codec(io, form, cmd->get_name() == "encode");
            }
        }
    } catch (const Failure& f) {
        std::cerr << prefix << f.what() << '\n';
        return static_cast<int>(f.status());
    } catch (const Error& e) {
        std::cerr << prefix << e.what() << '\n';
        return e.code();
    } catch (const std::bad_alloc&) {
        std::cerr << prefix << "out of memory\n";
        return static_cast<int>(Exit::Internal);
    } catch (const std::exception& e) {
        std::cerr << prefix << e.what() << '\n';
        return static_cast<int>(Exit::Internal);
    }
    return static_cast<int>(Exit::Ok);
}

}  // namespace
}  // namespace morvik::cli

int main(int argc, char** argv) { return morvik::cli::Main(argc, argv); }
