// Loading a component from a file and saving it to one, through the file services of the
// platform.
#pragma once

#include <string>

#include "components/Component.h"
#include "components/ComponentStream.h"
#include "platform/Platform.h"

namespace qv {

// When no regular file of that name exists (a folder does not count) nothing happens; otherwise
// the file is read into the component (ReadComponentStream). Errors reach the caller: the
// system's refusal to open or read the file, "Cannot open file "%s". %s" (EFOpenError) or a read
// error with the file and the system's reason (EInOutError), which say nothing about the file's
// bytes; and those of the reader about what the bytes hold (a damaged file), which then name the
// file in their detail. With a sink, the items of its collection go to the sink
// (ReadComponentStream).
void LoadComponentFromFile(TComponent& component, const std::string& fileName,
                           platform::FileSystem& files, TItemSink* sink = nullptr);

// Writes the component to the temporary file beside fileName (TemporarySaveName), gives it the
// access rights of fileName when that exists, and forces it to the disk. On failure the temporary
// file is removed and the error names it: "Cannot create file "%s". %s" (EFCreateError) or a
// write error with the file and the system's reason. With a source, the items of its collection
// are the source's (WriteComponentStream).
void WriteComponentTemporary(TComponent& component, const std::string& fileName,
                             platform::FileSystem& files, TItemSource* source = nullptr);

// Saves the component in place of fileName so that a failure at any point leaves the old file as
// it was: the temporary file is written (WriteComponentTemporary) and renamed over the file, and
// the folder is synced. A fileName that is a symbolic link keeps the link: the file it names is
// replaced, from a temporary file beside it.
void SaveComponentToFile(TComponent& component, const std::string& fileName,
                         platform::FileSystem& files, TItemSource* source = nullptr);

// The name of the temporary file that WriteComponentTemporary writes.
std::string TemporarySaveName(const std::string& fileName, const platform::FileSystem& files);

}  // namespace qv
