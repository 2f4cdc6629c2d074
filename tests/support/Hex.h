// Bytes written as hexadecimal pairs, blanks allowed between them: "06 03 41 6E 6E".
#pragma once

#include <string>
#include <string_view>

namespace qv::test {

inline std::string Hex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    i += 2;
  }
  return out;
}

}  // namespace qv::test
