// A folder of its own for each test: fresh and empty when the test starts, removed when it ends.
// Its name holds the process id and the test's name, so test programs run side by side never
// share one.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>

#include "support/Process.h"

namespace qv::test {

inline std::filesystem::path FreshFolder(const std::string& prefix) {
  const auto dir = std::filesystem::temp_directory_path() /
                   (prefix + "-" + std::to_string(ProcessId()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

class ScratchFolderTest : public ::testing::Test {
 protected:
  explicit ScratchFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}
  void SetUp() override { dir_ = FreshFolder(prefix_); }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  // A file of the folder holding `content`; its path.
  std::string Make(const char* name, const char* content) {
    const auto p = (dir_ / name).string();
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

  std::filesystem::path dir_;

 private:
  std::string prefix_;
};

}  // namespace qv::test
