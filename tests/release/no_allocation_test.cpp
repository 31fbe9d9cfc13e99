// The manifests are read on the worker and update paths, which allocate
// nothing: verify, parse and the digest check must not reach operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "manifest_test_support.h"
#include "release/https_url.h"
#include "release/manifest.h"
#include "test_signing.h"

namespace {
std::atomic<unsigned long> allocations{0};
}  // namespace

// Counting replacements for this test executable; gtest's own allocations
// are counted too, so the test only compares counts around the code under
// test.
void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace manifest_test;

TEST(NoAllocation, ReadingBothManifestsAllocatesNothing) {
    const std::string release_body = test_signing::sign(join(release_lines()));
    const std::string update_body = test_signing::sign(join(update_lines()));
    const uint8_t bytes[3] = {'a', 'b', 'c'};
    const uint8_t digest[32] = {};
    const char url[] = "https://localhost/images/x.img";
    const unsigned long before = allocations.load();
    const auto release_text = release::verify_signed_text(view(release_body));
    const auto update_text = release::verify_signed_text(view(update_body));
    ASSERT_TRUE(release_text && update_text);
    const bool parsed = release::parse_release_manifest(*release_text).has_value() &&
                        release::parse_update_manifest(*update_text).has_value() &&
                        release::parse_https_url({url, sizeof url - 1}).ok;
    const bool matched = release::sha256_matches(bytes, 3, 3, digest);
    const unsigned long after = allocations.load();
    EXPECT_TRUE(parsed);
    EXPECT_FALSE(matched);
    EXPECT_EQ(after - before, 0u);
}

}  // namespace
