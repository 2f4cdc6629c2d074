// Base64, one of TclEncoder's transfer encodings: every three bytes are four characters of a
// 64-letter alphabet, a short last group filled with "=".
#pragma once

#include "base/Stream.h"
#include "codec/clEncoderBlocks.h"

namespace qv::codec {

// Encodes the source into the destination in lines of lineLength characters (rounded down to
// whole groups), or in one line when unbroken. firstLine: the encoder's record that no line has
// been written yet in the call (every line but the first begins with CR LF).
void EncodeBase64(SourceBlocks& source, TStream& destination, int lineLength, bool unbroken,
                  bool& firstLine);

// Decodes the source into the destination up to its first "=". A byte before that which is
// neither of the alphabet nor a line break fails with kWrongBase64Symbols before anything is
// written, so a source that is not in memory is read twice.
void DecodeBase64(SourceBlocks& source, TStream& destination);

}  // namespace qv::codec
