// Line-by-line reading of a message store, and the test for its separator lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
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
// longer than a block, or the lines held (Hold), so memory stays bounded by the longest line or
// the largest run of lines held.
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

  // As ReadLine, except that while nothing is held, a line that does not fit the buffer is not
  // gathered: it is read through, and `line` is set to a short sketch of it instead, which
  // IsSeparatorLine judges as it judges the line, and which holds a character other than blank,
  // tab and CR exactly when the line does. Offsets and counts are those of the line. So text that
  // belongs to no message is read in bounded memory, however long its lines.
  bool ReadLineOrSketch(std::string_view& line);

  // Keeps the bytes of every line read from now on in the buffer, until the next Hold or Release:
  // a caller takes a whole message as views into Held() instead of copying its lines.
  void Hold() noexcept;
  void Release() noexcept { holding_ = false; }
  // The bytes held: from the first line read after Hold to the end of the last line read, line
  // ends included; empty when nothing is held. The bytes stay in the same order and place
  // relative to each other (the line last read begins at `line.data() - Held().data()`), but the
  // view itself is valid only until the next read, Hold or Release.
  std::string_view Held() const noexcept {
    if (!holding_ || !buf_) return {};
    return {buf_.get() + hold_, begin_ - hold_};
  }

  // Offset of the first byte of the line last read, counted from where the reader began.
  std::int64_t LineOffset() const noexcept { return lineOffset_; }
  // Offset just past the line last read and its line end.
  std::int64_t Offset() const noexcept { return consumed_; }
  // Number of lines read so far.
  std::int64_t LineCount() const noexcept { return lineCount_; }
  // Current size of the buffer (for checking that memory stays bounded).
  std::size_t BufferCapacity() const noexcept { return capacity_; }

 private:
  struct Free {
    void operator()(char* p) const noexcept { std::free(p); }
  };

  // What ReadLineOrSketch keeps of a line too long to gather: its first five bytes, the last 24
  // bytes before its trailing CRs, whether any CR trails, and whether the bytes dropped between
  // them hold a CR or a character other than blank, tab and CR.
  class Sketch {
   public:
    void Start();
    void Feed(std::string_view bytes);
    // The stand-in line: the kept bytes, a CR and an "x" for what the dropped bytes held, and one
    // CR for the trailing ones.
    std::string_view Finish();

   private:
    void Drop(std::string_view bytes);
    std::string head_;
    std::string tail_;
    std::string text_;
    std::size_t trailingCRs_ = 0;
    bool droppedCR_ = false;
    bool droppedText_ = false;
  };

  bool Next(std::string_view& line, bool sketchLong);
  // Reads through the line that fills the whole buffer (from begin_ on, without a line end).
  void SketchLine(std::string_view& line);
  // Makes room after the bytes still needed and reads once; false at the end of the stream.
  bool Fill();

  TStream& stream_;
  std::size_t blockSize_;
  std::unique_ptr<char, Free> buf_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;  // first unconsumed byte
  std::size_t end_ = 0;    // end of the bytes read
  std::size_t hold_ = 0;   // first byte held, while holding_
  bool holding_ = false;
  bool atEnd_ = false;
  std::int64_t consumed_ = 0;
  std::int64_t lineOffset_ = 0;
  std::int64_t lineCount_ = 0;
  Sketch sketch_;
};

// Whether a store line opens a message: it begins with "From " (exactly so) and its last 24
// characters (the whole line when it is shorter) read as a non-zero date by SeparatorPattern,
// with the English day and month names or with `names` (the locale's, which stores written by
// earlier versions may use). CRs at the end of the line are not counted; a line with a CR inside
// it (a message whose lines end in CR alone) is never a separator, so its text stays a message's.
inline bool IsSeparatorLine(std::string_view line, const platform::LocaleNames& names,
                            platform::Clock& clock);
// IsSeparatorLine for a line that begins with "F". Every line of a store is tested, and nearly
// every one fails at its first character, so that test is made where the line is read.
bool IsSeparatorLineFrom(std::string_view line, const platform::LocaleNames& names,
                         platform::Clock& clock);
inline bool IsSeparatorLine(std::string_view line, const platform::LocaleNames& names,
                            platform::Clock& clock) {
  return !line.empty() && line[0] == 'F' && IsSeparatorLineFrom(line, names, clock);
}

}  // namespace qv
