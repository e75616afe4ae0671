// A decoy "OpenCL.dll" for the library search-order test. It records being loaded by creating the
// file named by the environment variable LUMET_DECOY_MARKER, from DllMain and again from its
// clGetPlatformIDs, so a test can tell whether a process ever picked it up instead of the
// system's OpenCL library.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

void writeMarker() {
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("LUMET_DECOY_MARKER", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace

extern "C" __declspec(dllexport) int clGetPlatformIDs(unsigned, void*, unsigned* count) {
    writeMarker();
    if (count) *count = 0;
    return -1001;  // CL_PLATFORM_NOT_FOUND_KHR
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) writeMarker();
    return TRUE;
}
