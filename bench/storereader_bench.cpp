// Throughput of the store line reader over a generated 256 MiB store held in memory.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "base/Stream.h"
#include "platform/Platform.h"
#include "repair/StoreReader.h"

namespace {

constexpr std::size_t kStoreSize = std::size_t{256} << 20;

// Messages of typical shape: a separator, a dozen header lines, then body lines of 0 to 76
// characters, with an occasional long line.
std::string MakeStore(bool crlf) {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> bodyLines(5, 120), width(0, 76), rare(0, 999);
  const char* eol = crlf ? "\r\n" : "\n";
  std::string store;
  store.reserve(kStoreSize + 4096);
  std::string body(4096, 'x');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = char('a' + i * 7 % 26);
  while (store.size() < kStoreSize) {
    store += "From someone@example.com Mon Jan 05 09:03:07 2026";
    store += eol;
    for (const char* h : {"Return-Path: <someone@example.com>", "Received: from mail.example.com",
                          "Message-ID: <1234.5678@example.com>", "Date: Mon, 5 Jan 2026 09:03:07",
                          "From: Someone <someone@example.com>", "To: other@example.org",
                          "Subject: A message of ordinary length", "MIME-Version: 1.0",
                          "Content-Type: text/plain; charset=us-ascii"}) {
      store += h;
      store += eol;
    }
    store += eol;
    for (int n = bodyLines(rng); n > 0; --n) {
      store.append(body, 0, rare(rng) == 0 ? 3000 : static_cast<std::size_t>(width(rng)));
      store += eol;
    }
  }
  store.resize(kStoreSize);
  return store;
}

const std::string& Store(bool crlf) {
  static const std::string lf = MakeStore(false);
  static const std::string cr = MakeStore(true);
  return crlf ? cr : lf;
}

// Reads every line; with `separators` also tests each "From " line as the scan does.
void ReadStore(benchmark::State& state, bool crlf, bool separators) {
  const std::string& store = Store(crlf);
  // The separator pattern has no two-digit year, so the clock is never asked.
  struct UnusedClock : qv::platform::Clock {
    qv::TDateTime Now() override { return 0; }
    qv::TDateTime UtcToLocal(qv::TDateTime t) override { return t; }
  } clock;
  std::int64_t lines = 0, found = 0;
  for (auto _ : state) {
    qv::TViewStream stream(store);
    qv::StoreReader reader(stream);
    std::string_view line;
    while (reader.ReadLine(line)) {
      ++lines;
      if (separators && qv::IsSeparatorLine(line, qv::platform::EnglishNames(), clock)) ++found;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(store.size()));
  state.counters["lines"] = static_cast<double>(lines) / static_cast<double>(state.iterations());
}

void BM_ReadLinesLF(benchmark::State& state) {
  ReadStore(state, false, false);
}
void BM_ReadLinesCRLF(benchmark::State& state) {
  ReadStore(state, true, false);
}
void BM_ReadLinesAndSeparatorsCRLF(benchmark::State& state) {
  ReadStore(state, true, true);
}

BENCHMARK(BM_ReadLinesLF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLinesCRLF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLinesAndSeparatorsCRLF)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
