// Differential test against OpenSSL's RC2 (ECB, no padding): random keys of
// every length, every class of effective length, both directions.
#include <gtest/gtest.h>
#include <random>

#include <morvik/rc2.h>
#include "tests/support/openssl_rc2.h"
#include "tests/support/random.h"
#include "tests/support/vec.h"

namespace morvik {
namespace {

using test::RandomBytes;

// `bits` is the effective key length OpenSSL is given: 1..1024.
std::string PeerRun(bool encrypt, const std::string& key, int bits, const std::string& in) {
    std::string out(in.size(), '\0');
    if (in.empty()) return out;
    peers::OpenSslRc2 peer(key, bits, encrypt);
    peer.Blocks(reinterpret_cast<const std::uint8_t*>(in.data()), reinterpret_cast<std::uint8_t*>(out.data()), in.size());
    return out;
}

// An effective length from each class in turn: the key's own (0), 1..8,
// non-multiples of 8, multiples of 8, the top end 1017..1023, and 1024.
int EffectiveBits(std::mt19937_64& rng, int round) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    switch (round % 6) {
        case 0: return 0;
        case 1: return pick(1, 8);
        case 2: { int b; do b = pick(9, 1016); while (b % 8 == 0); return b; }
        case 3: return 8 * pick(1, 128);
        case 4: return pick(1017, 1023);
        default: return 1024;
    }
}

TEST(Differential, AgreesWithOpenSsl) {
    std::mt19937_64 rng(0x52433268);
    for (int round = 0; round < 3000; ++round) {
        // Key lengths 1 and 128 come up often; the rest at random.
        const std::size_t keyLength = round % 10 == 0 ? 1 : round % 10 == 1 ? 128 : 1 + rng() % 128;
        const std::string key = RandomBytes(rng, keyLength);
        const int bits = EffectiveBits(rng, round);
        const int peerBits = bits != 0 ? bits : static_cast<int>(8 * keyLength);
        SCOPED_TRACE("round " + std::to_string(round) + ", key " + test::Hex(key) + ", bits " + std::to_string(bits));

        RC2 rc2;
        rc2.EffectiveKeyLength(bits);
        rc2.Key(key);

        std::string text = RandomBytes(rng, rng() % 101);
        const std::string cipher = rc2.Encrypt(text);  // fills `text` to whole blocks
        ASSERT_EQ(test::Hex(cipher), test::Hex(PeerRun(true, key, peerBits, text)));

        const std::string received = RandomBytes(rng, 8 * (rng() % 13));
        std::string expected = PeerRun(false, key, peerBits, received);
        expected.erase(expected.find_last_not_of('\0') + 1);
        ASSERT_EQ(test::Hex(rc2.Decrypt(received)), test::Hex(expected));
    }
}

}  // namespace
}  // namespace morvik
