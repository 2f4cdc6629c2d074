// qvrepair-cli: the repair without a window, and diagnostic commands over the same library.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "Commands.h"
#include "platform/SystemPlatform.h"

namespace qv::cli {

namespace {
const Command kCommands[] = {
    {"repair", "[--dir DIR] [--json] [--quiet] [--backup] [--keep-current]",
     "repair the mailbox of the program folder DIR (default: the folder of this program)",
     "  --dir DIR        the mail client's program folder (its profile\\default\\ holds the\n"
     "                   mailbox)\n"
     "  --json           the summary as one JSON object\n"
     "  --quiet          print nothing but errors\n"
     "  --backup         keep the old store and index as <mailbox>.mbx.bak-YYYYMMDD-HHMMSS and\n"
     "                   <mailbox>.idx.bak-YYYYMMDD-HHMMSS (hard links: no copy; -2, -3, ...\n"
     "                   when the name is taken) before replacing them\n"
     "  --keep-current   repair nothing: settle an interrupted repair by keeping the store and\n"
     "                   index as they are; its temporary files are removed, an old or repaired\n"
     "                   store that is not the store in place is kept as <name>.bak-...\n"
     "Exit status: 0 the repaired files are in place (with --keep-current: nothing is left to\n"
     "settle and nothing went wrong as they were put in place), 1 nothing was replaced, the\n"
     "repair left files to settle, or it reported what went wrong as it put them in place (the\n"
     "reason is on standard error), 2 bad usage.\n",
     RunRepair},
    {"check", "[--dir DIR] [--json] [--details [--max N]]",
     "what a repair would do, without writing anything (a dry run of the same scan and merge)",
     "  --dir DIR   the mail client's program folder\n"
     "  --json      the figures as one JSON object\n"
     "  --details   also what is damaged where: each finding with its byte offset in the store\n"
     "              and its message number (\"problems\" in the JSON object)\n"
     "  --max N     list at most N findings of each kind (default 20); counts are complete\n"
     "Exit status: 0 the index matches the store, 3 a repair is recommended, 1 the check failed\n"
     "(no profile or store, files that cannot be read) or a repair would refuse now (why, on\n"
     "standard error), 2 bad usage.\n",
     RunCheck},
    {"export", "[--dir DIR] --to maildir|mbox OUT [--json] [--quiet]",
     "write every message, in its folder and with its read state as a repair would file it, to a "
     "new Maildir or mbox tree",
     "  --dir DIR          the mail client's program folder (nothing in it is written)\n"
     "  --to maildir OUT   a Maildir++ tree in OUT: the Inbox in OUT/cur, a folder B below A in\n"
     "                     OUT/.A.B/cur, read messages with the flag S\n"
     "  --to mbox OUT      one mboxrd file per folder, as a desktop client's local folders:\n"
     "                     OUT/Inbox, OUT/A, and B below A in OUT/A.sbd/B\n"
     "  --json             the summary as one JSON object\n"
     "  --quiet            print nothing but errors\n"
     "OUT must not exist or be an empty folder, outside the program folder. Without an index "
     "every\n"
     "message goes to the Inbox, unread.\n"
     "Exit status: 0 every message was written, 1 the export failed or was refused (the reason on\n"
     "standard error; the summary says how many messages were written completely), 2 bad usage.\n",
     RunExport},
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

qv::platform::SystemConsole& StandardConsole() {
  static qv::platform::SystemConsole console;
  return console;
}

void PrintCommandHelp(const Command& c) {
  std::printf("usage: qvrepair-cli %s %s\n%s\n\n%s", c.name, c.usage, c.summary, c.help);
}
}  // namespace

int UsageError(const std::string& text) {
  Print(stderr, "qvrepair-cli: " + text + "\n");
  return 2;
}

bool Print(std::FILE* stream, std::string_view text) {
  return StandardConsole().Write(stream, text);
}

}  // namespace qv::cli

int main(int argc, char** argv) {
  using namespace qv::cli;
  qv::platform::Console& console = StandardConsole();
  console.SetUpStandardStreams();
  const std::vector<std::string> arguments = qv::platform::ProgramArguments(argc, argv);
  if (arguments.size() < 2) {
    PrintHelp(stderr);
    return 2;
  }
  const std::string& name = arguments[1];
  if (console.AsksForHelp(name) || (name == "help" && arguments.size() == 2)) {
    PrintHelp(stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("qvrepair-cli %s\n", QV_VERSION);
    return 0;
  }
  if (name == "help") {
    const Command* c = arguments.size() == 3 ? Find(arguments[2]) : nullptr;
    if (!c) return UsageError("help: unknown command (see qvrepair-cli --help)");
    PrintCommandHelp(*c);
    return 0;
  }
  const Command* c = Find(name);
  if (!c) return UsageError("unknown command '" + name + "' (see qvrepair-cli --help)");
  const Args args(arguments.begin() + 2, arguments.end());
  for (const std::string& a : args) {
    if (console.AsksForHelp(a)) {
      PrintCommandHelp(*c);
      return 0;
    }
  }
  try {
    return c->run(args);
  } catch (const std::exception& e) {
    Print(stderr, std::string(e.what()) + "\n");
    return 1;
  }
}
