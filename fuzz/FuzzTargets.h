// The fuzz targets as plain functions, so that the libFuzzer programs and the regression test of
// the normal suite run the same code on an input. Each target feeds the bytes to one input
// surface, accepts the failures that surface documents (the typed exceptions of qv::Exception)
// and checks an invariant where one exists. A broken invariant throws FuzzInvariantBroken, which
// no target catches: libFuzzer reports it as a crash, a test as a failure.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qv::fuzz {

class FuzzInvariantBroken : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

[[noreturn]] inline void Broken(const std::string& what) {
  throw FuzzInvariantBroken(what);
}
inline void Check(bool holds, const char* what) {
  if (!holds) Broken(what);
}

struct FuzzTarget {
  const char* name;  // also the folder of its seeds and of its regression inputs
  void (*run)(std::string_view input);
};

// Every target, in the order the run script takes them.
std::span<const FuzzTarget> FuzzTargets();
// The target of that name, or null.
const FuzzTarget* FindFuzzTarget(std::string_view name);

// The targets.
void FuzzComponentMailbox(std::string_view input);  // index bytes into TqvMailBox
void FuzzComponentProfile(std::string_view input);  // profile bytes into TqvProfile
void FuzzStreamTree(std::string_view input);        // any component stream, as `dump` reads it
void FuzzLoadMessage(std::string_view input);       // one message, split as the scan splits it
void FuzzStoreScan(std::string_view input);         // a whole store through a repair run
void FuzzDatePattern(std::string_view input);       // ParseDateByPattern and separator lines
void FuzzDecodeQuotedPrintable(std::string_view input);
void FuzzDecodeBase64(std::string_view input);
void FuzzDecodeUU(std::string_view input);
void FuzzHeaderText(std::string_view input);          // DecodeHeaderText and the address routines
void FuzzMailDate(std::string_view input);            // ParseMailDate and ParseMailTime
void FuzzReplacementJournal(std::string_view input);  // the next start after a crash
void FuzzExportMessage(std::string_view input);       // an export's mbox lines and folder names

}  // namespace qv::fuzz
