// Morvik RC2 fronts — the line break that `echo` and editors put after a saved text.
#pragma once

#include <string>
#include <string_view>

#include <morvik/front/stages.h>

namespace morvik::front {

// Passes its input on without one final LF or CRLF. The object never writes a
// line break in hex or armoured text, but a text saved by `echo` or an editor
// ends in one, which the object would read as part of the text (a hex digit
// pair of its own, or the armour's tail mark). Holds back at most two bytes.
// The same for a text held whole: `text` without one final LF or CRLF.
std::string_view WithoutFinalLineBreak(std::string_view text);

class FinalLineBreakStage final : public Sink {
public:
    explicit FinalLineBreakStage(Sink& next) : next_(next) {}
    void Write(std::string_view bytes) override;
    void Finish() override;

    // Whether the last byte passed on so far is a line break (LF or CR).
    bool PassedLineBreakLast() const { return last_ == '\n' || last_ == '\r'; }

private:
    void Pass(std::string_view bytes);

    Sink&       next_;
    std::string held_;  // "", "\r", "\n" or "\r\n": what may be the final line break
    char        last_ = '\0';
};

}  // namespace morvik::front
