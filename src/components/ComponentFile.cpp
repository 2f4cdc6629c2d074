#include "components/ComponentFile.h"

#include <memory>

#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringUtils.h"
#include "components/ComponentStream.h"

namespace qv {

namespace {
// The reader's own errors say what is wrong, not where: the file goes into their detail.
[[noreturn]] void RethrowNamingFile(const std::string& fileName) {
  const std::string detail = FileDetail(fileName, "the file is damaged");
  try {
    throw;
  } catch (const Exception& e) {
    if (!e.Detail().empty()) throw;
    try {
      throw;
    } catch (const EReadError&) {
      throw EReadError(e.Message(), detail);
    } catch (const EWriteError&) {
      throw EWriteError(e.Message(), detail);
    } catch (const EFilerError&) {
      throw EFilerError(e.Message(), detail);
    } catch (const EStreamError&) {
      throw;  // open and create errors name their file already
    } catch (const EComponentError&) {
      throw EComponentError(e.Message(), detail);
    } catch (const EConvertError&) {
      throw EConvertError(e.Message(), detail);
    } catch (const EListError&) {
      throw EListError(e.Message(), detail);
    } catch (const Exception&) {
      throw Exception(e.Message(), detail);
    }
  }
}
}  // namespace

void LoadComponentFromFile(TComponent& component, const std::string& fileName,
                           platform::FileSystem& files, TItemSink* sink) {
  if (!files.FileExists(fileName)) return;
  const std::unique_ptr<TStream> stream = files.OpenRead(fileName);
  try {
    ReadComponentStream(*stream, component, sink);
  } catch (const Exception&) {
    RethrowNamingFile(fileName);
  }
}

std::string TemporarySaveName(const std::string& fileName, const platform::FileSystem& files) {
  return files.SiblingPath(fileName, ".tmp");
}

void WriteComponentTemporary(TComponent& component, const std::string& fileName,
                             platform::FileSystem& files, TItemSource* source) {
  const std::string temp = TemporarySaveName(fileName, files);
  std::string error;
  try {
    const std::unique_ptr<TStream> stream = files.CreateFile(temp);
    WriteComponentStream(*stream, component, source);
    stream->Commit();
  } catch (const EFCreateError&) {
    throw;  // nothing was made
  } catch (const Exception& e) {
    files.DeleteFile(temp, nullptr);
    if (!e.Detail().empty()) throw;
    throw EWriteError(e.Message(), FileDetail(temp, "the file could not be written"));
  } catch (...) {
    files.DeleteFile(temp, nullptr);
    throw;
  }
  // The new file gets the rights of the one it will replace (it was made for its owner only).
  if (files.FileExists(fileName) && !files.CopyPermissions(fileName, temp, &error)) {
    files.DeleteFile(temp, nullptr);
    throw EFCreateError(FormatMessage(kFCreateError, {temp, error}));
  }
  if (!files.SyncFile(temp, &error)) {
    files.DeleteFile(temp, nullptr);
    throw EWriteError(kStreamWriteError, FileDetail(temp, error));
  }
}

void SaveComponentToFile(TComponent& component, const std::string& fileName,
                         platform::FileSystem& files, TItemSource* source) {
  const std::string target = files.ResolveLinks(fileName);
  WriteComponentTemporary(component, target, files, source);
  const std::string temp = TemporarySaveName(target, files);
  std::string error;
  if (!files.ReplaceFile(temp, target, &error)) {
    files.DeleteFile(temp, nullptr);
    throw EFCreateError(FormatMessage(kFCreateError, {target, error}));
  }
  // Make the rename itself durable; the new file is in place either way.
  const std::string folder = files.FolderOf(target);
  files.SyncFolder(folder.empty() ? std::string(".") : folder, nullptr);
}

}  // namespace qv
