// Platform services for tests: real files with failures that can be switched on per operation,
// English names, a probe that answers from a set of names, a beeper that counts, and a view that
// records what the window would show.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "platform/SystemPlatform.h"
#include "repair/Controls.h"
#include "repair/DialogView.h"
#include "support/FixedClock.h"

namespace qv::test {

class FaultyFileSystem : public platform::SystemFileSystem {
  using Base = platform::SystemFileSystem;

 public:
  // Operations listed here fail with this text ("sync", "syncdir", "replace", "move", "delete",
  // "create", "commit", "append", "link", "chmod", and those of an export below).
  std::set<std::string> failing;
  // Fails single calls: asked with the operation and the path it works on (the source of a
  // rename), before the operation is carried out.
  std::function<bool(const std::string& op, const std::string& path)> failWhen;
  std::string failText = "Input/output error";
  std::string programPath = "/nonexistent/qvrepair";
  std::vector<std::string> calls;
  // The same calls as "op path".
  std::vector<std::string> log;
  // Bytes that the files made by CreateFile take in all before the disk is full: a write beyond
  // them is cut short. Negative: no limit.
  std::int64_t writeLimit = -1;
  // Bytes written to files made by CreateFile so far.
  std::int64_t written = 0;
  // When false, a sync that does not fail succeeds without asking the disk (for tests that run
  // many repairs and do not test durability).
  bool realSync = true;
  // When false, the file system has no hard links (as FAT), so a second name needs a copy.
  bool hardLinks = true;
  // Fails opening a file for reading ("open": EFOpenError) or a read of its stream ("read":
  // EInOutError), asked with the operation and the file, with failText as the system's reason.
  // These are not steps: they are neither logged nor asked of failWhen.
  std::function<bool(const std::string& op, const std::string& path)> failRead;

  bool DeleteFile(const std::string& path, std::string* error) override {
    return Do("delete", path, error) && Base::DeleteFile(path, error);
  }
  bool MoveFile(const std::string& from, const std::string& to, std::string* error) override {
    return Do("move", from, error) && Base::MoveFile(from, to, error);
  }
  bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) override {
    return Do("replace", from, error) && Base::ReplaceFile(from, to, error);
  }
  // Called with the first name once two names were swapped (what another program does at once).
  std::function<void(const std::string& a)> afterExchange;
  // A swap of two names is a "replace" step of its first.
  platform::ExchangeOutcome ExchangeFiles(const std::string& a, const std::string& b,
                                          std::string* error) override {
    if (!Do("replace", a, error)) return platform::ExchangeOutcome::Failed;
    const platform::ExchangeOutcome done = Base::ExchangeFiles(a, b, error);
    if (afterExchange && done == platform::ExchangeOutcome::Exchanged) afterExchange(a);
    if (done == platform::ExchangeOutcome::NotSupported) {
      // The rename that the caller makes instead is the step.
      calls.pop_back();
      log.pop_back();
    }
    return done;
  }
  bool SyncFile(const std::string& path, std::string* error) override {
    return Do("sync", path, error) && (!realSync || Base::SyncFile(path, error));
  }
  bool SyncFolder(const std::string& path, std::string* error) override {
    return Do("syncdir", path, error) && (!realSync || Base::SyncFolder(path, error));
  }
  // The file's stream cuts writes short once writeLimit is reached (as a full disk does) and
  // fails its Commit when "commit" fails for its path.
  std::unique_ptr<TStream> CreateFile(const std::string& path) override {
    std::string error;
    if (!Do("create", path, &error))
      throw EFCreateError(FormatMessage(kFCreateError, {path, error}));
    return std::make_unique<Stream>(*this, path, Base::CreateFile(path));
  }
  // Counts against writeLimit as the streams of CreateFile do.
  bool AppendFile(const std::string& path, std::string_view bytes, std::string* error) override {
    if (!Do("append", path, error)) return false;
    std::size_t k = bytes.size();
    if (writeLimit >= 0)
      k = static_cast<std::size_t>(
          std::clamp<std::int64_t>(writeLimit - written, 0, static_cast<std::int64_t>(k)));
    written += static_cast<std::int64_t>(k);
    if (k < bytes.size()) {
      Base::AppendFile(path, bytes.substr(0, k), nullptr);
      if (error) *error = "No space left on device";
      return false;
    }
    return Base::AppendFile(path, bytes, error);
  }
  // Files marked read-only (the attribute of Windows).
  std::set<std::string> readOnly;
  bool ReadOnlyFile(const std::string& path) override { return readOnly.count(path) > 0; }
  std::unique_ptr<TStream> OpenRead(const std::string& path) override {
    if (failRead && failRead("open", path))
      throw EFOpenError(FormatMessage(kFOpenError, {path, failText}));
    return std::make_unique<ReadStream>(*this, path, Base::OpenRead(path));
  }
  std::string ProgramPath() override { return programPath; }
  platform::LinkOutcome LinkFile(const std::string& from, const std::string& to,
                                 std::string* error) override {
    if (!Do("link", from, error)) return platform::LinkOutcome::Failed;
    if (!hardLinks) {
      if (error) *error = "Operation not permitted";
      return platform::LinkOutcome::NotSupported;
    }
    return Base::LinkFile(from, to, error);
  }
  bool CopyPermissions(const std::string& from, const std::string& to,
                       std::string* error) override {
    return Do("chmod", to, error) && Base::CopyPermissions(from, to, error);
  }
  // An export's files ("mkdir", "create" and "append", "settime"): their streams count against
  // writeLimit too.
  bool CreateFolder(const std::string& path, std::string* error) override {
    return Do("mkdir", path, error) && Base::CreateFolder(path, error);
  }
  std::unique_ptr<TStream> OpenForWriting(const std::string& path, WriteMode mode) override {
    std::string error;
    if (!Do(mode == WriteMode::New ? "create" : "append", path, &error))
      throw EFCreateError(FormatMessage(kFCreateError, {path, error}));
    return std::make_unique<Stream>(*this, path, Base::OpenForWriting(path, mode));
  }
  bool SetFileTime(const std::string& path, std::int64_t unixSeconds, std::string* error) override {
    return Do("settime", path, error) && Base::SetFileTime(path, unixSeconds, error);
  }

 private:
  class Stream : public TStream {
   public:
    Stream(FaultyFileSystem& owner, std::string path, std::unique_ptr<TStream> file)
        : owner_(owner), path_(std::move(path)), file_(std::move(file)) {}
    std::size_t Read(void* buffer, std::size_t n) override { return file_->Read(buffer, n); }
    std::size_t Write(const void* buffer, std::size_t n) override {
      std::size_t k = n;
      if (owner_.writeLimit >= 0)
        k = static_cast<std::size_t>(std::clamp<std::int64_t>(owner_.writeLimit - owner_.written, 0,
                                                              static_cast<std::int64_t>(n)));
      k = k == 0 ? 0 : file_->Write(buffer, k);
      owner_.written += static_cast<std::int64_t>(k);
      return k;
    }
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
      return file_->Seek(offset, origin);
    }
    std::int64_t Size() override { return file_->Size(); }
    void SetSize(std::int64_t size) override { file_->SetSize(size); }
    void Flush() override { file_->Flush(); }
    void Commit() override {
      if (!owner_.Do("commit", path_, nullptr))
        throw EWriteError(kStreamWriteError, FileDetail(path_, owner_.failText));
      file_->Commit();
    }

   protected:
    // A write cut short is what a full disk does to a file.
    [[noreturn]] void RaiseWriteError() override {
      throw EWriteError(kStreamWriteError, FileDetail(path_, "No space left on device"));
    }

   private:
    FaultyFileSystem& owner_;
    std::string path_;
    std::unique_ptr<TStream> file_;
  };

  class ReadStream : public TStream {
   public:
    ReadStream(FaultyFileSystem& owner, std::string path, std::unique_ptr<TStream> file)
        : owner_(owner), path_(std::move(path)), file_(std::move(file)) {}
    std::size_t Read(void* buffer, std::size_t n) override {
      if (owner_.failRead && owner_.failRead("read", path_))
        throw EInOutError(kStreamReadError, FileDetail(path_, owner_.failText));
      return file_->Read(buffer, n);
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
      return file_->Seek(offset, origin);
    }
    std::int64_t Size() override { return file_->Size(); }
    void SetSize(std::int64_t size) override { file_->SetSize(size); }

   private:
    FaultyFileSystem& owner_;
    std::string path_;
    std::unique_ptr<TStream> file_;
  };

  bool Do(const std::string& op, const std::string& path, std::string* error) {
    calls.push_back(op);
    log.push_back(op + " " + path);
    if (failing.count(op) == 0 && !(failWhen && failWhen(op, path))) return true;
    if (error) *error = failText;
    return false;
  }
};

// English names unless a test gives others.
class EnglishLocale : public platform::Locale {
 public:
  const platform::LocaleNames* names = &platform::EnglishNames();
  const platform::LocaleNames& Names() override { return *names; }
};

class SetProbe : public platform::InstanceProbe {
 public:
  std::set<std::string> running;
  std::vector<std::string> probed;
  // Files that another process holds open.
  std::set<std::string> inUse;
  bool MutexExists(const std::string& name) override {
    probed.push_back(name);
    return running.count(name) != 0;
  }
  bool FilesInUse(const std::vector<std::string>& paths) override {
    for (const std::string& p : paths)
      if (inUse.count(p) != 0) return true;
    return false;
  }
};

class CountingBeeper : public platform::Beeper {
 public:
  int beeps = 0;
  void ErrorBeep() override { ++beeps; }
};

class RecordingView : public DialogView {
 public:
  struct Event {
    std::string what;  // "changed" (caption or enabled state), "error", "message", "process",
                       // "close"
    std::string control;
    std::string text;
  };
  std::vector<Event> events;
  std::vector<std::string> errors;
  std::vector<std::string> messages;
  int beepsAtErrors = 0;
  const CountingBeeper* beeper = nullptr;
  int processed = 0;
  bool closed = false;

  void ControlChanged(const TControl& c) override {
    events.push_back({"changed", c.Name(), c.Caption()});
  }
  void ShowError(const std::string& text) override {
    errors.push_back(text);
    if (beeper) beepsAtErrors = beeper->beeps;
    events.push_back({"error", "", text});
  }
  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    events.push_back({"message", "", text});
  }
  // Runs inside ProcessMessages, as a pending window event would during a scan.
  std::function<void()> onProcess;

  void ProcessMessages() override {
    ++processed;
    events.push_back({"process", "", ""});
    if (onProcess) onProcess();
  }
  void CloseWindow() override {
    closed = true;
    events.push_back({"close", "", ""});
  }
};

// Everything a form needs, with a fixed clock.
struct FakeServices {
  explicit FakeServices(TDateTime now) : clock(now) {}
  FaultyFileSystem files;
  FixedClock clock;
  EnglishLocale locale;
  SetProbe probe;
  CountingBeeper beeper;
  platform::Services services() { return {files, clock, locale, probe, beeper}; }
};

}  // namespace qv::test
