#include "sprite/temporary_name.h"

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace kavoni {

namespace {

// Every temporary file ends so.
constexpr std::string_view kTemporarySuffix = ".kavoni-save.tmp";

std::string Hex(std::uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string digits(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) {
    digits[static_cast<std::size_t>(i)] = kDigits[value & 0xf];
  }
  return digits;
}

}  // namespace

std::filesystem::path TemporaryNameFor(const std::filesystem::path& target_name,
                                       std::size_t max_length) {
  // Random, so that two saves of one file, from two windows, each write their own, and nobody
  // can make a save's name unusable by creating it first.
  std::random_device random;
  std::string unique = ".";
  unique.append(Hex((std::uint64_t{random()} << 32) ^ random())).append(kTemporarySuffix);
  std::filesystem::path name = ".";
  name += target_name;
  name += unique;
  if (name.native().size() > max_length) {
    // FNV-1a of the long name keeps the stand-ins of different targets apart.
    std::uint64_t hash = 14695981039346656037u;
    for (const auto unit : target_name.native()) {
      hash = (hash ^ static_cast<std::uint64_t>(unit)) * 1099511628211u;
    }
    name = ".";
    name += Hex(hash);
    name += unique;
  }
  return name;
}

bool IsTemporaryName(const std::filesystem::path& name) {
  // Compared in the system's own encoding, which holds every name that a folder can list.
  const std::filesystem::path::string_type& text = name.native();
  const std::filesystem::path::string_type suffix =
      std::filesystem::path(kTemporarySuffix).native();
  return text.size() > suffix.size() && text.front() == '.' &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace kavoni
