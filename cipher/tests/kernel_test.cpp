// Every bulk kernel against the one-block reference and against OpenSSL, each
// kernel forced in turn. Fixed seeds, so a failure repeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <morvik/kernel.h>
#include <morvik/detail/wipe.h>
#include <morvik/rc2.h>
#include "tests/support/openssl_rc2.h"
#include "tests/support/kernel_choice.h"
#include "tests/support/random.h"
#include "tests/support/vec.h"

namespace morvik {

void PrintTo(Kernel kernel, std::ostream* os) { *os << KernelName(kernel); }

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::uint8_t* U8(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// An RC2 object with a random key of 1..128 bytes and a random effective
// length (0, the key's own, included), and the T1 that OpenSSL needs for it.
struct RandomCipher {
    RC2 rc2;
    std::string key;
    int bits = 0;

    explicit RandomCipher(std::mt19937& rng) {
        key = test::RandomBytes(rng, 1 + rng() % 128);
        const int effective = rng() % 8 == 0 ? 0 : static_cast<int>(1 + rng() % 1024);
        rc2.EffectiveKeyLength(effective);
        rc2.Key(key);
        bits = effective != 0 ? effective : static_cast<int>(8 * key.size());
    }

    detail::KeySchedule Schedule() const {
        detail::KeySchedule ks{};
        const auto& L = rc2.ExpandedKey();
        for (int i = 0; i < 64; ++i) ks.K[i] = static_cast<std::uint16_t>(L[2 * i] | L[2 * i + 1] << 8);
        return ks;
    }
};

class KernelTest : public testing::TestWithParam<Kernel> {
protected:
    void SetUp() override {
        ForceKernel(GetParam());
        ASSERT_EQ(ActiveKernel(), GetParam());
    }
    void TearDown() override { ForceKernel(test::RequestedKernel()); }
};

// Every count from 0 to 319 passes through each width a kernel has (160,
// 128, 64, 32, 16 and 8 blocks), after a widest pass too, and through the
// scalar tail. Input and output start at odd
// offsets, and guard bytes around the output catch writes past the end.
TEST_P(KernelTest, BulkMatchesOneBlockAtATime) {
    std::mt19937 rng(0x5EED0001);
    constexpr std::size_t kGuard = 40;
    constexpr std::uint8_t kGuardByte = 0xA5;
    for (std::size_t count = 0; count < 320; ++count) {
        SCOPED_TRACE(testing::Message() << "blocks " << count);
        RandomCipher c(rng);
        const detail::KeySchedule ks = c.Schedule();
        const std::size_t n = 8 * count, in_at = count % 8, out_at = kGuard + (count * 3) % 8;

        Bytes in(in_at + n);
        for (auto& b : in) b = static_cast<std::uint8_t>(rng());
        const std::uint8_t* plain = in.data() + in_at;

        Bytes expected(n);
        for (std::size_t i = 0; i < count; ++i)
            detail::EncryptBlocksScalar(ks, plain + 8 * i, expected.data() + 8 * i, 1);

        Bytes out(out_at + n + kGuard, kGuardByte);
        c.rc2.EncryptBlocks(plain, out.data() + out_at, count);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out.begin() + out_at));
        ASSERT_TRUE(std::all_of(out.begin(), out.begin() + out_at, [](auto b) { return b == kGuardByte; }));
        ASSERT_TRUE(std::all_of(out.end() - kGuard, out.end(), [](auto b) { return b == kGuardByte; }));

        Bytes back(n + 1);
        c.rc2.DecryptBlocks(out.data() + out_at, back.data() + 1, count);
        ASSERT_TRUE(std::equal(plain, plain + n, back.begin() + 1));

        // In place, both ways.
        Bytes buffer(plain, plain + n);
        c.rc2.EncryptBlocks(buffer.data(), buffer.data(), count);
        ASSERT_EQ(buffer, expected);
        c.rc2.DecryptBlocks(buffer.data(), buffer.data(), count);
        ASSERT_TRUE(std::equal(plain, plain + n, buffer.begin()));
    }
}

TEST_P(KernelTest, AgreesWithOpenSsl) {
    std::mt19937 rng(0x5EED0002);
    for (int trial = 0; trial < 300; ++trial) {
        RandomCipher c(rng);
        SCOPED_TRACE(testing::Message() << "trial " << trial << ", key of " << c.key.size() << " bytes, T1 " << c.bits);
        peers::OpenSslRc2 encryptor(c.key, c.bits, true), decryptor(c.key, c.bits, false);

        // Through Encrypt, which fills the last block with zero bytes.
        std::string text = test::RandomBytes(rng, rng() % 1200);
        const std::string ciphertext = c.rc2.Encrypt(text);
        ASSERT_EQ(text.size() % 8, 0u);
        ASSERT_EQ(ciphertext.size(), text.size());
        Bytes expected(text.size());
        encryptor.Blocks(U8(text), expected.data(), text.size());
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), U8(ciphertext)));

        // Raw blocks the other way, from ciphertext nobody made with this key.
        const std::string random = test::RandomBytes(rng, 8 * (rng() % 150));
        Bytes ours(random.size()), theirs(random.size());
        c.rc2.DecryptBlocks(U8(random), ours.data(), random.size() / 8);
        decryptor.Blocks(U8(random), theirs.data(), random.size());
        ASSERT_EQ(ours, theirs);
    }
}

// Each vector repeated to fill every width of the kernel, so that a lane or
// a group that is mishandled shows up here too.
TEST_P(KernelTest, Rfc2268VectorsInEveryLane) {
    const auto vectors = test::ReadVec("rfc2268.vec");
    ASSERT_EQ(vectors.size(), 8u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.fields.at(0));
        RC2 rc2;
        rc2.EffectiveKeyLength(std::stoi(v.fields.at(1)));
        rc2.Key(test::Unhex(v.fields.at(0)));
        const std::string plain = test::Unhex(v.fields.at(2)), cipher = test::Unhex(v.fields.at(3));
        for (std::size_t count : {1u, 8u, 16u, 32u, 64u, 128u, 255u}) {
            std::string text, expected;
            for (std::size_t i = 0; i < count; ++i) text += plain, expected += cipher;
            std::string copy = text;
            ASSERT_EQ(rc2.Encrypt(copy), expected) << count << " blocks";
            std::string stripped = text;
            while (!stripped.empty() && stripped.back() == '\0') stripped.pop_back();
            ASSERT_EQ(rc2.Decrypt(expected), stripped) << count << " blocks";
        }
    }
}

// A vector kernel spreads the key over its stack (broadcast words, lookup
// tables) and clears every copy through the one Wipe before it returns, on
// every path: wide passes, narrow ones, and the short remainders.
TEST_P(KernelTest, SpreadKeysAreWipedBeforeReturning) {
    if (GetParam() == Kernel::Scalar) return;  // the reference reads the schedule in place
    struct Span {
        std::size_t n;
        bool zero;
    };
    static std::vector<Span> spans;
    detail::wipe_observer = [](const void* p, std::size_t n) noexcept {
        const auto* b = static_cast<const unsigned char*>(p);
        spans.push_back({n, std::all_of(b, b + n, [](unsigned char c) { return c == 0; })});
    };
    std::mt19937 rng(0x5EED0006);
    RandomCipher c(rng);
    const detail::KeySchedule ks = c.Schedule();
    for (std::size_t count : {8u, 16u, 24u, 32u, 56u, 64u, 128u, 136u, 248u}) {
        for (bool encrypting : {true, false}) {
            SCOPED_TRACE(testing::Message() << count << " blocks, " << (encrypting ? "encrypting" : "decrypting"));
            Bytes data(8 * count, 0x5A);
            spans.clear();
            (encrypting ? detail::EncryptBlocks : detail::DecryptBlocks)(ks, data.data(), data.data(), count);
            std::size_t wiped = 0;
            for (const Span& s : spans) {
                EXPECT_TRUE(s.zero) << s.n << " bytes";
                wiped += s.n;
            }
            // At least one copy of the 64 key words.
            EXPECT_GE(wiped, sizeof ks.K);
        }
    }
    detail::wipe_observer = nullptr;
}

std::string KernelLabel(const testing::TestParamInfo<Kernel>& info) { return KernelName(info.param); }

INSTANTIATE_TEST_SUITE_P(EachKernel, KernelTest, testing::ValuesIn(AvailableKernels()), KernelLabel);

TEST(Dispatch, ForcingSelectsOnlyAvailableKernels) {
    const auto available = AvailableKernels();
    ASSERT_FALSE(available.empty());
    EXPECT_EQ(available.front(), Kernel::Scalar);
#if defined(__x86_64__)
    EXPECT_TRUE(KernelAvailable(Kernel::SSE2)) << "every x86_64 processor has SSE2";
#endif
    for (Kernel k : {Kernel::Scalar, Kernel::SSE2, Kernel::AVX2, Kernel::AVX512}) {
        ForceKernel(k);
        EXPECT_EQ(ActiveKernel(), KernelAvailable(k) ? k : available.back()) << KernelName(k);
    }
    ForceKernel(Kernel::Auto);
    EXPECT_EQ(ActiveKernel(), available.back());
    ForceKernel(test::RequestedKernel());
}

// Left alone, the library takes the widest kernel; a test program told to run
// on another (by --kernel= or MORVIK_TEST_KERNEL) has that one active.
TEST(ForcedKernel, IsTheOneAskedFor) {
    const Kernel asked = test::RequestedKernel();
    EXPECT_EQ(ActiveKernel(), asked == Kernel::Auto ? AvailableKernels().back() : asked) << KernelName(asked);
}

}  // namespace
}  // namespace morvik
