// The encoder component: its properties, and the calls that hand a source to one of the
// transfer encodings.
#include "codec/clEncoder.h"

#include <algorithm>

#include "codec/clBase64.h"
#include "codec/clEncoderBlocks.h"
#include "codec/clQuotedPrintable.h"
#include "codec/clUUCode.h"
#include "components/Props.h"

namespace qv {

namespace {
constexpr const char* kEncodeMethodNames[] = {"cmNone", "cmMIMEQuotedPrintable", "cmMIMEBase64",
                                              "cmUUEncode", "cm8Bit"};
}  // namespace

const TEnumInfo kEncodeMethodInfo{"TclEncodeMethod", kEncodeMethodNames};

const TClassInfo& TclEncoder::StaticClassInfo() {
  using E = TclEncoder;
  static const TClassInfo info(
      "TclEncoder", &TComponent::StaticClassInfo(),
      {
          IntegerProp<&E::CharsPerLine, &E::SetCharsPerLine>("CharsPerLine").Default(76),
          BoolProp<&E::SuppressCrlf, &E::SetSuppressCrlf>("SuppressCrlf").Default(0),
          EventProp<&E::OnProgressMethod, &E::SetOnProgressMethod>("OnProgress"),
      });
  return info;
}

// --- line lengths ------------------------------------------------------------------------------

int TclEncoder::EffectiveLineLength(TclEncodeMethod method, int charsPerLine) noexcept {
  switch (method) {
    case cmMIMEQuotedPrintable:
      return std::clamp(charsPerLine, 4, 132);
    case cmMIMEBase64: {
      if (charsPerLine < 76) return 76;
      // charsPerLine/4 + 0.25 = (charsPerLine + 1)/4, rounded to the nearest integer with
      // halves going to the even neighbour, then times 4.
      const std::int64_t quarters = std::int64_t{charsPerLine} + 1;
      std::int64_t q = quarters / 4;
      const std::int64_t rem = quarters % 4;
      if (rem > 2 || (rem == 2 && q % 2 != 0)) ++q;
      return static_cast<int>(std::min<std::int64_t>(q * 4, 0x7FFFFFFC));
    }
    case cmUUEncode:
      return std::clamp(charsPerLine, 3, 132);
    default:
      return charsPerLine < 1 ? 76 : charsPerLine;
  }
}

// --- calls -------------------------------------------------------------------------------------

void TclEncoder::DoProgress(int bytesProceed, int totalBytes) {
  if (OnProgress) OnProgress(*this, bytesProceed, totalBytes);
}

void TclEncoder::Encode(TStream& source, TStream& destination, TclEncodeMethod method) {
  const std::int64_t size = source.Size();
  if (size <= 0) return;
  first_line_ = true;
  // The event carries 32-bit counts.
  DoProgress(0, static_cast<int>(size));
  method_ = method;
  if (method > cm8Bit) throw EclEncoderError(kUnsupportedFormat);
  codec::SourceBlocks blocks(source, destination, size);
  switch (method) {
    case cmMIMEQuotedPrintable:
      codec::EncodeQuotedPrintable(blocks, destination, EffectiveLineLength(), suppress_crlf_,
                                   string_mode_);
      break;
    case cmMIMEBase64:
      codec::EncodeBase64(blocks, destination, EffectiveLineLength(), suppress_crlf_, first_line_);
      break;
    case cmUUEncode:
      codec::EncodeUU(blocks, destination, EffectiveLineLength(), suppress_crlf_);
      break;
    default:
      codec::CopyBlocks(blocks, destination);
      break;
  }
  DoProgress(static_cast<int>(source.Position()), static_cast<int>(size));
}

void TclEncoder::Decode(TStream& source, TStream& destination, TclEncodeMethod method) {
  const std::int64_t size = source.Size();
  if (size <= 0) return;
  DoProgress(0, static_cast<int>(size));
  pending_escape_ = false;
  method_ = method;
  if (method > cm8Bit) throw EclEncoderError(kUnsupportedFormat);
  codec::SourceBlocks blocks(source, destination, size);
  switch (method) {
    case cmMIMEQuotedPrintable:
      codec::DecodeQuotedPrintable(blocks, destination, pending_escape_);
      break;
    case cmMIMEBase64:
      codec::DecodeBase64(blocks, destination);
      break;
    case cmUUEncode:
      codec::DecodeUU(blocks, destination);
      break;
    default:
      codec::CopyBlocks(blocks, destination);
      break;
  }
  DoProgress(static_cast<int>(source.Position()), static_cast<int>(size));
}

std::string TclEncoder::EncodeString(std::string_view text, TclEncodeMethod method) {
  TMemoryStream source{std::string(text)};
  TMemoryStream destination;
  EncodeString(source, destination, method);
  return destination.TakeData();
}

void TclEncoder::EncodeString(TStream& source, TStream& destination, TclEncodeMethod method) {
  string_mode_ = true;
  try {
    Encode(source, destination, method);
  } catch (...) {
    string_mode_ = false;
    throw;
  }
  string_mode_ = false;
}

std::string TclEncoder::DecodeString(std::string_view text, TclEncodeMethod method) {
  TMemoryStream source{std::string(text)};
  TMemoryStream destination;
  Decode(source, destination, method);
  return destination.TakeData();
}

bool TclEncoder::ReadsSourceTwice(TclEncodeMethod method, bool decoding) const noexcept {
  return decoding ? method == cmMIMEBase64 : method == cmUUEncode && suppress_crlf_;
}

}  // namespace qv
