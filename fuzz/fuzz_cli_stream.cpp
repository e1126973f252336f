// The command-line tool's streaming stages, fed the input in pieces cut at
// fuzzed places, against the in-memory member each chain stands for. Both
// must fail, with the same error number (cli::Failure's exit status is the
// object's error number), or both give the same bytes.
// Input: the chain, the number of cuts and each piece's length, then the text.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include "cli/front.h"
#include "fuzz/input.h"

namespace {

using namespace morvik;
using morvik::fuzz::Check;

struct Outcome {
    int error = 0;
    std::string bytes;
    bool operator==(const Outcome&) const = default;
};

using Build = std::function<void(cli::Sink*& head, std::vector<std::unique_ptr<cli::Sink>>& keep)>;

template <typename Stage, typename... Args>
void Push(cli::Sink*& head, std::vector<std::unique_ptr<cli::Sink>>& keep, Args&&... args) {
    keep.push_back(std::make_unique<Stage>(std::forward<Args>(args)..., *head));
    head = keep.back().get();
}

struct Chain {
    Build build;  // stages pushed from the output end
    std::function<std::string(std::string_view)> member;
};

Outcome InMemory(const Chain& chain, std::string_view text) {
    try {
        return {0, chain.member(text)};
    } catch (const Error& e) {
        return {e.code(), {}};
    }
}

Outcome Streamed(const Chain& chain, const std::vector<std::string_view>& pieces) {
    cli::StringSink tail;
    std::vector<std::unique_ptr<cli::Sink>> keep;
    cli::Sink* head = &tail;
    chain.build(head, keep);
    try {
        for (const std::string_view piece : pieces) head->Write(piece);
        head->Finish();
    } catch (const cli::Failure& f) {
        return {static_cast<int>(f.status()), {}};
    }
    Check(tail.finished);
    return {0, tail.data};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static RC2* const rc2 = [] {
        auto* r = new RC2;
        r->EffectiveKeyLength(100);
        r->Key("stream key");
        return r;
    }();
    static const Chain chains[] = {
        {[](auto& h, auto& k) { Push<cli::EncryptStage>(h, k, *rc2); },
         [](std::string_view t) { std::string s(t); return rc2->Encrypt(s); }},
        {[](auto& h, auto& k) { Push<cli::DecryptStage>(h, k, *rc2, "ciphertext"); },
         [](std::string_view t) { return rc2->Decrypt(t); }},
        {[](auto& h, auto& k) { Push<cli::HexReadStage>(h, k); }, [](std::string_view t) { return hex::Read(t); }},
        {[](auto& h, auto& k) { Push<cli::HexWriteStage>(h, k); }, [](std::string_view t) { return hex::Write(t); }},
        {[](auto& h, auto& k) { Push<cli::AscEncodeStage>(h, k); },
         [](std::string_view t) { return BlindAscii::Full2Asc(t); }},
        {[](auto& h, auto& k) { Push<cli::AscDecodeStage>(h, k); },
         [](std::string_view t) { return BlindAscii::Asc2Full(t); }},
        {[](auto& h, auto& k) { Push<cli::DecryptStage>(h, k, *rc2, "ciphertext"); Push<cli::HexReadStage>(h, k); },
         [](std::string_view t) { return rc2->DecryptHex(t); }},
        {[](auto& h, auto& k) { Push<cli::DecryptStage>(h, k, *rc2, "ciphertext"); Push<cli::AscDecodeStage>(h, k); },
         [](std::string_view t) { return rc2->DecryptAsc(t); }},
        {[](auto& h, auto& k) { Push<cli::HexWriteStage>(h, k); Push<cli::EncryptStage>(h, k, *rc2); },
         [](std::string_view t) { std::string s(t); rc2->Encrypt(s); return rc2->ResultHex(); }},
        {[](auto& h, auto& k) { Push<cli::AscEncodeStage>(h, k); Push<cli::EncryptStage>(h, k, *rc2); },
         [](std::string_view t) { std::string s(t); return rc2->EncryptAsc(s); }},
    };

    morvik::fuzz::Input in(data, size);
    const Chain& chain = chains[in.Byte() % std::size(chains)];
    std::vector<std::uint8_t> lengths(in.Byte() % 16);
    for (auto& n : lengths) n = in.Byte();
    const std::string_view text = in.Rest();

    std::vector<std::string_view> pieces;
    std::string_view rest = text;
    for (const std::uint8_t n : lengths) {
        pieces.push_back(rest.substr(0, n));
        rest.remove_prefix(pieces.back().size());
    }
    pieces.push_back(rest);
    Check(Streamed(chain, pieces) == InMemory(chain, text));
    return 0;
}
