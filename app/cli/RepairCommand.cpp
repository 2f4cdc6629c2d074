// qvrepair-cli repair: the repair without a window. The labels go to standard output (on a
// terminal the progress line rewrites itself in place, otherwise only the final label line is
// printed), error boxes to standard error.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <string>

#include "Commands.h"
#include "platform/SystemPlatform.h"
#include "repair/Repair.h"

namespace qv::cli {

namespace {
class TerminalView : public DialogView {
 public:
#ifdef _WIN32
  TerminalView() : tty_(::_isatty(1) != 0) {}
#else
  TerminalView() : tty_(::isatty(STDOUT_FILENO) == 1) {}
#endif

  void ControlChanged(const TControl& control) override {
    if (control.Name() != "Label2") return;
    label_ = control.Caption();
    if (!tty_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(50)) {
      dirty_ = true;
      return;
    }
    Draw(now);
  }
  void ShowError(const std::string& text) override {
    EndLine();
    std::fprintf(stderr, "Error: %s\n", text.c_str());
  }
  void ShowMessage(const std::string& text) override {
    EndLine();
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }
  void ProcessMessages() override {}
  void CloseWindow() override {
    closed_ = true;
  }

  // Prints the last label text as the final line.
  void Finish() {
    if (tty_) {
      if (dirty_ || !shown_) Draw(std::chrono::steady_clock::now());
      EndLine();
    } else if (!label_.empty()) {
      std::printf("%s\n", label_.c_str());
    }
    std::fflush(stdout);
  }

 private:
  void Draw(std::chrono::steady_clock::time_point now) {
#ifdef _WIN32
    // Not every Windows console takes escape sequences: blanks cover a longer line drawn before.
    const std::size_t pad = drawn_ > label_.size() ? drawn_ - label_.size() : 0;
    std::printf("\r%s%*s", label_.c_str(), static_cast<int>(pad), "");
    if (pad > 0) std::printf("\r%s", label_.c_str());
    drawn_ = label_.size();
#else
    std::printf("\r%s\x1b[K", label_.c_str());
#endif
    std::fflush(stdout);
    last_ = now;
    dirty_ = false;
    shown_ = true;
    open_ = true;
  }
  void EndLine() {
    if (tty_ && open_) {
      std::printf("\n");
      std::fflush(stdout);
      open_ = false;
    }
  }

  bool tty_;
  bool dirty_ = false;
  bool shown_ = false;
  bool open_ = false;
  bool closed_ = false;
  [[maybe_unused]] std::size_t drawn_ = 0;  // length of the line on the screen (Windows)
  std::string label_;
  std::chrono::steady_clock::time_point last_{};
};
}  // namespace

int RunRepair(const Args& args) {
  std::string dir;
  for (std::size_t i = 0; i < args.size(); ++i) {
    // An empty DIR is refused rather than taken as "the program's own folder".
    if (args[i] == "--dir" && i + 1 < args.size() && !args[i + 1].empty()) {
      dir = args[++i];
    } else {
      return UsageError("usage: qvrepair-cli repair [--dir DIR]");
    }
  }
  platform::SystemPlatform platform;
  TerminalView view;
  TComponentRegistry registry;
  TForm1 form(platform.services(), view, registry);
  if (!dir.empty()) form.SetAppDir(dir);
  form.FormShow();
  if (form.CurrentState() == TForm1::State::Ready) form.Button1Click();
  view.Finish();
  form.FormClose();
  return form.Replaced() ? 0 : 1;
}

}  // namespace qv::cli
