// The choice of a transfer encoding for given data (TclEncoder::GetPreferredEncoding).
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>

#include "codec/clEncoder.h"

namespace qv {

namespace {

// The scan behind GetPreferredEncoding, over bytes given in any number of pieces. A control byte
// anywhere, or more high bytes than half the total size, make the answer Base64 wherever they
// stand, so the answer does not depend on where a scan stops early.
class PreferredEncodingScan {
 public:
  // Scans the next bytes; false once the answer is Base64 whatever follows. highLimit: half the
  // total size when it is known already (the scan then stops when the high bytes pass it).
  bool Add(std::string_view bytes, std::int64_t highLimit) {
    std::int64_t lineLength = line_length_;
    std::int64_t highBytes = high_bytes_;
    for (const char ch : bytes) {
      const auto c = static_cast<unsigned char>(ch);
      if (c >= 127) {
        long_or_high_ = true;
        if (++highBytes > highLimit) {
          base64_ = true;
          break;
        }
      } else if (c >= 32) {
        ++lineLength;
      } else if (c == '\r' || c == '\n') {
        if (lineLength > 76) long_or_high_ = true;
        lineLength = 0;
      } else {
        base64_ = true;
        break;
      }
    }
    line_length_ = lineLength;
    high_bytes_ = highBytes;
    return !base64_;
  }

  TclEncodeMethod Result(std::int64_t totalSize) const {
    if (base64_ || high_bytes_ > totalSize / 2) return cmMIMEBase64;
    if (long_or_high_ || line_length_ > 76) return cmMIMEQuotedPrintable;
    return cmNone;
  }

 private:
  std::int64_t line_length_ = 0;  // printable characters since the last line break
  std::int64_t high_bytes_ = 0;
  bool long_or_high_ = false;  // a line longer than 76, or a high byte, was seen
  bool base64_ = false;
};

}  // namespace

TclEncodeMethod TclEncoder::GetPreferredEncoding(std::string_view text) {
  const auto total = static_cast<std::int64_t>(text.size());
  PreferredEncodingScan scan;
  scan.Add(text, total / 2);
  return scan.Result(total);
}

TclEncodeMethod TclEncoder::GetPreferredEncoding(TStream& source) {
  // The limit of high bytes is known only at the end when the stream grows while it is read, so
  // the scan stops early only at a control byte; the stream is read to its end all the same.
  const std::int64_t rest = source.Size() - source.Position();
  const std::size_t block = std::clamp<std::int64_t>(rest, 1 << 12, 1 << 16);
  const std::unique_ptr<char[]> buffer(new char[block]);
  PreferredEncodingScan scan;
  bool scanning = true;
  for (std::size_t n; (n = source.Read(buffer.get(), block)) > 0;) {
    if (scanning) scanning = scan.Add({buffer.get(), n}, std::numeric_limits<std::int64_t>::max());
  }
  return scan.Result(source.Size());
}

}  // namespace qv
