// Whole files as byte strings, for tests that prepare and inspect program folders.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qv::test {

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary);
  out << bytes;
}

}  // namespace qv::test
