#include "codec/clEncoderBlocks.h"

#include <typeinfo>

#include "base/Errors.h"

namespace qv::codec {

namespace {

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

}  // namespace

SourceBlocks::SourceBlocks(TStream& source, const TStream& destination, std::int64_t size)
    : source_(source) {
  source.SetPosition(0);
  if (&source == &destination) {
    ReadToEnd(source, copy_);
    whole_ = copy_;
    in_memory_ = true;
  } else if (typeid(source) == typeid(TMemoryStream)) {
    whole_ = static_cast<TMemoryStream&>(source).DataString();
    source.Seek(0, SeekOrigin::End);
    in_memory_ = true;
  }
  expected_ =
      in_memory_ ? whole_.size() : static_cast<std::size_t>(std::max<std::int64_t>(size, 0));
}

std::string_view SourceBlocks::Next() {
  if (in_memory_) {
    if (given_) return {};
    given_ = true;
    return whole_;
  }
  if (!buffer_) {
    block_ = std::clamp(expected_, kMinBlock, kMaxBlock);
    buffer_.reset(new char[block_]);
  }
  return {buffer_.get(), source_.Read(buffer_.get(), block_)};
}

void SourceBlocks::Rewind() {
  given_ = false;
  if (!in_memory_ && source_.Seek(0, SeekOrigin::Begin) != 0) throw EReadError(kStreamReadError);
}

void CopyBlocks(SourceBlocks& source, TStream& destination) {
  for (std::string_view block; !(block = source.Next()).empty();)
    destination.WriteBuffer(block.data(), block.size());
}

BlockWriter::BlockWriter(TStream& destination, std::size_t expected)
    : destination_(destination),
      block_(std::clamp(expected, kSmallestBlock, kBlock)),
      buffer_(new char[block_ + kSlack]) {
  if (auto* memory = dynamic_cast<TMemoryStream*>(&destination)) {
    const auto end = static_cast<std::size_t>(memory->Position()) + expected;
    if (end > static_cast<std::size_t>(memory->Size())) memory->Reserve(end);
  }
}

}  // namespace qv::codec
