#include "discovery/stick_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

discovery::StickRecord stick(const std::string& vendor, const std::string& product,
                             const std::string& serial, uint32_t disk, uint64_t size) {
    discovery::StickRecord r;
    memcpy(r.vendor, vendor.data(), vendor.size());
    r.vendor_len = vendor.size();
    memcpy(r.product, product.data(), product.size());
    r.product_len = product.size();
    memcpy(r.serial, serial.data(), serial.size());
    r.serial_len = serial.size();
    r.disk_number = disk;
    r.size_bytes = size;
    r.bus_type = 7;
    return r;
}

template <typename Text>
std::string as_string(const Text& t) {
    return std::string(t.data, t.length);
}

const std::string DOT = "  \xC2\xB7  ";

TEST(StickTexts, EmptyVendorKeepsTheLeadingSpace) {
    const auto r = stick("", "Flash", "AA0011", 2, 15500000000ull);
    EXPECT_EQ(as_string(discovery::stick_description(r)),
              " Flash" + DOT + "Disk 2" + DOT + "15.5 GB" + DOT + "AA0011");
    EXPECT_EQ(as_string(discovery::stick_button_label(r)),
              " Flash" + DOT + "Disk 2" + DOT + "15.5 GB");
}

TEST(StickTexts, WholeGigabytesShowOneDigit) {
    const auto r = stick("Kingston", "DataTraveler", "K1", 12, 8000000000ull);
    EXPECT_EQ(as_string(discovery::stick_button_label(r)),
              "Kingston DataTraveler" + DOT + "Disk 12" + DOT + "8.0 GB");
}

TEST(StickTexts, FallBackToTheSerialWhenTooLong) {
    const std::string v(64, 'V'), p(64, 'P'), s(128, 'S');
    // 64 + 1 + 64 + 6 + "Disk 2" + 6 + "15.5 GB" + 6 + 128 = 288: fits exactly.
    const auto exact = stick(v, p, s, 2, 15500000000ull);
    EXPECT_EQ(discovery::stick_description(exact).length, 288u);
    EXPECT_EQ(as_string(discovery::stick_description(exact)).substr(0, 64), v);
    // One digit more in the disk number: 289 bytes, so the serial alone.
    const auto over = stick(v, p, s, 10, 15500000000ull);
    EXPECT_EQ(as_string(discovery::stick_description(over)), s);
    // The label has no serial and 160 bytes: 64 + 1 + 64 + 6 + "Disk 10" + 6 +
    // "1234567.8 GB" = 160 fits exactly; one more digit does not.
    const auto label_fits = stick(v, p, "SHORT", 10, 1234567800000000ull);
    EXPECT_EQ(discovery::stick_button_label(label_fits).length, 160u);
    const auto label_over = stick(v, p, "SHORT", 10, 12345678900000000ull);
    EXPECT_EQ(as_string(discovery::stick_button_label(label_over)), "SHORT");
}

}  // namespace
