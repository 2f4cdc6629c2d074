#include "repair/MessageSink.h"

#include <cstring>

#include "base/Errors.h"

#include "repair/Replacement.h"

namespace qv {

std::int64_t BlockBytes(const MessageBlock& block) {
  auto bytes = static_cast<std::int64_t>(block.separator.size() + 2 + block.ending.size());
  for (const std::string_view line : block.lines)
    bytes += static_cast<std::int64_t>(line.size() + 2);
  return bytes;
}

BlockPlace NullStoreWriter::Put(const MessageBlock& block, const TMailMessageItem&) {
  const BlockPlace place{size_, BlockBytes(block)};
  size_ += place.size;
  return place;
}

RepairedStoreWriter::RepairedStoreWriter(Replacement& replacement, platform::FileSystem& files)
    : replacement_(replacement), files_(files) {}

RepairedStoreWriter::~RepairedStoreWriter() = default;

bool RepairedStoreWriter::Open(std::string& error) {
  try {
    out_ = &replacement_.CreateRepairedStore();
  } catch (const EFCreateError& e) {
    error = e.what();
    return false;
  }
  return true;
}

BlockPlace RepairedStoreWriter::Put(const MessageBlock& block, const TMailMessageItem&) {
  // What the blocks before this one made goes to the disk in steps of this size.
  constexpr std::int64_t kWritebackStep = std::int64_t{16} << 20;
  if (size_ - writtenBack_ >= kWritebackStep) {
    out_->Flush();
    files_.StartWriteback(replacement_.Paths().repaired);
    writtenBack_ = size_;
  }
  // The block is gathered in a buffer kept from block to block and written whenever the buffer is
  // full; a line too long to be worth gathering is written from where it stands, so that no copy
  // of it is made.
  constexpr std::size_t kBuffer = std::size_t{256} << 10;
  constexpr std::size_t kLongLine = std::size_t{64} << 10;
  if (!buffer_) buffer_ = std::make_unique<char[]>(kBuffer);
  char* const begin = buffer_.get();
  char* const end = begin + kBuffer;
  char* p = begin;
  std::size_t written = block.ending.size();
  auto flush = [&] {
    out_->WriteBuffer(begin, static_cast<std::size_t>(p - begin));
    p = begin;
  };
  auto putLine = [&](std::string_view line) {
    written += line.size() + 2;
    if (line.size() >= kLongLine) {
      flush();
      out_->WriteBuffer(line.data(), line.size());
    } else {
      if (static_cast<std::size_t>(end - p) < line.size() + 2) flush();
      if (!line.empty()) std::memcpy(p, line.data(), line.size());
      p += line.size();
    }
    if (end - p < 2) flush();
    *p++ = '\r';
    *p++ = '\n';
  };
  putLine(block.separator);
  for (const std::string_view line : block.lines)
    putLine(line);
  if (static_cast<std::size_t>(end - p) < block.ending.size()) flush();
  for (const char c : block.ending)
    *p++ = c;
  flush();
  const BlockPlace place{size_, static_cast<std::int64_t>(written)};
  size_ += place.size;
  return place;
}

void RepairedStoreWriter::Close() {
  out_ = nullptr;
  replacement_.CloseRepairedStore(size_);
}

}  // namespace qv
