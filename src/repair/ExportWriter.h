// The sinks of an export: each message into the folder its filed entry names, in a Maildir++ tree
// or in one mboxrd file per folder laid out as a desktop mail client's local folders. Opening the
// sink makes the export's folder (when it is missing) and every folder in it; nothing is ever
// made outside it, and nothing there is taken over or replaced.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "repair/ExportFolders.h"
#include "repair/MessageSink.h"

namespace qv {

enum class ExportFormat { Maildir, Mbox };

inline constexpr const char* kCreateFolderError = "Cannot create folder \"%s\". %s";
inline constexpr const char* kExportNotEmpty =
    "The folder \"%s\" is not empty. An export goes only into a new folder or an empty one.";
inline constexpr const char* kExportNotFolder = "\"%s\" is not a folder.";
inline constexpr const char* kExportInProgram =
    "The folder \"%s\" lies in the mail client's program folder, which an export does not write "
    "to.";

// Where an export goes, checked: its full path (links followed), which names an empty folder or
// nothing in an existing folder, outside `programFolder`. Returns "" and sets `full`, or the
// reason it cannot go there. With `create`, a missing folder is made.
std::string PrepareExportFolder(platform::FileSystem& files, const std::string& out,
                                const std::string& programFolder, bool create, std::string& full);

class ExportWriter : public MessageSink {
 public:
  ExportWriter(platform::FileSystem& files, platform::Clock& clock, std::string out,
               std::string programFolder, ExportFolders& folders);
  ~ExportWriter() override;

  // Makes the export's folder and every folder in it.
  bool Open(std::string& error) override;
  // Writes the message into its entry's folder; it counts as written once all of its bytes are
  // with the system (in its place, for a Maildir).
  BlockPlace Put(const MessageBlock& block, const TMailMessageItem& entry) override;
  void Close() override {}

  bool Opened() const noexcept { return opened_; }
  // The export's folder, in full.
  const std::string& Out() const noexcept { return out_; }
  std::int64_t Written() const noexcept { return written_; }

 protected:
  // Makes a folder (given its folder's and its parent's path) and sets its path.
  virtual void Make(ExportFolder& folder, bool inbox) = 0;
  virtual void Write(ExportFolder& folder, const MessageBlock& block,
                     const TMailMessageItem& entry) = 0;

  // The full path of a path in the export.
  std::string Full(const std::string& path) const {
    return path.empty() || path == "." ? out_ : out_ + separator_ + path;
  }
  void MakeFolder(const std::string& path);
  // Makes an empty file.
  void MakeFile(const std::string& path);
  // `name` made unique among the paths taken (letter case aside) and free on the disk, with
  // " (2)", " (3)"... appended; `also` (a second name the folder takes, as name + also) too.
  std::string Unique(const std::string& dir, const std::string& name, const std::string& also);
  // A message's date in UTC (the export's start when it has none a reader takes).
  TDateTime UtcDate(const TMailMessageItem& entry) const;

  // Writes lines, each followed by LF, gathering them in a buffer kept from message to message.
  class Lines {
   public:
    explicit Lines(std::vector<char>& buffer) : buffer_(buffer) {}
    void Start(TStream& out) {
      out_ = &out;
      used_ = 0;
    }
    void Put(std::string_view line, bool quoted = false);
    void Flush();

   private:
    std::vector<char>& buffer_;
    TStream* out_ = nullptr;
    std::size_t used_ = 0;
  };

  platform::FileSystem& files_;
  platform::Clock& clock_;
  ExportFolders& folders_;
  std::string out_;
  std::string programFolder_;
  char separator_;
  bool opened_ = false;
  std::int64_t written_ = 0;
  std::int64_t runTime_ = 0;     // the export's start, seconds since the Unix epoch in UTC
  TDateTime now_ = 0;            // the same in UTC
  std::set<std::string> taken_;  // paths in the export, lower-cased
  std::vector<char> buffer_;
  Lines lines_{buffer_};
};

// OUT/{cur,new,tmp} is the Inbox; a folder B below A is OUT/.A.B/ (with a "maildirfolder" file),
// named in IMAP's modified UTF-7. A message is written into tmp/, given its date as its time and
// renamed into cur/ under a unique name whose flags say whether it was read.
class MaildirWriter : public ExportWriter {
 public:
  using ExportWriter::ExportWriter;

 protected:
  void Make(ExportFolder& folder, bool inbox) override;
  void Write(ExportFolder& folder, const MessageBlock& block,
             const TMailMessageItem& entry) override;
};

// OUT/Inbox, OUT/Projects, and the folders below Projects in OUT/Projects.sbd/; names in UTF-8.
// A message is opened by its From_ line, its lines mboxrd-quoted with its Status line
// (ForEachMboxLine). The files stay open while messages come, the least used closed first when
// too many are.
class MboxWriter : public ExportWriter {
 public:
  using ExportWriter::ExportWriter;
  ~MboxWriter() override;
  // Closes every file.
  void Close() override;

 protected:
  void Make(ExportFolder& folder, bool inbox) override;
  void Write(ExportFolder& folder, const MessageBlock& block,
             const TMailMessageItem& entry) override;

 private:
  TStream& FileOf(std::size_t folder);
  struct Open {
    std::size_t folder;
    std::unique_ptr<TStream> stream;
    std::uint64_t used;
  };
  std::vector<Open> open_;
  std::uint64_t uses_ = 0;
};

}  // namespace qv
