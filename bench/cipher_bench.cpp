// Times the Triple-DES stream cipher against OpenSSL's two-key Triple-DES in ECB mode on the
// same 64 MiB buffer, and prints our throughput divided by OpenSSL's.
//
// With `--section-memory FILE` it instead encodes FILE as one encrypted section and decodes
// it again (FILE.section, FILE.decoded), for measuring peak memory from outside.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "part/section_codec.h"
#include "platform/stream/stream.h"
#include "transfer/cipher/triple_des.h"

namespace {

constexpr int64_t kBufferSize = 64ll << 20;
const char* kPassPhrase = "bench pass phrase";

const std::vector<uint8_t>& plainBuffer() {
    static const std::vector<uint8_t> buffer = [] {
        std::vector<uint8_t> bytes(static_cast<size_t>(kBufferSize));
        uint32_t state = 12345;
        for (auto& byte : bytes) byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
        return bytes;
    }();
    return buffer;
}

ts::TLb3DES keyedCipher() {
    ts::TLb3DES cipher;
    cipher.GenerateKey(kPassPhrase);
    return cipher;
}

const std::vector<uint8_t>& encryptedBuffer() {
    static const std::vector<uint8_t> buffer = [] {
        ts::MemoryStream in(plainBuffer()), out;
        keyedCipher().EncryptStream(in, out);
        return out.takeBytes();
    }();
    return buffer;
}

void BM_EncryptStream(benchmark::State& state) {
    auto cipher = keyedCipher();
    ts::MemoryStream in(plainBuffer());
    for (auto _ : state) {
        in.rewind();
        ts::MemoryStream out;
        cipher.EncryptStream(in, out);
        benchmark::DoNotOptimize(out.bytes().data());
    }
    state.SetBytesProcessed(state.iterations() * kBufferSize);
}

void BM_DecryptStream(benchmark::State& state) {
    auto cipher = keyedCipher();
    ts::MemoryStream in(encryptedBuffer());
    for (auto _ : state) {
        in.rewind();
        ts::MemoryStream out;
        cipher.DecryptStream(in, out);
        benchmark::DoNotOptimize(out.bytes().data());
    }
    state.SetBytesProcessed(state.iterations() * kBufferSize);
}

void openSslTripleDes(benchmark::State& state, bool encrypt) {
    auto key = keyedCipher().Key();
    const auto& input = encrypt ? plainBuffer() : encryptedBuffer();
    std::vector<uint8_t> output(static_cast<size_t>(kBufferSize) + 16);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    for (auto _ : state) {
        if (EVP_CipherInit_ex(context.get(), EVP_des_ede_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0) != 1)
            throw std::runtime_error("OpenSSL has no two-key Triple-DES");
        EVP_CIPHER_CTX_set_padding(context.get(), 0);
        int written = 0;
        EVP_CipherUpdate(context.get(), output.data(), &written, input.data(), static_cast<int>(kBufferSize));
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(state.iterations() * kBufferSize);
}

void BM_OpenSslEncrypt(benchmark::State& state) { openSslTripleDes(state, true); }
void BM_OpenSslDecrypt(benchmark::State& state) { openSslTripleDes(state, false); }

BENCHMARK(BM_EncryptStream)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_OpenSslEncrypt)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecryptStream)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_OpenSslDecrypt)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Keeps each benchmark's processor time per iteration for the ratios printed at the end;
// processor time, not wall time, so that other work on the machine does not skew them.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration) seconds_[run.run_name.function_name] = run.cpu_accumulated_time / run.iterations;
    }
    void printRatio(const char* label, const std::string& ours, const std::string& theirs) const {
        auto o = seconds_.find(ours), t = seconds_.find(theirs);
        if (o != seconds_.end() && t != seconds_.end()) std::printf("%s: %.2f\n", label, t->second / o->second);
    }

private:
    std::map<std::string, double> seconds_;
};

int encodeAndDecodeSection(const std::string& path) {
    const ts::SectionCodec part(true, kPassPhrase);
    {
        ts::FileStream plain(path, ts::FileStream::Mode::Read);
        ts::FileStream section(path + ".section", ts::FileStream::Mode::Create);
        part.writeSection(plain, plain.size(), section);
    }
    ts::FileStream section(path + ".section", ts::FileStream::Mode::Read);
    ts::FileStream decoded(path + ".decoded", ts::FileStream::Mode::Create);
    int64_t consumed = part.ReadSection(section, decoded);
    std::printf("section of %lld bytes decoded to %lld bytes\n", static_cast<long long>(consumed),
                static_cast<long long>(decoded.size()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--section-memory") == 0) {
        try {
            return encodeAndDecodeSection(argv[2]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("3des_encrypt_vs_openssl", "BM_EncryptStream", "BM_OpenSslEncrypt");
    reporter.printRatio("3des_decrypt_vs_openssl", "BM_DecryptStream", "BM_OpenSslDecrypt");
    benchmark::Shutdown();
    return 0;
}
