#include "codec/clEncoderBlocks.h"

#include <typeinfo>

#include "base/Errors.h"

namespace qv::codec {

// Reads a stream from its position to its end into `into`; Read may hand out any amount. A
// stream that holds more than its size said is read on to its real end.
void ReadToEnd(TStream& source, std::string& into) {
  const std::int64_t pos = source.Position();
  const std::int64_t size = source.Size();
  std::size_t got = into.size();
  into.resize(got + static_cast<std::size_t>(std::max<std::int64_t>(size - pos, 0)));
  while (got < into.size()) {
    const std::size_t n = source.Read(into.data() + got, into.size() - got);
    if (n == 0) break;
    got += n;
  }
  into.resize(got);
  char more[4096];
  for (std::size_t n; (n = source.Read(more, sizeof more)) > 0;)
    into.append(more, n);
}

void SourceBlocks::Rewind() {
  given_ = false;
  if (!in_memory_ && source_.Seek(0, SeekOrigin::Begin) != 0) throw EReadError(kStreamReadError);
}

void CopyBlocks(SourceBlocks& source, TStream& destination) {
  for (std::string_view block; !(block = source.Next()).empty();)
    destination.WriteBuffer(block.data(), block.size());
}

}  // namespace qv::codec
