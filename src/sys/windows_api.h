// One include for the Windows vocabulary: the SDK headers in the Windows
// build, our own small header in the host build. Code above the seam includes
// this (through sys.h) and never <windows.h> directly.
#pragma once

#ifdef _WIN32
#include <dwmapi.h>
#include <objbase.h>
#include <shellapi.h>
#include <shellscalingapi.h>
#include <windows.h>
// ITaskbarList3, the taskbar button's progress.
#include <shobjidl.h>
#include <winhttp.h>
#include <winioctl.h>
// CNG needs the base types of windows.h first.
#include <bcrypt.h>
// NtCreateFile and its records (OBJECT_ATTRIBUTES, IO_STATUS_BLOCK).
#include <winternl.h>
// What a CNG call answers when it fails for no reason of its own (winnt.h
// does not have it; ntstatus.h clashes with windows.h).
#ifndef STATUS_UNSUCCESSFUL
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001L)
#endif
// What NtCreateFile answers (ntstatus.h clashes with windows.h).
#ifndef STATUS_OBJECT_NAME_NOT_FOUND
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034L)
#endif
#ifndef STATUS_OBJECT_NAME_COLLISION
#define STATUS_OBJECT_NAME_COLLISION ((NTSTATUS)0xC0000035L)
#endif
#ifndef STATUS_NOT_A_DIRECTORY
#define STATUS_NOT_A_DIRECTORY ((NTSTATUS)0xC0000103L)
#endif
// A UTF-16 string literal of the platform's WCHAR type.
#define U16(text) L##text
#else
#include "sys/host_win_types.h"
#define U16(text) u##text
#endif
// The same for a macro that expands to a string literal.
#define U16_OF(text) U16(text)

static_assert(sizeof(WCHAR) == 2, "WCHAR must be one UTF-16 unit");
