// qvrepair-cli repair and check: the repair without a window, and the dry run that makes the same
// scan, indexing and merge and writes nothing. Both end with the run's figures, as readable lines
// or one JSON object. Errors (the window's error boxes) go to standard error; progress and
// results to standard output.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "Commands.h"
#include "Json.h"
#include "platform/CodePage.h"
#include "platform/SystemPlatform.h"
#include "repair/DialogController.h"
#include "repair/Findings.h"

namespace qv::cli {

namespace {

using Clock = std::chrono::steady_clock;

struct RunOptions {
  std::string dir;
  bool json = false;
  bool quiet = false;
  bool backup = false;
  bool keepCurrent = false;
  bool details = false;     // check: what is damaged where
  std::size_t listed = 20;  // check --details: findings listed of each kind
};

// The form on a terminal: a progress line while the store is scanned (redrawn in place on a
// terminal, at most ten times a second), error boxes as "Error: " lines on standard error,
// information boxes as lines on standard output.
class TerminalView : public DialogView {
 public:
  // `quiet`: no progress and no information; `json`: standard output holds the JSON object
  // alone, so the progress goes only to a terminal.
  TerminalView(bool quiet, bool json)
      : quiet_(quiet),
        json_(json),
        tty_(!quiet && console_.IsTerminal(stdout)),
        start_(Clock::now()) {}

  void SetForm(const TForm1* form) { form_ = form; }

  void ControlChanged(const TControl& control) override {
    if (control.Name() != "Label2") return;
    label_ = platform::TextToUtf8(control.Caption());
    if (!tty_ || !form_ || form_->CurrentState() != TForm1::State::Running) return;
    if (redraws_.Due()) Draw(Clock::now());
  }
  void ShowError(const std::string& text) override {
    EndLine();
    Print(stderr, "Error: " + platform::TextToUtf8(text) + "\n");
    ++errors_;
  }
  void ShowMessage(const std::string& text) override {
    if (quiet_) return;
    EndLine();
    Print(stdout, platform::TextToUtf8(text) + "\n");
    std::fflush(stdout);
  }
  void ProcessMessages() override {}
  void CloseWindow() override {}

  int Errors() const noexcept { return errors_; }

  // Ends the progress line; off a terminal, the last label line is printed instead.
  void Finish() {
    if (tty_) {
      if (form_ && form_->ScannedBytes() > 0) Draw(Clock::now());
      EndLine();
    } else if (!quiet_ && !json_ && !label_.empty()) {
      Print(stdout, label_ + "\n");
    }
    std::fflush(stdout);
  }

 private:
  // "Repairing message : 1234   512.0 of 1024.0 MB (50%)  250.3 MB/s  0:02 left"
  void Draw(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double done = static_cast<double>(form_->ScannedBytes());
    const double total = std::max<double>(static_cast<double>(form_->Figures().storeBytes), done);
    const double rate = seconds > 0 ? done / seconds : 0;
    std::string line = label_ + Format("   %.1f of %.1f MB", done / 1e6, total / 1e6);
    if (total > 0) line += Format(" (%d%%)", static_cast<int>(100.0 * done / total));
    if (rate > 0) {
      const auto left = static_cast<long long>(std::ceil((total - done) / rate));
      line += Format("  %.1f MB/s  %lld:%02lld left", rate / 1e6, left / 60, left % 60);
    }
    console_.RedrawLine(stdout, line);
    std::fflush(stdout);
    open_ = true;
  }
  void EndLine() {
    if (tty_ && open_) {
      std::printf("\n");
      std::fflush(stdout);
      open_ = false;
    }
  }

  platform::SystemConsole console_;
  bool quiet_;
  bool json_;
  bool tty_;
  Clock::time_point start_;
  Pacer redraws_{std::chrono::milliseconds(100)};
  bool open_ = false;
  int errors_ = 0;
  std::string label_;
  const TForm1* form_ = nullptr;
};

// One line of the figures: what, then its value in a column.
void FigureLine(const char* what, const std::string& value) {
  Print(stdout, Format("%-24s %s\n", what, value.c_str()));
}

// What an export did (below), in the figures' lines or their JSON object.
void PrintExport(const TForm1& form, JsonWriter* json);

// The findings of check --details: each kind with its count and the findings listed, with message
// and entry numbers from 1.
void PrintFindings(const Findings& findings, JsonWriter* json) {
  if (json) json->BeginObject("problems");
  bool any = false;
  for (std::size_t k = 0; k < kFindingKinds; ++k) {
    const auto kind = static_cast<FindingKind>(k);
    const char* name = FindingName(kind);
    const char* number = kind == FindingKind::DroppedEntry ? "entry" : "message";
    if (json) {
      json->BeginObject(name);
      json->Integer("count", findings.Count(kind));
      json->BeginArray("listed");
      for (const Finding& f : findings.Listed(kind)) {
        json->BeginObject();
        json->Integer("offset", f.offset);
        json->Integer(number, f.message + 1);
        if (f.other >= 0) json->Integer("first", f.other + 1);
        json->String("text", f.text);
        json->EndObject();
      }
      json->EndArray();
      json->EndObject();
      continue;
    }
    if (findings.Count(kind) == 0) continue;
    if (!any) Print(stdout, "\nproblems (offsets are bytes into the store):\n");
    any = true;
    const std::size_t listed = findings.Listed(kind).size();
    Print(stdout,
          Format("%-24s %lld%s\n", name, static_cast<long long>(findings.Count(kind)),
                 static_cast<std::int64_t>(listed) < findings.Count(kind)
                     ? Format(" (the first %lld listed)", static_cast<long long>(listed)).c_str()
                     : ""));
    for (const Finding& f : findings.Listed(kind)) {
      std::string where = Format("  at %lld, %s %lld", static_cast<long long>(f.offset), number,
                                 static_cast<long long>(f.message + 1));
      if (f.other >= 0)
        where += Format(" (first in message %lld)", static_cast<long long>(f.other + 1));
      Print(stdout, where + ": " + platform::AnsiToUtf8(f.text) + "\n");
    }
  }
  if (json) json->EndObject();
  if (!json && !any) Print(stdout, "\nproblems                 none\n");
}

// The figures as one JSON object.
void PrintFiguresJson(const TForm1& form, const double* seconds, const Findings* findings) {
  const RepairFigures& f = form.Figures();
  JsonWriter json;
  json.BeginObject();
  json.String("mailbox", f.mailbox);
  json.Integer("store_bytes", f.storeBytes);
  json.Integer("messages", f.messages);
  json.Integer("old_entries", f.oldEntries);
  json.Integer("carried_over", f.carriedOver);
  json.Integer("new_in_inbox", f.newInInbox);
  json.Integer("dropped_entries", f.droppedEntries);
  json.Integer("without_message_id", f.withoutMessageId);
  json.Integer("duplicate_message_ids", f.duplicateMessageIds);
  json.Integer("leading_bytes", f.leadingBytes);
  json.Bool("index_matches_store", f.indexMatchesStore);
  json.Bool("client_running", f.clientRunning);
  json.Text("blocked", platform::TextToUtf8(f.blocked));
  json.Bool("interrupted_replacement", f.interruptedReplacement);
  json.String("interrupted_action", f.interruptedAction);
  if (!f.folderTree.empty()) json.Text("folder_tree", platform::TextToUtf8(f.folderTree));
  if (form.Exporting()) PrintExport(form, &json);
  if (seconds) {
    json.Raw("seconds", Format("%.3f", *seconds));
    json.Bool("replaced", form.Replaced());
    if (!form.Backups().empty()) {
      json.BeginArray("backups");
      for (const std::string& b : form.Backups())
        json.Text({}, b);
      json.EndArray();
    }
  }
  if (findings) PrintFindings(*findings, &json);
  json.EndObject();
  Print(stdout, json.Take());
}

// What the next start does (or this start did) with an interrupted repair.
std::string Settling(const std::string& action) {
  if (action == "complete") return "the replacement is completed";
  if (action == "finish") return "what it left beside the new pair is removed";
  if (action == "undo") return "the old pair is put back";
  if (action == "clear") return "what it made is removed";
  if (action == "move-aside") return "its unreadable journal is moved aside";
  return "it cannot be settled safely (see blocked)";
}

// The figures, as readable lines or as one JSON object (with what an export did).
void PrintFigures(const TForm1& form, const RunOptions& options, const double* seconds,
                  const Findings* findings = nullptr) {
  if (options.json) return PrintFiguresJson(form, seconds, findings);
  const RepairFigures& f = form.Figures();
  auto count = [](std::int64_t n) { return std::to_string(n); };
  const char* yes = "yes";
  const char* no = "no";
  FigureLine("mailbox", platform::AnsiToUtf8(f.mailbox));
  FigureLine("store", f.storeBytes < 0 ? std::string("missing") : count(f.storeBytes) + " bytes");
  FigureLine("messages", count(f.messages));
  FigureLine("old index entries", count(f.oldEntries));
  FigureLine("carried over", count(f.carriedOver) + " (keep their folder and read state)");
  FigureLine("new in the Inbox", count(f.newInInbox) + " (no old entry; unread)");
  FigureLine("dropped entries",
             count(f.droppedEntries) + " (their messages are no longer in the store)");
  FigureLine("without Message-ID", count(f.withoutMessageId));
  FigureLine("duplicate Message-IDs", count(f.duplicateMessageIds));
  FigureLine("text before first From", count(f.leadingBytes) + " bytes");
  FigureLine("index matches store", f.indexMatchesStore ? yes : no);
  FigureLine("mail client running", f.clientRunning ? yes : no);
  FigureLine("blocked", f.blocked.empty() ? std::string(no) : platform::TextToUtf8(f.blocked));
  FigureLine("interrupted repair",
             f.interruptedReplacement ? "yes: " + Settling(f.interruptedAction) : no);
  if (!f.folderTree.empty()) FigureLine("folder tree", platform::TextToUtf8(f.folderTree));
  if (form.Exporting()) PrintExport(form, nullptr);
  if (seconds) {
    FigureLine("seconds", Format("%.3f", *seconds));
    FigureLine("replaced", form.Replaced() ? yes : no);
    for (const std::string& b : form.Backups())
      FigureLine("backup", b);
  }
  if (findings) PrintFindings(*findings, nullptr);
  std::fflush(stdout);
}

// Whether an argument is a count: decimal digits, not too many.
bool IsCount(const std::string& s) {
  return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string::npos;
}

// Reads the options of repair or check; returns a usage error text, "" when they are right.
std::string ParseOptions(const Args& args, bool repair, RunOptions& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--dir" && i + 1 < args.size() && !args[i + 1].empty()) {
      options.dir = args[++i];
    } else if (a == "--json") {
      options.json = true;
    } else if (repair && a == "--quiet") {
      options.quiet = true;
    } else if (repair && a == "--backup") {
      options.backup = true;
    } else if (repair && a == "--keep-current") {
      options.keepCurrent = true;
    } else if (!repair && a == "--details") {
      options.details = true;
    } else if (!repair && a == "--max" && i + 1 < args.size() && IsCount(args[i + 1])) {
      options.listed = static_cast<std::size_t>(std::stoull(args[++i]));
    } else {
      return repair ? "usage: qvrepair-cli repair [--dir DIR] [--json] [--quiet] [--backup] "
                      "[--keep-current]"
                    : "usage: qvrepair-cli check [--dir DIR] [--json] [--details [--max N]]";
    }
  }
  return "";
}

}  // namespace

int RunRepair(const Args& args) {
  RunOptions options;
  if (const std::string usage = ParseOptions(args, true, options); !usage.empty())
    return UsageError(usage);
  const auto start = Clock::now();
  platform::SystemPlatform platform;
  TerminalView view(options.quiet, options.json);
  TComponentRegistry registry;
  TForm1 form(platform.services(), view, registry);
  view.SetForm(&form);
  if (!options.dir.empty()) form.SetAppDir(options.dir);
  form.SetBackup(options.backup);
  form.SetKeepCurrent(options.keepCurrent);
  form.FormShow();
  if (options.keepCurrent) {
    // Settling is all it does; what it did was shown as start-up's messages.
    const bool settled = form.CurrentState() != TForm1::State::Blocked;
    if (!settled && view.Errors() == 0) view.ShowError(form.BlockedReason());
    form.FormClose();
    return settled ? 0 : 1;
  }
  if (form.CurrentState() == TForm1::State::Blocked) {
    // Why nothing was done is an error, and errors go to standard error.
    if (view.Errors() == 0) view.ShowError(form.BlockedReason());
    form.FormClose();
    return 1;
  }
  if (form.CurrentState() == TForm1::State::Ready) form.Button1Click();
  view.Finish();
  if (!options.quiet && form.Figures().scanned) {
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    PrintFigures(form, options, &seconds);
  }
  form.FormClose();
  // No success while the repair left files for the next start to settle, or said what went wrong
  // as it replaced them (another program's index put in place of the new one at once, say).
  return form.Replaced() && !form.Unsettled() && !form.ReplacedWithError() ? 0 : 1;
}

int RunCheck(const Args& args) {
  RunOptions options;
  if (const std::string usage = ParseOptions(args, false, options); !usage.empty())
    return UsageError(usage);
  platform::SystemPlatform platform;
  // Quiet while it runs: a check shows its figures, not the progress of a repair.
  TerminalView view(true, options.json);
  TComponentRegistry registry;
  TForm1 form(platform.services(), view, registry);
  view.SetForm(&form);
  if (!options.dir.empty()) form.SetAppDir(options.dir);
  form.SetDryRun(true);
  Findings findings(options.listed);
  if (options.details) form.SetFindings(&findings);
  form.FormShow();
  form.Button1Click();
  form.FormClose();
  const RepairFigures& f = form.Figures();
  // Without a scan (no profile, no store, a store that cannot be read) there is nothing to say.
  if (!f.scanned) {
    if (view.Errors() == 0) view.ShowError(f.blocked);
    return 1;
  }
  PrintFigures(form, options, nullptr, options.details ? &findings : nullptr);
  if (f.indexMatchesStore) return 0;
  // A repair is recommended only where it would be made: else why it would not be.
  std::string refusal = f.blocked;
  if (refusal.empty() && form.LastScan().status == ScanStatus::NoMessages)
    refusal = std::string(kNoMessagesFound) + "\n" + form.LastScan().error;
  if (refusal.empty()) return 3;
  view.ShowError(refusal);
  return 1;
}

namespace {

// What an export did: where it went, how many messages are in place, and per folder its path in
// the export, its messages and how many of them are read.
void PrintExport(const TForm1& form, JsonWriter* json) {
  const ExportResult& e = form.Exported();
  const bool withoutIndex = form.IndexMissing();
  if (json) {
    json->Text("export", e.out);
    json->Bool("without_index", withoutIndex);
    json->Integer("written", e.written);
    json->Bool("complete", e.began && e.error.empty());
    json->BeginArray("folders");
    for (std::size_t i = 0; i < e.folders.size(); ++i) {
      json->BeginObject();
      json->BeginArray("names");
      for (const std::string& name : e.names[i])
        json->Text({}, name);
      json->EndArray();
      json->Text("path", e.folders[i].path);
      json->Integer("messages", e.folders[i].messages);
      json->Integer("read", e.folders[i].read);
      json->EndObject();
    }
    json->EndArray();
    return;
  }
  FigureLine("export", e.out);
  if (withoutIndex) FigureLine("index", "missing: every message is in the Inbox, unread");
  FigureLine("written",
             std::to_string(e.written) + (e.began && e.error.empty()
                                              ? " messages (all)"
                                              : " messages complete (the export failed)"));
  for (std::size_t i = 0; i < e.folders.size(); ++i) {
    const ExportFolder& folder = e.folders[i];
    std::string names;
    for (const std::string& name : e.names[i])
      names += (names.empty() ? "" : " / ") + name;
    FigureLine("folder", folder.path + "  " + std::to_string(folder.messages) + " messages, " +
                             std::to_string(folder.read) + " read  (" + names + ")");
  }
}

}  // namespace

int RunExport(const Args& args) {
  RunOptions options;
  ExportTarget target;
  bool to = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--dir" && i + 1 < args.size() && !args[i + 1].empty()) {
      options.dir = args[++i];
    } else if (a == "--to" && i + 2 < args.size() && !args[i + 2].empty() &&
               (args[i + 1] == "maildir" || args[i + 1] == "mbox")) {
      target.format = args[i + 1] == "maildir" ? ExportFormat::Maildir : ExportFormat::Mbox;
      target.out = args[i + 2];
      to = true;
      i += 2;
    } else if (a == "--json") {
      options.json = true;
    } else if (a == "--quiet") {
      options.quiet = true;
    } else {
      to = false;
      break;
    }
  }
  if (!to)
    return UsageError(
        "usage: qvrepair-cli export [--dir DIR] --to maildir|mbox OUT [--json] [--quiet]");
  platform::SystemPlatform platform;
  TerminalView view(options.quiet, options.json);
  TComponentRegistry registry;
  TForm1 form(platform.services(), view, registry);
  view.SetForm(&form);
  if (!options.dir.empty()) form.SetAppDir(options.dir);
  form.SetExport(target);
  form.FormShow();
  form.Button1Click();
  view.Finish();
  const ExportResult& e = form.Exported();
  if (!e.began) {
    // Refused before anything was written: the reason is on standard error.
    if (view.Errors() == 0) view.ShowError(form.BlockedReason());
    form.FormClose();
    return 1;
  }
  if (!options.quiet) PrintFigures(form, options, nullptr);
  form.FormClose();
  return e.error.empty() ? 0 : 1;
}

}  // namespace qv::cli
