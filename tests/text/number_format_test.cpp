#include "text/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

template <typename... Pieces>
std::string composed(const Pieces&... pieces) {
    char buffer[512];
    text::TextWriter out(buffer, sizeof buffer);
    text::compose(out, pieces...);
    return std::string(buffer, out.length());
}

std::string fixed(double value, unsigned digits) {
    char buffer[400];
    text::TextWriter out(buffer, sizeof buffer);
    text::put_fixed(out, value, digits);
    return std::string(buffer, out.length());
}

struct FixedCase {
    double value;
    unsigned digits;
    const char* expected;
};

TEST(NumberFormat, FixedPointIsExactAndNeverUsesExponents) {
    const FixedCase cases[] = {
        {0.0, 1, "0.0"},
        {-0.0, 1, "0.0"},
        {1024.0, 1, "1024.0"},
        {15.5, 1, "15.5"},
        {8.0, 1, "8.0"},
        {0.04, 1, "0.0"},
        {0.05, 1, "0.1"},     // 0.05 is stored as slightly more than 0.05
        {0.25, 1, "0.3"},     // an exact tie rounds up
        {0.35, 1, "0.3"},     // stored as slightly less than 0.35
        {2.675, 2, "2.67"},   // stored as slightly less than 2.675
        {0.125, 2, "0.13"},   // exact tie
        {99.95, 1, "100.0"},  // the carry reaches the integer part
        {0.999, 0, "1"},
        {12.5, 0, "13"},
        {1e-300, 1, "0.0"},
        {5e-324, 2, "0.00"},  // the smallest subnormal
        {1e21, 1, "1000000000000000000000.0"},
        {123456789012345678.0, 1, "123456789012345680.0"},
        {17592186044416.0, 1, "17592186044416.0"},  // 2^64 bytes in MiB
        {-3.25, 1, "-3.3"},
    };
    for (const FixedCase& c : cases) {
        EXPECT_EQ(fixed(c.value, c.digits), c.expected) << c.value << " with " << c.digits;
    }
}

TEST(NumberFormat, HugeAndSpecialValues) {
    const std::string largest = fixed(std::numeric_limits<double>::max(), 1);
    EXPECT_EQ(largest.size(), 311u);  // 309 digits, the point and one digit
    EXPECT_EQ(largest.substr(0, 17), "17976931348623157");
    EXPECT_EQ(largest.substr(largest.size() - 2), ".0");
    EXPECT_EQ(largest.find('e'), std::string::npos);
    // 1e100 is stored as this exact integer; %g would have written 1e+100.
    EXPECT_EQ(fixed(1e100, 1),
              "10000000000000000159028911097599180468360808563945281389781327557747838772170381"
              "060813469985856815104.0");
    EXPECT_EQ(fixed(NAN, 1), "nan");
    EXPECT_EQ(fixed(INFINITY, 1), "inf");
    EXPECT_EQ(fixed(-INFINITY, 1), "-inf");
}

TEST(NumberFormat, EngineUnits) {
    EXPECT_EQ(composed(text::Mib{1073741824}), "1024.0");
    EXPECT_EQ(composed(text::Mib{0}), "0.0");
    EXPECT_EQ(composed(text::Mib{1572864, 2}), "1.50");
    EXPECT_EQ(composed(text::Mib{1572864, 0}), "2");
    EXPECT_EQ(composed(text::Mib{UINT64_MAX}), "17592186044416.0");
    EXPECT_EQ(composed(text::Gb{15500000000}), "15.5");
    EXPECT_EQ(composed(text::Gb{256000000001}), "256.0");
    EXPECT_EQ(composed(text::Gb{UINT64_MAX}), "18446744073.7");
    EXPECT_EQ(composed(text::Seconds{2.25}), "2.3");
    EXPECT_EQ(composed(text::MbPerSecond{50000000, 2.0}), "25.0");
    EXPECT_EQ(composed(text::MbPerSecond{50000000, 0.0}), "0.0");
    EXPECT_EQ(composed(text::MbPerSecond{50000000, -1.0}), "0.0");
    EXPECT_EQ(composed(text::MbPerSecond{50000000, NAN}), "0.0");
    // A tiny positive time gives a huge rate: written out in full, digit for
    // digit the double that the division gave.
    EXPECT_EQ(composed(text::MbPerSecond{UINT64_MAX, 1e-9}), "18446744073709549518848.0");
}

TEST(NumberFormat, SecondsFromCounter) {
    EXPECT_DOUBLE_EQ(text::seconds_between(100, 350, 100), 2.5);
    EXPECT_EQ(text::seconds_between(100, 350, 0), 0.0);
}

TEST(NumberFormat, DecimalsDigestsAndGuids) {
    EXPECT_EQ(composed(0u, " ", 4096u, " ", UINT64_MAX), "0 4096 18446744073709551615");
    uint8_t digest[32];
    for (int i = 0; i < 32; ++i) digest[i] = static_cast<uint8_t>(i * 8 + 7);
    EXPECT_EQ(composed(text::Sha256Hex{digest}),
              "070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff");
    // The EFI System Partition type as a GPT entry stores it.
    const uint8_t esp[16] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                             0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
    EXPECT_EQ(composed(text::GuidText{esp}), "c12a7328-f81f-11d2-ba4b-00a0c93ec93b");
}

}  // namespace
