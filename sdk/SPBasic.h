// The host's basic suite: acquires and releases the other suites by name and version.
// A real SDK can replace this folder (-DLUMET_HOST_SDK_DIR).
#pragma once
#include "A.h"

typedef int32_t SPErr;
// The basic suite's boolean is the Windows BOOL on Windows and one unsigned byte elsewhere.
#ifdef _WIN32
typedef int32_t SPBoolean;
#else
typedef uint8_t SPBoolean;
#endif

enum { kSPNoError = 0 };

typedef struct SPBasicSuite {
    SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
    SPErr (*ReleaseSuite)(const char* name, int32_t version);
    SPBoolean (*IsEqual)(const char* token1, const char* token2);
    SPErr (*AllocateBlock)(size_t size, void** block);
    SPErr (*FreeBlock)(void* block);
    SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newblock);
    SPErr (*Undefined)(void);
} SPBasicSuite;
