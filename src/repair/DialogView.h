// What the repair driver needs from a front end: draw the form's controls, show error boxes,
// let pending window events run during a long operation, and close the window.
#pragma once

#include <string>

namespace qv {

class TControl;

class DialogView {
 public:
  virtual ~DialogView() = default;
  // A control's caption or enabled state changed.
  virtual void ControlChanged(const TControl& control) = 0;
  // A modal error box (title "Error", error icon, one OK button); returns once it is dismissed.
  // The driver sounds the error beep before calling it.
  virtual void ShowError(const std::string& text) = 0;
  // A modal information box (title the window's caption, information icon, one OK button): what
  // the start-up did on its own, such as finishing a replacement that a crash interrupted.
  virtual void ShowMessage(const std::string& text) = 0;
  // Lets pending window events (repaints) run; called once per separator during a scan.
  virtual void ProcessMessages() = 0;
  // Closes the window, which ends the program.
  virtual void CloseWindow() = 0;
};

}  // namespace qv
