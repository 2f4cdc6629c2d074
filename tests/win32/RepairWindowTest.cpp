// The Win32 window over a real form: its look at the system's dpi and at a larger one, the run
// started by a click with the window's messages pumped and its closes refused meanwhile, and the
// error box after the beep.
#include "RepairWindow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "mailbox/qvMailbox.h"
#include "support/FakePlatform.h"
#include "support/Files.h"
#include "support/Scratch.h"

namespace qv::win32 {
namespace {

namespace fs = std::filesystem;

// A store of `count` small messages.
std::string Store(int count) {
  std::string s;
  for (int i = 1; i <= count; ++i) {
    s += "From sender@example.com Mon Jan 05 10:00:00 2004\n";
    s += "Message-ID: <m" + std::to_string(i) + "@x>\nFrom: b@example.org\n";
    s += "Subject: message " + std::to_string(i) + "\n\nbody\n";
  }
  return s;
}

std::string TextOf(HWND window) {
  char text[512] = {};
  ::GetWindowTextA(window, text, sizeof text);
  return text;
}

// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND window) {
  RECT r;
  ::GetWindowRect(window, &r);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

struct Box {
  HWND owner;
  std::string text, title;
  UINT type;
  int beepsBefore;
};

class RepairWindowTest : public ::testing::Test {
 protected:
  RepairWindowTest() : fake_(EncodeDateTime(2026, 12, 8, 14, 23, 50)) {}

  void SetUp() override {
    dir_ = test::FreshFolder("qv-win32");
    fs::create_directories(Folder());
  }
  void TearDown() override {
    window_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  fs::path Folder() const { return dir_ / "profile" / "default"; }

  void WriteIndex() {
    TqvMailBox box(nullptr);
    box.SetName("MailBox");
    box.TreeItems().NewItem().SetText("Inbox");
    platform::SystemFileSystem files;
    box.SaveToFile((Folder() / "mailbox.idx").string(), files);
  }

  // Makes and shows the window over the temporary program folder and lets its start-up checks
  // run, as the program's message loop would.
  void Open() {
    // Wine makes windows only with a display (scripts/test windows starts Xvfb for them).
    const HWND probe = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                         nullptr, nullptr);
    ASSERT_NE(probe, nullptr) << "no window can be made here: no display?";
    ::DestroyWindow(probe);
    window_ = std::make_unique<RepairWindow>(fake_.services(), registry_);
    window_->ShowBox = [this](HWND owner, const std::string& text, const std::string& title,
                              UINT type) {
      boxes_.push_back({owner, text, title, type, fake_.beeper.beeps});
      return IDOK;
    };
    W().Form().SetAppDir(dir_.string());
    ASSERT_TRUE(W().Create()) << ::GetLastError();
    W().Show();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!W().Started() && std::chrono::steady_clock::now() < deadline) {
      MSG msg;
      while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(W().Started());
  }

  RepairWindow& W() { return *window_; }
  HWND Control(const TControl& c) { return W().ControlOf(c); }
  void Click(const TButton& button) { ::SendMessageA(Control(button), BM_CLICK, 0, 0); }

  test::FakeServices fake_;
  TComponentRegistry registry_;
  fs::path dir_;
  std::unique_ptr<RepairWindow> window_;
  std::vector<Box> boxes_;
};

TEST_F(RepairWindowTest, LooksAsDrawnAtEachDpi) {
  WriteIndex();
  ASSERT_NO_FATAL_FAILURE(Open());
  const HWND hwnd = W().Handle();
  TForm1& form = W().Form();
  EXPECT_EQ(TextOf(hwnd), "Repair Quorvane Mailbox");
  // A caption and nothing else in the title bar; a fixed size.
  const LONG_PTR style = ::GetWindowLongPtrA(hwnd, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);

  EXPECT_EQ(TextOf(Control(form.Label1)), kWarningText);
  EXPECT_EQ(TextOf(Control(form.Label2)), "Mailbox Name : MAILBOX");
  EXPECT_EQ(TextOf(Control(form.Button1)), "Repair Mailbox");
  EXPECT_EQ(TextOf(Control(form.Button2)), "Cancel");
  EXPECT_TRUE(::IsWindowEnabled(Control(form.Button1)));
  EXPECT_TRUE(::IsWindowEnabled(Control(form.Button2)));
  // Texts are shown as they are: an "&" is no mnemonic, and the name label does not wrap.
  for (const TControl* label : {&form.Label1, &form.Label2})
    EXPECT_NE(::GetWindowLongPtrA(Control(*label), GWL_STYLE) & SS_NOPREFIX, 0);

  for (const int dpi : {SystemDpi(), 144}) {
    SCOPED_TRACE(dpi);
    W().ApplyDpi(dpi);
    const auto scaled = [dpi](int v) { return ::MulDiv(v, dpi, 96); };
    RECT outer;
    ::GetWindowRect(hwnd, &outer);
    EXPECT_EQ(outer.right - outer.left, scaled(347));
    EXPECT_EQ(outer.bottom - outer.top, scaled(202));
    // Centred on the screen's work area.
    RECT area;
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_NEAR((outer.left + outer.right) / 2, (area.left + area.right) / 2, 1);
    EXPECT_NEAR((outer.top + outer.bottom) / 2, (area.top + area.bottom) / 2, 1);

    for (const TControl* c :
         {static_cast<const TControl*>(&form.Label1), static_cast<const TControl*>(&form.Label2),
          static_cast<const TControl*>(&form.Button1),
          static_cast<const TControl*>(&form.Button2)}) {
      SCOPED_TRACE(c->Name());
      const RECT r = RectInParent(Control(*c));
      const TBounds& b = c->Bounds();
      EXPECT_EQ(r.left, scaled(b.left));
      EXPECT_EQ(r.top, scaled(b.top));
      EXPECT_EQ(r.right - r.left, scaled(b.width));
      EXPECT_EQ(r.bottom - r.top, scaled(b.height));

      // "Tahoma" 8 point (where the system has no Tahoma, it puts its closest face in).
      const auto font = reinterpret_cast<HFONT>(::SendMessageA(Control(*c), WM_GETFONT, 0, 0));
      LOGFONTA logical{};
      ASSERT_NE(::GetObjectA(font, sizeof logical, &logical), 0);
      EXPECT_STREQ(logical.lfFaceName, "Tahoma");
      EXPECT_EQ(logical.lfHeight, -::MulDiv(8, dpi, 72));
      // Every word of the text is inside the control, in the face the system gives.
      const HDC dc = ::GetDC(Control(*c));
      const HGDIOBJ old = ::SelectObject(dc, font);
      RECT needed{0, 0, r.right - r.left, 0};
      ::DrawTextA(dc, c->Caption().c_str(), -1, &needed,
                  DT_CALCRECT | DT_NOPREFIX | (c == &form.Label1 ? DT_WORDBREAK : 0));
      EXPECT_LE(needed.right, r.right - r.left);
      EXPECT_LE(needed.bottom, r.bottom - r.top);
      ::SelectObject(dc, old);
      ::ReleaseDC(Control(*c), dc);
    }
  }
}

// Texts set on the progress label.
HWND g_watched = nullptr;
int g_texts = 0;
LRESULT CALLBACK CountTexts(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->hwnd == g_watched && call->message == WM_SETTEXT) ++g_texts;
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(RepairWindowTest, RunPumpsMessagesAndRefusesClosesUntilItEnds) {
  const int count = 2000;
  WriteIndex();
  test::WriteFile(Folder() / "mailbox.mbx", Store(count));
  ASSERT_NO_FATAL_FAILURE(Open());
  TForm1& form = W().Form();
  const HWND hwnd = W().Handle();
  int calls = 0, pumps = 0;
  bool labelFollowed = true, buttonsStayedOff = true;
  W().OnProcessMessages = [&] {
    ++calls;
    buttonsStayedOff = buttonsStayedOff && !::IsWindowEnabled(Control(form.Button1)) &&
                       !::IsWindowEnabled(Control(form.Button2));
    // Whenever the window's messages run, the label shows the count.
    if (W().EventPumps() != pumps) {
      pumps = W().EventPumps();
      labelFollowed = labelFollowed && TextOf(Control(form.Label2)) == form.Label2.Caption();
    }
    if (calls > 1) return;
    // The program (at once), Alt+F4 and Escape (posted: seen only when the run pumps them), and
    // the end of the session.
    ::SendMessageA(hwnd, WM_CLOSE, 0, 0);
    ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
    ::PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(::SendMessageA(hwnd, WM_QUERYENDSESSION, 0, 0));
  };
  g_watched = Control(form.Label2);
  g_texts = 0;
  const HHOOK hook =
      ::SetWindowsHookExA(WH_CALLWNDPROC, CountTexts, nullptr, ::GetCurrentThreadId());
  Click(form.Button1);
  ::UnhookWindowsHookEx(hook);

  EXPECT_EQ(calls, count + 1);
  EXPECT_TRUE(labelFollowed);
  // The label is not repainted once per message: under Wine that made a run
  // of many messages several times slower.
  EXPECT_GE(W().EventPumps(), 1);
  EXPECT_LE(g_texts, W().EventPumps() + 1);
  EXPECT_EQ(TextOf(Control(form.Label2)), "Repairing message : " + std::to_string(count));
  EXPECT_TRUE(buttonsStayedOff);
  EXPECT_EQ(W().RefusedCloses(), 4);
  EXPECT_TRUE(::IsWindow(hwnd));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_TRUE(form.Replaced());
  EXPECT_EQ(TextOf(Control(form.Button2)), "Close");
  EXPECT_TRUE(::IsWindowEnabled(Control(form.Button2)));
  EXPECT_FALSE(::IsWindowEnabled(Control(form.Button1)));

  // Once the run is over the window closes.
  EXPECT_TRUE(::SendMessageA(hwnd, WM_QUERYENDSESSION, 0, 0));
  ::SendMessageA(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(W().Handle(), nullptr);
}

TEST_F(RepairWindowTest, ErrorsAreToldByABeepThenAnErrorBox) {
  // No index: said in the label, no box, nothing to start.
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(TextOf(Control(W().Form().Label2)), "Cannot find mailbox");
  EXPECT_FALSE(::IsWindowEnabled(Control(W().Form().Button1)));
  EXPECT_TRUE(boxes_.empty());

  // An index without its store: the run stops with an error box, after the beep.
  window_.reset();
  WriteIndex();
  ASSERT_NO_FATAL_FAILURE(Open());
  Click(W().Form().Button1);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Cannot find mailbox!");
  EXPECT_EQ(boxes_[0].title, "Error");
  EXPECT_EQ(boxes_[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(boxes_[0].beepsBefore, 1);
  EXPECT_EQ(boxes_[0].owner, W().Handle());
  EXPECT_EQ(TextOf(Control(W().Form().Button2)), "Close");

  // What start-up did on its own is an information box under the window's caption.
  W().ShowMessage("done");
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1].title, "Repair Quorvane Mailbox");
  EXPECT_EQ(boxes_[1].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(fake_.beeper.beeps, 1);
}

}  // namespace
}  // namespace qv::win32
