// What a console program needs of the system around it: its command line, its standard streams
// (whether they reach a terminal, bytes that pass unchanged, text that shows as it was written),
// temporary files, and local time in a zone it is given. SystemPlatform.h names the real one.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace qv::platform {

// The program's arguments as main received them, its own name first, in UTF-8 (the encoding of
// file names inside the program). On Windows they come from the UTF-16 command line, split by the
// system's rules, except that a backslash before the quote that closes an argument stays a
// backslash ("C:\Mail\" is C:\Mail\, where the system's rules would make it C:\Mail" and run it
// into the next argument): no file name holds a quote.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// An object is cheap and holds no more than what one use needs (the length of the line drawn
// last): a program may make one where it needs one.
class Console {
 public:
  virtual ~Console() = default;
  // Whether an argument asks for a program's usage: "--help" and "-h", and on Windows "/?".
  virtual bool AsksForHelp(std::string_view argument) const {
    return argument == "--help" || argument == "-h";
  }
  // Sets the standard streams up for the program's whole run: bytes pass unchanged (no CR added,
  // no CTRL-Z taken as the end).
  virtual void SetUpStandardStreams() = 0;
  // Whether the stream reaches a terminal (a console window).
  virtual bool IsTerminal(std::FILE* stream) = 0;
  // Writes UTF-8 text to a stream: to a console window as the characters it stands for, anywhere
  // else as the bytes it is. False when the stream took less than all of it.
  virtual bool Write(std::FILE* stream, std::string_view text) = 0;
  // Draws the line over the terminal's current line: back to its start, the line, and what a
  // longer line drawn before left there erased.
  virtual void RedrawLine(std::FILE* stream, const std::string& line) = 0;
  // An empty temporary file for reading and writing, in the user's temporary folder, removed when
  // it is closed or the program ends. Fails with EFCreateError.
  virtual std::FILE* TemporaryFile() = 0;
  // A clock whose local time is that of a zone named as the C library names zones ("UTC",
  // "EST5EDT", and on POSIX "Europe/Berlin"), for the rest of the run.
  virtual std::unique_ptr<Clock> ZoneClock(const std::string& zone) = 0;
};

}  // namespace qv::platform
