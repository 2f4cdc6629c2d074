#include "StandardStreams.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/Errors.h"
#include "platform/SystemPlatform.h"

namespace qv::cli {

namespace {
constexpr std::size_t kBlock = 1 << 16;
}

// --- handle stream -----------------------------------------------------------------------------

HandleStream::HandleStream(std::FILE* file, bool owned)
    : file_(file), owned_(owned), base_(std::max<std::int64_t>(FileTell64(file), 0)) {}

HandleStream::~HandleStream() {
  if (owned_) std::fclose(file_);
}

std::unique_ptr<HandleStream> HandleStream::Temporary() {
  return std::make_unique<HandleStream>(platform::SystemConsole().TemporaryFile(), true);
}

std::size_t HandleStream::Read(void* buffer, std::size_t n) {
  if (n == 0) return 0;
  const std::size_t got = std::fread(buffer, 1, n, file_);
  // A failing device must not look like the end of the file.
  if (got < n && std::ferror(file_)) throw EReadError(kStreamReadError);
  return got;
}

std::size_t HandleStream::Write(const void* buffer, std::size_t n) {
  return n == 0 ? 0 : std::fwrite(buffer, 1, n, file_);
}

std::int64_t HandleStream::Seek(std::int64_t offset, SeekOrigin origin) {
  if (!(origin == SeekOrigin::Current && offset == 0)) {
    const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                       : origin == SeekOrigin::Current ? SEEK_CUR
                                                       : SEEK_END;
    FileSeek64(file_, origin == SeekOrigin::Begin ? base_ + offset : offset, whence);
  }
  return FileTell64(file_) - base_;
}

std::int64_t HandleStream::Size() {
  const std::int64_t pos = FileTell64(file_);
  FileSeek64(file_, 0, SEEK_END);
  const std::int64_t end = FileTell64(file_);
  FileSeek64(file_, pos, SEEK_SET);
  return end - base_;
}

void HandleStream::SetSize(std::int64_t size) {
  // Only the size it has: a C stream cannot be truncated.
  if (size != Size()) throw EWriteError(kStreamWriteError);
}

// --- forward input -----------------------------------------------------------------------------

std::size_t ForwardInput::ReadInput(char* buffer, std::size_t n) {
  if (ended_ || n == 0) return 0;
  const std::size_t got = std::fread(buffer, 1, n, stdin);
  if (got < n) {
    if (std::ferror(stdin)) throw EReadError(kStreamReadError);
    ended_ = true;
  }
  return got;
}

std::size_t ForwardInput::Read(void* buffer, std::size_t n) {
  auto* out = static_cast<char*>(buffer);
  const std::size_t held = std::min(n, ahead_.size() - ahead_used_);
  std::memcpy(out, ahead_.data() + ahead_used_, held);
  ahead_used_ += held;
  if (ahead_used_ == ahead_.size() && !ahead_.empty()) {
    ahead_.clear();
    ahead_.shrink_to_fit();
    ahead_used_ = 0;
  }
  const std::size_t got = held + ReadInput(out + held, n - held);
  position_ += static_cast<std::int64_t>(got);
  return got;
}

std::int64_t ForwardInput::Seek(std::int64_t, SeekOrigin) {
  return position_;
}

std::int64_t ForwardInput::Size() {
  if (position_ == 0 && ahead_.empty() && !ended_) {
    ahead_.resize(kBlock);
    ahead_.resize(ReadInput(ahead_.data(), kBlock));
  }
  return position_ + static_cast<std::int64_t>(ahead_.size() - ahead_used_);
}

void ForwardInput::SetSize(std::int64_t) {
  throw EWriteError(kStreamWriteError);
}

std::unique_ptr<TStream> OpenStandardInput(bool readTwice) {
  const std::int64_t start = FileTell64(stdin);
  if (start >= 0 && FileSeek64(stdin, 0, SEEK_END) == 0) {
    const std::int64_t end = FileTell64(stdin);
    FileSeek64(stdin, start, SEEK_SET);
    // An empty file, or a device that reports no size, is read as it comes.
    if (end > start) return std::make_unique<HandleStream>(stdin, false);
  }
  if (!readTwice) return std::make_unique<ForwardInput>();
  std::unique_ptr<HandleStream> copy = HandleStream::Temporary();
  ForwardInput input;
  const std::unique_ptr<char[]> buffer(new char[kBlock]);
  for (std::size_t n; (n = input.Read(buffer.get(), kBlock)) > 0;)
    copy->WriteBuffer(buffer.get(), n);
  copy->SetPosition(0);
  return copy;
}

// --- standard output ---------------------------------------------------------------------------

std::size_t StandardOutput::Write(const void* buffer, std::size_t n) {
  if (n == 0) return 0;
  const std::size_t written = std::fwrite(buffer, 1, n, stdout);
  if (written < n) failed_ = true;
  position_ += static_cast<std::int64_t>(written);
  return written;
}

void StandardOutput::SetSize(std::int64_t size) {
  if (size != position_) throw EWriteError(kStreamWriteError);
}

bool StandardOutput::Finish() {
  if (std::fflush(stdout) != 0) failed_ = true;
  return !failed_;
}

// --- spool -------------------------------------------------------------------------------------

std::size_t OutputSpool::Write(const void* buffer, std::size_t n) {
  if (!file_ && memory_.size() + n > kMemoryLimit) {
    file_ = HandleStream::Temporary();
    file_->WriteBuffer(memory_.data(), memory_.size());
    std::string().swap(memory_);
  }
  std::size_t written = n;
  if (file_)
    written = file_->Write(buffer, n);
  else
    memory_.append(static_cast<const char*>(buffer), n);
  size_ += static_cast<std::int64_t>(written);
  return written;
}

void OutputSpool::SetSize(std::int64_t size) {
  if (size != size_) throw EWriteError(kStreamWriteError);
}

void OutputSpool::CopyTo(TStream& destination) {
  if (!file_) {
    destination.WriteBuffer(memory_.data(), memory_.size());
    return;
  }
  file_->SetPosition(0);
  const std::unique_ptr<char[]> buffer(new char[kBlock]);
  for (std::size_t n; (n = file_->Read(buffer.get(), kBlock)) > 0;)
    destination.WriteBuffer(buffer.get(), n);
}

}  // namespace qv::cli
