// The merge of rebuilt entries with the old index and the writing of the index, at 10^4, 10^5 and
// 10^6 messages with as many old entries: both must grow linearly, so the time per entry stays
// flat. The compact lists are filled directly (no store is scanned); three of four rebuilt entries
// find their old entry, in a shuffled order.
//
// Counters: merge_ns and save_ns are nanoseconds per entry; the benchmark's own time is both.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "components/ComponentFile.h"
#include "platform/SystemPlatform.h"
#include "repair/Repair.h"

namespace {

class NullView : public qv::DialogView {
 public:
  void ControlChanged(const qv::TControl&) override {}
  void ShowError(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ProcessMessages() override {}
  void CloseWindow() override {}
};

std::string Id(int i) {
  return "<" + std::to_string(1000003LL * i % 99999989) + "." + std::to_string(i) +
         "@mail.example.com>";
}

void Fill(qv::TForm1& form, int n, std::mt19937& rng) {
  std::vector<int> order(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    order[static_cast<std::size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), rng);
  const char* folders[] = {"_msInbox", "_msSent", "_msTrash", "_msFolder1", "_msFolder2"};
  for (int i = 0; i < n; ++i) {
    // Every fourth old entry names a message the store no longer holds.
    const int k = order[static_cast<std::size_t>(i)];
    qv::TMailMessageItem item;
    item.SetFolderKey(folders[k % 5]);
    item.SetRead(k % 3 == 0);
    item.SetMessageId(k % 4 == 3 ? Id(n + k) : Id(k));
    item.SetSubject("old subject");
    form.OldEntries().Add(item);
  }
  std::int64_t offset = 0;
  for (int i = 0; i < n; ++i) {
    qv::TMailMessageItem item;
    item.SetFolderKey(qv::kInboxKey);
    item.SetMessageId(Id(i));
    item.SetOffset(offset);
    item.SetPriority(-1);
    item.SetAccount("Default");
    item.SetSender("Peter Smith <psmith@mail.example.com>");
    item.SetRecipients("mgarcia@example.com,lars.a@example.org");
    item.SetSubject("Re: Minutes of the meeting on Tuesday");
    item.SetBlockSize(4000 + i % 1000);
    item.SetDate(43000.5 + i / 1000.0);
    item.SetReceivedDate(43000.5 + i / 1000.0);
    form.IndexEntries().Add(item);
    offset += 4000 + i % 1000;
  }
}

void MergeAndSave(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  qv::platform::SystemPlatform platform;
  NullView view;
  std::mt19937 rng(7);
  const std::string path = "/tmp/qvrepair-merge-bench-" + std::to_string(::getpid()) + ".idx";
  double mergeNs = 0, saveNs = 0;
  for (auto _ : state) {
    qv::TComponentRegistry registry;
    qv::TForm1 form(platform.services(), view, registry);
    Fill(form, n, rng);
    const auto t0 = std::chrono::steady_clock::now();
    form.MergeIndex();
    const auto t1 = std::chrono::steady_clock::now();
    qv::TCompactItemSource entries(form.MailBox.MailItems(), form.IndexEntries());
    qv::SaveComponentToFile(form.MailBox, path, platform.files, &entries);
    const auto t2 = std::chrono::steady_clock::now();
    const std::chrono::duration<double> total = t2 - t0;
    state.SetIterationTime(total.count());
    mergeNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
    saveNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
  }
  std::remove(path.c_str());
  const double per = static_cast<double>(state.iterations()) * n;
  state.counters["merge_ns"] = mergeNs / per;
  state.counters["save_ns"] = saveNs / per;
  state.counters["entries"] = n;
}

BENCHMARK(MergeAndSave)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
