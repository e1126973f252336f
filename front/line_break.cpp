#include <morvik/front/line_break.h>

namespace morvik::front {

std::string_view WithoutFinalLineBreak(std::string_view text) {
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") return text.substr(0, text.size() - 2);
    if (!text.empty() && text.back() == '\n') return text.substr(0, text.size() - 1);
    return text;  // a lone CR stays, as the stage keeps it
}


void FinalLineBreakStage::Pass(std::string_view bytes) {
    if (bytes.empty()) return;
    last_ = bytes.back();
    next_.Write(bytes);
}

void FinalLineBreakStage::Write(std::string_view bytes) {
    if (bytes.empty()) return;
    if (held_ == "\r" && bytes == "\n") {
        held_ = "\r\n";
        return;
    }
    if (!held_.empty()) Pass(held_);
    held_.clear();
    std::size_t keep = 0;
    if (bytes.size() >= 2 && bytes.substr(bytes.size() - 2) == "\r\n") keep = 2;
    else if (bytes.back() == '\n' || bytes.back() == '\r') keep = 1;
    Pass(bytes.substr(0, bytes.size() - keep));
    held_.assign(bytes.substr(bytes.size() - keep));
}

void FinalLineBreakStage::Finish() {
    // A lone CR is not a line break here: it stays, as the object would read it.
    if (held_ == "\r") Pass(held_);
    held_.clear();
    next_.Finish();
}

}  // namespace morvik::front
