// One run of everything that makes the speed case: bulk ECB on each of our
// paths and on OpenSSL, Nettle and libgcrypt; short messages; key setup; the
// text codecs; the armoured members end to end; and a size sweep. After the
// run, a summary gives every rate as a multiple of OpenSSL's in the same
// category and checks the targets.
//
// Rates are over CPU time (Google Benchmark's default), which keeps them
// honest on a machine whose cores are shared with other work.
#include <benchmark/benchmark.h>
#include <gcrypt.h>
#include <malloc.h>
#include <nettle/arctwo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/kernel.h>
#include <morvik/rc2.h>
#include "tests/support/openssl_rc2.h"

namespace {

using morvik::Kernel;

constexpr std::size_t kMiB = 1 << 20;
constexpr std::size_t kBulk = 16 * kMiB;
constexpr std::size_t kShort = 64;
constexpr int kKeyBits = 128;

std::string RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

const std::string& Key16() {
    static const std::string key = RandomBytes(16, 1);
    return key;
}

const std::string& Data(std::size_t n) {
    static std::map<std::size_t, std::string> cache;
    auto [it, fresh] = cache.try_emplace(n);
    if (fresh) it->second = RandomBytes(n, static_cast<std::uint32_t>(n));
    return it->second;
}

const std::uint8_t* U8(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

void SetBytes(benchmark::State& state, std::size_t per_iteration) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(per_iteration));
}

// Selects a kernel for the length of one benchmark.
class KernelScope {
public:
    explicit KernelScope(Kernel k) { morvik::ForceKernel(k); }
    ~KernelScope() { morvik::ForceKernel(Kernel::Auto); }
    KernelScope(const KernelScope&)            = delete;
    KernelScope& operator=(const KernelScope&) = delete;
};

// Our object with the benchmark key, set once.
morvik::RC2& Cipher() {
    static morvik::RC2 rc2;
    static const bool keyed = [] {
        rc2.EffectiveKeyLength(kKeyBits);
        rc2.Key(Key16());
        return true;
    }();
    (void)keyed;
    return rc2;
}

// ---- peers ---------------------------------------------------------------

struct Nettle {
    arctwo_ctx ctx{};
    Nettle() { arctwo_set_key_ekb(&ctx, Key16().size(), U8(Key16()), kKeyBits); }
    void Encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n) { arctwo_encrypt(&ctx, n, out, in); }
    void Decrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n) { arctwo_decrypt(&ctx, n, out, in); }
};

// libgcrypt's RC2 takes the effective length from the key length, which is
// what a 16-byte key with 128 effective bits needs.
struct Gcrypt {
    gcry_cipher_hd_t h = nullptr;
    Gcrypt() {
        static const bool ready = [] {
            gcry_check_version(nullptr);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
            return true;
        }();
        (void)ready;
        if (gcry_cipher_open(&h, GCRY_CIPHER_RFC2268_128, GCRY_CIPHER_MODE_ECB, 0) != 0 ||
            gcry_cipher_setkey(h, Key16().data(), Key16().size()) != 0)
            throw std::runtime_error("libgcrypt refused RC2");
    }
    ~Gcrypt() { gcry_cipher_close(h); }
    Gcrypt(const Gcrypt&)            = delete;
    Gcrypt& operator=(const Gcrypt&) = delete;
    void Encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n) { gcry_cipher_encrypt(h, out, n, in, n); }
    void Decrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n) { gcry_cipher_decrypt(h, out, n, in, n); }
};

struct OpenSsl {
    morvik::peers::OpenSslRc2 enc{Key16(), kKeyBits, true}, dec{Key16(), kKeyBits, false};
    void Encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n) { enc.Blocks(in, out, n); }
    void Decrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n) { dec.Blocks(in, out, n); }
};

template <class Peer> void PeerBulk(benchmark::State& state, bool encrypting, std::size_t n) {
    Peer peer;
    const std::string& in = Data(n);
    std::vector<std::uint8_t> out(n);
    for (auto _ : state) {
        if (encrypting) peer.Encrypt(U8(in), out.data(), n);
        else peer.Decrypt(U8(in), out.data(), n);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, n);
}

// ---- ours ----------------------------------------------------------------

// Bulk ECB straight through the block members, as a peer's update call.
void OursBulk(benchmark::State& state, Kernel kernel, bool encrypting) {
    KernelScope scope(kernel);
    const std::string& in = Data(kBulk);
    std::vector<std::uint8_t> out(kBulk);
    for (auto _ : state) {
        if (encrypting) Cipher().EncryptBlocks(U8(in), out.data(), kBulk / 8);
        else Cipher().DecryptBlocks(U8(in), out.data(), kBulk / 8);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, kBulk);
}

// A whole message through Encrypt or Decrypt: a fresh output string and the
// last result stored, every call.
void OursMessage(benchmark::State& state, Kernel kernel, bool encrypting, std::size_t n) {
    KernelScope scope(kernel);
    std::string text = Data(n);
    const std::string ciphertext = Cipher().Encrypt(text);
    for (auto _ : state) {
        std::string out = encrypting ? Cipher().Encrypt(text) : Cipher().Decrypt(ciphertext);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, n);
}

// The forms of a message whose cost must grow linearly with its length, each
// counted by the length of the byte string.
// Copy is no path of ours: a plain copy of the bytes into a new string, the
// least any call that returns a fresh string of that size can cost, shown
// beside the sweep as the memory system's own ratio of 64 MiB to 1 MiB.
enum class Form { Encrypt, Decrypt, EncryptAsc, DecryptAsc, HexWrite, HexRead, Copy };

void Linear(benchmark::State& state, Form form, std::size_t n, Kernel kernel = Kernel::Auto) {
    KernelScope scope(kernel);
    const std::string& bytes = Data(n);
    std::string text = bytes;
    const std::string asc = form == Form::DecryptAsc ? Cipher().EncryptAsc(text) : std::string();
    const std::string ciphertext = form == Form::Decrypt ? Cipher().Encrypt(text) : std::string();
    const std::string hex = form == Form::HexRead ? morvik::hex::Write(bytes) : std::string();
    // One untimed call first: the rates are of the steady state, not of the
    // call that first grows the object's last result to this size.
    bool warm = false;
    for (auto _ : state) {
        if (!warm) {
            state.PauseTiming();
            text = bytes;
            std::string first = form == Form::EncryptAsc ? Cipher().EncryptAsc(text)
                              : form == Form::DecryptAsc ? Cipher().DecryptAsc(asc)
                              : form == Form::Encrypt    ? Cipher().Encrypt(text)
                              : form == Form::Decrypt    ? Cipher().Decrypt(ciphertext)
                              : form == Form::HexWrite   ? morvik::hex::Write(bytes)
                              : form == Form::HexRead    ? morvik::hex::Read(hex)
                                                         : std::string(bytes);
            benchmark::DoNotOptimize(first.data());
            warm = true;
            state.ResumeTiming();
        }
        std::string out;
        switch (form) {
            case Form::Encrypt:    out = Cipher().Encrypt(text); break;
            case Form::Decrypt:    out = Cipher().Decrypt(ciphertext); break;
            case Form::EncryptAsc: out = Cipher().EncryptAsc(text); break;
            case Form::DecryptAsc: out = Cipher().DecryptAsc(asc); break;
            case Form::HexWrite:   out = morvik::hex::Write(bytes); break;
            case Form::HexRead:    out = morvik::hex::Read(hex); break;
            case Form::Copy:       out = bytes; break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, n);
}

// ---- registration --------------------------------------------------------

struct Path {
    const char* name;
    Kernel kernel;
};

std::vector<Path> OurPaths() {
    std::vector<Path> paths;
    for (Kernel k : morvik::AvailableKernels()) {
        static const std::map<Kernel, const char*> names = {
            {Kernel::Scalar, "morvik_scalar"}, {Kernel::SSE2, "morvik_sse2"}, {Kernel::AVX2, "morvik_avx2"},
            {Kernel::AVX512, "morvik_avx512"}};
        paths.push_back({names.at(k), k});
    }
    return paths;
}

void Register(const std::string& name, std::function<void(benchmark::State&)> fn) {
    benchmark::RegisterBenchmark(name.c_str(), [fn](benchmark::State& s) { fn(s); })->Unit(benchmark::kMicrosecond);
}

void RegisterAll() {
    for (bool enc : {true, false}) {
        const std::string bulk = enc ? "ecb_encrypt_16MiB/" : "ecb_decrypt_16MiB/";
        for (const Path& p : OurPaths()) Register(bulk + p.name, [=](auto& s) { OursBulk(s, p.kernel, enc); });
        Register(bulk + "openssl", [=](auto& s) { PeerBulk<OpenSsl>(s, enc, kBulk); });
        Register(bulk + "nettle", [=](auto& s) { PeerBulk<Nettle>(s, enc, kBulk); });
        Register(bulk + "gcrypt", [=](auto& s) { PeerBulk<Gcrypt>(s, enc, kBulk); });
    }
    for (bool enc : {true, false}) {
        const std::string msg = enc ? "message_encrypt_64B/" : "message_decrypt_64B/";
        for (const Path& p : OurPaths()) Register(msg + p.name, [=](auto& s) { OursMessage(s, p.kernel, enc, kShort); });
        Register(msg + "openssl", [=](auto& s) { PeerBulk<OpenSsl>(s, enc, kShort); });
        Register(msg + "nettle", [=](auto& s) { PeerBulk<Nettle>(s, enc, kShort); });
        Register(msg + "gcrypt", [=](auto& s) { PeerBulk<Gcrypt>(s, enc, kShort); });
    }

    // Key setup of a 16-byte key with 128 effective bits.
    Register("key_setup_16B/morvik", [](benchmark::State& s) {
        morvik::RC2 rc2;
        rc2.EffectiveKeyLength(kKeyBits);
        for (auto _ : s) {
            rc2.Key(Key16());
            benchmark::DoNotOptimize(rc2.ExpandedKey().data());
        }
        s.SetItemsProcessed(static_cast<std::int64_t>(s.iterations()));
    });
    Register("key_setup_16B/openssl", [](benchmark::State& s) {
        morvik::peers::OpenSslRc2 peer(Key16(), kKeyBits, true);
        for (auto _ : s) peer.Rekey(Key16());
        s.SetItemsProcessed(static_cast<std::int64_t>(s.iterations()));
    });
    Register("key_setup_16B/nettle", [](benchmark::State& s) {
        arctwo_ctx ctx;
        for (auto _ : s) {
            arctwo_set_key_ekb(&ctx, Key16().size(), U8(Key16()), kKeyBits);
            benchmark::DoNotOptimize(&ctx);
        }
        s.SetItemsProcessed(static_cast<std::int64_t>(s.iterations()));
    });
    Register("key_setup_16B/gcrypt", [](benchmark::State& s) {
        Gcrypt peer;
        for (auto _ : s) gcry_cipher_setkey(peer.h, Key16().data(), Key16().size());
        s.SetItemsProcessed(static_cast<std::int64_t>(s.iterations()));
    });

    // Text codecs, all counted by the 16 MiB of bytes on the binary side.
    const std::string& bytes = Data(kBulk);
    static const std::string hex_text = morvik::hex::Write(bytes);
    static const std::string asc_text = morvik::BlindAscii::Full2Asc(bytes);
    Register("hex_write_16MiB/morvik", [&](auto& s) {
        for (auto _ : s) benchmark::DoNotOptimize(morvik::hex::Write(bytes).data());
        SetBytes(s, kBulk);
    });
    Register("hex_read_16MiB/morvik", [](auto& s) {
        for (auto _ : s) benchmark::DoNotOptimize(morvik::hex::Read(hex_text).data());
        SetBytes(s, kBulk);
    });
    Register("armour_encode_16MiB/morvik", [&](auto& s) {
        for (auto _ : s) benchmark::DoNotOptimize(morvik::BlindAscii::Full2Asc(bytes).data());
        SetBytes(s, kBulk);
    });
    Register("armour_decode_16MiB/morvik", [](auto& s) {
        for (auto _ : s) benchmark::DoNotOptimize(morvik::BlindAscii::Asc2Full(asc_text).data());
        SetBytes(s, kBulk);
    });

    Register("encrypt_asc_16MiB/morvik", [](auto& s) { Linear(s, Form::EncryptAsc, kBulk); });
    Register("decrypt_asc_16MiB/morvik", [](auto& s) { Linear(s, Form::DecryptAsc, kBulk); });

    // The sweep: Encrypt and Decrypt on each path, the text forms on the best.
    std::vector<std::tuple<Form, std::string, Kernel>> sweeps;
    for (const Path& p : OurPaths()) {
        sweeps.emplace_back(Form::Encrypt, std::string("sweep_encrypt_") + (p.name + 7), p.kernel);
        sweeps.emplace_back(Form::Decrypt, std::string("sweep_decrypt_") + (p.name + 7), p.kernel);
    }
    sweeps.emplace_back(Form::EncryptAsc, "sweep_encrypt_asc", Kernel::Auto);
    sweeps.emplace_back(Form::DecryptAsc, "sweep_decrypt_asc", Kernel::Auto);
    sweeps.emplace_back(Form::HexWrite, "sweep_hex_write", Kernel::Auto);
    sweeps.emplace_back(Form::HexRead, "sweep_hex_read", Kernel::Auto);
    sweeps.emplace_back(Form::Copy, "sweep_copy_reference", Kernel::Auto);
    for (const auto& [form, name, kernel] : sweeps)
        for (std::size_t kib : {1u, 16u, 256u, 1024u, 4096u, 16384u, 65536u}) {
            const Form f = form;
            const Kernel k = kernel;
            Register(name + "/" + std::to_string(kib) + "KiB", [=](auto& s) { Linear(s, f, kib * 1024, k); });
        }
}

// ---- summary -------------------------------------------------------------

// Keeps each benchmark's rate (the median when repeated) for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool aggregate = run.run_type == Run::RT_Aggregate;
            if (aggregate && run.aggregate_name != "median") continue;
            for (const char* counter : {"bytes_per_second", "items_per_second"})
                if (auto it = run.counters.find(counter); it != run.counters.end())
                    rates_[run.run_name.function_name] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintSummary() const;

private:
    double Rate(const std::string& name) const {
        auto it = rates_.find(name);
        return it == rates_.end() ? 0 : it->second;
    }
    // The best rate in a category among names starting with `who`.
    double Best(const std::string& category, const std::string& who) const {
        double best = 0;
        for (const auto& [name, rate] : rates_)
            if (name.rfind(category + "/" + who, 0) == 0) best = std::max(best, rate);
        return best;
    }
    double BestPeer(const std::string& category) const {
        return std::max({Best(category, "openssl"), Best(category, "nettle"), Best(category, "gcrypt")});
    }
    // A figure and its goal: at least `goal`, or with `at_most` at most.
    static void Target(const char* what, double value, double goal, const char* unit, bool at_most = false) {
        if (!(value > 0) || value == HUGE_VAL) {
            std::printf("  %-52s %10s   (target %s%g%s)  not run\n", what, "-", at_most ? "at most " : "", goal, unit);
            return;
        }
        const bool met = at_most ? value <= goal : value >= goal;
        std::printf("  %-52s %10.2f%s  (target %s%g%s)  %s\n", what, value, unit, at_most ? "at most " : "", goal,
                    unit, met ? "met" : "NOT MET");
    }

    std::map<std::string, double> rates_;
};

void SummaryReporter::PrintSummary() const {
    std::printf("\nRates, and multiples of OpenSSL's rate in the same category\n");
    for (const auto& [name, rate] : rates_) {
        const std::string category = name.substr(0, name.find('/'));
        if (category.rfind("sweep_", 0) == 0) continue;
        const double openssl = Rate(category + "/openssl");
        const bool items = category.rfind("key_setup", 0) == 0;
        std::printf("  %-36s %12.1f %s", name.c_str(), items ? rate / 1e6 : rate / 1e6, items ? "M/s " : "MB/s");
        if (openssl > 0) std::printf("   %7.2fx OpenSSL", rate / openssl);
        std::printf("\n");
    }

    std::printf("\nTargets\n");
    Target("encrypt 16 MiB, best path / fastest peer", Best("ecb_encrypt_16MiB", "morvik") / BestPeer("ecb_encrypt_16MiB"), 15, "x");
    Target("decrypt 16 MiB, best path / fastest peer", Best("ecb_decrypt_16MiB", "morvik") / BestPeer("ecb_decrypt_16MiB"), 10, "x");
    Target("encrypt 64 B messages, best path / OpenSSL", Best("message_encrypt_64B", "morvik") / Rate("message_encrypt_64B/openssl"), 5, "x");
    Target("decrypt 64 B messages, best path / OpenSSL", Best("message_decrypt_64B", "morvik") / Rate("message_decrypt_64B/openssl"), 5, "x");
    Target("key setups per second / fastest peer's", Rate("key_setup_16B/morvik") / BestPeer("key_setup_16B"), 1, "x");
    // Encryption's time over decryption's on the widest kernel: the two
    // directions do the same work, so a gap is latency the kernel fails to hide.
    Target("AVX-512 16 MiB: encryption time / decryption time",
           Rate("ecb_decrypt_16MiB/morvik_avx512") / Rate("ecb_encrypt_16MiB/morvik_avx512"), 1.3, "x", true);
    for (const char* codec : {"hex_write_16MiB/morvik", "hex_read_16MiB/morvik", "armour_encode_16MiB/morvik", "armour_decode_16MiB/morvik"})
        Target(codec, Rate(codec) / 1e9, 1, " GB/s");
    Target("encrypt_asc_16MiB/morvik", Rate("encrypt_asc_16MiB/morvik") / 1e6, 500, " MB/s");
    std::vector<std::string> sweeps;
    for (const auto& [name, rate] : rates_)
        if (name.rfind("sweep_", 0) == 0) {
            const std::string form = name.substr(0, name.find('/'));
            if (std::find(sweeps.begin(), sweeps.end(), form) == sweeps.end()) sweeps.push_back(form);
        }
    for (const std::string& form : sweeps) {
        const double r1 = Rate(form + "/1024KiB"), r64 = Rate(form + "/65536KiB");
        // Cost is length over rate: (64 / r64) / (1 / r1).
        const std::string what = form + ": 64 MiB cost / 1 MiB cost";
        if (form == "sweep_copy_reference" && r1 > 0 && r64 > 0)
            std::printf("  %-52s %10.2fx  (a plain copy, for reference)\n", what.c_str(), 64 * r1 / r64);
        else if (r1 > 0 && r64 > 0)
            std::printf("  %-52s %10.2fx  (target at most 70x)  %s\n", what.c_str(), 64 * r1 / r64,
                        64 * r1 / r64 <= 70 ? "met" : "NOT MET");
        else
            std::printf("  %-52s %10s   (target at most 70x)  not run\n", what.c_str(), "-");
    }
}

}  // namespace

// --reuse_memory: glibc keeps freed buffers of any size for reuse, as a
// long-running process's heap does, instead of returning those above 32 MiB
// to the system and faulting fresh pages in on every call. On this kind of
// virtual machine a fresh 4 KiB page costs microseconds, which would otherwise
// dominate every rate of a call that returns a new large string.
bool TakeReuseMemoryFlag(int& argc, char** argv) {
    bool found = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--reuse_memory") found = true;
        else argv[kept++] = argv[i];
    }
    argc = kept;
    return found;
}

int main(int argc, char** argv) {
    const bool reuse_memory = TakeReuseMemoryFlag(argc, argv);
    if (reuse_memory) {
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
    }
    benchmark::AddCustomContext("memory", reuse_memory ? "freed buffers reused (--reuse_memory)"
                                                       : "glibc defaults: buffers above 32 MiB freshly mapped per call");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}

