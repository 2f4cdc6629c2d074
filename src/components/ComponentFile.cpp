#include "components/ComponentFile.h"

#include <memory>

#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringUtils.h"
#include "components/ComponentStream.h"

namespace qv {

void LoadComponentFromFile(TComponent& component, const std::string& fileName,
                           platform::FileSystem& files) {
  if (!files.FileExists(fileName)) return;
  TFileStream stream(fileName, FileMode::OpenRead);
  ReadComponentStream(stream, component);
}

std::string TemporarySaveName(const std::string& fileName) {
  return fileName + ".tmp";
}

void SaveComponentToFile(TComponent& component, const std::string& fileName,
                         platform::FileSystem& files) {
  const std::string temp = TemporarySaveName(fileName);
  std::string error;
  try {
    const std::unique_ptr<TStream> stream = files.CreateFile(temp);
    WriteComponentStream(*stream, component);
    stream->Commit();
  } catch (const EFCreateError& e) {
    // Name the file the caller asked for, not the temporary one.
    std::string message = e.Message();
    const std::string quoted = "\"" + temp + "\"";
    if (const auto at = message.find(quoted); at != std::string::npos)
      message.replace(at, quoted.size(), "\"" + fileName + "\"");
    throw EFCreateError(message);
  } catch (...) {
    files.DeleteFile(temp, nullptr);
    throw;
  }
  if (!files.SyncFile(temp, &error)) {
    files.DeleteFile(temp, nullptr);
    throw EWriteError(kStreamWriteError);
  }
  if (!files.ReplaceFile(temp, fileName, &error)) {
    files.DeleteFile(temp, nullptr);
    throw EFCreateError(FormatMessage(kFCreateError, {fileName, error}));
  }
  // Make the rename itself durable; the new file is in place either way.
  const std::string folder = files.FolderOf(fileName);
  files.SyncFolder(folder.empty() ? std::string(".") : folder, nullptr);
}

}  // namespace qv
