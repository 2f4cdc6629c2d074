// Where encoded content does not decode cleanly: the first byte at fault in a part's content lines,
// for a report of what is damaged where. The decoders themselves stop at the first error (or read
// past what they cannot use) without saying where; these checks say where, and look at more than
// the decoders reject: what they read without an error but not as the sender meant it.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace qv {

struct EncodingFault {
  std::size_t line = 0;    // index into the lines given
  std::size_t column = 0;  // of the first byte at fault
  const char* what = "";
};

// Base64: a byte outside the alphabet (a blank included; the decoder fails on it), a group of one
// symbol (six bits, no byte), a line that ends inside a group while more symbols follow (each line
// is decoded on its own, so the bytes after it come out shifted), and symbols after the padding
// (the decoder drops them). A CR inside a line ends a line, as the decoder takes it.
std::optional<EncodingFault> FindBase64Fault(std::span<const std::string_view> lines);

// Quoted-printable: an "=" followed by anything but two hexadecimal digits or the end of its line
// (the decoder fails on it), or by one digit and the end of the line (the digit is lost).
std::optional<EncodingFault> FindQuotedPrintableFault(std::span<const std::string_view> lines);

// Uuencode, the lines between "begin" and "end": a line shorter than its length character says.
// Reading stops at a line of length 0, as the decoder's does.
std::optional<EncodingFault> FindUUEncodeFault(std::span<const std::string_view> lines);

}  // namespace qv
