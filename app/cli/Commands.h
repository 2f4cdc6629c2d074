// The subcommands of qvrepair-cli. Each takes the arguments after its name and returns the exit
// status: 0 success, 1 failure, 2 bad usage.
#pragma once

#include <string>
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

}  // namespace qv::cli
