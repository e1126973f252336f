// morvik — the front layer that the tool is written on: keys, text, stages,
// the final line break, the explanation of errors and the output files.
#pragma once

#include <morvik/front/chains.h>
#include <morvik/front/explain.h>
#include <morvik/front/failure.h>
#include <morvik/front/keys.h>
#include <morvik/front/line_break.h>
#include <morvik/front/stages.h>
#include <morvik/front/target.h>

namespace morvik::cli {
using namespace morvik::front;
using front::Sink;  // not the core's morvik::Sink, which the stages extend
}  // namespace morvik::cli
