// The fast paths against the one-block reference and against OpenSSL: the
// message members (Encrypt, Decrypt) and the bulk engine under every kernel
// this machine has, at any buffer offset and in place. Any difference is a
// finding. Input: effective length, key length, offset, the key, then the
// plaintext.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/block.h"
#include <morvik/kernel.h>
#include <morvik/rc2.h>
#include "tests/support/openssl_rc2.h"
#include "fuzz/input.h"

namespace {

using morvik::fuzz::Check;
using Bytes = std::vector<std::uint8_t>;

// Block by block through cipher/block.h.
Bytes Reference(const morvik::detail::KeySchedule& ks, const Bytes& in, bool encrypting) {
    Bytes out(in.size());
    for (std::size_t at = 0; at < in.size(); at += 8) {
        morvik::detail::Block b = morvik::detail::LoadBlock(&in[at]);
        encrypting ? morvik::detail::EncryptBlock(ks.K, b) : morvik::detail::DecryptBlock(ks.K, b);
        morvik::detail::StoreBlock(b, &out[at]);
    }
    return out;
}

Bytes OpenSsl(std::string_view key, int bits, const Bytes& in, bool encrypting) {
    morvik::peers::OpenSslRc2 peer(key, bits, encrypting);
    Bytes out(in.size());
    if (!in.empty()) peer.Blocks(in.data(), out.data(), in.size());
    return out;
}

// The bulk engine, from a buffer at `offset`, once out of place and once in place.
void CheckBulk(const morvik::detail::KeySchedule& ks, const Bytes& in, const Bytes& want, std::size_t offset,
               bool encrypting) {
    const auto run = encrypting ? morvik::detail::EncryptBlocks : morvik::detail::DecryptBlocks;
    Bytes src(offset + in.size()), dst(offset + in.size());
    if (!in.empty()) std::memcpy(src.data() + offset, in.data(), in.size());
    run(ks, src.data() + offset, dst.data() + offset, in.size() / 8);
    Check(Bytes(dst.begin() + static_cast<std::ptrdiff_t>(offset), dst.end()) == want);
    run(ks, src.data() + offset, src.data() + offset, in.size() / 8);
    Check(Bytes(src.begin() + static_cast<std::ptrdiff_t>(offset), src.end()) == want);
}

std::string AsString(const Bytes& b) { return {b.begin(), b.end()}; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    morvik::fuzz::Input in(data, size);
    const std::int32_t bits = in.Word() % 1025;
    const std::size_t keyLength = in.Byte() % 128 + 1;
    const std::size_t offset = in.Byte() % 64;
    const std::string_view key = in.Bytes(keyLength);
    if (key.size() != keyLength) return 0;
    const std::string_view text = in.Rest();

    morvik::RC2 rc2;
    rc2.EffectiveKeyLength(bits);
    rc2.Key(key);
    const morvik::detail::KeySchedule ks = morvik::fuzz::Schedule(rc2);

    // The plaintext filled to whole blocks, as Encrypt fills it.
    Bytes plain(text.begin(), text.end());
    plain.resize((plain.size() + 7) / 8 * 8, 0);
    const Bytes cipher = Reference(ks, plain, true);
    Check(Reference(ks, cipher, false) == plain);
    const int peerBits = bits == 0 ? static_cast<int>(8 * keyLength) : bits;
    Check(OpenSsl(key, peerBits, plain, true) == cipher);
    Check(OpenSsl(key, peerBits, cipher, false) == plain);

    for (const morvik::Kernel kernel : morvik::AvailableKernels()) {
        morvik::ForceKernel(kernel);
        CheckBulk(ks, plain, cipher, offset, true);
        CheckBulk(ks, cipher, plain, offset, false);

        std::string message(text);
        Check(rc2.Encrypt(message) == AsString(cipher) && message == AsString(plain));
        Check(rc2.Decrypt(AsString(cipher)) == morvik::fuzz::WithoutTrailingZeros(AsString(plain)));
    }
    morvik::ForceKernel(morvik::Kernel::Auto);
    return 0;
}
