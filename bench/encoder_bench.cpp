// Throughput of the transfer encoder: Base64 and quoted-printable, encode and decode, over 64 MiB
// of random bytes and of mail-like text. Bytes per second count the unencoded size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

#include "base/Stream.h"
#include "codec/clEncoder.h"

namespace {

using qv::TclEncodeMethod;
using qv::TclEncoder;
using qv::TMemoryStream;
using qv::TViewStream;

constexpr std::size_t kSize = 64u << 20;

const std::string& RandomData() {
  static const std::string data = [] {
    std::mt19937_64 rng(20240501);
    std::string s(kSize, '\0');
    for (std::size_t i = 0; i < s.size(); i += 8) {
      const std::uint64_t v = rng();
      for (int k = 0; k < 8; ++k)
        s[i + k] = static_cast<char>(v >> (8 * k));
    }
    return s;
  }();
  return data;
}

// Lines of words of 40 to 100 characters ending in CR LF, with an occasional "=" and accented
// letter, as in the bodies of ordinary mail.
const std::string& TextData() {
  static const std::string data = [] {
    static const char* const kWords[] = {"the",    "mailbox", "index",  "message", "repair",
                                         "of",     "and",     "a",      "folder",  "to",
                                         "header", "résumé",  "x=1",    "body",    "part",
                                         "sent",   "reply",   "client", "store",   "is"};
    std::mt19937 rng(7);
    std::string s;
    s.reserve(kSize + 128);
    while (s.size() < kSize) {
      const std::size_t width = 40 + rng() % 61;
      std::size_t line = 0;
      while (line < width) {
        const char* w = kWords[rng() % 20];
        s += w;
        s += ' ';
        line += std::char_traits<char>::length(w) + 1;
      }
      s.pop_back();
      s += "\r\n";
    }
    s.resize(kSize);
    return s;
  }();
  return data;
}

// A destination that only counts what it is given: measures the codec without the cost of
// fresh memory for the output (high on virtual machines, where every new page faults).
class DiscardStream : public qv::TStream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void*, std::size_t n) override {
    written_ += n;
    return n;
  }
  std::int64_t Seek(std::int64_t, qv::SeekOrigin) override { return 0; }
  void SetSize(std::int64_t) override {}

 private:
  std::size_t written_ = 0;
};

template <class Source, class Destination>
void RunEncode(benchmark::State& state, const std::string& data, TclEncodeMethod method) {
  TclEncoder encoder;
  Source source(data);
  for (auto _ : state) {
    Destination destination;
    encoder.Encode(source, destination, method);
    benchmark::DoNotOptimize(&destination);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(data.size()));
}

template <class Source, class Destination>
void RunDecode(benchmark::State& state, const std::string& data, TclEncodeMethod method) {
  TclEncoder encoder;
  TMemoryStream plain(data), encoded;
  encoder.Encode(plain, encoded, method);
  Source source(encoded.DataString());
  for (auto _ : state) {
    Destination destination;
    encoder.Decode(source, destination, method);
    benchmark::DoNotOptimize(&destination);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(data.size()));
}

// Name/destination: "Memory" builds the output in a memory stream, "Discard" drops it. The source
// is a memory stream, which the encoder works on in place, except for "StreamDiscard": there it
// is read through the stream interface in blocks, as a file would be.
#define QV_ENCODER_BENCH(name, run, data, method)          \
  void name##Memory(benchmark::State& s) {                 \
    run<TMemoryStream, TMemoryStream>(s, data(), method);  \
  }                                                        \
  void name##Discard(benchmark::State& s) {                \
    run<TMemoryStream, DiscardStream>(s, data(), method);  \
  }                                                        \
  void name##StreamDiscard(benchmark::State& s) {          \
    run<TViewStream, DiscardStream>(s, data(), method);    \
  }                                                        \
  BENCHMARK(name##Memory)->Unit(benchmark::kMillisecond);  \
  BENCHMARK(name##Discard)->Unit(benchmark::kMillisecond); \
  BENCHMARK(name##StreamDiscard)->Unit(benchmark::kMillisecond);

QV_ENCODER_BENCH(Base64EncodeRandom, RunEncode, RandomData, qv::cmMIMEBase64)
QV_ENCODER_BENCH(Base64DecodeRandom, RunDecode, RandomData, qv::cmMIMEBase64)
QV_ENCODER_BENCH(Base64EncodeText, RunEncode, TextData, qv::cmMIMEBase64)
QV_ENCODER_BENCH(Base64DecodeText, RunDecode, TextData, qv::cmMIMEBase64)
QV_ENCODER_BENCH(QpEncodeRandom, RunEncode, RandomData, qv::cmMIMEQuotedPrintable)
QV_ENCODER_BENCH(QpDecodeRandom, RunDecode, RandomData, qv::cmMIMEQuotedPrintable)
QV_ENCODER_BENCH(QpEncodeText, RunEncode, TextData, qv::cmMIMEQuotedPrintable)
QV_ENCODER_BENCH(QpDecodeText, RunDecode, TextData, qv::cmMIMEQuotedPrintable)

}  // namespace

BENCHMARK_MAIN();
