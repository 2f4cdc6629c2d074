#include "RepairWindow.h"

#include <algorithm>
#include <utility>

#include "DialogIds.h"
#include "platform/CodePage.h"

namespace qv::win32 {

namespace {

// Posted when the window is first shown: the start-up checks run once it is on the screen, so
// that their error box opens above it rather than before it.
constexpr UINT kStartMessage = WM_APP + 1;

// Room kept between the controls and the client edge when a thick window frame eats into the
// outer size.
constexpr int kMinEdge = 8;

constexpr int kFontPoints = 8;
constexpr const char* kFontFace = "Tahoma";

// The texts may hold file names and the system's reasons, which are UTF-8: the box is given
// UTF-16.
int ShowMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type) {
  auto wide = [](const std::string& s) {
    const std::u16string w = platform::Utf8ToUtf16(platform::TextToUtf8(s));
    return std::wstring(w.begin(), w.end());
  };
  return ::MessageBoxW(owner, wide(text).c_str(), wide(title).c_str(), type);
}

}  // namespace

int FontHeight(int dpi) {
  return -::MulDiv(kFontPoints, dpi, 72);
}

int SystemDpi() {
  const HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

RepairWindow::RepairWindow(platform::Services services, TComponentRegistry& registry,
                           HINSTANCE instance)
    : ShowBox(ShowMessageBox), instance_(instance ? instance : ::GetModuleHandleA(nullptr)) {
  controller_ = std::make_unique<DialogController>(services, *this, registry);
}

RepairWindow::~RepairWindow() {
  if (hwnd_) ::DestroyWindow(hwnd_);
  if (font_) ::DeleteObject(font_);
}

bool RepairWindow::Create() {
  if (hwnd_) return true;
  return ::CreateDialogParamA(instance_, MAKEINTRESOURCEA(QV_IDD_REPAIR), nullptr, DialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

void RepairWindow::Show() {
  if (!hwnd_) return;
  ::ShowWindow(hwnd_, SW_SHOWNORMAL);
  ::UpdateWindow(hwnd_);
}

int RepairWindow::Run() {
  MSG msg;
  while (hwnd_) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);  // WM_QUIT
    if (got == -1) return 1;
    Dispatch(msg);
  }
  return 0;
}

void RepairWindow::Dispatch(MSG& msg) {
  // The dialog manager takes the keys of its controls (Tab, Escape, Space on a button).
  if (hwnd_ && ::IsDialogMessageA(hwnd_, &msg)) return;
  ::TranslateMessage(&msg);
  ::DispatchMessageA(&msg);
}

HWND RepairWindow::ControlOf(const TControl& control) const {
  if (&control == &Form().Label1) return label1_;
  if (&control == &Form().Label2) return label2_;
  if (&control == &Form().Button1) return button1_;
  if (&control == &Form().Button2) return button2_;
  return nullptr;
}

int RepairWindow::Scaled(int v) const {
  return ::MulDiv(v, dpi_, 96);
}

RECT RepairWindow::Scaled(const TBounds& b) const {
  const int left = Scaled(b.left);
  const int top = Scaled(b.top);
  return RECT{left, top, left + Scaled(b.width), top + Scaled(b.height)};
}

SIZE RepairWindow::OuterSize() const {
  return SIZE{Scaled(TForm1::kFormSize.width), Scaled(TForm1::kFormSize.height)};
}

void RepairWindow::ApplyDpi(int dpi) {
  dpi_ = dpi > 0 ? dpi : 96;
  if (!hwnd_) return;
  const HFONT font = ::CreateFontA(FontHeight(dpi_), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, kFontFace);
  RECT used{0, 0, 0, 0};
  for (const TControl* c :
       {static_cast<const TControl*>(&Form().Label1), static_cast<const TControl*>(&Form().Label2),
        static_cast<const TControl*>(&Form().Button1),
        static_cast<const TControl*>(&Form().Button2)}) {
    const HWND control = ControlOf(*c);
    const RECT r = Scaled(c->Bounds());
    ::SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    if (font) ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    used.right = std::max(used.right, r.right);
    used.bottom = std::max(used.bottom, r.bottom);
  }
  if (font) {
    if (font_) ::DeleteObject(font_);
    font_ = font;
  }

  // The outer size is the form's; the frame the system draws comes out of it. A frame thicker
  // than the plain dialog frame the form was drawn for never pushes the controls out of the
  // window.
  RECT frame{0, 0, 0, 0};
  ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrA(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongPtrA(hwnd_, GWL_EXSTYLE)));
  const int frameWidth = frame.right - frame.left;
  const int frameHeight = frame.bottom - frame.top;
  const SIZE outer = OuterSize();
  const int edge = Scaled(kMinEdge);
  const int width = std::max<int>(outer.cx, used.right + edge + frameWidth);
  const int height = std::max<int>(outer.cy, used.bottom + edge + frameHeight);
  ::SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Centre();
}

void RepairWindow::Centre() {
  RECT window;
  if (!::GetWindowRect(hwnd_, &window)) return;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  RECT area;
  if (::GetMonitorInfoA(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor))
    area = monitor.rcWork;
  else if (!::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0))
    return;
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  ::SetWindowPos(hwnd_, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void RepairWindow::SyncControl(const TControl& control) {
  const HWND window = ControlOf(control);
  if (!window) return;
  // The form's text is ANSI, which the A functions take as it is.
  ::SetWindowTextA(window, control.Caption().c_str());
  ::EnableWindow(window, control.Enabled() ? TRUE : FALSE);
}

void RepairWindow::SyncAll() {
  for (const TControl* c :
       {static_cast<const TControl*>(&Form().Label1), static_cast<const TControl*>(&Form().Label2),
        static_cast<const TControl*>(&Form().Button1),
        static_cast<const TControl*>(&Form().Button2)})
    SyncControl(*c);
}

void RepairWindow::KeepFocus() {
  if (!hwnd_ || ::GetActiveWindow() != hwnd_) return;
  const HWND focus = ::GetFocus();
  if (focus && ::IsChild(hwnd_, focus) && ::IsWindowEnabled(focus)) return;
  // Buttons in their tab order.
  HWND first = button1_, second = button2_;
  if (Form().Button2.TabOrder() < Form().Button1.TabOrder()) std::swap(first, second);
  for (HWND button : {first, second}) {
    if (::IsWindowEnabled(button)) {
      ::SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
      return;
    }
  }
}

bool RepairWindow::IsLabel(const TControl& control) const {
  return &control == &Form().Label1 || &control == &Form().Label2;
}

void RepairWindow::SyncPendingLabels() {
  if (!labels_pending_) return;
  labels_pending_ = false;
  SyncControl(Form().Label1);
  SyncControl(Form().Label2);
}

void RepairWindow::ControlChanged(const TControl& control) {
  // During a run the progress label changes once per message, and a static control repaints
  // each time its text is set: its text reaches the window when the run lets the window's
  // messages run, and when the run ends.
  if (Form().CurrentState() == TForm1::State::Running && IsLabel(control)) {
    labels_pending_ = true;
    return;
  }
  SyncPendingLabels();
  SyncControl(control);
  // A disabled button loses the focus; the one enabled next takes it (Close after a run).
  if (control.Enabled() && controller_->Started()) KeepFocus();
}

HWND RepairWindow::BoxOwner() const {
  return hwnd_ && ::IsWindowVisible(hwnd_) ? hwnd_ : nullptr;
}

void RepairWindow::ShowError(const std::string& text) {
  SyncPendingLabels();
  ShowBox(BoxOwner(), text, "Error", MB_OK | MB_ICONERROR);
}

void RepairWindow::ShowMessage(const std::string& text) {
  SyncPendingLabels();
  ShowBox(BoxOwner(), text, kFormCaption, MB_OK | MB_ICONINFORMATION);
}

void RepairWindow::ProcessMessages() {
  const bool due = controller_->PumpDue();
  if (due) SyncPendingLabels();
  if (OnProcessMessages) OnProcessMessages();
  if (!due) return;
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // For the loop that runs the program: it ends once the run has.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    Dispatch(msg);
  }
}

void RepairWindow::CloseWindow() {
  RequestClose();
}

void RepairWindow::RequestClose() {
  if (!hwnd_ || !controller_->Close()) return;
  ::DestroyWindow(hwnd_);
}

void RepairWindow::Start() {
  if (!controller_->Start()) return;
  SyncAll();
  // The first button in the tab order has the focus, as in any dialog, once it may be pressed.
  if (::GetActiveWindow() == hwnd_) {
    const HWND first = Form().Button1.TabOrder() <= Form().Button2.TabOrder() ? button1_ : button2_;
    if (::IsWindowEnabled(first))
      ::SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    else
      KeepFocus();
  }
}

void RepairWindow::InitDialog() {
  label1_ = ::GetDlgItem(hwnd_, QV_IDC_LABEL1);
  label2_ = ::GetDlgItem(hwnd_, QV_IDC_LABEL2);
  button1_ = ::GetDlgItem(hwnd_, QV_IDC_BUTTON1);
  button2_ = ::GetDlgItem(hwnd_, QV_IDC_BUTTON2);
  ::SetWindowTextA(hwnd_, kFormCaption);
  icon_ = ::LoadIconA(instance_, MAKEINTRESOURCEA(QV_IDI_APP));
  if (icon_) {
    ::SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  }
  SyncAll();
  // Nothing may start a run before the start-up checks have run.
  ::EnableWindow(button1_, FALSE);
  ApplyDpi(SystemDpi());
}

INT_PTR CALLBACK RepairWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  RepairWindow* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<RepairWindow*>(lParam);
    ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<RepairWindow*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
  }
  return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR RepairWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitDialog();
      return TRUE;  // the dialog manager gives the focus to the first enabled button
    case WM_SHOWWINDOW:
      if (wParam && show_pending_) {
        show_pending_ = false;
        ::PostMessageA(hwnd_, kStartMessage, 0, 0);
      }
      return FALSE;
    case kStartMessage:
      Start();
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (id == QV_IDC_BUTTON1 && code == BN_CLICKED) {
        controller_->Button1Click();
      } else if (id == QV_IDC_BUTTON2 && code == BN_CLICKED) {
        controller_->Button2Click();
      } else if (id == IDCANCEL) {
        // Escape, as any dialog takes it.
        RequestClose();
      }
      return TRUE;
    }
    case WM_CLOSE:
      // Alt+F4 and the task bar alike: no close while a run is in progress.
      RequestClose();
      return TRUE;
    case WM_QUERYENDSESSION:
      // Nor does the session end during a run: the system asks the user to wait for it.
      ::SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, controller_->MayEndSession() ? TRUE : FALSE);
      return TRUE;
    case WM_NCDESTROY:
      hwnd_ = nullptr;
      label1_ = label2_ = button1_ = button2_ = nullptr;
      return FALSE;
    default:
      (void)lParam;
      return FALSE;
  }
}

}  // namespace qv::win32
