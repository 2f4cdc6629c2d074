#include "repair/StoreReader.h"

#include <algorithm>
#include <cstring>

#include "repair/DatePattern.h"

namespace qv {

StoreReader::StoreReader(TStream& stream, std::size_t blockSize)
    : stream_(stream), blockSize_(std::max<std::size_t>(blockSize, 1)) {}

bool StoreReader::Fill() {
  if (atEnd_) return false;
  if (!buf_) {
    buf_.reset(new char[blockSize_]);
    capacity_ = blockSize_;
  }
  if (begin_ == end_) begin_ = end_ = 0;  // nothing pending: read a whole block
  if (end_ == capacity_) {
    const std::size_t pending = end_ - begin_;
    if (begin_ > 0) {
      // Move the start of the unfinished line to the front.
      if (pending > 0) std::memmove(buf_.get(), buf_.get() + begin_, pending);
      begin_ = 0;
      end_ = pending;
    } else {
      // The unfinished line fills the whole buffer: double it.
      const std::size_t grown = capacity_ * 2;
      std::unique_ptr<char[]> bigger(new char[grown]);
      std::memcpy(bigger.get(), buf_.get(), end_);
      buf_ = std::move(bigger);
      capacity_ = grown;
    }
  }
  const std::size_t n = stream_.Read(buf_.get() + end_, capacity_ - end_);
  if (n == 0) {
    atEnd_ = true;
    return false;
  }
  end_ += n;
  return true;
}

bool StoreReader::ReadLine(std::string_view& line) {
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

bool IsSeparatorLine(std::string_view line, const platform::LocaleNames& names,
                     platform::Clock& clock) {
  constexpr std::string_view kFrom = "From ";
  constexpr std::size_t kDateLength = 24;
  if (line.substr(0, kFrom.size()) != kFrom) return false;
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
