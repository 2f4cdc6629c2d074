// Streams over standard input and output for the codec commands, which work on inputs of any size
// in bounded memory, and a spool for output that must wait until a command knows it succeeded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "base/Stream.h"

namespace qv::cli {

// A stream over a C file handle that can be positioned: positions count from where the handle
// stood when the stream was made. An owned handle is closed with the stream.
class HandleStream : public TStream {
 public:
  HandleStream(std::FILE* file, bool owned);
  ~HandleStream() override;
  // An empty temporary file, removed when the stream is closed or the program ends.
  static std::unique_ptr<HandleStream> Temporary();

  std::size_t Read(void* buffer, std::size_t n) override;
  std::size_t Write(const void* buffer, std::size_t n) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t size) override;

 private:
  std::FILE* file_;
  bool owned_;
  std::int64_t base_;
};

// Standard input that cannot be positioned (a pipe, a terminal), read once from its start to its
// end. Its size is what has been seen so far: the first call reads one block ahead, so that a
// non-empty input never looks empty. It cannot seek; Seek leaves the position as it is.
class ForwardInput : public TStream {
 public:
  std::size_t Read(void* buffer, std::size_t n) override;
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t size) override;

 private:
  std::size_t ReadInput(char* buffer, std::size_t n);

  std::string ahead_;  // read ahead by Size, handed out from ahead_used_ on
  std::size_t ahead_used_ = 0;
  std::int64_t position_ = 0;
  bool ended_ = false;
};

// Standard input as a source. A file that can be positioned is read in place; anything else is
// read once, or, when the reader needs to read it twice, first copied into a temporary file.
std::unique_ptr<TStream> OpenStandardInput(bool readTwice);

// Standard output as a destination: bytes go out as they come. It cannot seek or shrink. A write
// that fails is remembered, so the command can report it in its own words.
class StandardOutput : public TStream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void* buffer, std::size_t n) override;
  std::int64_t Seek(std::int64_t, SeekOrigin) override { return position_; }
  std::int64_t Size() override { return position_; }
  void SetSize(std::int64_t size) override;

  bool Failed() const noexcept { return failed_; }
  // Hands everything written to the system; false when this or an earlier write failed.
  bool Finish();

 private:
  std::int64_t position_ = 0;
  bool failed_ = false;
};

// Output held back until the command knows it succeeded: in memory up to kMemoryLimit bytes,
// beyond that in a temporary file. It is written from start to end only.
class OutputSpool : public TStream {
 public:
  static constexpr std::size_t kMemoryLimit = 16u << 20;

  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void* buffer, std::size_t n) override;
  std::int64_t Seek(std::int64_t, SeekOrigin) override { return size_; }
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t size) override;

  // Writes everything held to the destination.
  void CopyTo(TStream& destination);

 private:
  std::string memory_;
  std::unique_ptr<HandleStream> file_;
  std::int64_t size_ = 0;
};

}  // namespace qv::cli
