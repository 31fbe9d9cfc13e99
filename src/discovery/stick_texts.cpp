#include "discovery/stick_texts.h"

#include "text/number_format.h"

namespace discovery {
namespace {

// Two spaces, U+00B7 MIDDLE DOT, two spaces.
constexpr char SEPARATOR[] = "  \xC2\xB7  ";

void put_common_part(text::TextWriter& out, const StickRecord& stick) {
    text::compose(out, text::ByteText{stick.vendor, stick.vendor_len}, " ",
                  text::ByteText{stick.product, stick.product_len}, SEPARATOR, "Disk ",
                  stick.disk_number, SEPARATOR, text::Gb{stick.size_bytes}, " GB");
}

template <size_t CAPACITY>
void fall_back_to_serial(text::FixedText<CAPACITY>& result, const StickRecord& stick) {
    static_assert(CAPACITY >= SERIAL_CAPACITY, "the serial must always fit");
    text::TextWriter out(result.data, CAPACITY);
    out.put(stick.serial, stick.serial_len);
    result.length = out.length();
}

}  // namespace

StickDescription stick_description(const StickRecord& stick) {
    StickDescription result;
    text::TextWriter out(result.data, result.capacity);
    put_common_part(out, stick);
    text::compose(out, SEPARATOR, text::ByteText{stick.serial, stick.serial_len});
    result.length = out.length();
    if (out.was_cut()) fall_back_to_serial(result, stick);
    return result;
}

StickButtonLabel stick_button_label(const StickRecord& stick) {
    StickButtonLabel result;
    text::TextWriter out(result.data, result.capacity);
    put_common_part(out, stick);
    result.length = out.length();
    if (out.was_cut()) fall_back_to_serial(result, stick);
    return result;
}

}  // namespace discovery
