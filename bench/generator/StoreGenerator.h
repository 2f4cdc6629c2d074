// A deterministic generator of message stores: the same options and seed always give the same
// bytes, on every platform and standard library (only the raw outputs of std::mt19937_64 are used,
// with plain arithmetic on them). Messages are made one at a time, so memory stays bounded by the
// largest message however large the store grows.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace qv::gen {

// What the store is made of.
enum class Mix {
  kAttachments,  // few large messages; about 95 % of the bytes are base64 attachments
  kText,         // many small messages: encoded words, quoted-printable and base64 text bodies
  kVaried,       // every kind of message in turn, small: for samples and tests
};

// Line ends of the messages (the separator line included): all LF, all CR LF, or chosen per
// message.
enum class LineEnds { kLF, kCRLF, kMixed };

struct StoreOptions {
  Mix mix = Mix::kText;
  std::uint64_t seed = 1;
  LineEnds lineEnds = LineEnds::kLF;
  // The store ends with the first message that makes it at least this long (0: no limit).
  std::uint64_t size = 0;
  // The store ends after this many messages (0: no limit). With neither limit the generator
  // never ends.
  std::uint64_t count = 0;
  // Every n-th message has no Message-ID field (0: none).
  std::uint32_t noIdEvery = 0;
  // Every n-th message reuses the Message-ID of an earlier message chosen at random (0: none).
  std::uint32_t duplicateIdEvery = 0;
};

// What the generator knows of a message it wrote, for building an index that matches the store.
struct MessageInfo {
  std::uint64_t number = 0;  // 0 for the first message
  std::uint64_t offset = 0;  // of its separator line in the store
  std::uint64_t size = 0;    // separator line included
  std::string messageId;     // with the angle brackets; empty when the message has none
  bool duplicateId = false;  // reuses an earlier message's identifier
  std::string from;          // the From field as written
  std::string to;            // the first recipient's address
  std::string subject;       // before encoding
  std::int64_t date = 0;     // seconds since 1970-01-01 UTC
  bool attachments = false;  // multipart with attachment, image or message parts
};

// A small generator of pseudo-random numbers whose results depend on nothing but the seed.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  std::uint64_t Next() { return engine_(); }
  // 0 .. n-1 (n > 0).
  std::uint64_t Below(std::uint64_t n) { return engine_() % n; }
  // lo .. hi, both included.
  std::int64_t Between(std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(Below(static_cast<std::uint64_t>(hi - lo) + 1));
  }
  // True with a chance of `percent` in 100.
  bool Chance(unsigned percent) { return Below(100) < percent; }
  // An index into `weights` with probability proportional to its weight.
  std::size_t Pick(const std::vector<unsigned>& weights);

 private:
  std::mt19937_64 engine_;
};

class StoreGenerator {
 public:
  explicit StoreGenerator(const StoreOptions& options);

  // Replaces `out` by the next message, its separator line first; false once the store is
  // complete. `info`, when given, describes the message.
  bool Next(std::string& out, MessageInfo* info = nullptr);

  std::uint64_t MessageCount() const noexcept { return count_; }
  std::uint64_t BytesWritten() const noexcept { return bytes_; }
  // The largest message so far, in bytes.
  std::uint64_t LargestMessage() const noexcept { return largest_; }

 private:
  StoreOptions options_;
  Random rng_;
  std::uint64_t count_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint64_t largest_ = 0;
  std::int64_t clock_;                // advances from message to message
  std::vector<std::string> pastIds_;  // a bounded pool for duplicates
  std::string scratch_;               // reused for attachment data
};

struct StoreSummary {
  std::uint64_t messages = 0;
  std::uint64_t bytes = 0;
  std::uint64_t largestMessage = 0;
};

// Generates a whole store into `sink`, one message per call. `each`, when given, sees every
// message's description.
StoreSummary WriteStore(const StoreOptions& options,
                        const std::function<void(std::string_view)>& sink,
                        const std::function<void(const MessageInfo&)>& each = {});

// The separator line for a sender and a time, without line end:
// "From sender@example.com Tue Dec 08 14:23:50 2026".
std::string SeparatorLine(std::string_view address, std::int64_t unixSeconds);

// Calendar helpers (proleptic Gregorian, UTC).
struct CivilTime {
  int year, month, day, hour, minute, second, weekday;  // month 1-12, weekday 0 = Sunday
};
CivilTime ToCivil(std::int64_t unixSeconds);
std::int64_t FromCivil(int year, int month, int day, int hour, int minute, int second);

// UTF-8 text as ISO-8859-1 (the single-byte text of an index); characters beyond it become '?'.
std::string Utf8ToLatin1(std::string_view utf8);

// Base64 of `data` in lines of 76 characters, each followed by `eol`.
void AppendBase64Lines(std::string& out, std::string_view data, std::string_view eol);

}  // namespace qv::gen
