// Message parsing throughput over a mixed corpus of generated messages, and the growth of a parse
// with the number of parts, header fields and folded lines and with the length of one line.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/StringList.h"
#include "base/StringUtils.h"
#include "codec/clEncoder.h"
#include "mime/clMailMessage.h"
#include "platform/Platform.h"

namespace {

using qv::TStringList;

struct FixedClock : qv::platform::Clock {
  qv::TDateTime Now() override { return 46082.5; }
  qv::TDateTime UtcToLocal(qv::TDateTime t) override { return t; }
};

struct Corpus {
  std::vector<TStringList> messages;
  std::int64_t bytes = 0;  // the lines and a CR LF after each, as they stand in a store
};

void AddText(TStringList& lines, const std::string& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.Add(text.substr(start, end - start));
    start = end + 2;
  }
}

class CorpusMaker {
 public:
  explicit CorpusMaker(std::uint32_t seed) : rng_(seed) {}

  std::string Prose(int lines) {
    static const char* const kWords[] = {
        "the",     "repair", "of",   "a",   "mailbox", "keeps", "every",  "message",
        "caf\xE9", "index",  "line", "and", "part",    "=",     "header", "na\xEFve"};
    std::string text;
    for (int i = 0; i < lines; ++i) {
      const int words = Int(0, 14);
      for (int w = 0; w < words; ++w) {
        if (w) text += ' ';
        text += kWords[Int(0, 15)];
      }
      text += "\r\n";
    }
    return text;
  }
  std::string Binary(int n) {
    std::string s(static_cast<std::size_t>(n), '\0');
    for (char& c : s)
      c = static_cast<char>(Int(0, 255));
    return s;
  }

  void Header(TStringList& m, const std::string& contentLines) {
    const std::string id = qv::IntToStr(counter_++);
    m.Add("Return-Path: <sender" + id + "@example.com>");
    m.Add("Received: from mail.example.com (mail.example.com [192.0.2.7])");
    m.Add("\tby mx.example.org with ESMTP id " + id + "; Mon, 5 Jan 2026 09:03:07 +0100");
    m.Add("Received: from client by mail.example.com; Mon, 5 Jan 2026 09:03:05 +0100");
    m.Add("Message-ID: <" + id + ".5678@example.com>");
    m.Add("Date: Mon, 5 Jan 2026 09:03:07 +0100");
    m.Add("From: =?iso-8859-1?Q?Andr=E9?= Sender <sender" + id + "@example.com>");
    m.Add("To: Other <other@example.org>, third@example.org");
    m.Add("Subject: =?iso-8859-1?Q?R=E9sum=E9?= of message " + id);
    m.Add("X-Mailer: Bench Mailer 1.0");
    m.Add("MIME-Version: 1.0");
    AddText(m, contentLines);
    m.Add("");
  }

  TStringList Plain() {
    TStringList m;
    Header(m, "Content-Type: text/plain; charset=us-ascii");
    AddText(m, Prose(Int(10, 120)));
    return m;
  }
  TStringList QuotedPrintable() {
    TStringList m;
    Header(m,
           "Content-Type: text/plain; charset=iso-8859-1\r\n"
           "Content-Transfer-Encoding: quoted-printable");
    AddText(m, encoder_.EncodeString(Prose(Int(10, 120)), qv::cmMIMEQuotedPrintable));
    return m;
  }
  TStringList Base64Text() {
    TStringList m;
    Header(m, "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: base64");
    AddText(m, encoder_.EncodeString(Prose(Int(10, 120)), qv::cmMIMEBase64));
    return m;
  }
  std::string AlternativePart(const std::string& boundary) {
    const std::string prose = Prose(Int(5, 60));
    return "--" + boundary + "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n" +
           "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
           encoder_.EncodeString(prose, qv::cmMIMEQuotedPrintable) + "\r\n--" + boundary +
           "\r\nContent-Type: text/html; charset=iso-8859-1\r\n\r\n<html><body><p>" + prose +
           "</p></body></html>\r\n--" + boundary + "--\r\n";
  }
  TStringList Alternative() {
    TStringList m;
    Header(m, "Content-Type: multipart/alternative; boundary=\"alt-b\"");
    AddText(m, "This is a multi-part message in MIME format.\r\n\r\n" + AlternativePart("alt-b"));
    return m;
  }
  std::string Attachment(const std::string& boundary, int size) {
    const std::string name = "file" + qv::IntToStr(Int(0, 999)) + ".bin";
    return "--" + boundary + "\r\nContent-Type: application/octet-stream; name=\"" + name +
           "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
           "filename=\"" +
           name + "\"\r\n\r\n" + encoder_.EncodeString(Binary(size), qv::cmMIMEBase64) + "\r\n";
  }
  TStringList Mixed() {
    TStringList m;
    Header(m, "Content-Type: multipart/mixed; boundary=\"mix-b\"");
    std::string body = "--mix-b\r\nContent-Type: text/plain\r\n\r\n" + Prose(Int(3, 30));
    for (int n = Int(1, 3); n > 0; --n)
      body += Attachment("mix-b", Int(2000, 200000));
    AddText(m, body + "--mix-b--\r\n");
    return m;
  }
  TStringList Nested() {
    TStringList m;
    Header(m, "Content-Type: multipart/mixed; boundary=\"out-b\"");
    AddText(m,
            "--out-b\r\nContent-Type: multipart/related; boundary=\"rel-b\"\r\n\r\n"
            "--rel-b\r\nContent-Type: multipart/alternative; boundary=\"alt-b\"\r\n\r\n" +
                AlternativePart("alt-b") +
                "--rel-b\r\nContent-Type: image/png; name=\"logo.png\"\r\n"
                "Content-Transfer-Encoding: base64\r\nContent-ID: <logo@example>\r\n\r\n" +
                encoder_.EncodeString(Binary(Int(1000, 20000)), qv::cmMIMEBase64) +
                "\r\n--rel-b--\r\n" + Attachment("out-b", Int(2000, 50000)) + "--out-b--\r\n");
    return m;
  }
  TStringList Uuencoded() {
    TStringList m;
    m.Add("From: old@example.com");
    m.Add("Subject: uuencoded " + qv::IntToStr(counter_++));
    m.Add("Date: Mon, 5 Jan 2026 09:03:07 +0100");
    m.Add("");
    AddText(m, Prose(Int(2, 10)) + "begin 644 data.bin\r\n" +
                   encoder_.EncodeString(Binary(Int(1000, 60000)), qv::cmUUEncode) + "end\r\n" +
                   Prose(Int(1, 5)));
    return m;
  }

  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

 private:
  std::mt19937 rng_;
  qv::TclEncoder encoder_;
  int counter_ = 0;
};

std::int64_t SizeOf(const TStringList& lines) {
  std::int64_t n = 0;
  for (const auto& item : lines)
    n += static_cast<std::int64_t>(item.text.size()) + 2;
  return n;
}

const Corpus& MixedCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    CorpusMaker make(42);
    while (c.bytes < (std::int64_t{32} << 20)) {
      TStringList m;
      switch (make.Int(0, 9)) {
        case 0:
        case 1:
          m = make.Plain();
          break;
        case 2:
          m = make.QuotedPrintable();
          break;
        case 3:
          m = make.Base64Text();
          break;
        case 4:
        case 5:
          m = make.Alternative();
          break;
        case 6:
        case 7:
          m = make.Mixed();
          break;
        case 8:
          m = make.Nested();
          break;
        default:
          m = make.Uuencoded();
      }
      c.bytes += SizeOf(m);
      c.messages.push_back(std::move(m));
    }
    return c;
  }();
  return corpus;
}

// The whole corpus through one message object, as the repair parses a store: without handlers,
// so attachments are split and described but not decoded; with `keepData` every attachment is
// decoded into a memory stream as well.
void ParseCorpus(benchmark::State& state, bool keepData) {
  const Corpus& corpus = MixedCorpus();
  FixedClock clock;
  qv::TclMailMessage msg(nullptr, clock);
  if (keepData) {
    msg.OnGetDataStream = [](qv::TclMailMessage&, qv::TclMessageBody&, const std::string&,
                             std::unique_ptr<qv::TStream>& data,
                             bool&) { data = std::make_unique<qv::TMemoryStream>(); };
  }
  for (auto _ : state) {
    for (const auto& m : corpus.messages) {
      msg.LoadMessage(m);
      benchmark::DoNotOptimize(msg.Bodies().Count());
    }
  }
  state.SetBytesProcessed(state.iterations() * corpus.bytes);
  state.counters["messages"] = static_cast<double>(corpus.messages.size());
}

void BM_LoadMessageMixedCorpus(benchmark::State& state) {
  ParseCorpus(state, false);
}
BENCHMARK(BM_LoadMessageMixedCorpus)->Unit(benchmark::kMillisecond);

void BM_LoadMessageMixedCorpusKeepingData(benchmark::State& state) {
  ParseCorpus(state, true);
}
BENCHMARK(BM_LoadMessageMixedCorpusKeepingData)->Unit(benchmark::kMillisecond);

// The same corpus through LoadOutline, as the repair reads it: views of the lines, envelope and
// part classes only.
void BM_LoadOutlineMixedCorpus(benchmark::State& state) {
  const Corpus& corpus = MixedCorpus();
  std::vector<std::vector<std::string_view>> views;
  for (const auto& m : corpus.messages) {
    views.emplace_back();
    for (const auto& item : m)
      views.back().push_back(item.text);
  }
  FixedClock clock;
  qv::TclMailMessage msg(nullptr, clock);
  for (auto _ : state) {
    for (const auto& lines : views) {
      msg.LoadOutline(lines);
      benchmark::DoNotOptimize(msg.Bodies().Count());
    }
  }
  state.SetBytesProcessed(state.iterations() * corpus.bytes);
  state.counters["messages"] = static_cast<double>(corpus.messages.size());
}
BENCHMARK(BM_LoadOutlineMixedCorpus)->Unit(benchmark::kMillisecond);

// --- growth: each of these must stay linear ---------------------------------------------------

void Measure(benchmark::State& state, const TStringList& lines) {
  FixedClock clock;
  qv::TclMailMessage msg(nullptr, clock);
  for (auto _ : state) {
    msg.LoadMessage(lines);
    benchmark::DoNotOptimize(msg.Bodies().Count());
  }
  state.SetBytesProcessed(state.iterations() * SizeOf(lines));
  state.SetComplexityN(state.range(0));
}

void BM_Parts(benchmark::State& state) {
  TStringList lines;
  lines.Add("Content-Type: multipart/mixed; boundary=p");
  lines.Add("");
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    lines.Add("--p");
    lines.Add(i % 2 ? "Content-Type: text/plain" : "Content-Type: application/pdf; name=a.pdf");
    lines.Add("");
    lines.Add("part text");
  }
  lines.Add("--p--");
  Measure(state, lines);
}
BENCHMARK(BM_Parts)
    ->RangeMultiplier(2)
    ->Range(12500, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_HeaderFields(benchmark::State& state) {
  TStringList lines;
  for (std::int64_t i = 0; i < state.range(0); ++i)
    lines.Add("X-Field-" + qv::IntToStr(i % 1000) + ": value " + qv::IntToStr(i));
  lines.Add("Subject: last");
  lines.Add("");
  lines.Add("body");
  Measure(state, lines);
}
BENCHMARK(BM_HeaderFields)
    ->RangeMultiplier(2)
    ->Range(12500, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_FoldedLines(benchmark::State& state) {
  TStringList lines;
  lines.Add("Received: from somewhere");
  for (std::int64_t i = 0; i < state.range(0); ++i)
    lines.Add("\tby relay" + qv::IntToStr(i % 100));
  lines.Add("X-Folded: start");
  for (std::int64_t i = 0; i < state.range(0); ++i)
    lines.Add(" more");
  lines.Add("");
  lines.Add("body");
  Measure(state, lines);
}
BENCHMARK(BM_FoldedLines)
    ->RangeMultiplier(2)
    ->Range(125000, 1000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_OneLongLine(benchmark::State& state) {
  const std::string line(static_cast<std::size_t>(state.range(0)), 'Q');
  TStringList lines;
  lines.Add("Content-Type: multipart/mixed; boundary=p");
  lines.Add("Subject: " + line);
  lines.Add("");
  lines.Add("--p");
  lines.Add("Content-Type: text/plain");
  lines.Add("");
  lines.Add(line);
  lines.Add("--p--");
  Measure(state, lines);
}
BENCHMARK(BM_OneLongLine)
    ->RangeMultiplier(2)
    ->Range(6250000, 50000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_NestedLevels(benchmark::State& state) {
  std::string text = "Content-Type: text/plain\r\n\r\ndeep\r\n";
  for (std::int64_t level = state.range(0) - 1; level >= 0; --level) {
    const std::string b = "L" + qv::IntToStr(level) + "X";
    text = "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n--" + b + "\r\n" + text +
           "--" + b + "--\r\n";
  }
  TStringList lines;
  AddText(lines, text);
  Measure(state, lines);
}
BENCHMARK(BM_NestedLevels)
    ->RangeMultiplier(2)
    ->Range(12, 96)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

}  // namespace

BENCHMARK_MAIN();
