#include "repair/StoreReader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "repair/DatePattern.h"

namespace qv {

StoreReader::StoreReader(TStream& stream, std::size_t blockSize)
    : stream_(stream), blockSize_(std::max<std::size_t>(blockSize, 1)) {}

void StoreReader::Hold() noexcept {
  hold_ = begin_;
  holding_ = true;
}

bool StoreReader::Fill() {
  if (atEnd_) return false;
  if (!buf_) {
    buf_.reset(static_cast<char*>(std::malloc(blockSize_)));
    if (!buf_) throw std::bad_alloc();
    capacity_ = blockSize_;
  }
  // The first byte still needed: of the lines held, else of the unfinished line.
  const std::size_t keep = holding_ ? hold_ : begin_;
  if (keep == end_) {
    begin_ = end_ = hold_ = 0;  // nothing needed: read into the whole buffer
  } else {
    // What is still needed moves to the front, so that the reads stay within the bytes needed
    // and a block (memory once touched stays with the process).
    const std::size_t live = end_ - keep;
    if (keep > 0) {
      std::memmove(buf_.get(), buf_.get() + keep, live);
      begin_ -= keep;
      hold_ = 0;
      end_ = live;
    }
    // The buffer doubles when an unfinished line fills it, and, while lines are held, when less
    // than a block of room is left after a block or more of them. Held lines stay at the front once
    // moved there, so no byte moves twice, and the buffer never reserves more than about twice the
    // held message (which counts on systems that charge reserved memory, as Windows does).
    if (live == capacity_ || (holding_ && live >= blockSize_ && capacity_ - live < blockSize_)) {
      const std::size_t grown = capacity_ * 2;
      char* bigger = static_cast<char*>(std::realloc(buf_.get(), grown));
      if (!bigger) throw std::bad_alloc();
      buf_.release();
      buf_.reset(bigger);
      capacity_ = grown;
    }
  }
  const std::size_t n = stream_.Read(buf_.get() + end_, std::min(capacity_ - end_, blockSize_));
  if (n == 0) {
    atEnd_ = true;
    return false;
  }
  end_ += n;
  return true;
}

bool StoreReader::ReadLine(std::string_view& line) {
  return Next(line, false);
}

bool StoreReader::ReadLineOrSketch(std::string_view& line) {
  return Next(line, !holding_);
}

bool StoreReader::Next(std::string_view& line, bool sketchLong) {
  // Bytes of the unfinished line already searched for LF, so that a refill does not search
  // them again.
  std::size_t searched = 0;
  std::size_t lineLen = 0;  // bytes of the line, before dropping CRs
  std::size_t rawLen = 0;   // bytes consumed, line end included
  for (;;) {
    const std::size_t pending = end_ - begin_;
    if (pending > searched) {
      const char* from = buf_.get() + begin_ + searched;
      const void* lf = std::memchr(from, '\n', pending - searched);
      if (lf != nullptr) {
        lineLen = static_cast<std::size_t>(static_cast<const char*>(lf) - (buf_.get() + begin_));
        rawLen = lineLen + 1;
        break;
      }
      searched = pending;
    }
    if (sketchLong && pending > 0 && pending == capacity_) {
      SketchLine(line);
      return true;
    }
    if (!Fill()) {
      if (pending == 0) {
        line = {};
        return false;
      }
      lineLen = rawLen = pending;  // the last line, without a line end
      break;
    }
  }

  char* const start = buf_.get() + begin_;
  begin_ += rawLen;
  lineOffset_ = consumed_;
  consumed_ += static_cast<std::int64_t>(rawLen);
  ++lineCount_;

  // The CR before LF is part of the line end; any other CR is part of the line.
  std::size_t len = lineLen;
  if (rawLen > lineLen && len > 0 && start[len - 1] == '\r') --len;
  line = std::string_view(start, len);
  return true;
}

void StoreReader::SketchLine(std::string_view& line) {
  sketch_.Start();
  std::int64_t raw = 0;  // bytes of the line consumed, line end included
  for (;;) {
    // [begin_, end_) is part of the line and holds no LF. A CR at its end may begin the line's
    // CR LF end, so it waits for the next read.
    std::size_t take = end_ - begin_;
    if (take > 0 && buf_.get()[end_ - 1] == '\r') --take;
    sketch_.Feed({buf_.get() + begin_, take});
    begin_ += take;
    raw += static_cast<std::int64_t>(take);
    if (!Fill()) {
      // The end of the store ends the line; a CR left over belongs to it.
      sketch_.Feed({buf_.get() + begin_, end_ - begin_});
      raw += static_cast<std::int64_t>(end_ - begin_);
      begin_ = end_;
      break;
    }
    const char* from = buf_.get() + begin_;
    const void* lf = std::memchr(from, '\n', end_ - begin_);
    if (lf != nullptr) {
      const auto len = static_cast<std::size_t>(static_cast<const char*>(lf) - from);
      sketch_.Feed({from, len > 0 && from[len - 1] == '\r' ? len - 1 : len});
      begin_ += len + 1;
      raw += static_cast<std::int64_t>(len + 1);
      break;
    }
  }
  lineOffset_ = consumed_;
  consumed_ += raw;
  ++lineCount_;
  line = sketch_.Finish();
}

// --- the sketch of a long line -----------------------------------------------------------------

namespace {
constexpr std::size_t kSketchHead = 5;   // "From "
constexpr std::size_t kSketchTail = 24;  // the separator's date
}  // namespace

void StoreReader::Sketch::Start() {
  head_.clear();
  tail_.clear();
  trailingCRs_ = 0;
  droppedCR_ = droppedText_ = false;
}

void StoreReader::Sketch::Drop(std::string_view bytes) {
  if (!droppedCR_ && bytes.find('\r') != std::string_view::npos) droppedCR_ = true;
  if (!droppedText_ && bytes.find_first_not_of(" \t\r") != std::string_view::npos)
    droppedText_ = true;
}

void StoreReader::Sketch::Feed(std::string_view bytes) {
  if (head_.size() < kSketchHead) {
    const std::size_t n = std::min(kSketchHead - head_.size(), bytes.size());
    head_.append(bytes.substr(0, n));
    bytes.remove_prefix(n);
  }
  const std::size_t last = bytes.find_last_not_of('\r');
  if (last == std::string_view::npos) {
    trailingCRs_ += bytes.size();
    return;
  }
  // The CRs that trailed so far stand inside the line now. More of them than the tail holds
  // are dropped.
  std::string before = tail_;
  before.append(std::min(trailingCRs_, kSketchTail + 1), '\r');
  if (trailingCRs_ > kSketchTail + 1) droppedCR_ = true;
  const std::string_view text = bytes.substr(0, last + 1);
  if (text.size() >= kSketchTail) {
    Drop(before);
    Drop(text.substr(0, text.size() - kSketchTail));
    tail_.assign(text.substr(text.size() - kSketchTail));
  } else {
    before.append(text);
    if (before.size() > kSketchTail) {
      Drop(std::string_view(before).substr(0, before.size() - kSketchTail));
      before.erase(0, before.size() - kSketchTail);
    }
    tail_ = std::move(before);
  }
  trailingCRs_ = bytes.size() - 1 - last;
}

std::string_view StoreReader::Sketch::Finish() {
  text_ = head_;
  if (droppedCR_) text_ += '\r';
  if (droppedText_) text_ += 'x';
  text_ += tail_;
  if (trailingCRs_ > 0) text_ += '\r';
  return text_;
}

bool IsSeparatorLineFrom(std::string_view line, const platform::LocaleNames& names,
                         platform::Clock& clock) {
  constexpr std::string_view kFrom = "From ";
  constexpr std::size_t kDateLength = 24;
  if (!line.starts_with(kFrom)) return false;
  while (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  if (line.find('\r') != std::string_view::npos) return false;
  const std::string_view date =
      line.size() > kDateLength ? line.substr(line.size() - kDateLength) : line;
  const platform::LocaleNames& english = platform::EnglishNames();
  if (ParseDateByPattern(SeparatorPattern, date, english, clock) != 0) return true;
  return &names != &english && ParseDateByPattern(SeparatorPattern, date, names, clock) != 0;
}

}  // namespace qv
