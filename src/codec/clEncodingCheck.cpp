#include "codec/clEncodingCheck.h"

namespace qv {

namespace {
bool IsBase64Symbol(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

bool IsHexDigit(char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
}  // namespace

std::optional<EncodingFault> FindBase64Fault(std::span<const std::string_view> lines) {
  bool padded = false;  // an "=" was met: the decoder reads nothing after it
  // The end of a run that ended inside a group: a fault once more symbols follow.
  std::optional<EncodingFault> shortRun;
  for (std::size_t li = 0; li < lines.size(); ++li) {
    const std::string_view line = lines[li];
    std::size_t symbols = 0;  // of the current run
    // Ends the run at column `at` (a CR, an "=", or the end of the line).
    auto endRun = [&](std::size_t at) -> std::optional<EncodingFault> {
      const std::size_t rest = symbols % 4;
      symbols = 0;
      if (rest == 1) return EncodingFault{li, at - 1, "a Base64 group of one symbol"};
      if (rest != 0 && !padded)
        shortRun = EncodingFault{li, at, "a Base64 line ends inside a group"};
      return std::nullopt;
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (IsBase64Symbol(c)) {
        if (padded) return EncodingFault{li, i, "Base64 symbols after the padding"};
        if (shortRun) return shortRun;
        ++symbols;
      } else if (c == '=') {
        if (padded) continue;
        padded = true;
        if (auto fault = endRun(i)) return fault;
      } else if (c == '\r') {
        if (auto fault = endRun(i)) return fault;
      } else if (!padded) {
        return EncodingFault{li, i, "a byte outside Base64"};
      }
    }
    if (auto fault = endRun(line.size())) return fault;
  }
  return std::nullopt;
}

std::optional<EncodingFault> FindQuotedPrintableFault(std::span<const std::string_view> lines) {
  for (std::size_t li = 0; li < lines.size(); ++li) {
    const std::string_view line = lines[li];
    // A CR inside a line ends a line for the decoder, as the line's own end does.
    auto ends = [&line](std::size_t at) { return at >= line.size() || line[at] == '\r'; };
    for (std::size_t i = line.find('='); i != std::string_view::npos; i = line.find('=', i + 1)) {
      if (ends(i + 1)) continue;  // a soft line break
      if (!IsHexDigit(line[i + 1]) || (!ends(i + 2) && !IsHexDigit(line[i + 2])))
        return EncodingFault{li, i, "an \"=\" not followed by two hexadecimal digits"};
      if (ends(i + 2))
        return EncodingFault{li, i, "a quoted-printable escape cut short by the line's end"};
      i += 2;
    }
  }
  return std::nullopt;
}

std::optional<EncodingFault> FindUUEncodeFault(std::span<const std::string_view> lines) {
  for (std::size_t li = 0; li < lines.size(); ++li) {
    std::string_view line = lines[li];
    line = line.substr(0, line.find('\r'));
    if (line.empty()) continue;
    const auto bytes = static_cast<std::size_t>((static_cast<unsigned char>(line[0]) - 32) & 63);
    if (bytes == 0) return std::nullopt;  // the end of the data
    if (line.size() - 1 < (4 * bytes + 2) / 3)
      return EncodingFault{li, 0, "a uuencoded line shorter than its length says"};
  }
  return std::nullopt;
}

}  // namespace qv
