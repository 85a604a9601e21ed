#pragma once
// The 64-bit FNV-1a hash: quick, stable across runs and builds, for names and fingerprints (not for
// anything an attacker chooses to collide).

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace foundation {

struct Fnv1a64 {
  std::uint64_t value = 14695981039346656037ull;

  void add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) value = (value ^ bytes[i]) * 1099511628211ull;
  }
  void add(std::string_view text) { add(text.data(), text.size()); }
};

}  // namespace foundation
