#include <morvik/batch.h>

#include <cstdint>

#include <morvik/blind_ascii.h>
#include <morvik/detail/wipe.h>
#include <morvik/hex.h>

#include "message.h"

namespace morvik {
namespace {

// Blocks of all messages, wiped when done: they hold plaintext.
struct Blocks {
    std::string bytes;
    ~Blocks() { detail::Wipe(bytes); }
    std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(bytes.data()); }
    std::size_t count() const { return bytes.size() / RC2::kBlockSize; }
};

void Reset(MessageBatch& batch, std::size_t n) {
    detail::Wipe(batch.out);
    batch.out.clear();
    batch.ends.assign(n, 0);
    batch.failed.clear();
    batch.errors.clear();
}

// Appends the ciphertext bytes of `message` to `bytes`, nothing for a blank
// one, with the member's rules in its order: the text form read first, then
// blank, then whole blocks. On an error `bytes` may hold part of it.
void AppendCiphertext(std::string_view message, MessageForm form, std::string& bytes) {
    const std::size_t start = bytes.size();
    if (form == MessageForm::Raw) bytes.append(message);
    else if (form == MessageForm::Hex) hex::ReadTo(message, bytes);
    else BlindAscii::AppendDecoded(message, bytes);
    const std::string_view cipher = std::string_view(bytes).substr(start);
    if (detail::SpacesOnly(cipher)) bytes.resize(start);
    else if (cipher.size() % RC2::kBlockSize != 0) detail::IncompleteBlock(cipher.size());
}

}  // namespace

std::string_view DecryptOne(const RC2& rc2, std::string_view message, MessageForm form, std::string& buffer) {
    // The last value only: wiping the whole capacity each time would make a
    // column of short values after one long one as slow as long ones.
    detail::Wipe(buffer.data(), buffer.size());
    buffer.clear();
    AppendCiphertext(message, form, buffer);
    auto* blocks = reinterpret_cast<std::uint8_t*>(buffer.data());
    rc2.DecryptBlocks(blocks, blocks, buffer.size() / RC2::kBlockSize);
    const std::string_view plain(buffer);
    return plain.substr(0, plain.size() - detail::ZerosAtEnd(plain));
}

void DecryptMany(const RC2& rc2, std::span<const std::string_view> messages, MessageForm form, MessageBatch& batch) {
    Reset(batch, messages.size());
    Blocks blocks;
    std::size_t total = 0;
    for (std::string_view m : messages) total += form == MessageForm::Raw ? m.size() : m.size() / 2 + 8;
    blocks.bytes.reserve(total);
    // Where each message's blocks begin and end; a blank or failed one has none.
    std::vector<std::size_t> begin(messages.size()), end(messages.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const std::size_t start = blocks.bytes.size();
        begin[i] = end[i] = start;
        try {
            AppendCiphertext(messages[i], form, blocks.bytes);
        } catch (const Error& error) {
            blocks.bytes.resize(start);
            batch.failed.push_back(i);
            batch.errors.push_back(error);
        }
        end[i] = blocks.bytes.size();
    }
    rc2.DecryptBlocks(blocks.data(), blocks.data(), blocks.count());
    batch.out.reserve(blocks.bytes.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const std::string_view plain = std::string_view(blocks.bytes).substr(begin[i], end[i] - begin[i]);
        batch.out.append(plain.substr(0, plain.size() - detail::ZerosAtEnd(plain)));
        batch.ends[i] = batch.out.size();
    }
}

void EncryptMany(const RC2& rc2, std::span<const std::string_view> messages, MessageForm form, MessageBatch& batch) {
    Reset(batch, messages.size());
    Blocks blocks;
    std::size_t total = 0;
    for (std::string_view m : messages) total += RC2::FilledSize(m.size());
    blocks.bytes.reserve(total);
    for (std::string_view m : messages) {
        blocks.bytes.append(m);
        blocks.bytes.append(RC2::FilledSize(m.size()) - m.size(), '\0');
    }
    rc2.EncryptBlocks(blocks.data(), blocks.data(), blocks.count());
    batch.out.reserve(form == MessageForm::Raw ? total : form == MessageForm::Hex ? 2 * total : total * 4 / 3 + 2 * messages.size());
    std::size_t at = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const std::size_t n = RC2::FilledSize(messages[i].size());
        const std::string_view cipher = std::string_view(blocks.bytes).substr(at, n);
        at += n;
        if (form == MessageForm::Raw) batch.out.append(cipher);
        else if (form == MessageForm::Hex) hex::WriteTo(cipher, batch.out);
        else batch.out.append(BlindAscii::Full2Asc(cipher));
        batch.ends[i] = batch.out.size();
    }
}

}  // namespace morvik
