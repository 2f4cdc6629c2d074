// <windows.h> for the source files that call the Win32 API, without the macros that would rename
// the project's own functions (CreateFile, DeleteFile, MoveFile, ReplaceFile, FormatMessage).
// Source files include it after their other headers; no header of the core includes it, so the
// Win32 names never reach the core's callers.
#pragma once

#ifdef _WIN32
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
#endif
