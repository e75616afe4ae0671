// Windows implementation of the platform services.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
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
void* loadSystemLibrary(const char* name) {
    return reinterpret_cast<void*>(LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

void debugOutput(const char* text) { OutputDebugStringA(text); }

static std::atomic<int> hardwareThreadOverride{-1};
static std::atomic<int> threadStartLimit{-1};
static std::atomic<int> threadsStarted{0};

unsigned hardwareThreads() {
    const int forced = hardwareThreadOverride.load();
    if (forced >= 0) return static_cast<unsigned>(forced);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<unsigned>(info.dwNumberOfProcessors);
}

void setHardwareThreadOverride(int count) { hardwareThreadOverride.store(count < 0 ? -1 : count); }

void setThreadStartLimit(int count) {
    threadsStarted.store(0);
    threadStartLimit.store(count);
}

namespace {
struct StartRecord {
    void (*function)(void*);
    void* argument;
};
DWORD WINAPI threadEntry(LPVOID raw) {
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
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, threadEntry, record, 0, &id);
    if (!thread) {
        delete record;
        return false;
    }
    handle.native = thread;
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
