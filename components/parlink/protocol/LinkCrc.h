#pragma once
// Check sums of the link frames: CRC-16/CCITT-FALSE guards the frame header (so
// that a damaged length never makes a receiver wait for bytes that will not
// come), CRC-32 (IEEE 802.3, as zlib) guards the whole frame.

#include <cstddef>
#include <cstdint>

namespace Link {

// CRC-16/CCITT-FALSE: poly 0x1021, init 0xFFFF, no reflection, no final xor.
// Check value of "123456789": 0x29B1.
std::uint16_t Crc16(const void* data, std::size_t size);

// CRC-32/ISO-HDLC: reflected poly 0xEDB88320, init and final xor 0xFFFFFFFF.
// Check value of "123456789": 0xCBF43926. `previous` continues a running sum.
// Uses carry-less multiplication (PCLMULQDQ) where the processor has it.
std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t previous = 0);
// Copies `size` bytes to `to` (not overlapping `data`) and returns their
// sum as Crc32 does, reading them once.
std::uint32_t Crc32Copy(void* to, const void* data, std::size_t size, std::uint32_t previous = 0);
// The same with tables alone, as on a processor without it.
std::uint32_t Crc32WithTables(const void* data, std::size_t size, std::uint32_t previous = 0);

}  // namespace Link
