// The Windows types and constants that code above the seam uses, for the
// native Linux build. Layouts and values match the Windows SDK so that the
// same code compiles unchanged in both builds.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define WINAPI
#define TRUE 1
#define FALSE 0

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char BOOLEAN;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t ULONG_PTR;
typedef uint64_t DWORD_PTR;
typedef size_t SIZE_T;
typedef char16_t WCHAR;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef HANDLE* PHANDLE;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const char* LPCCH;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef union _ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

typedef DWORD EXECUTION_STATE;
#define ES_SYSTEM_REQUIRED 0x00000001u
#define ES_CONTINUOUS 0x80000000u

typedef enum _FILE_INFO_BY_HANDLE_CLASS {
    FileDispositionInfo = 4,
    FileAttributeTagInfo = 9,
} FILE_INFO_BY_HANDLE_CLASS;

typedef struct _FILE_ATTRIBUTE_TAG_INFO {
    DWORD FileAttributes;
    DWORD ReparseTag;
} FILE_ATTRIBUTE_TAG_INFO;

typedef struct _FILE_DISPOSITION_INFO {
    BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFO;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        LPVOID Pointer;
    };
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD kind);
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID param);

typedef enum _TOKEN_INFORMATION_CLASS { TokenElevation = 20 } TOKEN_INFORMATION_CLASS;

typedef struct _TOKEN_ELEVATION {
    DWORD TokenIsElevated;
} TOKEN_ELEVATION;

// Opening by name in a held folder: NtCreateFile and its records.
typedef LONG NTSTATUS;
typedef uint32_t ULONG;
typedef uint16_t USHORT;
typedef DWORD ACCESS_MASK;
typedef void* PVOID;

typedef struct _UNICODE_STRING {
    USHORT Length;  // in bytes, without a terminating NUL
    USHORT MaximumLength;
    WCHAR* Buffer;
} UNICODE_STRING, *PUNICODE_STRING;

typedef struct _OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

#define NT_SUCCESS(status) ((NTSTATUS)(status) >= 0)
#define STATUS_SUCCESS ((NTSTATUS)0x00000000)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022)
#define STATUS_OBJECT_NAME_INVALID ((NTSTATUS)0xC0000033)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034)
#define STATUS_OBJECT_NAME_COLLISION ((NTSTATUS)0xC0000035)
#define STATUS_OBJECT_PATH_NOT_FOUND ((NTSTATUS)0xC000003A)
#define STATUS_SHARING_VIOLATION ((NTSTATUS)0xC0000043)
#define STATUS_DISK_FULL ((NTSTATUS)0xC000007F)
#define STATUS_TOO_MANY_OPENED_FILES ((NTSTATUS)0xC000011F)
#define STATUS_NOT_A_DIRECTORY ((NTSTATUS)0xC0000103)
#define STATUS_FILE_IS_A_DIRECTORY ((NTSTATUS)0xC00000BA)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000D)

#define OBJ_CASE_INSENSITIVE 0x00000040u
#define FILE_OPEN 0x00000001u
#define FILE_CREATE 0x00000002u
#define FILE_OPEN_IF 0x00000003u
#define FILE_DIRECTORY_FILE 0x00000001u
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020u
#define FILE_NON_DIRECTORY_FILE 0x00000040u
#define FILE_OPEN_REPARSE_POINT 0x00200000u
#define FILE_OPENED 1u
#define FILE_CREATED 2u
#define FILE_TRAVERSE 0x0020u
#define FILE_WRITE_DATA 0x0002u

#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003u
#define IO_REPARSE_TAG_DEDUP 0x80000013u
#define IO_REPARSE_TAG_CLOUD_6 0x9000601Au
#define IO_REPARSE_TAG_WOF 0x80000017u
#define IsReparseTagNameSurrogate(tag) (((tag) & 0x20000000u) != 0)

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFu
#define MAX_PATH 260

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define DELETE 0x00010000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define DELETE 0x00010000u
#define SYNCHRONIZE 0x00100000u
#define FILE_LIST_DIRECTORY 0x0001u
#define FILE_ADD_FILE 0x0002u
#define FILE_ADD_SUBDIRECTORY 0x0004u
#define FILE_READ_ATTRIBUTES 0x0080u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u
#define TOKEN_QUERY 0x0008u

#define CP_OEMCP 1u

#define SEM_FAILCRITICALERRORS 0x0001u

#define ES_SYSTEM_REQUIRED 0x00000001u
#define ES_CONTINUOUS 0x80000000u

#define CTRL_C_EVENT 0u
#define CTRL_BREAK_EVENT 1u
#define CTRL_CLOSE_EVENT 2u
#define CTRL_LOGOFF_EVENT 5u
#define CTRL_SHUTDOWN_EVENT 6u

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

#define ERROR_SUCCESS 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_SECTOR_NOT_FOUND 27u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_LOCK_VIOLATION 33u
#define ERROR_HANDLE_EOF 38u
#define ERROR_HANDLE_DISK_FULL 39u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_DEV_NOT_EXIST 55u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_INVALID_NAME 123u
#define ERROR_CANT_ACCESS_FILE 1920u
#define ERROR_DIRECTORY 267u
#define ERROR_BAD_PATHNAME 161u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_MORE_DATA 234u
#define ERROR_MR_MID_NOT_FOUND 317u
#define ERROR_IO_INCOMPLETE 996u
#define ERROR_IO_PENDING 997u
#define ERROR_NO_MORE_FILES 18u

// Control codes, as CTL_CODE(device, function, method, access) yields them.
#define IOCTL_STORAGE_QUERY_PROPERTY 0x002D1400u
#define IOCTL_DISK_GET_DRIVE_GEOMETRY_EX 0x000700A0u
#define IOCTL_DISK_UPDATE_PROPERTIES 0x00070140u
#define IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS 0x00560000u
#define FSCTL_LOCK_VOLUME 0x00090018u
#define FSCTL_UNLOCK_VOLUME 0x0009001Cu
#define FSCTL_DISMOUNT_VOLUME 0x00090020u
