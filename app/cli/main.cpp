// qvrepair-cli: the repair without a window, and diagnostic commands over the same library.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "Commands.h"

namespace qv::cli {

namespace {
const Command kCommands[] = {
    {"repair", "[--dir DIR]",
     "repair the mailbox of the program folder DIR (default: the folder of this program)",
     RunRepair},
    {"encode", "METHOD [--chars N] [--suppress-crlf] [--string]",
     "encode standard input to standard output with a transfer encoding", RunEncode},
    {"decode", "METHOD", "decode standard input to standard output", RunDecode},
    {"preferred", "", "print the transfer encoding chosen for standard input", RunPreferred},
    {"dump", "FILE", "print a component stream file (an index, a profile) as text", RunDump},
    {"message", "FILE [--now YYYY-MM-DDTHH:MM:SS] [--tz ZONE]",
     "parse one message file and print its header fields and body parts as JSON", RunMessage},
};

void PrintHelp(std::FILE* out) {
  std::fprintf(out, "usage: qvrepair-cli COMMAND [ARGS]\n\ncommands:\n");
  for (const auto& c : kCommands)
    std::fprintf(out, "  %s %s\n      %s\n", c.name, c.usage, c.summary);
  std::fprintf(out,
               "\nMETHOD is one of none, quoted-printable, base64, uuencode, 8bit.\n"
               "Exit status: 0 success, 1 failure, 2 bad usage.\n");
}
}  // namespace

int UsageError(const std::string& text) {
  std::fprintf(stderr, "qvrepair-cli: %s\n", text.c_str());
  return 2;
}

}  // namespace qv::cli

int main(int argc, char** argv) {
  using namespace qv::cli;
#ifdef _WIN32
  // Bytes pass unchanged: no CR added before LF, no CTRL-Z taken as the end of the input. The
  // messages on standard error end their lines the same way on every system.
  ::_setmode(::_fileno(stdin), _O_BINARY);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
#endif
  if (argc < 2) {
    PrintHelp(stderr);
    return 2;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(stdout);
    return 0;
  }
  Args args(argv + 2, argv + argc);
  for (const auto& c : kCommands) {
    if (name != c.name) continue;
    try {
      return c.run(args);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  }
  return UsageError("unknown command '" + name + "' (see qvrepair-cli --help)");
}
