#include "base/Stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "base/Errors.h"
#include "support/TestStreams.h"

namespace qv {
namespace {

TEST(MemoryStream, ReadWriteSeekKeepPositionAndSize) {
  TMemoryStream s;
  s.WriteString("hello");
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(s.Size(), 5);
  s.SetPosition(1);
  s.WriteString("ipp");
  EXPECT_EQ(s.DataString(), "hippo");
  s.Seek(-2, SeekOrigin::End);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 2u);
  EXPECT_EQ(std::string(buf, 2), "po");
  EXPECT_EQ(s.Read(buf, 8), 0u);
  // Writing beyond the end fills the gap with zero bytes.
  s.SetPosition(7);
  s.WriteString("!");
  EXPECT_EQ(s.DataString(), std::string("hippo\0\0!", 8));
  s.SetSize(2);
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(s.DataString(), "hi");
}

TEST(MemoryStream, ShortTransfersFailWithTheStreamMessages) {
  TMemoryStream s(std::string("abc"));
  char buf[4];
  try {
    s.ReadBuffer(buf, 4);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  test::FailingStream f(2);
  try {
    f.WriteString("abc");
    FAIL();
  } catch (const EWriteError& e) {
    EXPECT_STREQ(e.what(), "Stream write error");
  }
}

TEST(MemoryStream, CopyFromZeroCopiesTheWholeSource) {
  TMemoryStream src(std::string("0123456789"));
  src.SetPosition(7);
  TMemoryStream dst;
  EXPECT_EQ(dst.CopyFrom(src, 0), 10);
  EXPECT_EQ(dst.DataString(), "0123456789");
  src.SetPosition(2);
  TMemoryStream part;
  part.CopyFrom(src, 3);
  EXPECT_EQ(part.DataString(), "234");
  test::TrickleStream trickle(std::string("slow"));
  EXPECT_EQ(trickle.ReadRest(), "slow");  // however little each read hands out
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qv-stream-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  std::filesystem::path dir_;
};

TEST_F(FileStreamTest, CreateTruncatesAndReadsBack) {
  const auto p = Path("a.bin");
  {
    TFileStream f(p, FileMode::Create);
    f.WriteString("first content");
  }
  {
    TFileStream f(p, FileMode::Create);
    f.WriteString("new");
    f.Close();
  }
  TFileStream r(p, FileMode::OpenRead);
  EXPECT_EQ(r.Size(), 3);
  EXPECT_EQ(r.ReadRest(), "new");
  r.SetPosition(1);
  char c;
  r.ReadBuffer(&c, 1);
  EXPECT_EQ(c, 'e');
  EXPECT_THROW(r.ReadBuffer(&c, 2), EReadError);
}

TEST_F(FileStreamTest, OpenErrorsCarryTheFileNameAndSystemText) {
  const auto missing = Path("missing.idx");
  try {
    TFileStream f(missing, FileMode::OpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + missing + "\". No such file or directory");
  }
  const auto inMissingDir = Path("no/such/dir.idx");
  try {
    TFileStream f(inMissingDir, FileMode::Create);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + inMissingDir + "\". No such file or directory");
  }
}

TEST_F(FileStreamTest, ReadAfterWriteSeesTheWrittenBytes) {
  TFileStream f(Path("rw.bin"), FileMode::Create);
  f.WriteString("abcdef");
  f.SetPosition(2);
  char buf[2];
  f.ReadBuffer(buf, 2);
  EXPECT_EQ(std::string(buf, 2), "cd");
  f.WriteString("XY");
  f.SetPosition(0);
  EXPECT_EQ(f.ReadRest(), "abcdXY");
}

TEST_F(FileStreamTest, ALargerBufferHoldsSmallWritesUntilItIsFull) {
  const auto p = Path("buffered.bin");
  TFileStream f(p, FileMode::Create);
  f.SetBufferSize(64 << 10);
  std::string expected;
  for (int i = 0; i < 100; ++i) {
    const std::string piece(static_cast<std::size_t>(100 + i), static_cast<char>('a' + i % 26));
    f.WriteString(piece);
    expected += piece;
  }
  // Under the buffer's size: nothing has reached the file yet (the default buffer is far
  // smaller).
  EXPECT_EQ(std::filesystem::file_size(p), 0u);
  const std::string big(100 << 10, 'z');  // larger than the buffer
  f.WriteString(big);
  expected += big;
  f.SetPosition(3);
  char c;
  f.ReadBuffer(&c, 1);
  EXPECT_EQ(c, 'a');
  f.Seek(0, SeekOrigin::End);
  f.WriteString("end");
  expected += "end";
  f.Close();
  TFileStream r(p, FileMode::OpenRead);
  EXPECT_EQ(r.ReadRest(), expected);
}

TEST_F(FileStreamTest, CommitReportsBytesTheDeviceRefuses) {
  // A few bytes stay in the buffer until the stream is ended: only Commit can see them fail.
  TFileStream full("/dev/full", FileMode::OpenReadWrite);
  full.WriteString("abc");
  EXPECT_THROW(full.Commit(), EWriteError);
  TFileStream f(Path("c.bin"), FileMode::Create);
  f.WriteString("kept");
  f.Commit();
  EXPECT_EQ(TFileStream(Path("c.bin"), FileMode::OpenRead).ReadRest(), "kept");
  TMemoryStream m;
  m.WriteString("x");
  m.Commit();
  EXPECT_EQ(m.DataString(), "x");
}

}  // namespace
}  // namespace qv
