// Uuencoding, one of TclEncoder's transfer encodings: lines that begin with their byte count, every
// three bytes four characters from the space onwards, and a closing line of a grave accent.
#pragma once

#include "base/Stream.h"
#include "codec/clEncoderBlocks.h"

namespace qv::codec {

// Encodes the source into the destination in lines of lineLength characters' worth of bytes, or,
// unbroken, as one line without breaks (whose byte count leads it, so that a source not in memory
// is counted first and read twice).
void EncodeUU(SourceBlocks& source, TStream& destination, int lineLength, bool unbroken);

// Decodes the lines of the source (after a first line that begins with "begin") up to a line whose
// count is 0.
void DecodeUU(SourceBlocks& source, TStream& destination);

}  // namespace qv::codec
