// qvrepair-cli check and the repair's summary as programs over copies of the bundled sample: the
// check leaves every byte and name as it was, its figures are the repair's, and --backup shares
// the old files' data.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/Files.h"
#include "support/Process.h"
#include "support/Scratch.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#if !defined(QV_CLI_PATH) || !defined(QV_SAMPLE_DIR)
#error "the command line and the sample are given by the build"
#endif

namespace qv::test {
namespace {

namespace fs = std::filesystem;

class Check : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = FreshFolder("qv-check");
    fs::copy(QV_SAMPLE_DIR, App(), fs::copy_options::recursive);
  }
  void TearDown() override { fs::remove_all(base_); }

  fs::path App() const { return base_ / "app"; }
  fs::path Folder() const { return App() / "profile" / "default"; }

  int Cli(std::vector<std::string> args) {
    args.insert(args.begin(), QV_CLI_PATH);
    const int status = RunProgram(args, (base_ / "out").string(), (base_ / "err").string());
    out_ = ReadFile(base_ / "out");
    err_ = ReadFile(base_ / "err");
    return status;
  }
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(Folder()))
      files[e.path().filename().string()] = ReadFile(e.path());
    return files;
  }
  // The lines of a JSON object that both commands print, without those of the repair alone.
  static std::string Common(const std::string& json) {
    std::size_t at = json.find(",\n  \"seconds\"");
    if (at == std::string::npos) at = json.rfind("\n}");
    return json.substr(0, at);
  }

  fs::path base_;
  std::string out_, err_;
};

TEST_F(Check, WritesNothingAndAgreesWithTheRepair) {
  // Leftovers of an earlier run and a journal of an interrupted one are reported, not touched.
  WriteFile(Folder() / "mailbox.xyz", "half a store");
  WriteFile(Folder() / "mailbox.idx.journal", "qvrepair replacement 1\n");
  const auto before = Snapshot();
  EXPECT_EQ(Cli({"check", "--dir", App().string(), "--json"}), 1)
      << err_;  // the repair would refuse
  EXPECT_EQ(Snapshot(), before);
  EXPECT_NE(out_.find("\"interrupted_replacement\": true"), std::string::npos) << out_;
  fs::remove(Folder() / "mailbox.xyz");
  fs::remove(Folder() / "mailbox.idx.journal");

  ASSERT_EQ(Cli({"check", "--dir", App().string(), "--json"}), 3) << err_;
  const std::string check = out_;
  EXPECT_NE(check.find("\"messages\": 40,"), std::string::npos) << check;
  EXPECT_NE(check.find("\"index_matches_store\": false,"), std::string::npos);

#ifndef _WIN32
  struct stat oldStore {};
  ASSERT_EQ(::stat((Folder() / "mailbox.mbx").string().c_str(), &oldStore), 0);
#endif
  ASSERT_EQ(Cli({"repair", "--dir", App().string(), "--json", "--backup"}), 0) << err_;
  EXPECT_EQ(Common(out_), Common(check));
  EXPECT_NE(out_.find("\"replaced\": true"), std::string::npos);
  EXPECT_EQ(err_, "");
#ifndef _WIN32
  // The backup is the old store's data itself, not a copy.
  bool found = false;
  for (const auto& e : fs::directory_iterator(Folder())) {
    if (e.path().filename().string().rfind("mailbox.mbx.bak-", 0) != 0) continue;
    struct stat backup {};
    ASSERT_EQ(::stat(e.path().string().c_str(), &backup), 0);
    EXPECT_EQ(backup.st_ino, oldStore.st_ino);
    found = true;
  }
  EXPECT_TRUE(found);
#endif

  EXPECT_EQ(Cli({"check", "--dir", App().string()}), 0) << out_ << err_;
  EXPECT_NE(out_.find("index matches store      yes"), std::string::npos) << out_;
}

TEST_F(Check, ExitStatusesAndHelp) {
  EXPECT_EQ(Cli({"check", "--dir", (base_ / "none").string()}), 1);
  EXPECT_NE(err_.find("Error: "), std::string::npos);
  // A repair that would refuse is not recommended: why it would refuse is said instead.
  const std::string store = ReadFile(Folder() / "mailbox.mbx");
  WriteFile(Folder() / "mailbox.mbx", "no separator\n");
  EXPECT_EQ(Cli({"check", "--dir", App().string()}), 1);
  EXPECT_NE(err_.find("Error: No messages were found"), std::string::npos) << err_;
  WriteFile(Folder() / "mailbox.mbx", store);
  EXPECT_EQ(Cli({"check", "--bogus"}), 2);
  for (const char* command :
       {"repair", "check", "encode", "decode", "preferred", "dump", "message"}) {
    EXPECT_EQ(Cli({command, "--help"}), 0) << command;
    EXPECT_NE(out_.find("Exit status:"), std::string::npos) << command;
  }
  EXPECT_EQ(Cli({"help", "check"}), 0);
  EXPECT_NE(out_.find("3 a repair is recommended"), std::string::npos);
  EXPECT_EQ(Cli({"--version"}), 0);
  EXPECT_EQ(out_.rfind("qvrepair-cli ", 0), 0u);
}

}  // namespace
}  // namespace qv::test
