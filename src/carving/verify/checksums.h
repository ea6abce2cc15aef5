#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The checksums the walked formats carry.
namespace Verify {

// CRC-32 of ISO 3309 / ITU-T V.42 (the one of PNG, ZIP, 7z and RAR):
// reflected polynomial 0xEDB88320, initial and final value 0xFFFFFFFF.
// Pass the previous result to continue a running checksum.
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t previous = 0);

// FLAC's CRC-8 (polynomial 0x07) and CRC-16 (polynomial 0x8005), both
// most-significant bit first, starting at zero, with no final inversion.
std::uint8_t crc8(std::span<const std::uint8_t> bytes, std::uint8_t previous = 0);
std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t previous = 0);

} // namespace Verify
