#include "repair/Export.h"

#include <memory>

#include "base/Errors.h"

namespace qv {

namespace {

// Hands each message with its filed entry to the writer, unparsed.
class FiledMessages : public MessageStep {
 public:
  FiledMessages(MessageSink& sink, const TCompactMessageList& filed) : sink_(sink), filed_(filed) {}
  MessageSink& Sink() noexcept override { return sink_; }
  void Index(std::span<const std::string_view> lines) override {
    // More messages than the dry run found: the store is another one now.
    if (next_ >= filed_.Count()) throw Exception(kStoreChangedDuringExport);
    filed_.Get(next_, entry_);
    sink_.Put({next_, {}, lines, {}}, entry_);
    ++next_;
  }

 private:
  MessageSink& sink_;
  const TCompactMessageList& filed_;
  std::size_t next_ = 0;
  TMailMessageItem entry_;
};

}  // namespace

void ExportStore(const ExportInput& input, const TMailTree& tree, const TCompactMessageList& filed,
                 const ExportTarget& target, const ScanProgress& progress, ExportResult& result) {
  result = ExportResult();
  ExportFolders folders(tree, filed);
  std::unique_ptr<ExportWriter> writer;
  if (target.format == ExportFormat::Maildir)
    writer = std::make_unique<MaildirWriter>(input.files, input.clock, target.out,
                                             input.programFolder, folders);
  else
    writer = std::make_unique<MboxWriter>(input.files, input.clock, target.out, input.programFolder,
                                          folders);
  FiledMessages step(*writer, filed);
  ScanResult found;
  try {
    ScanStore({input.files, input.clock, input.names, input.storePath, nullptr}, step, progress,
              found);
    if (found.status == ScanStatus::CreateFailed) {
      result.error = found.error;
    } else {
      writer->Close();
      if (found.status != ScanStatus::Scanned || !(found.store == input.store) ||
          found.messages != static_cast<std::int64_t>(filed.Count()) ||
          !(input.files.Stamp(input.storePath) == input.store))
        result.error = kStoreChangedDuringExport;
    }
  } catch (const std::exception& e) {
    result.error = e.what();
  }
  result.began = writer->Opened();
  result.out = writer->Out();
  result.written = writer->Written();
  result.folders = folders.Folders();
  for (std::size_t i = 0; i < result.folders.size(); ++i)
    result.names.push_back(folders.Names(i));
}

}  // namespace qv
