#include "base/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Errors.h"
#include "base/StringUtils.h"

namespace qv {

std::int64_t TStream::Size() {
  const std::int64_t pos = Seek(0, SeekOrigin::Current);
  const std::int64_t size = Seek(0, SeekOrigin::End);
  Seek(pos, SeekOrigin::Begin);
  return size;
}

void TStream::ReadBuffer(void* buffer, std::size_t n) {
  if (n != 0 && Read(buffer, n) != n) RaiseReadError();
}

void TStream::WriteBuffer(const void* buffer, std::size_t n) {
  if (n != 0 && Write(buffer, n) != n) RaiseWriteError();
}

void TStream::RaiseReadError() {
  throw EReadError(kStreamReadError);
}

void TStream::RaiseWriteError() {
  throw EWriteError(kStreamWriteError);
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const std::int64_t total = count;
  char buf[65536];
  while (count > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(count, sizeof buf));
    source.ReadBuffer(buf, n);
    WriteBuffer(buf, n);
    count -= static_cast<std::int64_t>(n);
  }
  return total;
}

std::string TStream::ReadRest() {
  const std::int64_t pos = Position();
  const std::int64_t size = Size();
  std::string r;
  if (size > pos) {
    r.resize(static_cast<std::size_t>(size - pos));
    std::size_t got = 0;
    while (got < r.size()) {
      const std::size_t n = Read(r.data() + got, r.size() - got);
      if (n == 0) break;
      got += n;
    }
    r.resize(got);
  }
  return r;
}

namespace {
// Reading and seeking over bytes held in memory, shared by the memory and view streams.
std::size_t ReadAt(std::string_view data, std::size_t& pos, void* buffer, std::size_t n) {
  if (pos >= data.size()) return 0;
  n = std::min(n, data.size() - pos);
  std::memcpy(buffer, data.data() + pos, n);
  pos += n;
  return n;
}

std::int64_t SeekIn(std::size_t size, std::size_t& pos, std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == SeekOrigin::Current) base = static_cast<std::int64_t>(pos);
  if (origin == SeekOrigin::End) base = static_cast<std::int64_t>(size);
  const std::int64_t p = base + offset;
  pos = p < 0 ? 0 : static_cast<std::size_t>(p);
  return static_cast<std::int64_t>(pos);
}
}  // namespace

// --- memory stream -------------------------------------------------------------------------

std::size_t TMemoryStream::Read(void* buffer, std::size_t n) {
  return ReadAt(data_, pos_, buffer, n);
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t n) {
  if (n == 0) return 0;
  if (pos_ == data_.size()) {
    data_.append(static_cast<const char*>(buffer), n);
  } else {
    if (pos_ + n > data_.size()) data_.resize(pos_ + n);
    std::memcpy(data_.data() + pos_, buffer, n);
  }
  pos_ += n;
  return n;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  return SeekIn(data_.size(), pos_, offset, origin);
}

void TMemoryStream::SetSize(std::int64_t size) {
  const auto n = static_cast<std::size_t>(std::max<std::int64_t>(size, 0));
  data_.resize(n);
  if (pos_ > n) pos_ = n;
}

// --- view stream ---------------------------------------------------------------------------

std::size_t TViewStream::Read(void* buffer, std::size_t n) {
  return ReadAt(data_, pos_, buffer, n);
}

std::int64_t TViewStream::Seek(std::int64_t offset, SeekOrigin origin) {
  return SeekIn(data_.size(), pos_, offset, origin);
}

void TViewStream::SetSize(std::int64_t) {
  throw EWriteError(kStreamWriteError);
}

// --- file stream ---------------------------------------------------------------------------

int FileSeek64(std::FILE* f, std::int64_t offset, int whence) {
#ifdef _WIN32
  return ::_fseeki64(f, offset, whence);
#else
  return ::fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

std::int64_t FileTell64(std::FILE* f) {
#ifdef _WIN32
  return ::_ftelli64(f);
#else
  return static_cast<std::int64_t>(::ftello(f));
#endif
}

TFileStream::TFileStream(const std::string& fileName, FileMode mode) : name_(fileName) {
  const char* how = mode == FileMode::OpenRead        ? "rb"
                    : mode == FileMode::OpenReadWrite ? "r+b"
                                                      : "w+b";
  file_ = std::fopen(fileName.c_str(), how);
  if (!file_) {
    const std::string reason = std::strerror(errno);
    if (mode == FileMode::Create)
      throw EFCreateError(FormatMessage(kFCreateError, {fileName, reason}));
    throw EFOpenError(FormatMessage(kFOpenError, {fileName, reason}));
  }
}

TFileStream::TFileStream(std::FILE* file, std::string fileName)
    : file_(file), name_(std::move(fileName)) {}

TFileStream::~TFileStream() {
  if (file_) std::fclose(file_);
}

void TFileStream::Fail(bool writing, int error) {
  const std::string detail = FileDetail(name_, std::strerror(error != 0 ? error : EIO));
  if (writing) throw EWriteError(kStreamWriteError, detail);
  throw EInOutError(kStreamReadError, detail);
}

void TFileStream::RaiseReadError() {
  // A failing read raised already (Read): a short one found the file's end.
  throw EReadError(kStreamReadError, FileDetail(name_, "the file ends too soon"));
}

void TFileStream::RaiseWriteError() {
  Fail(true, last_error_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t n) {
  if (!file_ || n == 0) return 0;
  if (last_was_write_) {
    std::fflush(file_);
    last_was_write_ = false;
  }
  errno = 0;
  const std::size_t got = std::fread(buffer, 1, n, file_);
  // A failing device must not look like the end of the file.
  if (got < n && std::ferror(file_)) Fail(false, errno);
  return got;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t n) {
  if (!file_ || n == 0) return 0;
  if (!last_was_write_) {
    // Switching from reading to writing needs a positioning call on a C stream.
    FileSeek64(file_, 0, SEEK_CUR);
    last_was_write_ = true;
  }
  errno = 0;
  const std::size_t put = std::fwrite(buffer, 1, n, file_);
  if (put < n) last_error_ = errno;
  return put;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  if (!file_) return 0;
  const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                     : origin == SeekOrigin::Current ? SEEK_CUR
                                                     : SEEK_END;
  if (!(origin == SeekOrigin::Current && offset == 0)) {
    if (FileSeek64(file_, offset, whence) != 0) return FileTell64(file_);
    last_was_write_ = false;
  }
  return FileTell64(file_);
}

std::int64_t TFileStream::Size() {
  if (!file_) return 0;
  std::fflush(file_);
  const std::int64_t pos = FileTell64(file_);
  FileSeek64(file_, 0, SEEK_END);
  const std::int64_t size = FileTell64(file_);
  FileSeek64(file_, pos, SEEK_SET);
  last_was_write_ = false;
  return size;
}

void TFileStream::SetSize(std::int64_t size) {
  // Growing is done by writing; truncating a C stream needs the operating system, which the
  // platform layer provides. Only a size equal to the current one is accepted here.
  if (size != Size()) throw EWriteError(kStreamWriteError);
}

void TFileStream::SetBufferSize(std::size_t size) {
  if (!file_ || size == 0) return;
  // The C library takes the size only together with a buffer of the caller's.
  auto buffer = std::make_unique<char[]>(size);
  if (std::setvbuf(file_, buffer.get(), _IOFBF, size) == 0) buffer_ = std::move(buffer);
}

void TFileStream::Flush() {
  errno = 0;
  if (file_ && std::fflush(file_) != 0) Fail(true, errno);
}

void TFileStream::Close() {
  if (!file_) return;
  errno = 0;
  const bool flushed = std::fflush(file_) == 0;
  int error = flushed ? 0 : errno;
  errno = 0;
  const bool closed = std::fclose(file_) == 0;
  if (!closed && error == 0) error = errno;
  file_ = nullptr;
  if (!flushed || !closed) Fail(true, error);
}

}  // namespace qv
