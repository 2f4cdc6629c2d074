// Platform services for tests: real files with failures that can be switched on per operation,
// English names, a probe that answers from a set of names, a beeper that counts, and a view that
// records what the window would show.
#pragma once

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
  std::string failText = "Input/output error";
  std::string programPath = "/nonexistent/qvrepair";
  std::vector<std::string> calls;

  bool DeleteFile(const std::string& path, std::string* error) override {
    return Do("delete", error) && PosixFileSystem::DeleteFile(path, error);
  }
  bool MoveFile(const std::string& from, const std::string& to, std::string* error) override {
    return Do("move", error) && PosixFileSystem::MoveFile(from, to, error);
  }
  bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) override {
    return Do("replace", error) && PosixFileSystem::ReplaceFile(from, to, error);
  }
  bool SyncFile(const std::string& path, std::string* error) override {
    return Do("sync", error) && PosixFileSystem::SyncFile(path, error);
  }
  bool SyncFolder(const std::string& path, std::string* error) override {
    return Do("syncdir", error) && PosixFileSystem::SyncFolder(path, error);
  }
  std::string ProgramPath() override { return programPath; }

 private:
  bool Do(const std::string& op, std::string* error) {
    calls.push_back(op);
    if (failing.count(op) == 0) return true;
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
    std::string what;  // "caption", "enabled", "error", "process", "close"
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
  void ProcessMessages() override { ++processed; }
  void CloseWindow() override { closed = true; }
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
