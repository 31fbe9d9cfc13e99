// What the boot files on a disk's TUNDRA partition say: which processor
// architectures it boots, whether it is a bootable Tundra image, and whether
// it carries the firmware archive.
#pragma once

#include <cstdint>

#include "run/disk_region.h"

namespace formats {

constexpr uint32_t BOOT_ARCH_NONE = 0;
constexpr uint32_t BOOT_ARCH_X64 = 1;
constexpr uint32_t BOOT_ARCH_AA64 = 2;

// Bit 1: EFI\BOOT\BOOTX64.EFI, bit 2: EFI\BOOT\BOOTAA64.EFI; 0 when anything
// goes wrong.
uint32_t probe_boot_arch(const run::DiskRegion& disk);

// TUNDRA\KERNEL.ELF and TUNDRA\ROOT.TAR are both there; false when anything
// goes wrong.
bool has_kernel_and_root(const run::DiskRegion& disk);

// Whether TUNDRA\FIRMWARE.TAR is there; read failures are passed up.
run::Result has_firmware_tar(const run::DiskRegion& disk, bool& present);

}  // namespace formats
