// MD5 throughput against OpenSSL's (assembly) MD5 through EVP, on 16 KiB
// buffers, and XRAND_bytes of 32 bytes per call from 1 and 4 threads.
// Baselines: BM_OpenSslMd5 for MD5; BM_XrandBytes/threads:1 for the pool.
#include <dirext.h>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <vector>

namespace {

std::vector<unsigned char> buffer()
{
    std::vector<unsigned char> b(16 * 1024);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 131 + 7);
    return b;
}

void BM_LibraryMd5(benchmark::State &state)
{
    const auto b = buffer();
    unsigned char out[16];
    for (auto _ : state) {
        MD5(b.data(), b.size(), out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}
BENCHMARK(BM_LibraryMd5);

void BM_OpenSslMd5(benchmark::State &state)
{
    const auto b = buffer();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    const EVP_MD *md = EVP_md5();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, b.data(), b.size());
        EVP_DigestFinal_ex(ctx, out, &n);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}
BENCHMARK(BM_OpenSslMd5);

void BM_XrandBytes(benchmark::State &state)
{
    unsigned char out[32] = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(XRAND_bytes(out, sizeof out));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_XrandBytes)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
