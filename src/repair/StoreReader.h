// Line-by-line reading of a message store, and the test for its separator lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/Stream.h"
#include "platform/Platform.h"

namespace qv {

// Reads a store as 8-bit lines. A line ends at LF or CR LF, which is not part of it; a CR that
// is not followed by LF stays in the line, as every other byte does (0x1A included), so no byte
// of a message is lost. Bytes after the last line end form one more line.
//
// The stream is read in blocks from its current position; lines are handed out as views into
// the reader's buffer, so nothing is allocated per line. The buffer grows only to hold a line
// longer than a block, so memory stays bounded by the longest line.
class StoreReader {
 public:
  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

  explicit StoreReader(TStream& stream, std::size_t blockSize = kBlockSize);
  StoreReader(const StoreReader&) = delete;
  StoreReader& operator=(const StoreReader&) = delete;

  // Sets `line` to the next line, without its line end; it stays valid until the next call.
  // Returns false, leaving `line` empty, at the end of the store. A read error of the stream
  // propagates as the stream raises it.
  bool ReadLine(std::string_view& line);

  // Offset of the first byte of the line last read, counted from where the reader began.
  std::int64_t LineOffset() const noexcept { return lineOffset_; }
  // Offset just past the line last read and its line end.
  std::int64_t Offset() const noexcept { return consumed_; }
  // Number of lines read so far.
  std::int64_t LineCount() const noexcept { return lineCount_; }
  // Current size of the buffer (for checking that memory stays bounded).
  std::size_t BufferCapacity() const noexcept { return capacity_; }

 private:
  // Makes room after the unconsumed bytes and reads once; false at the end of the stream.
  bool Fill();

  TStream& stream_;
  std::size_t blockSize_;
  std::unique_ptr<char[]> buf_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;  // first unconsumed byte
  std::size_t end_ = 0;    // end of the bytes read
  bool atEnd_ = false;
  std::int64_t consumed_ = 0;
  std::int64_t lineOffset_ = 0;
  std::int64_t lineCount_ = 0;
};

// Whether a store line opens a message: it begins with "From " (exactly so) and its last 24
// characters (the whole line when it is shorter) read as a non-zero date by SeparatorPattern,
// with the English day and month names or with `names` (the locale's, which stores written by
// earlier versions may use). CRs at the end of the line are not counted; a line with a CR inside
// it (a message whose lines end in CR alone) is never a separator, so its text stays a message's.
bool IsSeparatorLine(std::string_view line, const platform::LocaleNames& names,
                     platform::Clock& clock);

}  // namespace qv
