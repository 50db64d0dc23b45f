#include "crc32.h"

#include <array>
#include <cstdio>

namespace kavo::demo {

namespace {

std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

}  // namespace

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t running) {
  static const std::array<std::uint32_t, 256> table = MakeTable();
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::uint32_t c = running ^ 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) c = table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::uint32_t Crc32(const std::string& bytes) { return Crc32(bytes.data(), bytes.size()); }

std::string Crc32Text(std::uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(crc));
  return text;
}

}  // namespace kavo::demo
