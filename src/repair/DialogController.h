// The rules both dialogs keep, without a toolkit: the start-up checks run once, a run starts only
// after them, every exception that a handler lets out becomes the error beep and the error box,
// the window's pending messages run at most every 16 ms during a run, and no close goes through
// while a run is in progress. A dialog draws the form and forwards its events here.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "repair/Repair.h"

namespace qv {

// At most one turn per interval: the first call is due, and each later one once the interval has
// passed since the last call that was.
class Pacer {
 public:
  using TimeSource = std::function<std::chrono::steady_clock::time_point()>;

  explicit Pacer(
      std::chrono::milliseconds interval,
      TimeSource now = [] { return std::chrono::steady_clock::now(); })
      : interval_(interval), now_(std::move(now)) {}

  bool Due();
  // How many calls were due.
  int Turns() const noexcept { return turns_; }

 private:
  std::chrono::milliseconds interval_;
  TimeSource now_;
  std::chrono::steady_clock::time_point last_{};
  int turns_ = 0;
};

class DialogController {
 public:
  // About 60 repaints a second during a run, however many messages the store holds.
  static constexpr std::chrono::milliseconds kPumpInterval{16};

  // Makes the form with these services and `view` as its view.
  DialogController(
      platform::Services services, DialogView& view, TComponentRegistry& registry,
      Pacer::TimeSource now = [] { return std::chrono::steady_clock::now(); });
  // The form's FormClose, unless the window has closed.
  ~DialogController();
  DialogController(const DialogController&) = delete;
  DialogController& operator=(const DialogController&) = delete;

  TForm1& Form() noexcept { return *form_; }
  const TForm1& Form() const noexcept { return *form_; }

  // The start-up checks (FormShow), once the window is on the screen; false when they have run
  // already or the window has closed.
  bool Start();
  // True once the start-up checks have run.
  bool Started() const noexcept { return started_; }
  // "Repair Mailbox" (only once the start-up checks have run) and "Cancel"/"Close".
  void Button1Click();
  void Button2Click();

  // A close from the program, the keyboard or the window manager: refused while a run is in
  // progress (and counted); otherwise the form's FormClose runs, the first time, and the window
  // may close.
  bool Close();
  // Whether the session may end now: not during a run (a refusal is counted).
  bool MayEndSession();
  int RefusedCloses() const noexcept { return refused_closes_; }

  // Whether the view's ProcessMessages lets the window's pending messages run this time.
  bool PumpDue() { return pumps_.Due(); }
  // How often they ran.
  int Pumps() const noexcept { return pumps_.Turns(); }

  // Runs a handler of the form: every exception that it lets out, of whatever type, becomes the
  // form's error report (beep, then box), so that nothing unwinds through the toolkit.
  void Guarded(const std::function<void()>& handler);

 private:
  std::unique_ptr<TForm1> form_;
  Pacer pumps_;
  bool started_ = false;
  bool closed_ = false;
  int refused_closes_ = 0;
};

}  // namespace qv
