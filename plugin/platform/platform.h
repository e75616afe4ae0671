// The few operating-system services the effect needs: a recursive lock with critical-section
// semantics, loading a library and resolving its functions, the debug output, the number of
// hardware threads, and starting and joining threads. One implementation per platform.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumet::platform {

// Recursive lock with the semantics of a Windows critical section: the owning thread may enter it
// again and must leave it as often as it entered.
class Lock {
public:
    Lock() = default;
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock();

    void initialize();  // must precede every other call; calling it twice is a no-op
    void enter();
    bool tryEnter();
    void leave();
    bool initialized() const { return initialized_; }

private:
    alignas(8) unsigned char storage_[64] = {};
    bool initialized_ = false;
};

// Enters a lock for the lifetime of the guard.
class LockGuard {
public:
    explicit LockGuard(Lock& lock) : lock_(lock) { lock_.enter(); }
    ~LockGuard() { lock_.leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& lock_;
};

// Dynamic libraries. loadLibrary returns null when the library cannot be loaded.
void* loadLibrary(const char* path);
void* findFunction(void* library, const char* name);
void freeLibrary(void* library);

// Loads a library from the system's own library folder only (Windows: System32), so that a copy
// planted next to the host or in its working folder is never picked up. Elsewhere the dynamic
// loader's configured search path is already the system's.
void* loadSystemLibrary(const char* name);

// The OpenCL runtimes the system's OpenCL loader would load, as named by its vendor list (the .icd
// files of $OCL_ICD_VENDORS, a folder or one file, else of /etc/OpenCL/vendors): one library name
// or path per entry. False where the list cannot be read that way (Windows keeps it in the
// registry), so that the caller cannot tell what is installed without loading it.
bool openClVendorLibraries(std::vector<std::string>& libraries);

// The platform debug output (Windows: OutputDebugString; elsewhere: standard error).
void debugOutput(const char* text);
// Test-only: while a sink is set, debugOutput hands each text to it instead (a test cannot read
// the Windows debug output back); null restores the platform's output.
void setDebugOutputSink(void (*sink)(const char* text));

// Number of hardware threads the system reports (0 when unknown), or the override when one is set.
unsigned hardwareThreads();
// Test-only: force hardwareThreads() to report count; a negative count removes the override.
void setHardwareThreadOverride(int count);

// Bytes of physical memory the system reports (0 when unknown), or the override when one is set.
std::uint64_t physicalMemoryBytes();
// Test-only: force physicalMemoryBytes() to report bytes; 0 removes the override.
void setPhysicalMemoryOverride(std::uint64_t bytes);
// Bytes the process may still map under its address-space limit (ulimit -v), or UINT64_MAX when
// no limit is set: a limit below the machine's memory is what a farm or a container imposes.
std::uint64_t addressSpaceLeftBytes();

// Large zeroed blocks straight from the system: `bytes` (a multiple of `alignment`, itself a
// power of two) at an address aligned to `alignment` where the system allows it. Null on failure.
void* mapLargeBlock(std::size_t bytes, std::size_t alignment);
void unmapLargeBlock(void* block, std::size_t bytes);
// Asks for huge pages over [block, block + bytes) where the system has them (a no-op elsewhere).
void adviseHugePages(void* block, std::size_t bytes);

// Threads. startThread returns false when the thread could not be created.
struct ThreadHandle {
    void* native = nullptr;
    std::uintptr_t id = 0;
};
bool startThread(ThreadHandle& handle, void (*function)(void*), void* argument);
void joinThread(ThreadHandle& handle);
// Test-only: make every thread start after the first `count` of them fail; negative disables.
void setThreadStartLimit(int count);

}  // namespace lumet::platform
