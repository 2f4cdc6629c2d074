#include "codec/clQuotedPrintable.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/clEncoder.h"

namespace qv::codec {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Quoted-printable encoding: each byte's output (the byte itself, or "=" and two upper-case
// hexadecimal digits, padded to four so that it can be copied as one word) and its length. CR
// has length 0: it depends on the byte after it.
struct QpOutput {
  std::array<std::array<char, 4>, 256> text{};
  std::array<Byte, 256> length{};
};
constexpr QpOutput kQpOutput = [] {
  QpOutput t;
  for (int c = 0; c < 256; ++c) {
    if (c >= 32 && c <= 126 && c != '=') {
      t.text[c] = {static_cast<char>(c), 0, 0, 0};
      t.length[c] = 1;
    } else {
      t.text[c] = {'=', kHexDigits[c >> 4], kHexDigits[c & 15], 0};
      t.length[c] = 3;
    }
  }
  t.length['\r'] = 0;
  return t;
}();

// Quoted-printable decoding: what ends a plain stretch of a text run.
enum : Byte { kQpText, kQpEquals, kQpBreak };
constexpr auto kQpDecodeClass = [] {
  std::array<Byte, 256> t{};
  t['='] = kQpEquals;
  t['\r'] = kQpBreak;
  t['\n'] = kQpBreak;
  return t;
}();

// Hexadecimal digit values, -1 for every other byte.
constexpr auto kHexValue = [] {
  std::array<signed char, 256> t{};
  t.fill(-1);
  for (int c = '0'; c <= '9'; ++c)
    t[c] = static_cast<signed char>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c)
    t[c] = static_cast<signed char>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c)
    t[c] = static_cast<signed char>(c - 'a' + 10);
  return t;
}();

class QpEncoder {
 public:
  // Bytes are taken into a line while its column is at most lastColumn, or without limit when
  // unbroken; a line that ended at its length gets a soft break when softBreaks is set (in string
  // mode the next line simply continues the output).
  QpEncoder(TStream& destination, std::size_t expected, std::int64_t lastColumn, bool unbroken,
            bool softBreaks)
      : writer_(destination, expected),
        p_(writer_.Begin()),
        last_column_(lastColumn),
        unbroken_(unbroken),
        soft_breaks_(softBreaks) {}

  void Feed(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    const std::int64_t lastColumn = last_column_;
    const bool unbroken = unbroken_;
    const bool softBreaks = soft_breaks_;
    char* p = p_;
    const char* high = writer_.High();
    std::int64_t column = column_;
    std::size_t i = held_cr_ ? TakeHeldCr(p, in[0], column) : 0;
    while (i < n) {
      while (i < n && (unbroken || column <= lastColumn)) {
        if (p >= high) p = writer_.Flush(p);
        const Byte c = in[i++];
        const Byte length = kQpOutput.length[c];
        if (length != 0) {
          std::memcpy(p, kQpOutput.text[c].data(), 4);
          p += length;
          column += length;
          continue;
        }
        // CR LF is a hard break; any other CR is escaped, the last byte of the input included
        // (dropping it would lose data). A CR at the end of a block waits for the next byte.
        if (i == n) {
          held_cr_ = true;
          break;
        }
        if (in[i] == '\n') {
          *p++ = '\r';
          *p++ = '\n';
          ++i;
          column = 0;
          continue;
        }
        p = EscapedCr(p);
        column += 3;
      }
      // A line that ended at its length.
      if (!unbroken && column > lastColumn) {
        if (softBreaks) p = SoftBreak(p);
        column = 0;
      }
    }
    p_ = p;
    column_ = column;
  }

  void Finish() {
    char* p = p_;
    if (held_cr_) {
      held_cr_ = false;
      if (p >= writer_.High()) p = writer_.Flush(p);
      p = EscapedCr(p);
      column_ += 3;
      if (!unbroken_ && column_ > last_column_) {
        if (soft_breaks_) p = SoftBreak(p);
        column_ = 0;
      }
    }
    writer_.Flush(p);
  }

 private:
  static char* SoftBreak(char* p) {
    std::memcpy(p, "=\r\n", 3);
    return p + 3;
  }
  static char* EscapedCr(char* p) {
    std::memcpy(p, "=0D", 4);
    return p + 3;
  }

  // The CR that ended the last block, now that the byte after it is known: with an LF it is a
  // hard break, else it is escaped. Returns how many bytes of the block it took.
  std::size_t TakeHeldCr(char*& p, Byte next, std::int64_t& column) {
    held_cr_ = false;
    if (p >= writer_.High()) p = writer_.Flush(p);
    if (next == '\n') {
      *p++ = '\r';
      *p++ = '\n';
      column = 0;
      return 1;
    }
    p = EscapedCr(p);
    column += 3;
    return 0;
  }

  BlockWriter writer_;
  char* p_;
  const std::int64_t last_column_;
  const bool unbroken_;
  const bool soft_breaks_;
  std::int64_t column_ = 0;
  bool held_cr_ = false;  // the last block ended in a CR
};

class QpDecoder {
 public:
  // pendingEscape: the encoder's record of an escape in progress, left set when decoding fails.
  QpDecoder(TStream& destination, std::size_t expected, bool& pendingEscape)
      : writer_(destination, expected), p_(writer_.Begin()), pending_escape_(pendingEscape) {}

  void Feed(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    char* p = p_;
    const char* high = writer_.High();
    // The escape state lives in locals while the loop runs (stores through the output pointer
    // could otherwise alias the members).
    bool pending = pending_;
    int heldDigit = held_digit_;  // first hexadecimal digit of the escape in progress
    std::size_t i = 0;
    // The LF of a CR LF split between blocks belongs to the break already counted.
    if (held_cr_) {
      held_cr_ = false;
      if (in[0] == '\n') i = 1;
    }
    while (i < n) {
      // Plain characters and complete escapes, chosen without a branch between them, and CR LF;
      // anything else (another line break, an unfinished or bad escape, the last two bytes of
      // the block) takes a Step.
      while (!pending && i + 2 < n) {
        if (p >= high) p = writer_.Flush(p);
        const Byte c = in[i];
        const Byte kind = kQpDecodeClass[c];
        const int high4 = kHexValue[in[i + 1]], low4 = kHexValue[in[i + 2]];
        const bool escape = kind == kQpEquals;
        if (kind == kQpBreak) {
          if (c != '\r' || in[i + 1] != '\n') break;
          *p++ = '\r';
          *p++ = '\n';
          i += 2;
          continue;
        }
        if (escape && (high4 | low4) < 0) break;
        *p++ = static_cast<char>(escape ? (high4 << 4 | low4) : c);
        i += escape ? 3 : 1;
      }
      if (i >= n) break;
      if (p >= high) p = writer_.Flush(p);
      p = Step(p, in, n, i, pending, heldDigit);
    }
    p_ = p;
    pending_ = pending;
    held_digit_ = heldDigit;
  }

  // An escape left unfinished at the end is dropped, as a soft break would drop it.
  void Finish() {
    pending_escape_ = false;
    writer_.Flush(p_);
  }

 private:
  // One byte that the plain run stopped at: a line break, a byte of an escape, or a byte near the
  // block's end.
  char* Step(char* p, const Byte* in, std::size_t n, std::size_t& i, bool& pending,
             int& heldDigit) {
    const Byte c = in[i++];
    if (IsLineBreak(c)) {
      // A line break: CR LF, a lone CR and a lone LF count one each. A line that ended inside
      // an escape ends with a soft break: its break is dropped and the unfinished escape
      // forgotten. Every other break becomes CR LF.
      if (c == '\r') {
        if (i == n)
          held_cr_ = true;
        else if (in[i] == '\n')
          ++i;
      }
      if (pending) {
        pending = false;
        heldDigit = -1;
      } else {
        *p++ = '\r';
        *p++ = '\n';
      }
      return p;
    }
    if (pending) {
      const int digit = kHexValue[c];
      if (digit < 0) Fail(p, pending);
      if (heldDigit < 0) {
        heldDigit = digit;
      } else {
        *p++ = static_cast<char>(heldDigit << 4 | digit);
        heldDigit = -1;
        pending = false;
      }
    } else if (c == '=') {
      pending = true;
    } else {
      *p++ = static_cast<char>(c);
    }
    return p;
  }

  // A character after "=" that is not a hexadecimal digit: what was decoded before it is kept.
  [[noreturn]] void Fail(char* p, bool pending) {
    p_ = writer_.Flush(p);
    pending_escape_ = pending;
    throw EclEncoderError(kWrongQuotedPrintable);
  }

  BlockWriter writer_;
  char* p_;
  bool& pending_escape_;
  bool pending_ = false;
  int held_digit_ = -1;
  bool held_cr_ = false;  // the last block ended in a CR
};

}  // namespace

void EncodeQuotedPrintable(SourceBlocks& source, TStream& destination, int lineLength,
                           bool unbroken, bool stringMode) {
  destination.SetSize(0);
  destination.SetPosition(0);
  // Bytes are taken while the column is at most L - 6. Below L = 6 that would admit none, so
  // such lines take one byte each, as with L = 6.
  const std::int64_t lastColumn = std::max(lineLength - 6, 0);
  // An upper bound of the output, so that a memory stream destination is sized once: every
  // escape adds two characters, and every line holds more than lastColumn of them. The escapes
  // are counted only for such a destination, and when the source is in memory; otherwise its
  // size stands for the body.
  std::size_t body = source.Expected();
  if (source.InMemory() && dynamic_cast<TMemoryStream*>(&destination)) {
    const auto* in = reinterpret_cast<const Byte*>(source.Whole().data());
    std::size_t escapes = 0;
    for (std::size_t i = 0; i < body; ++i)
      escapes += kQpOutput.length[in[i]] != 1;
    body += 2 * escapes;
  }
  const std::size_t softBreaks =
      unbroken || stringMode ? 0 : body / static_cast<std::size_t>(lastColumn + 1) + 1;
  QpEncoder pass(destination, body + 3 * softBreaks, lastColumn, unbroken, !stringMode);
  RunPass(source, pass);
}

void DecodeQuotedPrintable(SourceBlocks& source, TStream& destination, bool& pendingEscape) {
  destination.SetSize(0);
  destination.SetPosition(0);
  QpDecoder pass(destination, source.Expected(), pendingEscape);
  RunPass(source, pass);
}

}  // namespace qv::codec
