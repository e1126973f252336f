#include "records.h"

#include "io.h"
#include "progress.h"

namespace morvik::cli {

void RunRecords(RC2& rc2, Input& in, Sink& out, const RecordOptions& options, const RecordJob& job) {
    Progress progress(job.encrypting ? "encrypting" : "decrypting", in.Size(), job.progress && !(job.one_record && options.lines));
    front::RunRecords(rc2, [&] { return in.Next(); }, out, options, job, [&](std::size_t n) { progress.Advance(n); },
                      [&] { progress.Clear(); });
}

const char* const kRecordsHelp = R"(
Records (--lines, --csv):
  --lines: every line (ended by LF or CRLF; the last may have none) is one
  message, encrypted or decrypted by one call of the object's member on it;
  each output line keeps its input line's ending, and an empty line stays
  empty. --csv COLUMN: the field in COLUMN (a number from 1, or its name with
  --header) of every row is one message; every other byte of the row, the
  header row and blank lines pass through unchanged. CSV is read and written
  as RFC 4180 has it (quoted fields, doubled quotes, line breaks inside
  quotes); --delimiter C sets the delimiter (tab for TSV). Records are hex or
  asc, never raw. A plaintext that holds CR or LF cannot be one line: --lines
  stops with status 7, --csv writes it in quotes. With --utf8 every record's
  plaintext is read (encrypt) or written (decrypt) as UTF-8. The first bad
  record stops the run with its line
  (or row and column) and its status (--on-error stop, the default). With
  --on-error keep its field or line is written unchanged, with --on-error
  empty (or --keep-going) it is written empty; either way it is reported on
  standard error, and the run ends with the first bad record's status and a
  count. A record may be up to 64 MiB long, and so may what encryption makes
  of it (its ciphertext, or its row): encryption refuses with status 7 what
  decryption would not give back, this and a plaintext that ends in zero
  bytes (unless --allow-trailing-zeros) or a line that holds a CR. A row of
  one empty field is written "".

  morvik decrypt --key-file key.bin --lines tokens.txt -o tokens.plain
  morvik decrypt --key-file key.bin --csv email --header users.csv -o users.plain.csv)";

}  // namespace morvik::cli
