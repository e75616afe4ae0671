// Windows implementation of the platform services.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <process.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace lumet::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "lock storage too small");

static CRITICAL_SECTION* sectionOf(unsigned char* storage) {
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

Lock::~Lock() {
    if (initialized_) DeleteCriticalSection(sectionOf(storage_));
}

void Lock::initialize() {
    if (initialized_) return;
    InitializeCriticalSection(sectionOf(storage_));
    initialized_ = true;
}

void Lock::enter() { EnterCriticalSection(sectionOf(storage_)); }
bool Lock::tryEnter() { return TryEnterCriticalSection(sectionOf(storage_)) != 0; }
void Lock::leave() { LeaveCriticalSection(sectionOf(storage_)); }

void* loadLibrary(const char* path) { return reinterpret_cast<void*>(LoadLibraryA(path)); }
void* findFunction(void* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void freeLibrary(void* library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}
// Loading by bare name would go through the default search order, which looks in the host's
// program folder and current folder before System32: a DLL planted there would run inside the
// host. LOAD_LIBRARY_SEARCH_SYSTEM32 searches System32 alone. Windows versions that predate the
// flag reject it with ERROR_INVALID_PARAMETER; there the library is loaded by its full System32
// path instead, which is equally immune to planted copies.
void* loadSystemLibrary(const char* name) {
    if (!name || !*name || std::strpbrk(name, "\\/:")) return nullptr;  // a bare file name only
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return reinterpret_cast<void*>(module);
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    const std::size_t nameLength = std::strlen(name);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH) return nullptr;
    path[length] = '\\';
    std::memcpy(path + length + 1, name, nameLength + 1);
    return reinterpret_cast<void*>(LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

static std::atomic<void (*)(const char*)> debugOutputSink{nullptr};

void setDebugOutputSink(void (*sink)(const char*)) { debugOutputSink.store(sink); }

void debugOutput(const char* text) {
    if (void (*sink)(const char*) = debugOutputSink.load()) {
        sink(text);
        return;
    }
    OutputDebugStringA(text);
}

static std::atomic<int> hardwareThreadOverride{-1};
static std::atomic<int> threadStartLimit{-1};
static std::atomic<int> threadsStarted{0};

unsigned hardwareThreads() {
    const int forced = hardwareThreadOverride.load();
    if (forced >= 0) return static_cast<unsigned>(forced);
    // All processor groups: GetSystemInfo would count only the calling thread's group (at most
    // 64 processors).
    return static_cast<unsigned>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
}

void setHardwareThreadOverride(int count) { hardwareThreadOverride.store(count < 0 ? -1 : count); }

static std::atomic<std::uint64_t> physicalMemoryOverride{0};

std::uint64_t physicalMemoryBytes() {
    if (const std::uint64_t forced = physicalMemoryOverride.load()) return forced;
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    return status.ullTotalPhys;
}

void setPhysicalMemoryOverride(std::uint64_t bytes) { physicalMemoryOverride.store(bytes); }

bool openClVendorLibraries(std::vector<std::string>& libraries) {
    libraries.clear();
    return false;
}

// A job object's limit shows as the commit a process may still make; without one this is the
// system's, far above what the physical-memory bound allows.
std::uint64_t addressSpaceLeftBytes() {
    // A reading without a commit limit is no reading (Wine, asked from several threads at once,
    // now and then answers all zeros): asked again, and unknown if it stays so, rather than
    // taken for memory that has run out.
    for (int attempt = 0; attempt < 3; ++attempt) {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof status;
        if (!GlobalMemoryStatusEx(&status)) return UINT64_MAX;
        if (status.ullTotalPageFile != 0) return status.ullAvailPageFile;
    }
    return UINT64_MAX;
}

void* mapLargeBlock(std::size_t bytes, std::size_t alignment) {
    // Committed pages read zero; large pages need a privilege hosts do not hold, so the blocks are
    // ordinary pages on the system's 64 KiB allocation granularity, reused through the pool.
    (void)alignment;
    if (bytes == 0) return nullptr;
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void adviseHugePages(void*, std::size_t) {}

void unmapLargeBlock(void* block, std::size_t bytes) {
    (void)bytes;
    if (block) VirtualFree(block, 0, MEM_RELEASE);
}

void setThreadStartLimit(int count) {
    threadsStarted.store(0);
    threadStartLimit.store(count);
}

namespace {
struct StartRecord {
    void (*function)(void*);
    void* argument;
};
unsigned __stdcall threadEntry(void* raw) {
    StartRecord* record = static_cast<StartRecord*>(raw);
    record->function(record->argument);
    delete record;
    return 0;
}
}  // namespace

bool startThread(ThreadHandle& handle, void (*function)(void*), void* argument) {
    const int limit = threadStartLimit.load();
    if (limit >= 0 && threadsStarted.fetch_add(1) >= limit) return false;
    StartRecord* record = new (std::nothrow) StartRecord{function, argument};
    if (!record) return false;
    // _beginthreadex rather than CreateThread, so that the C runtime sets up its per-thread state
    // for the new thread.
    unsigned id = 0;
    const std::uintptr_t thread = _beginthreadex(nullptr, 0, threadEntry, record, 0, &id);
    if (thread == 0) {
        delete record;
        return false;
    }
    handle.native = reinterpret_cast<void*>(thread);
    handle.id = id;
    return true;
}

void joinThread(ThreadHandle& handle) {
    if (!handle.native) return;
    WaitForSingleObject(static_cast<HANDLE>(handle.native), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle.native));
    handle.native = nullptr;
    handle.id = 0;
}

}  // namespace lumet::platform
#endif
