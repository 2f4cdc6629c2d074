// The rules both dialogs keep through the controller: pending messages at most every 16 ms, every
// exception reported as a beep and an error box, one run after the start-up checks, and no close
// during it.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "repair/DialogController.h"
#include "repair/RepairFixture.h"

namespace qv::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class DialogControllerTest : public RepairFixture {
 protected:
  steady_clock::time_point now_{};
};

TEST_F(DialogControllerTest, PendingMessagesRunAtMostOncePerInterval) {
  DialogController c(fake_.services(), view_, registry_, [this] { return now_; });
  // (milliseconds since the first call, whether the messages run then)
  const std::pair<int, bool> calls[] = {{0, true},   {5, false},  {15, false}, {16, true},
                                        {20, false}, {31, false}, {32, true},  {500, true}};
  int due = 0;
  for (const auto& [at, expected] : calls) {
    now_ = steady_clock::time_point{} + std::chrono::hours(1) + milliseconds(at);
    EXPECT_EQ(c.PumpDue(), expected) << at;
    due += expected;
  }
  EXPECT_EQ(c.Pumps(), due);
}

TEST_F(DialogControllerTest, EveryExceptionBecomesTheBeepAndTheErrorBox) {
  DialogController c(fake_.services(), view_, registry_);
  c.Guarded([] { throw std::runtime_error("Disk gone."); });
  c.Guarded([] { throw EWriteError("Stream write error"); });
  c.Guarded([] { throw 42; });  // not even an exception class
  EXPECT_EQ(view_.errors,
            (std::vector<std::string>{"Disk gone.", "Stream write error", "Unknown error."}));
  EXPECT_EQ(fake_.beeper.beeps, 3);
  EXPECT_EQ(view_.beepsAtErrors, 3);
}

TEST_F(DialogControllerTest, OneRunAfterTheStartUpChecksAndNoCloseDuringIt) {
  WriteIndex({});
  WriteFile(File("mailbox.mbx"), "From a Mon Jan 05 10:00:00 2004\n\nx\n");
  DialogController c(fake_.services(), view_, registry_);
  c.Form().SetAppDir(dir_.string());
  c.Button1Click();  // before the start-up checks: nothing
  EXPECT_EQ(c.Form().CurrentState(), TForm1::State::Ready);
  EXPECT_EQ(view_.processed, 0);
  EXPECT_TRUE(c.Start());
  EXPECT_FALSE(c.Start());

  int refusedDuringRun = 0;
  view_.onProcess = [&] {
    refusedDuringRun += !c.Close();
    refusedDuringRun += !c.MayEndSession();
  };
  c.Button1Click();
  c.Button1Click();  // one run per start
  EXPECT_TRUE(c.Form().Replaced());
  EXPECT_EQ(view_.processed, 2);
  EXPECT_EQ(refusedDuringRun, 4);
  EXPECT_EQ(c.RefusedCloses(), 4);
  EXPECT_TRUE(c.MayEndSession());
  EXPECT_TRUE(c.Close());
  EXPECT_FALSE(c.Start());  // closed
}

}  // namespace
}  // namespace qv::test
