// The command line of the dialog qvrepair, the same on every system: "--dir DIR" points it at
// another program folder; "--help", "-h" or "/?" asks for the usage text.
#pragma once

#include <string>
#include <vector>

namespace qv::app {

struct DialogOptions {
  std::string dir;    // empty: the folder of the executable
  std::string error;  // not empty: the command line is wrong, or --help asked (usage text)
  bool help = false;
};

// `arguments` as main receives them, the program's name first.
inline DialogOptions ParseDialogArguments(const std::vector<std::string>& arguments) {
  DialogOptions options;
  const char* const usage = "usage: qvrepair [--dir DIR]";
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "--dir" && i + 1 < arguments.size() && !arguments[i + 1].empty()) {
      options.dir = arguments[++i];
    } else if (arg == "--help" || arg == "-h" || arg == "/?") {
      options.help = true;
      options.error = usage;
    } else {
      options.help = false;
      options.error = usage;
      return options;
    }
  }
  return options;
}

}  // namespace qv::app
