// TclEncoder: content-transfer encodings of Internet mail (quoted-printable, Base64, uuencode)
// from stream to stream, with string forms and a choice of encoding for given data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/Errors.h"
#include "base/Stream.h"
#include "components/Component.h"

namespace qv {

enum TclEncodeMethod : std::uint8_t {
  cmNone = 0,
  cmMIMEQuotedPrintable = 1,
  cmMIMEBase64 = 2,
  cmUUEncode = 3,
  cm8Bit = 4,
};

// The names of the methods, for component streams.
extern const TEnumInfo kEncodeMethodInfo;

class EclEncoderError : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr const char* kUnsupportedFormat = "Unsupported format.";
inline constexpr const char* kWrongBase64Symbols = "Wrong symbols in source stream.";
inline constexpr const char* kWrongQuotedPrintable = "Wrong quoted-printed symbols.";

class TclEncoder;
// Sender, bytes processed so far, total bytes.
using TclEncoderProgressEvent =
    std::function<void(TclEncoder& sender, int bytesProceed, int totalBytes)>;

// A non-visual component: CharsPerLine (default 76), SuppressCrlf (default False) and OnProgress
// are its published properties.
class TclEncoder : public TComponent {
  QV_CLASS_INFO
 public:
  explicit TclEncoder(TComponent* owner = nullptr) : TComponent(owner) {}

  int CharsPerLine() const noexcept { return chars_per_line_; }
  void SetCharsPerLine(int v) noexcept { chars_per_line_ = v; }
  bool SuppressCrlf() const noexcept { return suppress_crlf_; }
  void SetSuppressCrlf(bool v) noexcept { suppress_crlf_ = v; }
  TclEncoderProgressEvent OnProgress;
  // The stored form of the handler: a published method of a form, by name.
  TMethod OnProgressMethod() const { return on_progress_method_; }
  void SetOnProgressMethod(const TMethod& m) { on_progress_method_ = m; }

  // Encode/Decode read the source from its start to its end in blocks, so that a call holds no
  // more than a block of it (a plain memory stream is worked on in place). The output does not
  // depend on how the source hands out its bytes.
  void Encode(TStream& source, TStream& destination, TclEncodeMethod method);
  void Decode(TStream& source, TStream& destination, TclEncodeMethod method);
  std::string EncodeString(std::string_view text, TclEncodeMethod method);
  std::string DecodeString(std::string_view text, TclEncodeMethod method);
  // The string form between streams, for text too long to hold: as Encode, but quoted-printable
  // writes no soft line breaks.
  void EncodeString(TStream& source, TStream& destination, TclEncodeMethod method);
  // Whether Encode (decoding false) or Decode (decoding true) with this method reads a source
  // that is not a plain memory stream twice, seeking back to its start in between: Base64
  // decoding checks every symbol before it writes anything, and uuencoding with SuppressCrlf
  // counts the bytes for the length character in front of them. Every other call reads the
  // source once.
  bool ReadsSourceTwice(TclEncodeMethod method, bool decoding) const noexcept;

  static TclEncodeMethod GetPreferredEncoding(std::string_view text);
  // Reads from the stream's current position to its end, in blocks. The limit of high bytes is
  // half the stream's size as it stands after the read.
  static TclEncodeMethod GetPreferredEncoding(TStream& source);

  // The output line length a method works with for a requested CharsPerLine.
  static int EffectiveLineLength(TclEncodeMethod method, int charsPerLine) noexcept;

 protected:
  virtual void DoProgress(int bytesProceed, int totalBytes);
  // The line length of the running Encode or Decode call.
  int EffectiveLineLength() const noexcept { return EffectiveLineLength(method_, chars_per_line_); }

 private:
  TMethod on_progress_method_;
  int chars_per_line_ = 76;
  bool suppress_crlf_ = false;
  // Per-call state.
  TclEncodeMethod method_ = cmNone;
  bool first_line_ = false;
  bool pending_escape_ = false;
  bool string_mode_ = false;
};

}  // namespace qv
