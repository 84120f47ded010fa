#pragma once

#include <filesystem>
#include <string>

#include "sprite/file.h"

namespace kavoni::testing {

// The bytes that a save of a clear grid under `name` writes.
inline std::string ClearSprite(const std::string& name = "ball") {
  std::string bytes = name + "\r\n";
  for (int row = 0; row < 8; ++row) {
    bytes += "   .db %00000000\r\n";
  }
  return bytes;
}

// Saves a clear grid under `name` through the writer, line by line as a press does.
inline void WriteSprite(const std::filesystem::path& path, const std::string& name = "ball") {
  SpriteTextFile file(path);
  file.WriteLine(name);
  for (int row = 0; row < 8; ++row) {
    file.WriteLine("   .db %00000000");
  }
  file.Close();
}

}  // namespace kavoni::testing
