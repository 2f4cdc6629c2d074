// What the transfer encodings of TclEncoder share: the source handed out block by block, the
// destination filled block by block, and the pass that joins them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>

#include "base/Stream.h"

namespace qv::codec {

using Byte = unsigned char;

inline bool IsLineBreak(Byte c) {
  return c == '\r' || c == '\n';
}

// Reads a stream from its position to its end into `into`.
void ReadToEnd(TStream& source, std::string& into);

// Hands out the content of a source stream from its start to its end in blocks, so that a call
// holds no more than one block of it. A plain memory stream is one block, viewed in place. Any
// other stream gives one block per Read: a stream that hands out little per read gives small
// blocks, and a stream that holds more than its size said is read on to its real end. A source
// that is also the destination is read whole first, since writing would change what is still to
// be read.
class SourceBlocks {
 public:
  static constexpr std::size_t kMaxBlock = 1 << 16;
  static constexpr std::size_t kMinBlock = 1 << 12;

  // size: what the source's Size said.
  SourceBlocks(TStream& source, const TStream& destination, std::int64_t size);

  // Whether the whole source is in memory, Whole(), and handed out as one block.
  bool InMemory() const noexcept { return in_memory_; }
  std::string_view Whole() const noexcept { return whole_; }
  // The length of the source: exact in memory, otherwise what its size said.
  std::size_t Expected() const noexcept { return expected_; }

  // The next block; empty at the end.
  std::string_view Next();
  // Back to the start for another pass.
  void Rewind();

 private:
  TStream& source_;
  std::string copy_;
  std::string_view whole_;
  bool in_memory_ = false;
  bool given_ = false;
  std::size_t expected_ = 0;
  std::size_t block_ = 0;
  std::unique_ptr<char[]> buffer_;
};

inline SourceBlocks::SourceBlocks(TStream& source, const TStream& destination, std::int64_t size)
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

inline std::string_view SourceBlocks::Next() {
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

// Feeds every block of the source to a pass, then ends it.
template <class Pass>
void RunPass(SourceBlocks& source, Pass& pass) {
  for (std::string_view block; !(block = source.Next()).empty();)
    pass.Feed(block);
  pass.Finish();
}

// Writes every block of the source to the destination as it stands.
void CopyBlocks(SourceBlocks& source, TStream& destination);

// Collects output in blocks and hands each full block to the destination. Hot loops keep the
// write pointer in a local and call Flush when it passes High(); every step of those loops writes
// at most kSlack bytes, so the block never overflows. A memory stream destination is given room
// for the expected output at once instead of growing step by step.
class BlockWriter {
 public:
  static constexpr std::size_t kBlock = 1 << 16;
  static constexpr std::size_t kSmallestBlock = 256;
  static constexpr std::size_t kSlack = 16;

  // The block is no larger than the expected output needs: a short part does not pay for
  // allocating a whole block.
  BlockWriter(TStream& destination, std::size_t expected)
      : destination_(destination),
        block_(std::clamp(expected, kSmallestBlock, kBlock)),
        buffer_(new char[block_ + kSlack]) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(&destination)) {
      const auto end = static_cast<std::size_t>(memory->Position()) + expected;
      if (end > static_cast<std::size_t>(memory->Size())) memory->Reserve(end);
    }
  }
  char* Begin() const noexcept { return buffer_.get(); }
  const char* High() const noexcept { return buffer_.get() + block_; }
  // Writes everything before p and returns the start of the emptied block.
  char* Flush(char* p) {
    destination_.WriteBuffer(buffer_.get(), static_cast<std::size_t>(p - buffer_.get()));
    return buffer_.get();
  }
  // Appends n bytes at p, flushing as the block fills; returns the new write pointer.
  char* Put(char* p, const char* data, std::size_t n) {
    while (n > 0) {
      if (p >= High()) p = Flush(p);
      const std::size_t k = std::min(n, static_cast<std::size_t>(High() - p));
      std::memcpy(p, data, k);
      p += k;
      data += k;
      n -= k;
    }
    return p;
  }

 private:
  TStream& destination_;
  std::size_t block_;
  std::unique_ptr<char[]> buffer_;
};

}  // namespace qv::codec
