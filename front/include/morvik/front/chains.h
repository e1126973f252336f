// Morvik RC2 fronts — the chains of stages that encrypt into and decrypt
// from each form, and the pump that feeds them: what the tool's commands and
// Python's file calls both run.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <morvik/rc2.h>

#include <morvik/front/line_break.h>
#include <morvik/front/stages.h>

namespace morvik::front {

enum class Form { Raw, Hex, Asc };

// "raw", "hex", "asc"; nothing for another name.
std::optional<Form> FormNamed(std::string_view name);

class Chain {
public:
    explicit Chain(Sink& tail) : head_(&tail) {}
    template <typename Stage, typename... Args>
    Stage& Prepend(Args&&... args) {
        auto stage = std::make_unique<Stage>(std::forward<Args>(args)..., *head_);
        Stage& added = *stage;
        stages_.push_back(std::move(stage));
        head_ = &added;
        return added;
    }
    Sink& Head() { return *head_; }
    // The chain's stage of type Stage, if it has one.
    template <typename Stage>
    const Stage* Find() const {
        for (const auto& stage : stages_)
            if (const auto* found = dynamic_cast<const Stage*>(stage.get())) return found;
        return nullptr;
    }

private:
    std::vector<std::unique_ptr<Sink>> stages_;
    Sink* head_;
};

// Plaintext in, the ciphertext in `form` out.
void PrependEncrypt(Chain& chain, const RC2& rc2, Form form);

// The ciphertext in `form` in, plaintext out. A text form read from a file
// loses one final line break first, unless `keep_line_break` (the object
// would read it as part of the text); the stage that drops it is returned.
const FinalLineBreakStage* PrependDecrypt(Chain& chain, const RC2& rc2, Form form, bool drop_line_break);

// How messages name a ciphertext read in `form`: "the ciphertext", "the
// ciphertext read from the hex text", "the ciphertext decoded from the
// armoured text".
const char* CiphertextSubject(Form form);
// The explanation of a failed decryption of a whole text in `form` (or of
// decoding it alone): the text form's own errors name the text, a bad length
// names the ciphertext. A text that ends in a line break, which the object
// reads as part of it, gets LineBreakHint where that made the bad length.
std::string ExplainDecrypt(const Error& error, Form form, std::string_view text = {});

// A failed decryption, with the hint that a text form's final line break
// caused it where that is the likely cause: `ends_in_break` says whether the
// text that reached the decoder ended in one.
[[noreturn]] void RethrowDecryptFailure(const Failure& failure, Form form, bool ends_in_break);

// Feeds every piece that `next` gives (empty at the end) to `head`, calls
// `advance` with each piece's size, then finishes the chain. With
// `refuse_zeros`, an input ending in zero bytes fails (Exit::DataLoss, see
// TrailingZeros, naming `remedy` where given, else the tool's option) before
// the chain finishes.
void Pump(const std::function<std::string_view()>& next, Sink& head, bool refuse_zeros = false,
          const std::function<void(std::size_t)>& advance = {}, const std::function<void()>& ended = {},
          const char* remedy = nullptr);

// The failure for a plaintext that ends in zero bytes, which decryption would
// remove.
// `subject` names the plaintext, `remedy` the way to encrypt it anyway where
// the front has one.
Failure TrailingZeros(std::uint64_t zeros, const std::string& subject = "the input",
                      const std::string& remedy = "--allow-trailing-zeros encrypts it anyway");
// How many zero bytes a plaintext ends in: what decryption would remove.
std::uint64_t ZerosAtEnd(std::string_view plain) noexcept;

}  // namespace morvik::front
