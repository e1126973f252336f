// The kernels against the one-block reference, without a test framework, so
// that it also runs in the Windows builds (under Wine on Linux): every block
// count 0..255 on every kernel the processor has, in place and not, plus one
// RFC 2268 vector. Exits non-zero on the first disagreement.
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include <morvik/kernel.h>
#include <morvik/rc2.h>

int main() {
    using namespace morvik;
    std::mt19937 rng(0x5EED0003);
    int failures = 0;
    for (Kernel k : AvailableKernels()) {
        ForceKernel(k);
        if (ActiveKernel() != k) {
            std::printf("%s: could not be forced\n", KernelName(k));
            return 1;
        }
        for (std::size_t count = 0; count < 256; ++count) {
            detail::KeySchedule ks{};
            for (auto& w : ks.K) w = static_cast<std::uint16_t>(rng());
            std::vector<std::uint8_t> in(8 * count + 1), expected(8 * count), out(8 * count + 1), back(8 * count);
            for (auto& b : in) b = static_cast<std::uint8_t>(rng());
            for (std::size_t i = 0; i < count; ++i)
                detail::EncryptBlocksScalar(ks, in.data() + 1 + 8 * i, expected.data() + 8 * i, 1);
            detail::EncryptBlocks(ks, in.data() + 1, out.data() + 1, count);
            detail::DecryptBlocks(ks, out.data() + 1, back.data(), count);
            std::vector<std::uint8_t> inplace(in.begin() + 1, in.end());
            detail::EncryptBlocks(ks, inplace.data(), inplace.data(), count);
            const bool ok = std::equal(expected.begin(), expected.end(), out.begin() + 1) &&
                            std::equal(back.begin(), back.end(), in.begin() + 1) && inplace == expected;
            if (!ok) {
                std::printf("%s: %zu blocks disagree with the reference\n", KernelName(k), count);
                ++failures;
            }
        }
        // RFC 2268: key 88bca90e90875a7f0f79c384627bafb2, 128 bits, zero block.
        RC2 rc2;
        rc2.EffectiveKeyLength(128);
        rc2.Key("\x88\xbc\xa9\x0e\x90\x87\x5a\x7f\x0f\x79\xc3\x84\x62\x7b\xaf\xb2");
        std::string text(8 * 40, '\0');
        const std::string c = rc2.Encrypt(text);
        for (std::size_t i = 0; i < c.size(); i += 8)
            if (c.compare(i, 8, "\x22\x69\x55\x2a\xb0\xf8\x5c\xa6") != 0) {
                std::printf("%s: RFC 2268 vector wrong in block %zu\n", KernelName(k), i / 8);
                ++failures;
                break;
            }
        std::printf("%s: checked\n", KernelName(k));
    }
    return failures == 0 ? 0 : 1;
}
