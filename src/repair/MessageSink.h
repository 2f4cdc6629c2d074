// Where the scan puts the messages it finds, one block each: the repaired store, nothing (a dry
// run), or whatever else takes a store's messages one by one. The scan does not know which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/Stream.h"
#include "mailbox/qvMailbox.h"
#include "platform/Platform.h"

namespace qv {

class Replacement;

// One message as the repaired store holds it: a new separator line, the lines as read, and the
// ending; the separator and every line followed by CR LF, the ending as it stands.
struct MessageBlock {
  std::size_t number = 0;                   // its entry's number, in store order
  std::string_view separator;               // without its line end
  std::span<const std::string_view> lines;  // views that stay valid during the call only
  std::string_view ending;                  // "", CR LF, or CR LF CR LF
};

// The bytes of a block.
std::int64_t BlockBytes(const MessageBlock& block);

// Where a block stands in what a sink makes: the entry's offset and block size.
struct BlockPlace {
  std::int64_t offset = 0;
  std::int64_t size = 0;
};

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Called once the store is open, before the first message: false when the sink cannot take
  // messages, with the reason in `error`.
  virtual bool Open(std::string& error) = 0;
  // Takes one message; `entry` holds all of its values but its place, which is returned.
  virtual BlockPlace Put(const MessageBlock& block, const TMailMessageItem& entry) = 0;
  // After the last message: makes what the sink took complete. Raises the file layer's error.
  virtual void Close() = 0;
};

// What the scan hands each message to: the indexing step (MessageIndexer), or a step that passes
// the messages on to a sink as they are.
class MessageStep {
 public:
  virtual ~MessageStep() = default;
  virtual MessageSink& Sink() noexcept = 0;
  // One message's lines: views that stay valid during the call only.
  virtual void Index(std::span<const std::string_view> lines) = 0;
};

// A dry run's sink: the blocks' places as the repaired store would hold them; nothing is written.
class NullStoreWriter : public MessageSink {
 public:
  bool Open(std::string&) override { return true; }
  BlockPlace Put(const MessageBlock& block, const TMailMessageItem& entry) override;
  void Close() override {}

 private:
  std::int64_t size_ = 0;
};

// The repaired store's sink: the replacement makes the file once the store is open, the blocks are
// appended to it, and it is committed at the end. What has been written goes to the disk while the
// scan goes on, rather than all of it at the sync before the store is replaced.
class RepairedStoreWriter : public MessageSink {
 public:
  RepairedStoreWriter(Replacement& replacement, platform::FileSystem& files);
  ~RepairedStoreWriter() override;

  bool Open(std::string& error) override;
  BlockPlace Put(const MessageBlock& block, const TMailMessageItem& entry) override;
  void Close() override;

 private:
  Replacement& replacement_;
  platform::FileSystem& files_;
  TStream* out_ = nullptr;  // the replacement's, from Open to Close
  std::int64_t size_ = 0;
  std::int64_t writtenBack_ = 0;
  std::unique_ptr<char[]> buffer_;  // the block being written, kept from block to block
};

}  // namespace qv
