// CRC-32 (the zip and PNG one: reflected polynomial 0xEDB88320), to show that the bytes a host
// read are the bytes on disk. Pure function, reentrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavo::demo {

// Continues a running checksum: start with 0 and feed the bytes in any number of pieces.
std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t running = 0);
std::uint32_t Crc32(const std::string& bytes);

// Eight upper-case hex digits.
std::string Crc32Text(std::uint32_t crc);

}  // namespace kavo::demo
