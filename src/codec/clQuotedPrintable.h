// Quoted-printable, one of TclEncoder's transfer encodings: printable bytes stand for themselves,
// every other byte is "=" and two hexadecimal digits, and lines end in CR LF or a soft break ("="
// at the end of a line that goes on).
#pragma once

#include "base/Stream.h"
#include "codec/clEncoderBlocks.h"

namespace qv::codec {

// Encodes the source into the destination, emptied first, in lines of at most lineLength
// characters (one line when unbroken). stringMode (EncodeString) writes no soft line breaks.
void EncodeQuotedPrintable(SourceBlocks& source, TStream& destination, int lineLength,
                           bool unbroken, bool stringMode);

// Decodes the source into the destination, emptied first. A character after "=" that is not a
// hexadecimal digit fails with kWrongQuotedPrintable after what was decoded before it is written;
// pendingEscape then tells whether an escape was in progress (false after a decoding that ends).
void DecodeQuotedPrintable(SourceBlocks& source, TStream& destination, bool& pendingEscape);

}  // namespace qv::codec
