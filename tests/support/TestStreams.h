// Streams for tests: ones that hand out a single byte or a few bytes per read (readers must not
// depend on block sizes) and one that fails after a number of bytes written.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "base/Stream.h"

namespace qv::test {

class TrickleStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  std::size_t Read(void* buffer, std::size_t n) override {
    return TMemoryStream::Read(buffer, n == 0 ? 0 : 1);
  }
};

// Hands out at most `chunk` bytes per read.
class ChunkStream : public TMemoryStream {
 public:
  ChunkStream(std::string data, std::size_t chunk)
      : TMemoryStream(std::move(data)), chunk_(chunk) {}
  std::size_t Read(void* buffer, std::size_t n) override {
    return TMemoryStream::Read(buffer, std::min(n, chunk_));
  }

 private:
  std::size_t chunk_;
};

// Accepts `limit` bytes in total, then writes nothing more.
class FailingStream : public TMemoryStream {
 public:
  explicit FailingStream(std::size_t limit) : limit_(limit) {}
  std::size_t Write(const void* buffer, std::size_t n) override {
    const std::size_t room = written_ >= limit_ ? 0 : limit_ - written_;
    const std::size_t k = std::min(n, room);
    written_ += k;
    return k == 0 ? 0 : TMemoryStream::Write(buffer, k);
  }

 private:
  std::size_t limit_;
  std::size_t written_ = 0;
};

}  // namespace qv::test
