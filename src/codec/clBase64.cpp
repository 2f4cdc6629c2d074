#include "codec/clBase64.h"

#include <array>
#include <cstring>
#include <limits>

#include "codec/clEncoder.h"

namespace qv::codec {

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Base64 encoding: the two alphabet characters of every 12-bit value.
constexpr auto kBase64Pairs = [] {
  std::array<char, 8192> t{};
  for (int v = 0; v < 4096; ++v) {
    t[2 * v] = kBase64Alphabet[v >> 6];
    t[2 * v + 1] = kBase64Alphabet[v & 63];
  }
  return t;
}();

// Base64 decoding: 0..63 for the alphabet, then the bytes that end a run.
constexpr Byte kB64Break = 64;     // CR or LF: ends the run
constexpr Byte kB64Fill = 65;      // "=": ends the run and the decoding
constexpr Byte kB64Invalid = 128;  // anything else
constexpr auto kBase64Value = [] {
  std::array<Byte, 256> t{};
  t.fill(kB64Invalid);
  for (int v = 0; v < 64; ++v)
    t[static_cast<Byte>(kBase64Alphabet[v])] = static_cast<Byte>(v);
  t['\r'] = kB64Break;
  t['\n'] = kB64Break;
  t['='] = kB64Fill;
  return t;
}();

std::size_t Base64Length(std::size_t bytes) {
  return (bytes + 2) / 3 * 4;
}

// Characters of the Base64 output of n bytes, perLine bytes to a line (0: one line).
std::size_t Base64EncodedLength(std::size_t n, std::size_t perLine) {
  if (perLine == 0 || n <= perLine) return Base64Length(n);
  const std::size_t lines = (n + perLine - 1) / perLine;
  return n / perLine * Base64Length(perLine) + Base64Length(n % perLine) + 2 * (lines - 1);
}

class Base64Encoder {
 public:
  // perLine: bytes per line, a multiple of 3, or 0 for no line breaks. firstLine: the encoder's
  // record that no line has been written yet in the call.
  Base64Encoder(TStream& destination, std::size_t expected, std::size_t perLine, bool& firstLine)
      : writer_(destination, expected),
        p_(writer_.Begin()),
        breaks_(perLine != 0),
        per_line_(perLine != 0 ? perLine : std::numeric_limits<std::size_t>::max() / 3 * 3),
        first_line_(firstLine) {}

  void Feed(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    std::size_t i = 0;
    char* p = p_;
    // A group begun in the last block.
    while (carried_ != 0 && i < n) {
      carry_[carried_++] = in[i++];
      if (carried_ == 3) {
        p = Group(p, carry_.data());
        carried_ = 0;
      }
    }
    const Byte* s = in + i;
    const Byte* const last = in + n;
    while (last - s >= 3) {
      if (line_bytes_ == 0) p = StartLine(p);
      const auto whole = static_cast<std::size_t>(last - s) / 3 * 3;
      const std::size_t take = std::min(per_line_ - line_bytes_, whole);
      p = Groups(p, s, s + take);
      s += take;
      line_bytes_ += take;
      if (line_bytes_ == per_line_) line_bytes_ = 0;
    }
    while (s != last)
      carry_[carried_++] = *s++;
    p_ = p;
  }

  // A last group of 1 or 2 bytes is filled with "=".
  void Finish() {
    char* p = p_;
    if (carried_ != 0) {
      if (line_bytes_ == 0) p = StartLine(p);
      if (p >= writer_.High()) p = writer_.Flush(p);
      const Byte* s = carry_.data();
      p[0] = kBase64Alphabet[s[0] >> 2];
      if (carried_ == 1) {
        p[1] = kBase64Alphabet[(s[0] & 3) << 4];
        p[2] = '=';
      } else {
        p[1] = kBase64Alphabet[((s[0] & 3) << 4) | (s[1] >> 4)];
        p[2] = kBase64Alphabet[(s[1] & 15) << 2];
      }
      p[3] = '=';
      p += 4;
    }
    writer_.Flush(p);
  }

 private:
  // Every line but the first begins with CR LF, so none follows the last.
  char* StartLine(char* p) {
    if (p >= writer_.High()) p = writer_.Flush(p);
    if (breaks_ && !first_line_) {
      *p++ = '\r';
      *p++ = '\n';
    }
    first_line_ = false;
    return p;
  }

  // Four characters for every three bytes from s to end (a multiple of 3 apart).
  char* Groups(char* p, const Byte* s, const Byte* end) {
    const char* high = writer_.High();
    for (; s != end; s += 3, p += 4) {
      if (p >= high) p = writer_.Flush(p);
      const std::uint32_t v = (std::uint32_t{s[0]} << 16) | (std::uint32_t{s[1]} << 8) | s[2];
      std::memcpy(p, &kBase64Pairs[2 * (v >> 12)], 2);
      std::memcpy(p + 2, &kBase64Pairs[2 * (v & 0xFFF)], 2);
    }
    return p;
  }

  char* Group(char* p, const Byte* s) {
    if (line_bytes_ == 0) p = StartLine(p);
    if (p >= writer_.High()) p = writer_.Flush(p);
    const std::uint32_t v = (std::uint32_t{s[0]} << 16) | (std::uint32_t{s[1]} << 8) | s[2];
    std::memcpy(p, &kBase64Pairs[2 * (v >> 12)], 2);
    std::memcpy(p + 2, &kBase64Pairs[2 * (v & 0xFFF)], 2);
    line_bytes_ += 3;
    if (line_bytes_ == per_line_) line_bytes_ = 0;
    return p + 4;
  }

  BlockWriter writer_;
  char* p_;
  const bool breaks_;
  const std::size_t per_line_;
  bool& first_line_;
  std::size_t line_bytes_ = 0;  // bytes of the current line written; 0 before a line starts
  std::array<Byte, 3> carry_{};
  std::size_t carried_ = 0;
};

class Base64Decoder {
 public:
  Base64Decoder(TStream& destination, std::size_t expected)
      : writer_(destination, expected), p_(writer_.Begin()) {}

  // The block holds alphabet characters and line breaks only.
  void Feed(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    char* p = p_;
    const char* high = writer_.High();
    std::uint32_t acc = acc_;  // the values of the group being collected
    int count = count_;        // how many
    std::size_t i = 0;
    for (;;) {
      if (count == 0) {
        // Whole groups of four alphabet characters.
        while (i + 4 <= n) {
          const Byte a = kBase64Value[in[i]], b = kBase64Value[in[i + 1]];
          const Byte c = kBase64Value[in[i + 2]], d = kBase64Value[in[i + 3]];
          if ((a | b | c | d) >= 64) break;
          if (p >= high) p = writer_.Flush(p);
          const std::uint32_t v =
              (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (c << 6) | d;
          p[0] = static_cast<char>(v >> 16);
          p[1] = static_cast<char>(v >> 8);
          p[2] = static_cast<char>(v);
          p += 3;
          i += 4;
        }
      }
      if (i >= n) break;
      if (p >= high) p = writer_.Flush(p);
      const Byte v = kBase64Value[in[i++]];
      if (v == kB64Break) {
        p = EndRun(p, acc, count);
        continue;
      }
      acc = (acc << 6) | v;
      if (++count == 4) {
        *p++ = static_cast<char>(acc >> 16);
        *p++ = static_cast<char>(acc >> 8);
        *p++ = static_cast<char>(acc);
        acc = 0;
        count = 0;
      }
    }
    p_ = p;
    acc_ = acc;
    count_ = count;
  }

  void Finish() {
    char* p = p_;
    if (p >= writer_.High()) p = writer_.Flush(p);
    writer_.Flush(EndRun(p, acc_, count_));
  }

 private:
  // The end of a run (a line break or the end of the input) turns a short group of 2 or 3 values
  // into 1 or 2 bytes.
  static char* EndRun(char* p, std::uint32_t& acc, int& count) {
    if (count == 2) {
      *p++ = static_cast<char>(acc >> 4);
    } else if (count == 3) {
      *p++ = static_cast<char>(acc >> 10);
      *p++ = static_cast<char>(acc >> 2);
    }
    acc = 0;
    count = 0;
    return p;
  }

  BlockWriter writer_;
  char* p_;
  std::uint32_t acc_ = 0;
  int count_ = 0;
};

}  // namespace

void EncodeBase64(SourceBlocks& source, TStream& destination, int lineLength, bool unbroken,
                  bool& firstLine) {
  const std::size_t perLine = unbroken ? 0 : static_cast<std::size_t>(lineLength) / 4 * 3;
  Base64Encoder pass(destination, Base64EncodedLength(source.Expected(), perLine), perLine,
                     firstLine);
  RunPass(source, pass);
}

// Base64 decoding writes nothing when the source holds a foreign symbol, so a first pass finds
// where decoding stops (the first "=") and checks every byte before it; the second decodes up to
// there and reads the rest without using it.
void DecodeBase64(SourceBlocks& source, TStream& destination) {
  std::size_t stop = 0;
  for (std::string_view block; !(block = source.Next()).empty(); stop += block.size()) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    std::size_t i = 0;
    while (i < block.size() && kBase64Value[in[i]] <= kB64Break)
      ++i;
    if (i == block.size()) continue;
    if (kBase64Value[in[i]] != kB64Fill) throw EclEncoderError(kWrongBase64Symbols);
    stop += i;
    break;
  }
  source.Rewind();
  Base64Decoder pass(destination, stop / 4 * 3 + 3);
  std::size_t left = stop;
  for (std::string_view block; !(block = source.Next()).empty();) {
    if (left == 0) continue;
    const std::size_t take = std::min(left, block.size());
    pass.Feed(block.substr(0, take));
    left -= take;
  }
  pass.Finish();
}

}  // namespace qv::codec
