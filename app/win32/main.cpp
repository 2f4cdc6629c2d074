// qvrepair.exe: the repair window. "--dir DIR" points it at another program folder; without it
// the folder of the executable is the program folder.
#include <string>
#include <vector>

#include "RepairWindow.h"
#include "platform/SystemPlatform.h"

// After the project's headers: see platform/Win32.h.
#include <commctrl.h>

int main(int argc, char** argv) {
  // The folder given with --dir in UTF-8, as the program names files.
  const qv::win32::ProgramOptions options =
      qv::win32::ParseArguments(qv::platform::ProgramArguments(argc, argv));
  // A program without a console says what it has to say in a box.
  if (!options.error.empty()) {
    ::MessageBoxA(nullptr, options.error.c_str(), qv::kFormCaption,
                  MB_OK | (options.help ? MB_ICONINFORMATION : MB_ICONERROR));
    return options.help ? 0 : 2;
  }

  // The buttons of the common controls (version 6, which the manifest asks for).
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  qv::platform::SystemPlatform platform;
  qv::TComponentRegistry registry;
  qv::win32::RepairWindow window(platform.services(), registry);
  if (!options.dir.empty()) window.Form().SetAppDir(options.dir);
  if (!window.Create()) {
    platform.beeper.ErrorBeep();
    ::MessageBoxA(nullptr, "The window could not be created.", "Error", MB_OK | MB_ICONERROR);
    return 1;
  }
  window.Show();
  return window.Run();
}
