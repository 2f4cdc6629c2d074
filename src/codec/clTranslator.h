// TclCharSetTranslator: byte-for-byte translation between a named Internet charset and the local
// single-byte code page of the same script, through twelve built-in tables.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Stream.h"

namespace qv {

// One charset: its name and the two translation tables. A record with an empty name stands for
// "no such charset"; the translations then copy the data unchanged.
struct CharSetTable {
  std::string name;                             // at most 20 characters
  std::array<std::uint8_t, 256> fromCharSet{};  // local byte for each byte of the charset
  std::array<std::uint8_t, 256> toCharSet{};    // charset byte for each local byte
};

class TclCharSetTranslator {
 public:
  TclCharSetTranslator() = delete;

  static constexpr int kCharSetCount = 12;

  // The first built-in charset whose name equals charSet without regard to ASCII case, or a
  // record with an empty name.
  static CharSetTable GetCharSetTable(std::string_view charSet);
  // The name of the i-th built-in charset (0-based, in lookup order).
  static std::string_view CharSetName(int i);

  // Translate the whole source (from position 0) into the destination from position 0 on; the
  // destination is not truncated, and both streams get their positions back afterwards.
  static void TranslateStreamToCharSet(std::string_view charSet, TStream& source,
                                       TStream& destination);
  static void TranslateStreamFromCharSet(std::string_view charSet, TStream& source,
                                         TStream& destination);

  // String forms: the result always has the length of the input.
  static std::string TranslateToCharSet(std::string_view charSet, std::string_view text);
  static std::string TranslateFromCharSet(std::string_view charSet, std::string_view text);
};

}  // namespace qv
