// Byte streams: one small interface with memory and file implementations.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

enum class SeekOrigin { Begin, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to n bytes; returns how many were read (0 at the end).
  virtual std::size_t Read(void* buffer, std::size_t n) = 0;
  // Writes up to n bytes; returns how many were written.
  virtual std::size_t Write(const void* buffer, std::size_t n) = 0;
  // Moves the position and returns the new one.
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t size) = 0;

  std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(std::int64_t pos) { Seek(pos, SeekOrigin::Begin); }

  // As Read and Write, but a short transfer fails with "Stream read error" (EReadError) or
  // "Stream write error" (EWriteError).
  void ReadBuffer(void* buffer, std::size_t n);
  void WriteBuffer(const void* buffer, std::size_t n);
  void WriteString(std::string_view s) { WriteBuffer(s.data(), s.size()); }

  // Copies count bytes from source's current position; count 0 copies the whole source from its
  // start. Returns the number of bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);

  // The bytes from the current position to the end.
  std::string ReadRest();

  // Hands buffered bytes on to where the stream keeps them; a failure is an EWriteError.
  virtual void Flush() {}
  // Ends writing: everything written is handed on and the stream is closed for writing. A failure,
  // including one that only shows when the last bytes are handed on, is an EWriteError.
  virtual void Commit() {}

 protected:
  // Raise "Stream read error" / "Stream write error" after a short transfer; a stream that knows
  // more (its file, the system's reason) adds it as the error's detail.
  [[noreturn]] virtual void RaiseReadError();
  [[noreturn]] virtual void RaiseWriteError();
};

// A stream over a growable block of memory. Writing past the end extends it.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}

  std::size_t Read(void* buffer, std::size_t n) override;
  std::size_t Write(const void* buffer, std::size_t n) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;

  void Clear() {
    data_.clear();
    pos_ = 0;
  }
  const char* Memory() const noexcept { return data_.data(); }
  // The whole content as a byte string (the stream's "data string").
  const std::string& DataString() const noexcept { return data_; }
  // Hands the content over, leaving the stream empty.
  std::string TakeData() noexcept {
    pos_ = 0;
    return std::move(data_);
  }
  void Reserve(std::size_t n) { data_.reserve(n); }

 private:
  std::string data_;
  std::size_t pos_ = 0;
};

// The string stream of the toolkit is a memory stream built from a text.
using TStringStream = TMemoryStream;

// A read-only stream over bytes owned elsewhere; they must outlive the stream.
class TViewStream : public TStream {
 public:
  explicit TViewStream(std::string_view data) : data_(data) {}
  std::size_t Read(void* buffer, std::size_t n) override;
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t) override;

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

// A stream that keeps nothing: it counts what is written to it (a dry run's output).
class TNullStream : public TStream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void*, std::size_t n) override {
    pos_ += static_cast<std::int64_t>(n);
    if (pos_ > size_) size_ = pos_;
    return n;
  }
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override {
    const std::int64_t base = origin == SeekOrigin::Begin ? 0
                              : origin == SeekOrigin::End ? size_
                                                          : pos_;
    pos_ = base + offset < 0 ? 0 : base + offset;
    return pos_;
  }
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t size) override { size_ = size < 0 ? 0 : size; }

 private:
  std::int64_t pos_ = 0;
  std::int64_t size_ = 0;
};

// Positioning a C stream with 64-bit offsets on every system (a long is 32 bits on Windows).
int FileSeek64(std::FILE* file, std::int64_t offset, int whence);
std::int64_t FileTell64(std::FILE* file);

enum class FileMode {
  OpenRead,       // existing file, reading
  OpenReadWrite,  // existing file, reading and writing
  Create,         // create, or truncate an existing file, for writing (and reading)
};

// A stream over a file, with 64-bit positions. Opening fails with "Cannot open file "%s". %s"
// (EFOpenError) or "Cannot create file "%s". %s" (EFCreateError) carrying the system's error
// text; read and write errors carry the file's name and the system's reason as their detail (a read
// error is an EInOutError: the system's, not the file's content's).
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, FileMode mode);
  // Takes over a C stream that the platform layer opened (for reading and writing) under the
  // given name.
  TFileStream(std::FILE* file, std::string fileName);
  ~TFileStream() override;

  std::size_t Read(void* buffer, std::size_t n) override;
  std::size_t Write(const void* buffer, std::size_t n) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t size) override;

  // Sets the size of the stream's buffer, before the first read or write: small writes then reach
  // the operating system in blocks of that size.
  void SetBufferSize(std::size_t size);
  // Hands buffered bytes to the operating system; fails with "Stream write error".
  void Flush() override;
  // Flushes and closes; a failure of either fails with "Stream write error". The destructor
  // closes silently.
  void Close();
  void Commit() override { Close(); }
  const std::string& FileName() const noexcept { return name_; }

 protected:
  [[noreturn]] void RaiseReadError() override;
  [[noreturn]] void RaiseWriteError() override;

 private:
  [[noreturn]] void Fail(bool writing, int error);

  std::FILE* file_ = nullptr;
  int last_error_ = 0;              // errno of the last failed transfer
  std::unique_ptr<char[]> buffer_;  // set by SetBufferSize; outlives file_
  std::string name_;
  bool last_was_write_ = false;
};

}  // namespace qv
