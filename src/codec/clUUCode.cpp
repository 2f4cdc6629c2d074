#include "codec/clUUCode.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace qv::codec {

namespace {

// Characters of a uuencoded data run of the given byte count (groups are not filled to four).
std::size_t UULength(std::size_t bytes) {
  return bytes / 3 * 4 + (bytes % 3 == 0 ? 0 : bytes % 3 + 1);
}

char UUChar(unsigned v) {
  return v == 0 ? '`' : static_cast<char>(v + 32);
}

class UUEncoder {
 public:
  // perLine: bytes per line. unbroken: the whole input is one line of `total` bytes, with no
  // line breaks.
  UUEncoder(TStream& destination, std::size_t expected, std::size_t perLine, bool unbroken,
            std::size_t total)
      : writer_(destination, expected),
        p_(writer_.Begin()),
        per_line_(perLine),
        unbroken_(unbroken),
        line_(unbroken ? 3 : perLine) {
    if (unbroken_) *p_++ = UUChar(total & 63);
  }

  void Feed(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    std::size_t i = 0;
    if (unbroken_) {
      // One line: groups of three bytes, a group begun in the last block first.
      while (held_ != 0 && held_ < 3 && i < n)
        line_[held_++] = in[i++];
      if (held_ == 3) {
        p_ = Groups(p_, line_.data(), 3);
        held_ = 0;
      }
      const std::size_t whole = (n - i) / 3 * 3;
      p_ = Groups(p_, in + i, whole);
      for (i += whole; i < n; ++i)
        line_[held_++] = in[i];
      return;
    }
    // Lines of perLine bytes; a line is written once its byte count, which leads it, is known.
    while (i < n) {
      if (held_ == 0 && n - i >= per_line_) {
        p_ = Line(p_, in + i, per_line_);
        i += per_line_;
        continue;
      }
      const std::size_t take = std::min(per_line_ - held_, n - i);
      std::memcpy(line_.data() + held_, in + i, take);
      held_ += take;
      i += take;
      if (held_ == per_line_) {
        p_ = Line(p_, line_.data(), per_line_);
        held_ = 0;
      }
    }
  }

  // The last chunk holds the rest of the input, possibly nothing; then the grave-accent line.
  void Finish() {
    char* p = p_;
    if (unbroken_) {
      p = Tail(p, line_.data(), held_);
      if (p >= writer_.High()) p = writer_.Flush(p);
      *p++ = '`';
    } else {
      p = Line(p, line_.data(), held_);
      if (p >= writer_.High()) p = writer_.Flush(p);
      std::memcpy(p, "`\r\n", 3);
      p += 3;
    }
    writer_.Flush(p);
  }

 private:
  // Four characters for each three of the count bytes at s (a multiple of 3).
  char* Groups(char* p, const Byte* s, std::size_t count) {
    const char* high = writer_.High();
    for (const Byte* end = s + count; s != end; s += 3, p += 4) {
      if (p >= high) p = writer_.Flush(p);
      p[0] = UUChar(s[0] >> 2);
      p[1] = UUChar(((s[0] & 3) << 4) | (s[1] >> 4));
      p[2] = UUChar(((s[1] & 15) << 2) | (s[2] >> 6));
      p[3] = UUChar(s[2] & 63);
    }
    return p;
  }

  // A last group of 2 bytes gives 3 characters, of 1 byte 2 (no fill to four).
  char* Tail(char* p, const Byte* s, std::size_t count) {
    if (p >= writer_.High()) p = writer_.Flush(p);
    if (count == 1) {
      *p++ = UUChar(s[0] >> 2);
      *p++ = UUChar((s[0] & 3) << 4);
    } else if (count == 2) {
      *p++ = UUChar(s[0] >> 2);
      *p++ = UUChar(((s[0] & 3) << 4) | (s[1] >> 4));
      *p++ = UUChar((s[1] & 15) << 2);
    }
    return p;
  }

  // The length character (the count modulo 64), the data and CR LF.
  char* Line(char* p, const Byte* s, std::size_t count) {
    if (p >= writer_.High()) p = writer_.Flush(p);
    *p++ = UUChar(count & 63);
    const std::size_t whole = count / 3 * 3;
    p = Tail(Groups(p, s, whole), s + whole, count - whole);
    *p++ = '\r';
    *p++ = '\n';
    return p;
  }

  BlockWriter writer_;
  char* p_;
  const std::size_t per_line_;
  const bool unbroken_;
  std::vector<Byte> line_;  // bytes of a line (or, unbroken, of a group) not yet written
  std::size_t held_ = 0;
};

class UUDecoder {
 public:
  UUDecoder(TStream& destination, std::size_t expected)
      : writer_(destination, expected), p_(writer_.Begin()) {}

  void Feed(std::string_view block) {
    if (phase_ == kHead) {
      // Only the first line is tested for "begin"; the first bytes are held until that is known.
      const std::size_t take = std::min(kBegin.size() - head_.size(), block.size());
      head_.append(block.substr(0, take));
      block.remove_prefix(take);
      if (head_.size() < kBegin.size() && kBegin.starts_with(head_)) return;
      EndHead();
    }
    Lines(block);
  }

  void Finish() {
    if (phase_ == kHead) EndHead();
    if (in_line_ && !EndLine()) phase_ = kDone;
    writer_.Flush(p_);
  }

 private:
  static constexpr std::string_view kBegin = "begin";
  enum Phase { kHead, kSkipFirstLine, kLines, kDone };

  void EndHead() {
    const std::string head = std::move(head_);
    if (head == kBegin) {
      phase_ = kSkipFirstLine;
      return;
    }
    phase_ = kLines;
    Lines(head);
  }

  void Lines(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    auto lineEnd = [&](std::size_t i) {
      while (i < n && !IsLineBreak(in[i]))
        ++i;
      return i;
    };
    std::size_t i = 0;
    while (i < n && phase_ != kDone) {
      if (phase_ == kSkipFirstLine) {
        i = lineEnd(i);
        if (i < n) phase_ = kLines;
        continue;
      }
      if (!in_line_) {
        while (i < n && IsLineBreak(in[i]))
          ++i;
        if (i == n) break;
        // A line that lies whole in the block is decoded at once; one that goes on past the
        // block's end is taken piece by piece.
        const std::size_t end = lineEnd(i);
        if (end < n) {
          if (!DecodeLine(in + i, end - i)) phase_ = kDone;
          i = end;
          continue;
        }
        StartLine(in[i++]);
      }
      const std::size_t end = lineEnd(i);
      AddValues(in + i, end - i);
      i = end;
      if (i < n && !EndLine()) phase_ = kDone;
    }
  }

  // The byte count of a line: its length character holds it modulo 64. A line long enough for 64
  // (or 128, ...) more bytes than that stands for the larger count: lines written with more than
  // 63 bytes each wrap their length character, and the count follows from the line's length.
  static std::size_t LineCount(Byte lengthChar, std::size_t chars) {
    std::size_t count = (lengthChar - 32u) & 63u;
    while (UULength(count + 64) <= chars)
      count += 64;
    return count;
  }

  // Decodes a whole line (its length character first); false when its count is 0, which ends
  // the decoding.
  bool DecodeLine(const Byte* line, std::size_t length) {
    const std::size_t chars = length - 1;  // after the length character
    const std::size_t count = LineCount(line[0], chars);
    if (count == 0) return false;
    ++line;
    // Value k of the line; characters missing from a short line count as 0.
    auto value = [&](std::size_t k) -> unsigned { return k < chars ? (line[k] - 32u) & 63u : 0u; };
    const std::size_t expected = count * 4 / 3;
    char* p = p_;
    const char* high = writer_.High();
    std::size_t k = 0;
    for (; k + 4 <= expected; k += 4) {
      if (p >= high) p = writer_.Flush(p);
      const unsigned v0 = value(k), v1 = value(k + 1), v2 = value(k + 2), v3 = value(k + 3);
      p[0] = static_cast<char>(v0 << 2 | v1 >> 4);
      p[1] = static_cast<char>(v1 << 4 | v2 >> 2);
      p[2] = static_cast<char>(v2 << 6 | v3);
      p += 3;
    }
    // A remainder of r values gives r bytes, its last one completed by the value after it.
    if (p >= high) p = writer_.Flush(p);
    const std::size_t rest = expected - k;
    if (rest >= 1) *p++ = static_cast<char>(value(k) << 2 | value(k + 1) >> 4);
    if (rest >= 2) *p++ = static_cast<char>(value(k + 1) << 4 | value(k + 2) >> 2);
    p_ = p;
    return true;
  }

  // A line taken piece by piece gives the same bytes as DecodeLine: the first `count` bytes of
  // its values decoded in groups of four, missing values counting as 0. Since the count is known
  // only at the line's end, the bytes beyond the least count its length so far allows (fewer
  // than 64 and a group) are held until then.
  void StartLine(Byte lengthChar) {
    in_line_ = true;
    length_char_ = lengthChar;
    chars_ = 0;
    least_count_ = LineCount(lengthChar, 0);
    made_ = 0;
    written_ = 0;
    group_ = {};
    group_size_ = 0;
    held_.clear();
  }

  void AddValues(const Byte* s, std::size_t n) {
    chars_ += n;
    while (UULength(least_count_ + 64) <= chars_)
      least_count_ += 64;
    std::size_t k = 0;
    for (; group_size_ != 0 && k < n; ++k)
      AddToGroup(s[k]);
    const std::size_t groups = (n - k) / 4;
    const std::size_t at = held_.size();
    held_.resize(at + 3 * groups);
    char* out = held_.data() + at;
    for (std::size_t g = 0; g < groups; ++g, k += 4, out += 3) {
      const unsigned v0 = (s[k] - 32u) & 63u, v1 = (s[k + 1] - 32u) & 63u;
      const unsigned v2 = (s[k + 2] - 32u) & 63u, v3 = (s[k + 3] - 32u) & 63u;
      out[0] = static_cast<char>(v0 << 2 | v1 >> 4);
      out[1] = static_cast<char>(v1 << 4 | v2 >> 2);
      out[2] = static_cast<char>(v2 << 6 | v3);
    }
    made_ += 3 * groups;
    for (; k < n; ++k)
      AddToGroup(s[k]);
    WriteHeld(std::min(least_count_, made_));
  }

  void AddToGroup(Byte c) {
    group_[group_size_++] = (c - 32u) & 63u;
    if (group_size_ < 4) return;
    const unsigned v0 = group_[0], v1 = group_[1], v2 = group_[2], v3 = group_[3];
    held_.push_back(static_cast<char>(v0 << 2 | v1 >> 4));
    held_.push_back(static_cast<char>(v1 << 4 | v2 >> 2));
    held_.push_back(static_cast<char>(v2 << 6 | v3));
    made_ += 3;
    group_ = {};
    group_size_ = 0;
  }

  // Writes the held bytes of the line up to index `upto`.
  void WriteHeld(std::size_t upto) {
    if (upto <= written_) return;
    const std::size_t n = upto - written_;
    p_ = writer_.Put(p_, held_.data(), n);
    held_.erase(0, n);
    written_ = upto;
  }

  // Ends a line taken piece by piece; false when its count is 0.
  bool EndLine() {
    in_line_ = false;
    const std::size_t count = least_count_;  // the line's length is now known
    if (count == 0) return false;
    WriteHeld(std::min(count, made_));
    // The group in progress, its missing values 0, and zero bytes beyond it.
    const unsigned v0 = group_[0], v1 = group_[1], v2 = group_[2], v3 = group_[3];
    const char last[3] = {static_cast<char>(v0 << 2 | v1 >> 4),
                          static_cast<char>(v1 << 4 | v2 >> 2), static_cast<char>(v2 << 6 | v3)};
    char* p = p_;
    for (std::size_t j = written_; j < count; ++j) {
      if (p >= writer_.High()) p = writer_.Flush(p);
      *p++ = j - made_ < 3 ? last[j - made_] : '\0';
    }
    p_ = p;
    held_.clear();
    return true;
  }

  BlockWriter writer_;
  char* p_;
  Phase phase_ = kHead;
  std::string head_;
  // The line taken piece by piece.
  bool in_line_ = false;
  Byte length_char_ = 0;
  std::size_t chars_ = 0;        // values read
  std::size_t least_count_ = 0;  // the least byte count the line can still have
  std::size_t made_ = 0;         // bytes decoded from complete groups
  std::size_t written_ = 0;      // bytes written
  std::array<unsigned, 4> group_{};
  std::size_t group_size_ = 0;
  std::string held_;  // bytes made but not yet written, from index written_
};

}  // namespace

void EncodeUU(SourceBlocks& source, TStream& destination, int lineLength, bool unbroken) {
  // The byte count of the one line of unbroken output leads it, so a stream is counted first.
  std::size_t n = source.Expected();
  if (unbroken && !source.InMemory()) {
    n = 0;
    for (std::string_view block; !(block = source.Next()).empty();)
      n += block.size();
    source.Rewind();
  }
  const std::size_t perLine = unbroken ? n : static_cast<std::size_t>(lineLength) * 3 / 4;
  std::size_t length = 0;
  if (unbroken) {
    length = 1 + UULength(n) + 1;
  } else {
    // floor(n / perLine) + 1 chunks: the last holds the remainder, possibly nothing.
    length = n / perLine * (1 + UULength(perLine) + 2) + 1 + UULength(n % perLine) + 2 + 3;
  }
  UUEncoder pass(destination, length, perLine, unbroken, n);
  RunPass(source, pass);
}

void DecodeUU(SourceBlocks& source, TStream& destination) {
  UUDecoder pass(destination, source.Expected() / 4 * 3 + 3);
  RunPass(source, pass);
}

}  // namespace qv::codec
