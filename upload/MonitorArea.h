#pragma once

#include <cstdint>

namespace upload {

// Program memory of the PIC 18F452: 32 KiB of flash at byte addresses 0x0000 to 0x7FFF.
inline constexpr std::uint32_t programMemoryBegin = 0x0000;
inline constexpr std::uint32_t programMemoryEnd = 0x8000; // one past the last byte

// The Monitor sits in the chip's boot block, the lowest 512 bytes (the block that the boot-block
// write protection covers). It owns the hardware reset and interrupt vectors and forwards them to
// the application's vectors just above it. The firmware image never writes into this area, and the
// board refuses writes there.
inline constexpr std::uint32_t monitorAreaBegin = 0x0000;
inline constexpr std::uint32_t monitorAreaEnd = 0x0200; // one past the last byte

// Where the Monitor forwards the reset and the two interrupt vectors.
inline constexpr std::uint32_t applicationResetVector = 0x0200;
inline constexpr std::uint32_t applicationHighInterruptVector = 0x0208;
inline constexpr std::uint32_t applicationLowInterruptVector = 0x0218;

constexpr bool inMonitorArea(std::uint32_t address) {
    return address >= monitorAreaBegin && address < monitorAreaEnd;
}

} // namespace upload
