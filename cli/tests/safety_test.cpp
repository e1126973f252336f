// The built tool against the ways a user can lose data or be misread: output
// names that are descriptors, links and long names, signals, permissions,
// plaintexts that decryption cannot give back, line breaks after saved texts,
// mistyped numbers, keys and characters, and the terminal (a key typed without
// echo, a progress line in a narrow window).
//
// Most cases are rows of shell: each runs in a fresh folder with $M the tool
// and MORVIK_KEY_HEX set, then its check runs there (with $OUT the run's
// standard output) and must succeed. Rows marked root or nobody skip unless
// the tests run as root; $AS_NOBODY runs a command as the user nobody.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <morvik/rc2.h>

#include "cli/progress.h"
#include "run_tool.h"

namespace {

#ifdef _WIN32
// The rows are shell scripts about descriptors, links, owners, signals and
// ptys, and the terminal cases need a pty: none of them applies to Windows.
TEST(SafetyRows, NotOnWindows) {
    GTEST_SKIP() << "shell rows (descriptors, symbolic links, owners, signals) and pty cases: POSIX only";
}
#else
}  // namespace

extern char** environ;

namespace {

namespace fs = std::filesystem;
using morvik::test::Slurp;
using morvik::test::Spit;
using Clock = std::chrono::steady_clock;

constexpr const char* kKeyHex = "000102030405060708090A0B0C0D0E0F";

struct Row {
    const char* name;
    const char* as;       // "", "root" or "nobody": who must be able to run it
    const char* script;
    int         status;   // of the script, which ends with the run under test
    const char* message;  // in its standard error, the only line there; "" for none, nullptr: not looked at
    const char* check;    // "" for none
};

std::ostream& operator<<(std::ostream& os, const Row& row) { return os << row.name; }

const Row kRows[] = {
    // 1. A name that is a descriptor is written through, never replaced.
    {"C01_DevStdoutAppendsToTheShellsFile", "", "echo LINE > log.txt; $M encrypt --text abc -o /dev/stdout >> log.txt",
     0, "", "printf 'LINE\\n%s' \"$($M encrypt --text abc)\" | cmp - log.txt"},
    {"C01_ClosedStdoutDoesNotReplaceTheInput", "", "printf plain > p.txt; $M encrypt p.txt -o /dev/stdout >&-", 4,
     "morvik encrypt: cannot write '/dev/stdout': Bad file descriptor", "test \"$(cat p.txt)\" = plain && test \"$(ls -A)\" = p.txt"},
    {"C01_DevFdAppends", "", "echo LINE > log.txt; $M hex encode --text abc -o /dev/fd/3 3>>log.txt", 0, "",
     "printf 'LINE\\n616263' | cmp - log.txt"},
    {"C01_ProcSelfFdAppends", "", "echo LINE > log.txt; $M hex encode --text abc -o /proc/self/fd/1 >>log.txt", 0, "",
     "printf 'LINE\\n616263' | cmp - log.txt"},
    {"C01_DevStderrAppends", "", "echo LINE > log.txt; $M hex encode --text abc -o /dev/stderr 2>>log.txt", 0, "",
     "printf 'LINE\\n616263' | cmp - log.txt"},
    {"C01_LinkToDevStdout", "", "ln -s /dev/stdout out; echo LINE > log.txt; $M hex encode --text abc -o out >> log.txt",
     0, "", "printf 'LINE\\n616263' | cmp - log.txt && test -L out"},
    {"C01_ReadOnlyDevStdinIsAnError", "", "printf plain > p.txt; $M hex encode --text abc -o /dev/stdin < p.txt", 4,
     "cannot write '/dev/stdin': Bad file descriptor", "test \"$(cat p.txt)\" = plain"},
    {"C01_PipeIsWrittenThrough", "", "mkfifo f; cat f > got & $M hex encode --text abc -o f; s=$?; wait; exit $s", 0,
     "", "test -p f && test \"$(cat got)\" = 616263"},
    {"C01_ClosedStdinIsAnError", "", "$M hex encode <&-", 4, "cannot read standard input: Bad file descriptor", ""},

    // 2. Every fatal signal removes the temporary file (the others are in
    // tool_test.cpp); here the file size limit.
    {"C02_FileSizeLimitLeavesNoTemporaryFile", "",
     "head -c 300000 /dev/zero | tr '\\0' a > big; (ulimit -f 100; exec $M encrypt --form hex big -o out.hex)",
     128 + SIGXFSZ, nullptr, "test \"$(ls -A)\" = big"},

    // 3. Replacing a file through -o.
    {"C03_UnwritableTargetIsRefused", "nobody",
     "printf p > p; printf old > f; chown nobody f; chmod 444 f; $AS_NOBODY $M encrypt p -o f", 4,
     "morvik encrypt: cannot write 'f': Permission denied", "test \"$(cat f)\" = old && test \"$(ls -A | tr '\\n' ' ')\" = 'f p '"},
    {"C03_OwnerGroupAndModeAreKept", "root",
     "printf p > p; printf old > f; chown nobody:nogroup f; chmod 640 f; $M encrypt p -o f", 0, "",
     "test \"$(stat -c '%U:%G %a' f)\" = 'nobody:nogroup 640' && test \"$($M decrypt f)\" = p"},
    {"C03_SetuidAndSetgidAreCleared", "", "printf p > p; printf old > f; chmod 6755 f; $M encrypt p -o f", 0, "",
     "test \"$(stat -c %a f)\" = 755 && test \"$($M decrypt f)\" = p"},
    {"C03_OwnerThatCannotBeKeptIsRefused", "nobody", "printf p > p; printf old > f; chmod 666 f; $AS_NOBODY $M encrypt p -o f",
     4, "cannot replace 'f' keeping its owner and group: Operation not permitted",
     "test \"$(cat f)\" = old && test \"$(ls -A | tr '\\n' ' ')\" = 'f p '"},
    {"C03_HardLinkKeepsTheOldContent", "", "printf p > p; printf old > f; ln f g; $M encrypt p -o f", 0, "",
     "test \"$(cat g)\" = old && test \"$($M decrypt f)\" = p"},

    // 4. Any name the file system accepts.
    {"C04_NamesUpToTheLongestWork", "",
     "for n in 240 241 250 255; do f=$(head -c $n /dev/zero | tr '\\0' n); $M hex encode --text abc -o $f && "
     "$M hex encode --text abcd -o $f || exit; done",
     0, "",
     "for n in 240 241 250 255; do test \"$(cat $(head -c $n /dev/zero | tr '\\0' n))\" = 61626364 || exit; done; "
     "test $(ls -A | wc -l) = 4"},
    {"C04_LongerNameGetsTheSystemsAnswer", "", "$M hex encode --text abc -o $(head -c 256 /dev/zero | tr '\\0' n)", 4,
     "File name too long", "test -z \"$(ls -A)\""},

    // 5. Symbolic links.
    {"C05_DanglingLinkGetsItsTarget", "", "mkdir d; ln -s ../t d/l; $M hex encode --text abc -o d/l", 0, "",
     "test -L d/l && test \"$(cat t)\" = 616263"},
    // A link that another user planted in a sticky shared folder is not
    // followed (the kernel's fs.protected_symlinks rule, whatever the
    // machine's setting); one of the folder's owner or of the user is.
    {"C05_LinkPlantedInAStickyFolderIsRefused", "nobody",
     "chmod 1777 .; printf keep > victim; $AS_NOBODY ln -s victim out; $M hex encode --text abc -o out", 4,
     "morvik hex encode: cannot write 'out': the symbolic link 'out' is in a sticky world-writable folder and "
     "belongs to neither you nor the folder's owner: Permission denied",
     "test \"$(cat victim)\" = keep && test -L out && test \"$(ls -A | tr '\\n' ' ')\" = 'out victim '"},
    {"C05_PlantedLinkToADanglingTargetIsRefused", "nobody",
     "chmod 1777 .; $AS_NOBODY ln -s made-by-root out; $M hex encode --text abc -o out", 4,
     "belongs to neither you nor the folder's owner", "test ! -e made-by-root"},
    {"C05_FolderOwnersLinkIsFollowed", "nobody",
     "chmod 1777 .; printf old > t; chown nobody:nogroup t; ln -s t l; $AS_NOBODY $M hex encode --text abc -o l", 0, "",
     "test -L l && test \"$(cat t)\" = 616263"},
    {"C05_OwnLinkInAStickyFolderIsFollowed", "nobody",
     "chmod 1777 .; printf old > t; chown nobody:nogroup t; $AS_NOBODY ln -s t l; $AS_NOBODY $M hex encode --text abc -o l",
     0, "", "test -L l && test \"$(cat t)\" = 616263"},
    {"C05_LinkInAFolderThatIsNotStickyIsFollowed", "nobody",
     "chmod 777 .; printf old > t; $AS_NOBODY ln -s t l; $M hex encode --text abc -o l", 0, "",
     "test -L l && test \"$(cat t)\" = 616263"},
    {"C05_LinkLoopIsRefused", "", "ln -s a b; ln -s b a; $M hex encode --text abc -o a", 4,
     "morvik hex encode: cannot write 'a': Too many levels of symbolic links",
     "test -L a && test -L b && test \"$(ls -A | tr '\\n' ' ')\" = 'a b '"},

    // 6. Help, version and output that cannot be written.
    {"C06_HelpToAFullDevice", "", "$M --help > /dev/full", 4, "morvik: cannot write standard output: No space left on device", ""},
    {"C06_VersionToAClosedOutput", "", "$M --version >&-", 4, "morvik: cannot write standard output: Bad file descriptor", ""},
    {"C06_CommandHelpToAFullDevice", "", "$M asc decode --help > /dev/full", 4, "cannot write standard output: No space left", ""},
    {"C06_CiphertextToAFullDevice", "", "$M encrypt --text abc > /dev/full", 4,
     "morvik encrypt: cannot write standard output: No space left on device", ""},
    {"C06_CiphertextToAClosedOutput", "", "$M hex encode --text abc >&-", 4, "cannot write standard output: Bad file descriptor", ""},

    // 7. Out of memory at any point, from the first static object on: status 1
    // (or the loader's 127 when not even the program can be mapped).
    {"C07_OutOfMemoryIsStatusOne_Natively", "",
     "ones=0; for v in $(seq 3000 20 15000); do (ulimit -v $v; exec $M encrypt --text abc) >/dev/null 2>err; s=$?; "
     "case $s in 0|127) ;; 1) grep -q '^morvik: out of memory$' err && ones=$((ones+1)) ;; "
     "*) echo \"ulimit -v $v: status $s: $(cat err)\" >&2; exit 1 ;; esac; done; "
     "test $ones -gt 0 || { echo 'no run ran out of memory' >&2; exit 1; }",
     0, "", ""},

    // 8. Plaintexts that decryption would not give back whole.
    {"C08_FileEndingInZerosLeavesNoOutputFile", "", "printf 'abc\\0\\0' > z; $M encrypt z -o z.asc", 7,
     "morvik encrypt: the input ends in 2 zero bytes, which decryption would remove", "test \"$(ls -A)\" = z"},
    {"C08_FileToStandardOutputWritesNothing", "", "printf 'abc\\0' > z; $M encrypt --form raw z > out", 7,
     "the input ends in 1 zero byte, which decryption would remove", "test ! -s out"},
    {"C08_LargeFileIsCheckedBeforeWriting", "",
     "head -c 3000000 /dev/urandom > z; head -c 9 /dev/zero >> z; $M encrypt --form hex z > out", 7,
     "the input ends in 9 zero bytes", "test ! -s out"},
    {"C08_ArchiveFromAPipeWritesNothing", "", "mkdir docs; printf hi > docs/a; tar cf - docs | $M encrypt --form raw > d.rc2",
     7, "zero bytes, which decryption would remove", "test ! -s d.rc2"},
    {"C08_LongPipeIsJudgedAtItsEnd", "",
     "{ head -c 1100000 /dev/zero | tr '\\0' a; printf '\\0'; } | $M encrypt --form raw > out", 7,
     "the input ends in 1 zero byte, which decryption would remove: the ciphertext would not give it back whole "
     "(--allow-trailing-zeros encrypts it anyway); the ciphertext written so far is incomplete",
     // Writing starts once more than 1 MiB is pending; what is written then
     // is the held-back part, which lacks at most the chunk that tipped it
     // over (up to 64 KiB and a block), so how much depends on the pipe's reads.
     "s=$(wc -c < out); test $s -ge $((1048576 - 65536 - 8)) && test $s -lt 1100000"},
    {"C08_AllowTrailingZerosIsTheObjectsBehaviour", "", "printf 'abc\\0\\0' > z; $M encrypt --allow-trailing-zeros z -o z.asc",
     0, "", "$M decrypt z.asc > back && printf abc | cmp - back"},
    {"C08_CompressedArchiveComesBack", "",
     "mkdir docs; printf hi > docs/a; tar cf - docs | xz | $M encrypt --form raw > d.rc2 && rm -r docs && "
     "$M decrypt --form raw d.rc2 | xz -d | tar xf -",
     0, "", "test \"$(cat docs/a)\" = hi"},
    {"C08_CodecsAreNotEncryption", "", "printf 'a\\0' | $M hex encode", 0, "", "test \"$(cat \"$OUT\")\" = 6100"},

    // 9. One final line break of a saved text.
    {"C09_EchoedArmourDecrypts", "", "echo \"$($M encrypt --text abc)\" > msg.asc; $M decrypt msg.asc", 0, "",
     "printf abc | cmp - \"$OUT\""},
    {"C09_CrlfArmourDecrypts", "", "printf '%s\\r\\n' \"$($M encrypt --text abc)\" > msg.asc; $M decrypt msg.asc", 0, "",
     "printf abc | cmp - \"$OUT\""},
    {"C09_EchoedHexDecryptsFromAPipe", "", "echo \"$($M encrypt --form hex --text abc)\" | $M decrypt --form hex", 0, "",
     "printf abc | cmp - \"$OUT\""},
    {"C09_AscDecodeDropsIt", "", "echo md9J0 | $M asc decode", 0, "", "printf abc | cmp - \"$OUT\""},
    {"C09_HexDecodeDropsACrlf", "", "printf '616263\\r\\n' | $M hex decode", 0, "", "printf abc | cmp - \"$OUT\""},
    {"C09_OnlyOneLineBreakGoes", "", "printf 'md9J0\\n\\n' | $M asc decode", 0, "", "printf 'abc\\0\\0\\0' | cmp - \"$OUT\""},
    {"C09_LoneCarriageReturnStays", "", "printf '616263\\r' | $M hex decode", 0, "", "printf 'abc\\0' | cmp - \"$OUT\""},
    {"C09_ExactInputKeepsIt", "", "echo md9J0 | $M asc decode --exact-input", 0, "", "printf 'abc\\0\\0\\0' | cmp - \"$OUT\""},
    {"C09_TextIsExact", "", "$M asc decode --text 'md9J0\n'", 0, "", "printf 'abc\\0\\0\\0' | cmp - \"$OUT\""},
    {"C09_ExactInputDecryptNamesTheLineBreak", "", "echo \"$($M encrypt --form hex --text abc)\" | $M decrypt --form hex --exact-input", 5,
     "is 9 bytes long, not a multiple of 8: the block at byte offset 8 has only 1 byte (the text ends with a line break", ""},

    // 10. --bits: decimal digits only, with an optional sign.
    {"C10_BitsAreDecimal", "",
     "test \"$($M encrypt --bits 010 --text abc)\" = \"$($M encrypt --bits 10 --text abc)\" && "
     "test \"$($M encrypt --bits +64 --text abc)\" = \"$($M encrypt --bits 64 --text abc)\" && "
     "test \"$($M encrypt --bits -0 --text abc)\" = \"$($M encrypt --text abc)\" && "
     "test \"$($M encrypt --bits 010 --text abc)\" != \"$($M encrypt --bits 8 --text abc)\"",
     0, "", ""},
    {"C10_HexBitsAreRefused", "", "$M encrypt --bits 0x10 --text abc", 3,
     "morvik encrypt: --bits '0x10' is not a decimal number: the effective key length must be 0 to 1024", "test ! -s \"$OUT\""},
    {"C10_EmptyBitsAreRefused", "", "$M encrypt --bits '' --text abc", 3, "--bits '' is not a decimal number", ""},
    {"C10_HugeBitsAreRefusedAsTyped", "", "$M decrypt --bits 99999999999999999999 --text abc", 3,
     "--bits 99999999999999999999: the effective key length must be 0 to 1024", ""},
    {"C10_SpacedBitsAreRefused", "", "$M encrypt --bits ' 64' --text abc", 3, "--bits ' 64' is not a decimal number", ""},
    {"C10_ExponentIsRefused", "", "$M encrypt --bits 1e3 --text abc", 3, "--bits '1e3' is not a decimal number", ""},

    // 11. A typed key in hex: hex digits, two per byte; ciphertexts stay lenient.
    {"C11_NonDigitKeyIsRefused", "", "$M encrypt --key-hex zz --text abc", 3,
     "morvik encrypt: --key-hex: character 1 ('z') is not a hex digit", "test ! -s \"$OUT\""},
    {"C11_PrefixedKeyIsRefused", "", "$M encrypt --key-hex 0x88BCA90E90875A7F --text abc", 3,
     "--key-hex: character 2 ('x') is not a hex digit", ""},
    {"C11_SeparatedKeyIsRefused", "", "$M decrypt --key-hex 88:BC:A9 --text abc", 3, "--key-hex: character 3 (':')", ""},
    {"C11_OddKeyIsRefused", "", "$M encrypt --key-hex 88B --text abc", 3,
     "--key-hex: 3 hex digits, an odd number; a key in hex is two digits per byte", ""},
    {"C11_EnvironmentKeyIsStrict", "", "MORVIK_KEY_HEX='88BC A9' $M encrypt --text abc", 3,
     "MORVIK_KEY_HEX: character 5 (' ') is not a hex digit", ""},
    {"C11_NonAsciiInKeyIsNamed", "", "$M encrypt --key-hex 88\xc3\xa9 --text abc", 3, "character 3 (byte 0xC3)", ""},
    {"C11_LowercaseIsTheSameKey", "",
     "test \"$($M encrypt --key-hex 88bca90e --text abc)\" = \"$($M encrypt --key-hex 88BCA90E --text abc)\"", 0, "", ""},
    {"C11_CiphertextHexStaysLenient", "", "$M hex decode --text zz12", 0, "", "printf '\\000\\022' | cmp - \"$OUT\""},

    // 12. Malformed UTF-8 is named as such, with its byte offset.
    {"C12_OverlongFormIsMalformed", "", "$M encrypt --text \"$(printf '\\301\\201')\"", 6,
     "morvik encrypt: --text: malformed UTF-8 at byte offset 0", ""},
    {"C12_OverlongNulIsMalformed", "", "$M encrypt --key \"$(printf 'k\\300\\200')\" --text a", 6,
     "--key: malformed UTF-8 at byte offset 1", ""},
    {"C12_FiveByteFormIsMalformed", "", "$M hex encode --text \"$(printf 'ab\\370\\210\\200\\200\\200')\"", 6,
     "--text: malformed UTF-8 at byte offset 2", ""},
    {"C12_SurrogateIsMalformed", "", "$M hex encode --text \"$(printf 'x\\355\\240\\200')\"", 6,
     "malformed UTF-8 at byte offset 1", ""},
    {"C12_StrayContinuationIsMalformed", "", "$M hex encode --text \"$(printf 'abc\\200')\"", 6,
     "malformed UTF-8 at byte offset 3", ""},
    {"C12_UnmappableStaysUnmappable", "", "$M hex encode --text 'a\xce\xa9'", 6,
     "--text: character 2 (U+03A9) has no Windows-1252 byte", ""},
    {"C12_WellFormedTextConverts", "", "$M hex encode --text 'caf\xc3\xa9 \xe2\x82\xac'", 0, "",
     "test \"$(cat \"$OUT\")\" = 636166E92080"},

    // 13. Messages that say what is wrong.
    {"C13_UnknownCommandIsNamed", "", "$M frobnicate", 2,
     "morvik: unknown command 'frobnicate'; the commands are encrypt, decrypt, hex, asc, help (see morvik --help)",
     ""},
    // "morvik help" was refused as an unknown command before it became one.
    {"C13_HelpIsACommand", "", "$M help", 0, "", "grep -q 'Subcommands:' \"$OUT\""},
    {"C13_UnknownSubcommandIsNamed", "", "$M asc frob", 2,
     "morvik asc: unknown command 'frob'; the commands are encode, decode (see morvik asc --help)", ""},
    {"C13_SlashAfterAFileIsNotADirectory", "", "mkdir dd; touch dd/x; $M hex encode --text a -o dd/x/", 4,
     "cannot write 'dd/x/': Not a directory", "test \"$(ls -A dd)\" = x"},
    {"C13_OneByteIsSingular", "", "printf x | $M decrypt --form raw", 5,
     "the ciphertext is 1 byte long, not a multiple of 8: the block at byte offset 0 has only 1 byte", ""},
    {"C13_OneByteGroupIsSingular", "", "$M asc decode --text 00401", 5,
     "group 1 (characters 1 to 4: '0' '0' '4' '0') is too large for the 1 byte that the tail mark '1' gives", ""},

    // 14. --key-prompt without a terminal (the terminal itself: KeyPrompt below).
    {"C14_KeyPromptNeedsATerminal", "", "$M encrypt --key-prompt --text abc", 2,
     "morvik encrypt: --key-prompt: no terminal to read the key from", ""},
    {"C14_KeyPromptIsOneKeySource", "", "$M encrypt --key-prompt --key k --text abc", 2, "excludes", ""},

    // 15. An option's value as typed: never empty, never the next word.
    {"C15_EmptyOutputValueKeepsTheInput", "", "echo keep > in.txt; $M encrypt --output= in.txt", 2,
     "morvik encrypt: --output=: the value is empty", "test \"$(cat in.txt)\" = keep && test \"$(ls -A)\" = in.txt"},
    {"C15_EveryEmptyValueIsRefused", "",
     "echo keep > in.txt; for c in 'encrypt --key=' 'encrypt --key-hex=' 'encrypt --key-file=' 'encrypt --text=' "
     "'encrypt --bits=' 'encrypt --form=' 'encrypt --kernel=' 'encrypt --csv=' 'decrypt --csv 1 --delimiter=' "
     "'decrypt --lines --on-error=' 'hex decode --output=' 'asc encode --text='; do "
     "$M $c in.txt 2>err; s=$?; test $s = 2 && grep -q -- \"${c##* }: the value is empty\" err || "
     "{ echo \"$c: status $s: $(cat err)\" >&2; exit 1; }; done",
     0, "", "test \"$(cat in.txt)\" = keep && test ! -s \"$OUT\""},
    {"C15_EmptyOutputNameIsRefused", "", "echo keep > in.txt; $M encrypt in.txt -o ''", 2,
     "morvik encrypt: -o '': the file name is empty", "test ! -s \"$OUT\""},
    {"C15_EmptyLongOutputNameIsRefused", "", "$M hex encode --text a --output ''", 2, "--output '': the file name is empty",
     "test ! -s \"$OUT\""},
    {"C15_EmptyKeyFileNameIsRefused", "", "echo keep > in.txt; echo k | $M encrypt --key-file '' in.txt", 2,
     "--key-file '': the file name is empty", "test ! -s \"$OUT\""},
    {"C15_OptionGivenTwiceIsNamed", "", "$M encrypt --key a --key b --text a", 2,
     "morvik encrypt: --key given twice; give it once", ""},
    {"C15_OutputGivenTwiceByBothNames", "", "$M encrypt -o a --output b --text a", 2,
     "--output given twice (as -o before); give it once", "test -z \"$(ls -A)\""},

    // 16. Standard input holds the key or the input, whatever its name.
    {"C16_KeyFileDevStdinIsRefused", "", "echo k | $M encrypt --key-file /dev/stdin", 2,
     "morvik encrypt: --key-file '/dev/stdin': standard input cannot hold both the key and the input", "test ! -s \"$OUT\""},
    {"C16_EveryNameOfStandardInputIsRefused", "",
     "printf k > kf; for f in /dev/fd/0 /proc/self/fd/0 kf; do $M encrypt --key-file $f < kf 2>err; s=$?; "
     "test $s = 2 && grep -q 'standard input cannot hold both' err || { echo \"$f: $s $(cat err)\" >&2; exit 1; }; done",
     0, "", "test ! -s \"$OUT\""},
    {"C16_KeyFromStandardInputWithAnInputFile", "",
     "printf abc > p; printf k | $M encrypt --key-file /dev/stdin p > a && $M encrypt --key k p > b && cmp a b", 0, "", ""},

    // 17. Hex folded into lines: the object's reading, and a warning.
    {"C17_FoldedHexWarns", "",
     "$M encrypt --form hex --text \"$(head -c 60 /dev/zero | tr '\\0' a)\" | fold -w 8 | $M decrypt --form hex", 0,
     "morvik: warning: the hex text holds a line break at byte offset 8, which is read as part of a pair",
     "test $(wc -c < \"$OUT\") -gt 0"},
    {"C17_FoldedHexDecodeWarns", "", "printf '6162\\r\\n6364' | $M hex decode", 0,
     "warning: the hex text holds a line break at byte offset 4", "printf 'ab\\0cd' | cmp - \"$OUT\""},
    {"C17_FinalLineBreakOfHexIsNoWarning", "", "printf '6162\\n\\n' | $M hex decode --exact-input", 0, "", ""},

    // 18. Names in messages cannot drive the terminal.
    {"C18_OutputNameIsEscaped", "", "$M hex encode --text a -o \"$(printf 'x/\\033[2J\\302\\233\\342\\200\\256\\377')\"", 4,
     "morvik hex encode: cannot write 'x/\\x1B[2J\\xC2\\x9B\\xE2\\x80\\xAE\\xFF': the folder 'x' does not exist", ""},
    {"C18_InputNameIsEscaped", "", "$M hex encode \"$(printf 'in\\n\\033]0;t\\007')\"", 4,
     "cannot open 'in\\x0A\\x1B]0;t\\x07': No such file or directory", ""},
    {"C18_KeyFileNameIsEscaped", "", "$M encrypt --key-file \"$(printf 'k\\033[31m')\" --text a", 4,
     "cannot open 'k\\x1B[31m'", ""},
    {"C18_HeaderNamesAreEscaped", "", "printf 'a\\033[31m,b\\n1,2\\n' | $M encrypt --csv zz --header", 2,
     "(it has 'a\\x1B[31m', 'b')", ""},
    {"C18_TypedValuesAreEscaped", "", "$M encrypt --form \"$(printf '\\033[2J')\" --text a", 2, "\\x1B[2J", ""},
    {"C18_PrintableUtf8StaysAsItIs", "", "$M hex encode --text a -o 'Gr\303\274\303\237e/x'", 4,
     "cannot write 'Gr\303\274\303\237e/x': the folder 'Gr\303\274\303\237e' does not exist", ""},

    // 19. Messages that name the cause.
    {"C19_HugeColumnNumberIsOutOfRange", "", "$M encrypt --csv 99999999999999999999 --text a", 2,
     "morvik encrypt: --csv 99999999999999999999: the column number is out of range", ""},
    {"C19_CodecTakesNoKey", "", "$M asc encode --key x --text a", 2,
     "morvik asc encode: --key: asc encode takes no key: it converts bytes to armoured text", ""},
    {"C19_DanglingLinkNamesTheMissingFolder", "", "ln -s nodir/x out; $M hex encode --text a -o out", 4,
     "morvik hex encode: cannot write 'out': the folder 'nodir' does not exist", "test -L out && test ! -e nodir"},

    // New files take the umask as any program's do; a replaced file keeps its mode.
    {"NewFileTakesTheUmask", "", "umask 027; $M hex encode --text a -o new; umask 077; $M hex encode --text a -o new", 0, "",
     "test \"$(stat -c %a new)\" = 640"},

    // Blank ciphertexts: only raw spaces are blank; in the text forms spaces
    // are text that decodes to bytes.
    {"BlankRawSpacesGiveNothing", "", "printf '    ' | $M decrypt --form raw", 0, "", "test ! -s \"$OUT\""},
    {"HexSpacesAreZeroBytes", "", "printf '    ' | $M decrypt --form hex", 5,
     "the ciphertext read from the hex text is 2 bytes long", ""},
    {"ArmouredSpacesAreBytes", "", "printf '    ' | $M decrypt", 5,
     "the ciphertext decoded from the armoured text is 3 bytes long", ""},

    // Manners: help, what the user meant, the terminal.
    {"HelpCommandIsTheCommandsHelp", "", "$M help encrypt > a && $M encrypt --help > b && cmp a b", 0, "", ""},
    {"HelpOfANestedCommand", "", "$M help hex decode | grep -q -- --exact-input", 0, "", ""},
    {"HelpAloneIsTheOverview", "", "$M help > a && $M --help > b && cmp a b", 0, "", ""},
    {"HelpOfAMistypedCommand", "", "$M help encrpyt", 2,
     "morvik: unknown command 'encrpyt'; did you mean 'encrypt'?", ""},
    {"MistypedCommandIsNamed", "", "$M decrpyt --text abc", 2, "unknown command 'decrpyt'; did you mean 'decrypt'?",
     ""},
    {"MistypedOptionIsNamed", "", "$M encrypt --kye k --text abc", 2,
     "morvik encrypt: unknown option '--kye'; did you mean '--key'? (see morvik encrypt --help)", ""},
    {"MistypedOptionWithItsValueAttached", "", "$M decrypt --from=hex --text 00", 2,
     "unknown option '--from'; did you mean '--form'?", ""},
    {"MistypedOptionOfANestedCommand", "", "$M asc decode --exact-imput --text md9J0", 2,
     "morvik asc decode: unknown option '--exact-imput'; did you mean '--exact-input'?", ""},
    {"MistypedOptionAfterAFlag", "", "$M encrypt --no-progress --kye k --text abc", 2,
     "morvik encrypt: unknown option '--kye'; did you mean '--key'?", ""},
    {"MistypedOnErrorAfterLines", "", "$M decrypt --lines --on-eror keep --key k --text x", 2,
     "morvik decrypt: unknown option '--on-eror'; did you mean '--on-error'?", ""},
    {"UnknownOptionWithNothingLikeIt", "", "$M encrypt --zzzzzz --text abc", 2,
     "morvik encrypt: unknown option '--zzzzzz' (see morvik encrypt --help)", ""},
    {"OptionLikeValueIsAValue", "", "$M hex encode --text --kye", 0, "", "test \"$(cat \"$OUT\")\" = 2D2D6B7965"},
    {"RawCiphertextIsNotWrittenToATerminal", "",
     "script -qec \"$M encrypt --form raw --text abc\" /dev/null", 2, nullptr,
     "grep -q 'would garble the terminal.*-o FILE.*--form hex' \"$OUT\""},
    {"RawCiphertextToAPipeIsWritten", "", "$M encrypt --form raw --text abc | od -An -tx1 | grep -q .", 0, "", ""},
    {"TextToATerminalEndsWithALineBreak", "", "script -qec \"$M hex encode --text abc\" /dev/null", 0, "",
     "printf '616263\\r\\n' | cmp - \"$OUT\""},

    // encrypt --utf8: the inverse of decrypt --utf8, through Windows-1252.
    {"Utf8EncryptAndDecryptAreInverses", "",
     "printf 'Gr\303\274\303\237e, 10 \342\202\254\\n' > p && $M encrypt --utf8 p -o c && $M decrypt --utf8 c -o back"
     " && cmp p back",
     0, "", ""},
    {"Utf8EncryptEncryptsTheWindows1252Bytes", "",
     "printf 'Gr\303\274\303\237e \342\202\254' > p && iconv -f UTF-8 -t CP1252 p > w && $M encrypt --utf8 p > a &&"
     " $M encrypt w > b && cmp a b && ! cmp -s p w",
     0, "", ""},
    {"Utf8EncryptNamesACharacterWithoutAByte", "", "printf 'ab\\nc\344\270\255' > p; $M encrypt --utf8 p -o c", 6,
     "morvik encrypt: the input at byte offset 4 (line 2): character U+4E2D has no Windows-1252 byte",
     "test ! -e c"},
    {"Utf8EncryptNamesMalformedUtf8", "", "printf 'a\342\202' | $M encrypt --utf8", 6,
     "the input at byte offset 1 (line 1): malformed UTF-8", ""},
    {"Utf8EncryptAcrossPieces", "",
     "head -c 65535 /dev/zero | tr '\\0' a > p && printf '\342\202\254\303\251' >> p && "
     "cat p | $M encrypt --utf8 | $M decrypt --utf8 | cmp - p && $M encrypt --utf8 p | $M decrypt --utf8 | cmp - p",
     0, "", ""},
    {"Utf8EncryptOfRecords", "",
     "printf 'Gr\303\274\303\237e\\n\342\202\254\\n' > p && $M encrypt --utf8 --lines p | $M decrypt --utf8 --lines |"
     " cmp - p",
     0, "", ""},
    {"Utf8EncryptNamesTheRecordWithoutAByte", "", "printf 'id,v\\n1,\344\270\255\\n' | $M encrypt --csv v --header --utf8",
     6, "row 2 (line 2), column 2: the plaintext: character 1 (U+4E2D) has no Windows-1252 byte", ""},
    {"Utf8IsTheTextOfText", "", "$M encrypt --utf8 --text 'Gr\303\274\303\237e' > a && "
     "printf 'Gr\303\274\303\237e' | $M encrypt --utf8 > b && cmp a b", 0, "", ""},
};

class Rows : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "morvik-rows-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
        fs::create_directory(dir_ / "work");
        // A killed run must not leave a core file (Valgrind's included).
        const struct rlimit none {0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
    }
    void TearDown() override { fs::remove_all(dir_); }

    int Shell(const std::string& script, const std::vector<std::string>& env, const fs::path& out,
              const fs::path& err) {
        std::vector<std::string> argv_s{"/bin/sh", "-c", "cd \"$T\" || exit 99\n" + script};
        std::vector<std::string> env_s = morvik::test::EnvironmentWithout("MORVIK_", env);
        const std::vector<char*> argv = morvik::test::NullEnded(argv_s), envp = morvik::test::NullEnded(env_s);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);  // no controlling terminal
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        EXPECT_EQ(rc, 0);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    fs::path dir_;
};

TEST_P(Rows, Case) {
    const Row& row = GetParam();
    const std::string as = row.as;
    if (!as.empty() && ::geteuid() != 0) GTEST_SKIP() << "needs root (chown, or a second user): not root";
#ifdef MORVIK_SANITIZED
    if (std::string_view(row.name).ends_with("_Natively")) GTEST_SKIP() << "memory limits: not under the sanitizers";
#endif
    std::string as_nobody;
    if (as == "nobody") {
        const struct passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs the user nobody and setpriv";
        as_nobody = "/usr/bin/setpriv --reuid=" + std::to_string(nobody->pw_uid) +
                    " --regid=" + std::to_string(nobody->pw_gid) + " --clear-groups";
        fs::permissions(dir_, fs::perms::all);
        fs::permissions(dir_ / "work", fs::perms::all);
    }
    const fs::path out = dir_ / "out", err = dir_ / "err";
    // memcheck.sh runs these rows with the tool (not the shell) under Valgrind.
    const char* wrapper = std::getenv("MORVIK_TOOL_WRAPPER");
    const std::string tool = wrapper ? std::string(wrapper) + " " + MORVIK_TOOL : std::string(MORVIK_TOOL);
    const std::vector<std::string> env = {"M=" + tool, "T=" + (dir_ / "work").string(), "OUT=" + out.string(),
                                          "AS_NOBODY=" + as_nobody, std::string("MORVIK_KEY_HEX=") + kKeyHex,
                                          "LC_ALL=C"};
    const int status = Shell(row.script, env, out, err);
    const std::string stderr_text = Slurp(err);
    EXPECT_EQ(status, row.status) << row.script << "\n" << stderr_text;
    if (row.message && *row.message == '\0') {
        EXPECT_EQ(stderr_text, "") << row.script;
    } else if (row.message) {
        EXPECT_NE(stderr_text.find(row.message), std::string::npos) << row.script << "\n" << stderr_text;
        EXPECT_EQ(stderr_text.find('\n'), stderr_text.size() - 1) << "one line, ending in a line break\n" << stderr_text;
    }
    if (*row.check != '\0') {
        const fs::path check_out = dir_ / "check";
        EXPECT_EQ(Shell(std::string("exec 2>&1\n") + row.check, env, check_out, check_out), 0)
            << row.check << "\n" << Slurp(check_out);
    }
}

INSTANTIATE_TEST_SUITE_P(Tool, Rows, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });

// ---- The terminal -----------------------------------------------------------

// The tool on a pseudo-terminal of `columns` columns: its standard input and
// error and its controlling terminal, with standard output to `out` (a file
// descriptor). Everything it shows there is collected in `screen`.
class Terminal {
public:
    Terminal(const std::vector<std::string>& args, int out, unsigned short columns, bool own_session = true) {
        struct winsize ws {};
        ws.ws_row = 24;
        ws.ws_col = columns;
        int slave = -1;
        if (::openpty(&master_, &slave, nullptr, nullptr, &ws) != 0) return;
        std::vector<std::string> argv_s{MORVIK_TOOL};
        argv_s.insert(argv_s.end(), args.begin(), args.end());
        const std::vector<char*> argv = morvik::test::NullEnded(argv_s);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (own_session) {
                ::setsid();
                ::ioctl(slave, TIOCSCTTY, 0);
                ::dup2(slave, 0);
            } else {
                const int null = ::open("/dev/null", O_RDONLY);
                ::dup2(null, 0);
            }
            ::dup2(out, 1);
            ::dup2(slave, 2);
            ::close(slave);
            ::close(master_);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(slave);
        ::fcntl(master_, F_SETFL, O_NONBLOCK);
    }
    ~Terminal() {
        if (pid_ > 0) Wait();
        if (master_ >= 0) ::close(master_);
    }

    bool Started() const { return master_ >= 0 && pid_ > 0; }

    // Reads what the tool shows for up to `ms` milliseconds; true once `text`
    // has appeared (or, for "", once the terminal is closed).
    bool ReadUntil(const std::string& text, int ms = 20000) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (text.empty() || screen.find(text, seen_) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            struct pollfd p {master_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(std::max<long long>(left, 0)));
            char buf[4096];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) screen.append(buf, static_cast<std::size_t>(n));
            else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return text.empty();
            else if (left <= 0) return false;
        }
        seen_ = screen.find(text, seen_) + text.size();
        return true;
    }

    void Type(const std::string& keys) { ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }

    int Wait() {
        if (!ReadUntil("", 20000)) ::kill(pid_, SIGKILL);  // stuck: fail, do not hang
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string screen;

private:
    int         master_ = -1;
    pid_t       pid_ = -1;
    std::size_t seen_ = 0;
};

class OnATerminal : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "morvik-tty-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
    }
    void TearDown() override { fs::remove_all(dir_); }

    int OutFile() {
        const int fd = ::open((dir_ / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        return fd;
    }

    fs::path dir_;
};

std::string AscOf(const std::string& key, std::string plain) {
    morvik::RC2 rc2;
    rc2.Key(key);
    return rc2.EncryptAsc(plain);
}

// 14. The key typed twice without echo when encrypting, once when decrypting,
// converted as --key converts (UTF-8 to Windows-1252).
TEST_F(OnATerminal, KeyPromptReadsWithoutEcho) {
    const struct {
        std::string verb, first, second;
        int         status;
        std::string key;  // the key the output must be made with; "" for none
        bool        ahead = false;  // both lines typed before the second prompt shows
    } cases[] = {
        {"encrypt", "s3cret", "s3cret", 0, "s3cret"},
        {"encrypt", "typed ahead", "typed ahead", 0, "typed ahead", true},
        {"encrypt", "Gr\xc3\xbc\xc3\x9f" "e", "Gr\xc3\xbc\xc3\x9f" "e", 0, "Gr\xfc\xdf" "e"},
        {"encrypt", "s3cret", "s3creT", 3, ""},
        {"decrypt", "s3cret", "", 0, "s3cret"},
        {"encrypt", "", "", 3, ""},  // an empty key is no key
    };
    for (const auto& c : cases) {
        const int out = OutFile();
        std::vector<std::string> args = {c.verb, "--key-prompt", "--text"};
        args.push_back(c.verb == "encrypt" ? "abc" : AscOf("s3cret", "abc"));
        Terminal tty(args, out, 80);
        ::close(out);
        ASSERT_TRUE(tty.Started());
        ASSERT_TRUE(tty.ReadUntil("Key: ")) << tty.screen;
        tty.Type(c.first + "\n" + (c.ahead ? c.second + "\n" : ""));
        if (c.verb == "encrypt" && !c.ahead) {
            ASSERT_TRUE(tty.ReadUntil("Key again: ")) << tty.screen;
            tty.Type(c.second + "\n");
        }
        const int status = tty.Wait();
        EXPECT_EQ(status, c.status) << c.first << "\n" << tty.screen;
        if (!c.first.empty()) {
            EXPECT_EQ(tty.screen.find(c.first), std::string::npos) << "echoed:\n" << tty.screen;
        }
        const std::string written = Slurp(dir_ / "out");
        if (c.status != 0) {
            EXPECT_EQ(written, "");
            EXPECT_NE(tty.screen.find(c.first.empty() ? "the key has 0 bytes" : "the two keys typed differ"),
                      std::string::npos)
                << tty.screen;
        } else if (c.verb == "encrypt") {
            EXPECT_EQ(written, AscOf(c.key, "abc")) << c.first;
        } else {
            EXPECT_EQ(written, "abc");
        }
    }
}

// 15. A line narrower than the terminal, redrawn at most ten times a second,
// with the rate and the time left. The run is slowed by reading its output
// slowly; the input is a sparse file of the smallest size that gets a line.
TEST_F(OnATerminal, ProgressLineFitsAndIsThrottled_Natively) {
    const std::uint64_t size = morvik::cli::kProgressThreshold;
    {
        const int fd = ::open((dir_ / "big").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size - 1)), 0);
        ASSERT_EQ(::pwrite(fd, "x", 1, static_cast<off_t>(size - 1)), 1);
        ::close(fd);
    }
    int pipe_fds[2];
    ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
    const auto start = Clock::now();
    Terminal tty({"encrypt", "--form", "raw", "--key", "k", (dir_ / "big").string()}, pipe_fds[1], 40, false);
    ::close(pipe_fds[1]);
    ASSERT_TRUE(tty.Started());
    std::uint64_t got = 0;
    std::vector<char> buf(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(pipe_fds[0], buf.data(), buf.size());
        if (n <= 0) break;
        got += static_cast<std::uint64_t>(n);
        tty.ReadUntil("\x01", 0);  // keep the terminal drained
        std::this_thread::sleep_for(std::chrono::microseconds(1500));
    }
    ::close(pipe_fds[0]);
    EXPECT_EQ(tty.Wait(), 0) << tty.screen;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(got, size);

    // Each redraw is "\r", the line, and "\033[K"; the last "\r\033[K" clears it.
    std::vector<std::string> lines;
    for (std::size_t at = 0; (at = tty.screen.find('\r', at)) != std::string::npos;) {
        const std::size_t next = tty.screen.find('\r', at + 1);
        std::string line = tty.screen.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        at = next;
        const std::size_t clear = line.find("\033[K");
        ASSERT_NE(clear, std::string::npos) << line;
        ASSERT_EQ(clear + 3, line.size()) << "nothing after the clear: " << line;
        lines.push_back(line.substr(0, clear));
    }
    ASSERT_GE(lines.size(), 3u) << tty.screen;
    EXPECT_EQ(lines.back(), "") << "the line is cleared at the end";
    lines.pop_back();
    bool rate_and_left = false;
    for (const auto& line : lines) {
        EXPECT_LE(line.size(), 39u) << line;
        EXPECT_EQ(line.rfind("encrypting ", 0), 0u) << line;
        rate_and_left = rate_and_left || (line.find("/s") != std::string::npos && line.find(" left") != std::string::npos);
    }
    EXPECT_TRUE(rate_and_left) << tty.screen;
    EXPECT_GE(seconds, 0.5) << "too quick to see the throttle";
    EXPECT_LE(static_cast<double>(lines.size()), seconds * 10 + 2) << lines.size() << " redraws in " << seconds << " s";
}

#endif

// The line's layout at every width: never wider than the terminal less one
// column, and what matters most kept longest.
TEST(ProgressLine, FitsEveryWidth) {
    const std::uint64_t total = 1ull << 30, done = 300ull << 20;
    for (int columns = 1; columns <= 200; ++columns) {
        const std::string line = morvik::cli::Progress::Line("decrypting", done, total, 2.5, columns);
        EXPECT_LE(line.size(), static_cast<std::size_t>(std::max(columns - 1, 1))) << columns << ": " << line;
        if (columns >= 12) {
            EXPECT_NE(line.find("29.2%"), std::string::npos) << columns << ": " << line;
        }
        if (columns >= 40) {
            EXPECT_NE(line.find("120 MiB/s"), std::string::npos) << columns << ": " << line;
            EXPECT_NE(line.find("0:06 left"), std::string::npos) << columns << ": " << line;
        }
        if (columns >= 80) {
            EXPECT_NE(line.find("300/1024 MiB"), std::string::npos) << columns << ": " << line;
        }
    }
    // Before a rate can be measured the time left is not guessed.
    EXPECT_NE(morvik::cli::Progress::Line("encrypting", 0, total, 0.0, 80).find("-:-- left"), std::string::npos);
}

}  // namespace
