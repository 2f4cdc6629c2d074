// The Win32 header for the dialog, without the macros that would rename the project's own
// functions (CreateFile, DeleteFile, MoveFile, ReplaceFile, FormatMessage) wherever it is
// included. Included after the project's headers.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef CreateFile
#undef DeleteFile
#undef MoveFile
#undef ReplaceFile
#undef FormatMessage
