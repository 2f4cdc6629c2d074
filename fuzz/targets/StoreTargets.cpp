// The store scan with indexing, over files as the utility reads them, and the date parser that
// recognises separator lines.
#include <memory>

#include "FuzzTargets.h"
#include "base/DateTime.h"
#include "base/Stream.h"
#include "repair/DatePattern.h"
#include "repair/Findings.h"
#include "repair/Repair.h"
#include "repair/StoreReader.h"
#include "support/FixedClock.h"
#include "targets/StoreCheck.h"

namespace qv::fuzz {

void FuzzStoreScan(std::string_view input) {
  // One scratch folder per process, emptied for every input.
  static const auto folder = std::make_unique<ScratchProgramFolder>("scan");
  folder->Prepare(input);
  // A dry run first, with the findings of check --details: it writes nothing and finds what the
  // repair then finds.
  Findings findings;
  const RepairOutcome check = RunRepair(folder->Dir(), true, &findings);
  CheckFindings(input, check, findings);
  Check(check.fileSteps == 0, "a dry run asked the file layer to change something");
  {
    TFileStream unchanged(folder->StorePath(), FileMode::OpenRead);
    Check(unchanged.ReadRest() == input, "a dry run changed the store");
  }
  const RepairOutcome outcome = RunRepair(folder->Dir());
  Check(check.messages == outcome.messages, "a dry run counts other messages than the repair");
  TFileStream store(folder->StorePath(), FileMode::OpenRead);
  CheckRepair(input, outcome, store.ReadRest());
}

void FuzzDatePattern(std::string_view input) {
  test::FixedClock clock(EncodeDateTime(2026, 12, 8, 14, 23, 50));
  const platform::LocaleNames& names = platform::EnglishNames();
  if (input.empty()) return;
  // An even first byte: the separator's pattern over the rest. An odd one: a pattern up to the
  // first LF, then the text.
  const bool separator = (static_cast<unsigned char>(input[0]) & 1) == 0;
  std::string_view rest = input.substr(1);
  std::string_view pattern = SeparatorPattern;
  if (!separator) {
    const std::size_t lf = rest.find('\n');
    if (lf == std::string_view::npos) return;
    pattern = rest.substr(0, lf);
    rest = rest.substr(lf + 1);
  }
  const TDateTime d = ParseDateByPattern(pattern, rest, names, clock);
  (void)IsSeparatorLine(rest, names, clock);
  if (separator && d > 0) {
    // A date the separator pattern read is one a repaired store's separator writes back. (Before
    // 30 December 1899 the parser adds the time of day to a negative day count, as the mail
    // client's dates do, so such a value stands for another time; only the sign matters there.)
    const std::string text = FormatSeparatorDate(d, names);
    Check(ParseDateByPattern(SeparatorPattern, text, names, clock) == d,
          "a separator date does not read back as written");
    Check(IsSeparatorLine("From a@b " + text, names, clock),
          "a written separator line is not recognised");
  }
}

}  // namespace qv::fuzz
