// The decoders of the transfer encoder on any bytes, and decode(encode(x)) = x for each method.
#include "FuzzTargets.h"
#include "base/Stream.h"
#include "codec/clEncoder.h"
#include "support/TestStreams.h"

namespace qv::fuzz {

namespace {

// The first byte sets the line length and SuppressCrlf; the rest is the data.
void Fuzz(std::string_view input, TclEncodeMethod method) {
  if (input.empty()) return;
  const auto control = static_cast<unsigned char>(input[0]);
  const std::string data(input.substr(1));
  TclEncoder encoder;
  encoder.SetCharsPerLine(control >> 1);
  encoder.SetSuppressCrlf((control & 1) != 0);

  // Any bytes decode or fail with the encoder's message, the same whole or one byte at a time.
  std::string whole, wholeError, trickled, trickleError;
  try {
    TViewStream in(data);
    TMemoryStream out;
    encoder.Decode(in, out, method);
    whole = out.TakeData();
  } catch (const EclEncoderError& e) {
    wholeError = e.what();
  }
  try {
    test::TrickleStream in(data);
    TMemoryStream out;
    encoder.Decode(in, out, method);
    trickled = out.TakeData();
  } catch (const EclEncoderError& e) {
    trickleError = e.what();
  }
  Check(trickled == whole && trickleError == wholeError,
        "one byte at a time the data decodes differently");

  // Encoding restores: decode(encode(x)) = x. It gives the same bytes one byte at a time.
  TViewStream source(data);
  TMemoryStream encoded;
  encoder.Encode(source, encoded, method);
  test::TrickleStream trickleSource(data);
  TMemoryStream trickleEncoded;
  encoder.Encode(trickleSource, trickleEncoded, method);
  Check(trickleEncoded.DataString() == encoded.DataString(),
        "one byte at a time the data encodes differently");
  TMemoryStream decoded;
  encoded.SetPosition(0);
  try {
    encoder.Decode(encoded, decoded, method);
  } catch (const EclEncoderError& e) {
    Broken(std::string("encoded data does not decode: ") + e.what());
  }
  Check(decoded.DataString() == data, "decode(encode(x)) differs from x");
}

}  // namespace

void FuzzDecodeQuotedPrintable(std::string_view input) {
  Fuzz(input, cmMIMEQuotedPrintable);
}
void FuzzDecodeBase64(std::string_view input) {
  Fuzz(input, cmMIMEBase64);
}
void FuzzDecodeUU(std::string_view input) {
  Fuzz(input, cmUUEncode);
}

}  // namespace qv::fuzz
