#include <morvik/front/chains.h>

#include <morvik/front/keys.h>

namespace morvik::front {

std::optional<Form> FormNamed(std::string_view name) {
    if (name == "raw") return Form::Raw;
    if (name == "hex") return Form::Hex;
    if (name == "asc") return Form::Asc;
    return std::nullopt;
}

void PrependEncrypt(Chain& chain, const RC2& rc2, Form form) {
    if (form == Form::Hex) chain.Prepend<HexWriteStage>();
    if (form == Form::Asc) chain.Prepend<AscEncodeStage>();
    chain.Prepend<EncryptStage>(rc2);
}

const char* CiphertextSubject(Form form) {
    return form == Form::Raw   ? "the ciphertext"
           : form == Form::Hex ? "the ciphertext read from the hex text"
                               : "the ciphertext decoded from the armoured text";
}

std::string ExplainDecrypt(const Error& error, Form form, std::string_view text) {
    if (form == Form::Raw) return Explain(error, CiphertextSubject(form));
    const bool ends_in_break = !text.empty() && (text.back() == '\n' || text.back() == '\r');
    if (error.position().kind == ErrorPosition::Kind::IncompleteBlock)
        return Explain(error, CiphertextSubject(form)) + (ends_in_break ? LineBreakHint() : "");
    return Explain(error, form == Form::Hex ? "hex text" : "armoured text");
}

const FinalLineBreakStage* PrependDecrypt(Chain& chain, const RC2& rc2, Form form, bool drop_line_break) {
    chain.Prepend<DecryptStage>(rc2, CiphertextSubject(form));
    if (form == Form::Hex) chain.Prepend<HexReadStage>();
    if (form == Form::Asc) chain.Prepend<AscDecodeStage>();
    return form != Form::Raw && drop_line_break ? &chain.Prepend<FinalLineBreakStage>() : nullptr;
}

void RethrowDecryptFailure(const Failure& f, Form form, bool ends_in_break) {
    if (form == Form::Raw || f.status() != Exit::Invalid || !ends_in_break) throw f;
    throw Failure(f.status(), std::string(f.what()) + LineBreakHint(), f.position());
}

Failure TrailingZeros(std::uint64_t zeros, const std::string& subject, const std::string& remedy) {
    return Failure(Exit::DataLoss, subject + " ends in " + Count(zeros, "zero byte") +
                                       ", which decryption would remove: the ciphertext would not give it back whole" +
                                       (remedy.empty() ? "" : " (" + remedy + ")"));
}

std::uint64_t ZerosAtEnd(std::string_view plain) noexcept {
    const std::size_t last = plain.find_last_not_of('\0');
    return last == std::string_view::npos ? plain.size() : plain.size() - last - 1;
}

void Pump(const std::function<std::string_view()>& next, Sink& head, bool refuse_zeros,
          const std::function<void(std::size_t)>& advance, const std::function<void()>& ended, const char* remedy) {
    std::uint64_t zeros = 0;
    for (std::string_view piece; !(piece = next()).empty();) {
        head.Write(piece);
        if (advance) advance(piece.size());
        const std::size_t last = piece.find_last_not_of('\0');
        zeros = last == std::string_view::npos ? zeros + piece.size() : piece.size() - last - 1;
    }
    if (ended) ended();
    if (refuse_zeros && zeros > 0) throw remedy ? TrailingZeros(zeros, "the input", remedy) : TrailingZeros(zeros);
    head.Finish();
}

}  // namespace morvik::front
