// Platform services for tests: real files with failures that can be switched on per operation,
// English names, a probe that answers from a set of names, a beeper that counts, and a view that
// records what the window would show.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/PosixPlatform.h"
#include "repair/Controls.h"
#include "repair/DialogView.h"
#include "support/FixedClock.h"

namespace qv::test {

class FaultyFileSystem : public platform::PosixFileSystem {
 public:
  // Operations listed here fail with this text ("sync", "syncdir", "replace", "move", "delete").
  std::set<std::string> failing;
  // Fails single calls: asked with the operation and the path it works on (the source of a
  // rename), before the operation is carried out.
  std::function<bool(const std::string& op, const std::string& path)> failWhen;
  std::string failText = "Input/output error";
  std::string programPath = "/nonexistent/qvrepair";
  std::vector<std::string> calls;
  // The same calls as "op path".
  std::vector<std::string> log;

  bool DeleteFile(const std::string& path, std::string* error) override {
    return Do("delete", path, error) && PosixFileSystem::DeleteFile(path, error);
  }
  bool MoveFile(const std::string& from, const std::string& to, std::string* error) override {
    return Do("move", from, error) && PosixFileSystem::MoveFile(from, to, error);
  }
  bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) override {
    return Do("replace", from, error) && PosixFileSystem::ReplaceFile(from, to, error);
  }
  bool SyncFile(const std::string& path, std::string* error) override {
    return Do("sync", path, error) && PosixFileSystem::SyncFile(path, error);
  }
  bool SyncFolder(const std::string& path, std::string* error) override {
    return Do("syncdir", path, error) && PosixFileSystem::SyncFolder(path, error);
  }
  std::string ProgramPath() override { return programPath; }

 private:
  bool Do(const std::string& op, const std::string& path, std::string* error) {
    calls.push_back(op);
    log.push_back(op + " " + path);
    if (failing.count(op) == 0 && !(failWhen && failWhen(op, path))) return true;
    if (error) *error = failText;
    return false;
  }
};

class EnglishLocale : public platform::Locale {
 public:
  const platform::LocaleNames& Names() override { return platform::EnglishNames(); }
};

class SetProbe : public platform::InstanceProbe {
 public:
  std::set<std::string> running;
  std::vector<std::string> probed;
  bool MutexExists(const std::string& name) override {
    probed.push_back(name);
    return running.count(name) != 0;
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
    std::string what;  // "changed" (caption or enabled state), "error", "process", "close"
    std::string control;
    std::string text;
  };
  std::vector<Event> events;
  std::vector<std::string> errors;
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
