#include "sprite/temporary_name.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace kavoni {

namespace {

using Text = std::filesystem::path::string_type;

// Every name of the usual form ends so, after the target's name (or its stand-in) and 16
// random digits.
constexpr std::string_view kTemporarySuffix = ".kavoni-save.tmp";
// Folders whose names are too short for that get this and as many random digits as fit.
constexpr std::string_view kCompactPrefix = ".kavoni-";
constexpr std::size_t kFewestCompactDigits = kShortestNameLimit - kCompactPrefix.size();
// An older version's stand-in for long names: this, 16 digits of a hash, and ".tmp".
constexpr std::string_view kOlderStandInPrefix = ".kavoni-save-";
constexpr std::string_view kOlderStandInSuffix = ".tmp";
constexpr std::string_view kTextExtension = ".txt";
constexpr std::size_t kDigits = 16;

// The same characters in the system's own encoding, which holds every name a folder can list.
Text Native(std::string_view ascii) {
  return Text(ascii.begin(), ascii.end());
}

std::string Hex(std::uint64_t value) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string digits(kDigits, '0');
  for (std::size_t i = kDigits; i-- > 0; value >>= 4) {
    digits[i] = kHexDigits[value & 0xf];
  }
  return digits;
}

bool IsHex(const Text& text, std::size_t from, std::size_t count) {
  if (from + count > text.size()) {
    return false;
  }
  return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                     text.begin() + static_cast<std::ptrdiff_t>(from + count), [](auto unit) {
                       return (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'f');
                     });
}

bool StartsWith(const Text& text, std::string_view start) {
  return text.size() >= start.size() && text.compare(0, start.size(), Native(start)) == 0;
}

bool EndsWith(const Text& text, std::string_view end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), Native(end)) == 0;
}

// ".NAME.DIGITS.kavoni-save.tmp", where NAME is a file's name (or its stand-in).
bool IsUsualForm(const Text& text) {
  const std::size_t tail = 1 + kDigits + kTemporarySuffix.size();
  if (text.size() < 1 + 1 + tail || text.front() != '.' || !EndsWith(text, kTemporarySuffix)) {
    return false;
  }
  const std::size_t dot = text.size() - tail;
  const Text name = text.substr(1, dot - 1);
  return text[dot] == '.' && IsHex(text, dot + 1, kDigits) && name != Native(".") &&
         name != Native("..");
}

// ".kavoni-DIGITS", for folders that take short names only.
bool IsCompactForm(const Text& text) {
  const std::size_t digits = text.size() - std::min(text.size(), kCompactPrefix.size());
  return StartsWith(text, kCompactPrefix) && digits >= kFewestCompactDigits && digits <= kDigits &&
         IsHex(text, kCompactPrefix.size(), digits);
}

// What an older version left: ".NAME.kavoni-save.tmp", one fixed name per file, whose NAME ends
// in ".txt" as the name of every file that the dialog saves does, or its stand-in for long
// names.
bool IsOlderForm(const Text& text) {
  const bool fixed =
      text.size() > 1 + kTextExtension.size() + kTemporarySuffix.size() && text.front() == '.' &&
      EndsWith(text, kTemporarySuffix) &&
      EndsWith(text.substr(0, text.size() - kTemporarySuffix.size()), kTextExtension);
  const bool stand_in =
      text.size() == kOlderStandInPrefix.size() + kDigits + kOlderStandInSuffix.size() &&
      StartsWith(text, kOlderStandInPrefix) && EndsWith(text, kOlderStandInSuffix) &&
      IsHex(text, kOlderStandInPrefix.size(), kDigits);
  return fixed || stand_in;
}

}  // namespace

std::filesystem::path TemporaryNameFor(const std::filesystem::path& target_name,
                                       std::size_t max_length) {
  // Random, so that two saves of one file, from two windows, each write their own, and nobody
  // can make a save's name unusable by creating it first.
  std::random_device random;
  const std::string digits = Hex((std::uint64_t{random()} << 32) ^ random());
  const std::size_t limit = std::max(max_length, kShortestNameLimit);
  const std::size_t tail = 1 + digits.size() + kTemporarySuffix.size();
  std::filesystem::path name = ".";
  if (1 + target_name.native().size() + tail <= limit) {
    name += target_name;
  } else if (1 + kDigits + tail <= limit) {
    // FNV-1a of the long name keeps the stand-ins of different targets apart.
    std::uint64_t hash = 14695981039346656037u;
    for (const auto unit : target_name.native()) {
      hash = (hash ^ static_cast<std::uint64_t>(unit)) * 1099511628211u;
    }
    name += Hex(hash);
  } else {
    const std::size_t room = std::min(kDigits, limit - kCompactPrefix.size());
    return std::filesystem::path(std::string(kCompactPrefix) + digits.substr(0, room));
  }
  name += "." + digits + std::string(kTemporarySuffix);
  return name;
}

bool IsTemporaryName(const std::filesystem::path& name) {
  const Text& text = name.native();
  return IsUsualForm(text) || IsCompactForm(text) || IsOlderForm(text);
}

}  // namespace kavoni
