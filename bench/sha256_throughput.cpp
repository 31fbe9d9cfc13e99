// The throughput of the program's SHA-256 module, and of libsodium's beside
// it, over one file held in memory: bench/engine-vs-tools prints it next to
// sha256sum and openssl on the same file. Best of three passes each.
//   sha256_throughput FILE
#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "hash/sha256.h"

namespace {

constexpr size_t PIECE_BYTES = 1048576;  // as the engine's transfers feed it

hash::Sha256 state;

template <typename Pass>
double best_mb_per_s(const std::vector<char>& bytes, Pass pass) {
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        pass();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        const double rate = static_cast<double>(bytes.size()) / took.count() / 1e6;
        best = rate > best ? rate : best;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || sodium_init() < 0) {
        std::fprintf(stderr, "usage: sha256_throughput FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "sha256_throughput: cannot read %s\n", argv[1]);
        return 1;
    }
    uint8_t module_digest[hash::SHA256_BYTES] = {};
    uint8_t sodium_digest[crypto_hash_sha256_BYTES] = {};
    bool ok = true;
    const double module_rate = best_mb_per_s(bytes, [&] {
        hash::sha256_init(state);
        for (size_t at = 0; at < bytes.size(); at += PIECE_BYTES) {
            const size_t rest = bytes.size() - at;
            hash::sha256_update(state, bytes.data() + at, rest < PIECE_BYTES ? rest : PIECE_BYTES);
        }
        ok = hash::sha256_final(state, module_digest) && ok;
    });
    const double sodium_rate = best_mb_per_s(bytes, [&] {
        crypto_hash_sha256_state sodium_state;
        crypto_hash_sha256_init(&sodium_state);
        for (size_t at = 0; at < bytes.size(); at += PIECE_BYTES) {
            const size_t rest = bytes.size() - at;
            crypto_hash_sha256_update(&sodium_state,
                                      reinterpret_cast<const unsigned char*>(bytes.data()) + at,
                                      rest < PIECE_BYTES ? rest : PIECE_BYTES);
        }
        crypto_hash_sha256_final(&sodium_state, sodium_digest);
    });
    if (!ok || !std::equal(module_digest, module_digest + sizeof module_digest, sodium_digest)) {
        std::fprintf(stderr, "sha256_throughput: the module's digest differs from libsodium's\n");
        return 1;
    }
    std::printf("%.0f %.0f\n", module_rate, sodium_rate);
    return 0;
}
