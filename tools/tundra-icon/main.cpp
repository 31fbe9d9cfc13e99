// Writes the program's icon file from the sparkle mark the window paints,
// in the sizes Windows picks from: 16 to 256 pixels. Each image is a 32-bit
// bitmap with its alpha and the transparency mask that older readers use.
//
//   tundra-icon OUT.ico
#include <cstdint>
#include <cstdio>

#include "app/window/logo_icon.h"

namespace {

constexpr int32_t SIZES[] = {16, 20, 24, 32, 40, 48, 64, 128, 256};
constexpr size_t SIZE_COUNT = sizeof SIZES / sizeof SIZES[0];
constexpr uint32_t DIRECTORY_BYTES = 6;
constexpr uint32_t ENTRY_BYTES = 16;
constexpr uint32_t HEADER_BYTES = 40;

uint32_t mask_row_bytes(int32_t size) {
    return (static_cast<uint32_t>(size) + 31) / 32 * 4;
}

uint32_t image_bytes(int32_t size) {
    const auto n = static_cast<uint32_t>(size);
    return HEADER_BYTES + n * n * 4 + mask_row_bytes(size) * n;
}

void put16(FILE* f, uint32_t v) {
    fputc(static_cast<int>(v & 0xFF), f);
    fputc(static_cast<int>((v >> 8) & 0xFF), f);
}

void put32(FILE* f, uint32_t v) {
    put16(f, v & 0xFFFF);
    put16(f, v >> 16);
}

void write_directory(FILE* f) {
    put16(f, 0);  // reserved
    put16(f, 1);  // an icon, not a cursor
    put16(f, SIZE_COUNT);
    uint32_t offset = DIRECTORY_BYTES + ENTRY_BYTES * SIZE_COUNT;
    for (int32_t size : SIZES) {
        const uint32_t side = size >= 256 ? 0 : static_cast<uint32_t>(size);  // 0 means 256
        fputc(static_cast<int>(side), f);
        fputc(static_cast<int>(side), f);
        put16(f, 0);   // no palette, reserved
        put16(f, 1);   // planes
        put16(f, 32);  // bits per pixel
        put32(f, image_bytes(size));
        put32(f, offset);
        offset += image_bytes(size);
    }
}

// Rows go bottom-up, as in every bitmap; the height counts the mask too.
void write_image(FILE* f, int32_t size) {
    const auto n = static_cast<uint32_t>(size);
    put32(f, HEADER_BYTES);
    put32(f, n);
    put32(f, n * 2);
    put16(f, 1);
    put16(f, 32);
    put32(f, 0);  // BI_RGB
    put32(f, image_bytes(size) - HEADER_BYTES);
    for (int i = 0; i < 4; ++i)
        put32(f, 0);
    for (int32_t y = size - 1; y >= 0; --y)
        for (int32_t x = 0; x < size; ++x)
            put32(f, app::logo_icon_pixel(x, y, size));  // B, G, R, A in the file
    for (int32_t y = size - 1; y >= 0; --y) {
        for (uint32_t byte = 0; byte < mask_row_bytes(size); ++byte) {
            uint32_t bits = 0;
            for (uint32_t bit = 0; bit < 8; ++bit) {
                const uint32_t x = byte * 8 + bit;
                const bool clear = x >= n || (app::logo_icon_pixel(int32_t(x), y, size) >> 24) == 0;
                bits |= (clear ? 0x80u : 0u) >> bit;
            }
            fputc(static_cast<int>(bits), f);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: tundra-icon OUT.ico\n");
        return 2;
    }
    FILE* f = fopen(argv[1], "wb");
    if (f == nullptr) {
        perror(argv[1]);
        return 1;
    }
    write_directory(f);
    for (int32_t size : SIZES)
        write_image(f, size);
    const bool written = ferror(f) == 0;
    if (fclose(f) != 0 || !written) {
        fprintf(stderr, "tundra-icon: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
