#include <morvik/front/stages.h>

#include <morvik/code_page.h>

namespace morvik::front {

void Utf8Stage::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::string_view piece = bytes.substr(0, kChunkSize);
        out_ = SystemCodePage().ToUtf8(piece);
        next_.Write(out_);
        bytes.remove_prefix(piece.size());
    }
}

}  // namespace morvik::front
