// The subcommands of qvrepair-cli. Each takes the arguments after its name and returns the exit
// status: 0 success, 1 failure, 2 bad usage.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace qv::cli {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* usage;    // argument synopsis
  const char* summary;  // one line
  const char* help;     // its options and exit statuses
  int (*run)(const Args& args);
};

int RunRepair(const Args& args);
int RunCheck(const Args& args);
int RunExport(const Args& args);
int RunEncode(const Args& args);
int RunDecode(const Args& args);
int RunPreferred(const Args& args);
int RunDump(const Args& args);
int RunMessage(const Args& args);

// Prints "qvrepair-cli: <text>" on standard error and returns 2.
int UsageError(const std::string& text);

// Writes UTF-8 text to standard output or standard error, on a console window as the characters
// it stands for (platform::Console::Write); false when the stream took less than all of it.
bool Print(std::FILE* stream, std::string_view text);

}  // namespace qv::cli
