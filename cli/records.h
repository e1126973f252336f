// morvik — per-record mode (--lines, --csv): the front layer's record engine
// (morvik/front/records.h) on the tool's input, with its progress line.
#pragma once

#include <morvik/front/records.h>

#include "front.h"

namespace morvik::cli {

class Input;

// Runs the records of `in` through the object's members into `out`.
void RunRecords(RC2& rc2, Input& in, Sink& out, const RecordOptions& options, const RecordJob& job);

// For --help.
extern const char* const kRecordsHelp;

}  // namespace morvik::cli
