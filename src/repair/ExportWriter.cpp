#include "repair/ExportWriter.h"

#include <algorithm>
#include <cstring>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "repair/ExportFormat.h"
#include "repair/MessageIndexer.h"

namespace qv {

namespace {
constexpr std::size_t kBuffer = std::size_t{256} << 10;
// Longer lines are written from where they stand rather than copied.
constexpr std::size_t kLongLine = std::size_t{64} << 10;
// A Maildir++ folder's name, which holds the names of all its levels, stays below this: room
// for " (99)" within the 255 bytes that a name may have.
constexpr std::size_t kMaxMaildirName = 248;
// Open mbox files at most.
constexpr std::size_t kOpenFiles = 32;

bool Inside(const std::string& path, const std::string& folder, char separator) {
  if (folder.empty()) return false;
  if (path == folder) return true;
  const std::string prefix =
      folder.back() == separator || folder.back() == '/' ? folder : folder + separator;
  return path.starts_with(prefix);
}
}  // namespace

std::string PrepareExportFolder(platform::FileSystem& files, const std::string& out,
                                const std::string& programFolder, bool create, std::string& full) {
  const std::string_view separators = files.PathSeparators();
  const char separator = separators.front();
  std::string path = out;
  while (path.size() > 1 && separators.find(path.back()) != std::string_view::npos)
    path.pop_back();
  std::string error;
  const std::string program = files.CanonicalPath(programFolder, &error);
  const platform::FileSystem::EntryKind kind = files.KindOf(path);
  if (kind == platform::FileSystem::EntryKind::None) {
    // The folder it will be made in must be there: only the export's own folder is made.
    const std::string parent = files.FolderOf(path);
    const std::string name = path.substr(parent.size());
    const std::string canonical = files.CanonicalPath(parent.empty() ? "." : parent, &error);
    if (canonical.empty()) return FormatMessage(kCreateFolderError, {path, error});
    full = canonical.back() == separator || canonical.back() == '/' ? canonical + name
                                                                    : canonical + separator + name;
    if (Inside(full, program, separator)) return FormatMessage(kExportInProgram, {path});
    if (create && !files.CreateFolder(full, &error))
      return FormatMessage(kCreateFolderError, {full, error});
    return "";
  }
  if (kind != platform::FileSystem::EntryKind::Folder &&
      kind != platform::FileSystem::EntryKind::Link)
    return FormatMessage(kExportNotFolder, {path});
  full = files.CanonicalPath(path, &error);
  if (full.empty()) return FormatMessage(kFOpenError, {path, error});
  if (files.KindOf(full) != platform::FileSystem::EntryKind::Folder)
    return FormatMessage(kExportNotFolder, {path});
  if (Inside(full, program, separator)) return FormatMessage(kExportInProgram, {path});
  bool empty = false;
  if (!files.FolderIsEmpty(full, empty, &error)) return FormatMessage(kFOpenError, {full, error});
  return empty ? "" : FormatMessage(kExportNotEmpty, {path});
}

// --- lines -------------------------------------------------------------------------------------

void ExportWriter::Lines::Put(std::string_view line, bool quoted) {
  if (buffer_.size() < kBuffer) buffer_.resize(kBuffer);
  const std::size_t need = line.size() + (quoted ? 2 : 1);
  if (kBuffer - used_ < need) Flush();
  if (quoted) buffer_[used_++] = '>';
  if (line.size() >= kLongLine) {
    Flush();
    out_->WriteBuffer(line.data(), line.size());
  } else if (!line.empty()) {
    std::memcpy(buffer_.data() + used_, line.data(), line.size());
    used_ += line.size();
  }
  buffer_[used_++] = '\n';
}

void ExportWriter::Lines::Flush() {
  if (used_ > 0) out_->WriteBuffer(buffer_.data(), used_);
  used_ = 0;
}

// --- the common part -----------------------------------------------------------------------------

ExportWriter::ExportWriter(platform::FileSystem& files, platform::Clock& clock, std::string out,
                           std::string programFolder, ExportFolders& folders)
    : files_(files),
      clock_(clock),
      folders_(folders),
      out_(std::move(out)),
      programFolder_(std::move(programFolder)),
      separator_(files.PathSeparators().front()) {}

ExportWriter::~ExportWriter() = default;

bool ExportWriter::Open(std::string& error) {
  std::string full;
  error = PrepareExportFolder(files_, out_, programFolder_, true, full);
  if (!error.empty()) return false;
  out_ = full;
  opened_ = true;
  now_ = LocalToUtc(clock_, clock_.Now());
  runTime_ = DateTimeToUnix(now_);
  try {
    // The Inbox first: the other folders' names keep clear of its.
    std::vector<ExportFolder>& folders = folders_.Folders();
    Make(folders[folders_.Inbox()], true);
    for (std::size_t i = 0; i < folders.size(); ++i)
      if (i != folders_.Inbox()) Make(folders[i], false);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return true;
}

BlockPlace ExportWriter::Put(const MessageBlock& block, const TMailMessageItem& entry) {
  ExportFolder& folder = folders_.Folders()[folders_.FolderOf(entry.FolderKey())];
  Write(folder, block, entry);
  ++folder.messages;
  if (entry.Read()) ++folder.read;
  ++written_;
  return {};
}

void ExportWriter::MakeFolder(const std::string& path) {
  std::string error;
  if (!files_.CreateFolder(Full(path), &error))
    throw EFCreateError(FormatMessage(kCreateFolderError, {Full(path), error}));
}

void ExportWriter::MakeFile(const std::string& path) {
  files_.OpenForWriting(Full(path), platform::FileSystem::WriteMode::New)->Commit();
}

std::string ExportWriter::Unique(const std::string& dir, const std::string& name,
                                 const std::string& also) {
  std::string candidate = name;
  for (int n = 2;; ++n) {
    const std::string path = dir + candidate;
    const bool free = taken_.count(LowerCase(path)) == 0 &&
                      files_.KindOf(Full(path)) == platform::FileSystem::EntryKind::None &&
                      (also.empty() ||
                       (taken_.count(LowerCase(path + also)) == 0 &&
                        files_.KindOf(Full(path + also)) == platform::FileSystem::EntryKind::None));
    if (free) break;
    candidate = name + " (" + std::to_string(n) + ")";
  }
  taken_.insert(LowerCase(dir + candidate));
  if (!also.empty()) taken_.insert(LowerCase(dir + candidate + also));
  return candidate;
}

TDateTime ExportWriter::UtcDate(const TMailMessageItem& entry) const {
  // Before the Unix epoch (a date the index keeps as 0) or after 9999 it is no date a reader takes.
  const TDateTime utc = LocalToUtc(clock_, entry.Date());
  return utc >= 25569.0 && utc < 2958466.0 ? utc : now_;
}

// --- Maildir -------------------------------------------------------------------------------------

void MaildirWriter::Make(ExportFolder& folder, bool inbox) {
  const std::vector<ExportFolder>& folders = folders_.Folders();
  if (inbox) {
    folder.path = ".";
    // A top-level folder named INBOX would be the Inbox for an IMAP server.
    taken_.insert(".inbox");
  } else {
    std::string parent;
    if (folder.parent >= 0)
      parent = static_cast<std::size_t>(folder.parent) == folders_.Inbox()
                   ? ".INBOX"
                   : folders[static_cast<std::size_t>(folder.parent)].path;
    std::string level = MaildirLevelName(
        folder.name, parent.size() + 1 < kMaxMaildirName ? kMaxMaildirName - parent.size() - 1 : 0);
    // Nested too deep for a name to hold every level: at the top.
    if (level.empty()) {
      parent.clear();
      level = MaildirLevelName(folder.name, kMaxMaildirName - 1);
    }
    folder.path = Unique(parent + ".", level, "");
    folder.path = parent + "." + folder.path;
    MakeFolder(folder.path);
  }
  for (const char* part : {"cur", "new", "tmp"})
    MakeFolder(inbox ? std::string(part) : folder.path + separator_ + part);
  // Marks a folder below the Inbox (Maildir++).
  if (!inbox) MakeFile(folder.path + separator_ + "maildirfolder");
}

void MaildirWriter::Write(ExportFolder& folder, const MessageBlock& block,
                          const TMailMessageItem& entry) {
  const std::string name = MaildirBaseName(runTime_, block.number);
  const std::string dir = Full(folder.path) + separator_;
  const std::string temporary = dir + "tmp" + separator_ + name;
  std::unique_ptr<TStream> file =
      files_.OpenForWriting(temporary, platform::FileSystem::WriteMode::New);
  lines_.Start(*file);
  for (const std::string_view line : block.lines)
    lines_.Put(line);
  lines_.Flush();
  file->Commit();
  file.reset();
  // The time is the message's date (as readers take a Maildir message's received date); a file
  // system that keeps no such time still gets the message.
  files_.SetFileTime(temporary, DateTimeToUnix(UtcDate(entry)), nullptr);
  const std::string final =
      dir + "cur" + separator_ + name + MaildirFlags(entry.Read(), files_.NamesMayHoldColon());
  std::string error;
  if (!files_.MoveFile(temporary, final, &error))
    throw EFCreateError(FormatMessage(kFCreateError, {final, error}));
}

// --- mbox ----------------------------------------------------------------------------------------

MboxWriter::~MboxWriter() = default;

void MboxWriter::Make(ExportFolder& folder, bool inbox) {
  const std::vector<ExportFolder>& folders = folders_.Folders();
  const std::string dir =
      folder.parent < 0
          ? std::string()
          : folders[static_cast<std::size_t>(folder.parent)].path + ".sbd" + separator_;
  folder.path = dir + Unique(dir, inbox ? std::string("Inbox") : PortableName(folder.name), ".sbd");
  MakeFile(folder.path);
  if (folder.hasChildren) MakeFolder(folder.path + ".sbd");
}

TStream& MboxWriter::FileOf(std::size_t folder) {
  ++uses_;
  for (Open& o : open_) {
    if (o.folder != folder) continue;
    o.used = uses_;
    return *o.stream;
  }
  if (open_.size() >= kOpenFiles) {
    const auto least = std::min_element(
        open_.begin(), open_.end(), [](const Open& a, const Open& b) { return a.used < b.used; });
    std::unique_ptr<TStream> closing = std::move(least->stream);
    open_.erase(least);
    closing->Commit();
  }
  open_.push_back({folder,
                   files_.OpenForWriting(Full(folders_.Folders()[folder].path),
                                         platform::FileSystem::WriteMode::Append),
                   uses_});
  return *open_.back().stream;
}

void MboxWriter::Write(ExportFolder& folder, const MessageBlock& block,
                       const TMailMessageItem& entry) {
  const std::size_t number = static_cast<std::size_t>(&folder - folders_.Folders().data());
  TStream& file = FileOf(number);
  lines_.Start(file);
  lines_.Put(MboxFromLine(ExtractAngleAddress(entry.Sender()), UtcDate(entry), now_));
  ForEachMboxLine(block.lines, entry.Read(),
                  [this](bool quoted, std::string_view line) { lines_.Put(line, quoted); });
  lines_.Flush();
  // With the system: a full disk shows here, at the message it cuts short.
  file.Flush();
}

void MboxWriter::Close() {
  std::vector<Open> open = std::move(open_);
  open_.clear();
  for (Open& o : open)
    o.stream->Commit();
}

}  // namespace qv
