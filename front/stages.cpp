#include <morvik/front/stages.h>

#include <algorithm>
#include <cstring>
#include <utility>

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

namespace {

// The length of the UTF-8 sequence that `lead` starts (1 for a byte that
// starts none, which the conversion then refuses).
std::size_t SequenceLength(unsigned char lead) {
    return lead >= 0xF0 && lead <= 0xF7 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

}  // namespace

void FromUtf8Stage::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        // Complete the sequence the last piece ended in.
        if (!pending_.empty()) {
            const std::size_t want = SequenceLength(static_cast<unsigned char>(pending_[0]));
            const std::size_t take = std::min(want - pending_.size(), bytes.size());
            pending_.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (pending_.size() < want) return;
            const std::string whole = std::exchange(pending_, {});
            Convert(whole);
            continue;
        }
        std::string_view piece = bytes.substr(0, kChunkSize);
        bytes.remove_prefix(piece.size());
        // Hold back a sequence cut by the end of the piece.
        for (std::size_t back = 1; back <= std::min<std::size_t>(3, piece.size()); ++back) {
            const auto b = static_cast<unsigned char>(piece[piece.size() - back]);
            if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
            if (SequenceLength(b) > back) {
                pending_.assign(piece.substr(piece.size() - back));
                piece.remove_suffix(back);
            }
            break;
        }
        Convert(piece);
    }
}

void FromUtf8Stage::Finish() {
    if (!pending_.empty()) Convert(std::exchange(pending_, {}));  // fails: a truncated sequence
    next_.Finish();
}

void FromUtf8Stage::Convert(std::string_view text) {
    try {
        out_ = SystemCodePage().FromUtf8(text);
    } catch (const Error& e) {
        // The place in the whole input, not in this piece.
        ErrorPosition at = e.position();
        const std::string_view before = text.substr(0, std::min<std::uint64_t>(at.offset, text.size()));
        const auto line = line_ + static_cast<std::uint64_t>(std::count(before.begin(), before.end(), '\n'));
        at.offset += offset_;
        throw ExplainedAt(Error(e.number(), at),
                          "the input at byte offset " + Decimal(static_cast<long long>(at.offset)) + " (line " +
                              Decimal(static_cast<long long>(line)) + ")");
    }
    line_ += static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
    offset_ += text.size();
    next_.Write(out_);
}

void HexReadStage::Write(std::string_view text) {
    if (!inside_) {
        std::size_t from = 0;
        if (!line_break_) {
            const auto* lf = static_cast<const char*>(std::memchr(text.data(), '\n', text.size()));
            const auto* cr = static_cast<const char*>(std::memchr(text.data(), '\r', text.size()));
            const char* first = lf && cr ? std::min(lf, cr) : lf ? lf : cr;
            if (first) {
                from = static_cast<std::size_t>(first - text.data());
                line_break_ = offset_ + from;
            }
        }
        inside_ = line_break_ && text.find_first_not_of("\r\n", from) != std::string_view::npos;
    }
    offset_ += text.size();
    StreamStage::Write(text);
}

std::optional<std::string> HexReadStage::LineBreakWarning() const {
    if (!inside_) return std::nullopt;
    return "the hex text holds a line break at byte offset " + Decimal(static_cast<long long>(*line_break_)) +
           ", which is read as part of a pair: the bytes after it are not the ones written (keep hex on one "
           "line; tr -d '\\r\\n' removes line breaks)";
}

}  // namespace morvik::front
