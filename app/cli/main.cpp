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

#ifndef QV_VERSION
#define QV_VERSION "0"
#endif

namespace qv::cli {

namespace {
const Command kCommands[] = {
    {"repair", "[--dir DIR] [--json] [--quiet] [--backup]",
     "repair the mailbox of the program folder DIR (default: the folder of this program)",
     "  --dir DIR   the mail client's program folder (its profile\\default\\ holds the mailbox)\n"
     "  --json      the summary as one JSON object\n"
     "  --quiet     print nothing but errors\n"
     "  --backup    keep the old store and index as <mailbox>.mbx.bak-YYYYMMDD-HHMMSS and\n"
     "              <mailbox>.idx.bak-YYYYMMDD-HHMMSS (hard links: no copy) before replacing them\n"
     "Exit status: 0 the repaired files are in place, 1 nothing was replaced (the reason is on\n"
     "standard error), 2 bad usage.\n",
     RunRepair},
    {"check", "[--dir DIR] [--json] [--details [--max N]]",
     "what a repair would do, without writing anything (a dry run of the same scan and merge)",
     "  --dir DIR   the mail client's program folder\n"
     "  --json      the figures as one JSON object\n"
     "  --details   also what is damaged where: each finding with its byte offset in the store\n"
     "              and its message number (\"problems\" in the JSON object)\n"
     "  --max N     list at most N findings of each kind (default 20); counts are complete\n"
     "Exit status: 0 the index matches the store, 3 a repair is recommended, 1 the check failed\n"
     "(no profile or store, files that cannot be read), 2 bad usage.\n",
     RunCheck},
    {"encode", "METHOD [--chars N] [--suppress-crlf] [--string]",
     "encode standard input to standard output with a transfer encoding",
     "  METHOD            none, quoted-printable, base64, uuencode or 8bit\n"
     "  --chars N         characters per line (default 76)\n"
     "  --suppress-crlf   no line breaks\n"
     "  --string          the encoder's string form\n"
     "Exit status: 0 success, 1 failure, 2 bad usage.\n",
     RunEncode},
    {"decode", "METHOD", "decode standard input to standard output",
     "  METHOD   none, quoted-printable, base64, uuencode or 8bit\n"
     "Exit status: 0 success, 1 the input cannot be decoded (the reason on standard error),\n"
     "2 bad usage.\n",
     RunDecode},
    {"preferred", "", "print the transfer encoding chosen for standard input",
     "Exit status: 0 success, 1 failure, 2 bad usage.\n", RunPreferred},
    {"dump", "FILE", "print a component stream file (an index, a profile) as text",
     "Exit status: 0 success, 1 the file cannot be read whole (what was read is printed),\n"
     "2 bad usage.\n",
     RunDump},
    {"message", "FILE [--now YYYY-MM-DDTHH:MM:SS] [--tz ZONE]",
     "parse one message file and print its header fields and body parts as JSON",
     "  --now T     the current time the parser uses\n"
     "  --tz ZONE   the time zone of local times\n"
     "Exit status: 0 success, 1 failure, 2 bad usage.\n",
     RunMessage},
};

const Command* Find(const std::string& name) {
  for (const auto& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

void PrintHelp(std::FILE* out) {
  std::fprintf(out, "usage: qvrepair-cli COMMAND [ARGS]\n\ncommands:\n");
  for (const auto& c : kCommands)
    std::fprintf(out, "  %s %s\n      %s\n", c.name, c.usage, c.summary);
  std::fprintf(
      out,
      "\n'qvrepair-cli help COMMAND' or 'qvrepair-cli COMMAND --help' describes a command.\n"
      "Exit status: 0 success, 1 failure, 2 bad usage (check: 3 when a repair is\n"
      "recommended). Errors go to standard error.\n");
}

void PrintCommandHelp(const Command& c) {
  std::printf("usage: qvrepair-cli %s %s\n%s\n\n%s", c.name, c.usage, c.summary, c.help);
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
  if (name == "--help" || name == "-h" || (name == "help" && argc == 2)) {
    PrintHelp(stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("qvrepair-cli %s\n", QV_VERSION);
    return 0;
  }
  if (name == "help") {
    const Command* c = argc == 3 ? Find(argv[2]) : nullptr;
    if (!c) return UsageError("help: unknown command (see qvrepair-cli --help)");
    PrintCommandHelp(*c);
    return 0;
  }
  const Command* c = Find(name);
  if (!c) return UsageError("unknown command '" + name + "' (see qvrepair-cli --help)");
  Args args(argv + 2, argv + argc);
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      PrintCommandHelp(*c);
      return 0;
    }
  }
  try {
    return c->run(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
