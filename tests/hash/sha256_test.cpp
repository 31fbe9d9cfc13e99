// The program's SHA-256: the published test vectors, and the same digests as
// libsodium's over many lengths fed in many splits; a state serves message
// after message, and a failing step is reported, never a wrong digest.
#include "hash/sha256.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fixtures/sha256_hex.h"
#include "sys/sys.h"

namespace {

constexpr char ABC_DIGEST[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string hex_of(const uint8_t digest[hash::SHA256_BYTES]) {
    return fixtures::digest_hex(digest);
}

hash::Sha256 shared_state;

std::string streamed(const std::string& message, size_t piece, hash::Sha256& state = shared_state) {
    hash::sha256_init(state);
    for (size_t at = 0; at < message.size(); at += piece)
        hash::sha256_update(state, message.data() + at, std::min(piece, message.size() - at));
    uint8_t digest[hash::SHA256_BYTES];
    EXPECT_TRUE(hash::sha256_final(state, digest));
    return hex_of(digest);
}

TEST(Sha256, PublishedVectorsWholeAndInPieces) {
    struct Vector {
        std::string message;
        const char* digest;
    };
    const Vector vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", ABC_DIGEST},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "m"
         "nopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.message.substr(0, 16) + " (" + std::to_string(v.message.size()) + " bytes)");
        uint8_t one_call[hash::SHA256_BYTES];
        ASSERT_TRUE(hash::sha256(v.message.data(), v.message.size(), one_call));
        EXPECT_EQ(hex_of(one_call), v.digest);
        for (const size_t piece :
             {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{1} << 20}) {
            if (piece == 1 && v.message.size() > 1000)
                continue;  // a million calls say nothing that 63 bytes at a time does not
            EXPECT_EQ(streamed(v.message, piece), v.digest) << "in pieces of " << piece;
        }
    }
}

TEST(Sha256, SameAsLibsodiumOverRandomLengthsAndSplits) {
    ASSERT_GE(sodium_init(), 0);
    std::mt19937_64 random(20261211);
    std::vector<uint8_t> bytes(3 << 20);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random());
    static hash::Sha256 state;
    for (int round = 0; round < 60; ++round) {
        const size_t length = round < 20 ? static_cast<size_t>(random() % 300)
                                         : static_cast<size_t>(random() % bytes.size());
        SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(length) + " bytes");
        uint8_t expected[crypto_hash_sha256_BYTES];
        crypto_hash_sha256(expected, bytes.data(), length);

        hash::sha256_init(state);
        for (size_t at = 0; at < length;) {
            const size_t piece = std::min<size_t>(length - at, random() % 200000);
            hash::sha256_update(state, bytes.data() + at, piece);
            at += piece;
        }
        uint8_t digest[hash::SHA256_BYTES];
        ASSERT_TRUE(hash::sha256_final(state, digest));
        EXPECT_EQ(memcmp(digest, expected, sizeof digest), 0);
        ASSERT_TRUE(hash::sha256(bytes.data(), length, digest));
        EXPECT_EQ(memcmp(digest, expected, sizeof digest), 0);
    }
}

// A message abandoned half-way leaves nothing behind for the next one.
TEST(Sha256, InitDropsAnUnfinishedMessage) {
    static hash::Sha256 state;
    hash::sha256_init(state);
    hash::sha256_update(state, "left over", 9);
    EXPECT_EQ(streamed("abc", 2, state), ABC_DIGEST);
    // A final without an init since the last final is a failure, not the
    // digest of nothing.
    uint8_t digest[hash::SHA256_BYTES];
    EXPECT_FALSE(hash::sha256_final(state, digest));
    EXPECT_EQ(streamed("abc", 3, state), ABC_DIGEST);
}

#ifdef _WIN32
NTSTATUS WINAPI failing_hash_data(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG) {
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS WINAPI failing_finish(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG) {
    return STATUS_UNSUCCESSFUL;
}

// A step that fails makes the digest a failure, and the state still serves
// the next message.
TEST(Sha256, AFailingStepIsReportedAndTheStateRecovers) {
    static hash::Sha256 state;
    uint8_t digest[hash::SHA256_BYTES];
    for (const bool fail_finish : {false, true}) {
        SCOPED_TRACE(fail_finish ? "finish fails" : "hashing fails");
        hash::sha256_init(state);
        if (fail_finish)
            sys::calls.BCryptFinishHash = failing_finish;
        else
            sys::calls.BCryptHashData = failing_hash_data;
        hash::sha256_update(state, "abc", 3);
        memset(digest, 0xAA, sizeof digest);
        EXPECT_FALSE(hash::sha256_final(state, digest));
        EXPECT_EQ(hex_of(digest), std::string(64, '0'));
        sys::restore_default_calls();
        EXPECT_EQ(streamed("abc", 1, state), ABC_DIGEST);
    }
}
#endif

}  // namespace
