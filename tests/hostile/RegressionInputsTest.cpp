// Every input kept for a fuzz target (the hand-made seeds in fuzz/seeds/<target>/ and the inputs
// that once broke a target in tests/regressions/<target>/) runs through that target's code and
// invariants, so a fault the fuzzers found stays fixed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "FuzzTargets.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

TEST(RegressionInputs, EveryKeptInputPassesItsFuzzTarget) {
  int inputs = 0;
  for (const fuzz::FuzzTarget& target : fuzz::FuzzTargets()) {
    for (const fs::path& root : {fs::path(QV_SOURCE_DIR) / "fuzz" / "seeds",
                                 fs::path(QV_SOURCE_DIR) / "tests" / "regressions"}) {
      const fs::path dir = root / target.name;
      if (!fs::is_directory(dir)) continue;
      for (const auto& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        ++inputs;
        try {
          target.run(bytes.str());
        } catch (const std::exception& e) {
          ADD_FAILURE() << entry.path() << ": " << e.what();
        }
      }
    }
  }
  EXPECT_GT(inputs, 0);
}

// A target that does nothing on the empty input is still run on it.
TEST(RegressionInputs, EveryTargetTakesTheEmptyInput) {
  for (const fuzz::FuzzTarget& target : fuzz::FuzzTargets())
    EXPECT_NO_THROW(target.run("")) << target.name;
}

// Every moment at which a replacement can be interrupted, with every kind of damage, and the
// journal whole, cut short, replaced or with a number changed: the next start settles it safely.
TEST(RegressionInputs, EveryInterruptedReplacementIsSettledSafely) {
  const fuzz::FuzzTarget* target = fuzz::FindFuzzTarget("replacement_journal");
  ASSERT_NE(target, nullptr);
  for (int how = 0; how < 128; ++how)
    for (const std::string rest : {"", "\x05", "\x40", "qvrepair replacement 1\n", "999"})
      EXPECT_NO_THROW(target->run(std::string(1, static_cast<char>(how)) + rest)) << how;
}

}  // namespace
}  // namespace qv::test
