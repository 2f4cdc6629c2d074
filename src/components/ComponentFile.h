// Loading a component from a file and saving it to one, through the file services of the
// platform.
#pragma once

#include <string>

#include "components/Component.h"
#include "platform/Platform.h"

namespace qv {

// When no regular file of that name exists (a folder does not count) nothing happens; otherwise
// the file is read into the component (ReadComponentStream). Errors reach the caller: "Cannot
// open file "%s". %s" (EFOpenError) and those of the reader.
void LoadComponentFromFile(TComponent& component, const std::string& fileName,
                           platform::FileSystem& files);

// Writes the component to a temporary file beside fileName (made by the file services, so a
// leftover of that name is replaced), forces it to the disk and renames it over fileName, so that
// a failure at any point leaves the old file as it was; the temporary file is then removed. Fails
// with "Cannot create file "%s". %s" (EFCreateError) when the file cannot be made or put in place,
// and with "Stream write error" (EWriteError) when writing fails.
void SaveComponentToFile(TComponent& component, const std::string& fileName,
                         platform::FileSystem& files);

// The name of the temporary file that SaveComponentToFile writes first.
std::string TemporarySaveName(const std::string& fileName);

}  // namespace qv
