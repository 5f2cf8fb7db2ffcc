#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/MODBUS: initial value 0xFFFF, reflected polynomial 0xA001, no final
// XOR. On the wire the result is appended low byte first.
std::uint16_t crc16Modbus(const std::uint8_t* data, std::size_t size,
                          std::uint16_t crc = 0xFFFF);

inline std::uint16_t crc16Modbus(const char* data, std::size_t size, std::uint16_t crc = 0xFFFF)
{
    return crc16Modbus(reinterpret_cast<const std::uint8_t*>(data), size, crc);
}
