// POSIX implementation of the platform services.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/platform.h"

namespace lumet::platform {

static_assert(sizeof(pthread_mutex_t) <= 64, "lock storage too small");

static pthread_mutex_t* mutexOf(unsigned char* storage) {
    return reinterpret_cast<pthread_mutex_t*>(storage);
}

Lock::~Lock() {
    if (initialized_) pthread_mutex_destroy(mutexOf(storage_));
}

void Lock::initialize() {
    if (initialized_) return;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutexOf(storage_), &attributes);
    pthread_mutexattr_destroy(&attributes);
    initialized_ = true;
}

void Lock::enter() { pthread_mutex_lock(mutexOf(storage_)); }
bool Lock::tryEnter() { return pthread_mutex_trylock(mutexOf(storage_)) == 0; }
void Lock::leave() { pthread_mutex_unlock(mutexOf(storage_)); }

void* loadLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void* findFunction(void* library, const char* name) {
    return library ? dlsym(library, name) : nullptr;
}
void freeLibrary(void* library) {
    if (library) dlclose(library);
}
void* loadSystemLibrary(const char* name) { return loadLibrary(name); }

static std::atomic<void (*)(const char*)> debugOutputSink{nullptr};

void setDebugOutputSink(void (*sink)(const char*)) { debugOutputSink.store(sink); }

void debugOutput(const char* text) {
    if (void (*sink)(const char*) = debugOutputSink.load()) {
        sink(text);
        return;
    }
    std::fputs(text, stderr);
    std::fflush(stderr);
}

static std::atomic<int> hardwareThreadOverride{-1};
static std::atomic<int> threadStartLimit{-1};
static std::atomic<int> threadsStarted{0};

unsigned hardwareThreads() {
    const int forced = hardwareThreadOverride.load();
    if (forced >= 0) return static_cast<unsigned>(forced);
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 0u;
}

void setHardwareThreadOverride(int count) { hardwareThreadOverride.store(count < 0 ? -1 : count); }

static std::atomic<std::uint64_t> physicalMemoryOverride{0};

std::uint64_t physicalMemoryBytes() {
    if (const std::uint64_t forced = physicalMemoryOverride.load()) return forced;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

void setPhysicalMemoryOverride(std::uint64_t bytes) { physicalMemoryOverride.store(bytes); }

bool openClVendorLibraries(std::vector<std::string>& libraries) {
    namespace fs = std::filesystem;
    libraries.clear();
    const char* vendors = std::getenv("OCL_ICD_VENDORS");
    const fs::path list = vendors && *vendors ? fs::path(vendors) : fs::path("/etc/OpenCL/vendors");
    std::error_code error;
    std::vector<fs::path> files;
    if (fs::is_directory(list, error)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(list, error)) {
            if (entry.path().extension() == ".icd") files.push_back(entry.path());
        }
    } else if (fs::exists(list, error)) {
        files.push_back(list);
    }
    for (const fs::path& file : files) {
        std::ifstream in(file);
        std::string name;
        if (std::getline(in, name) && !name.empty()) libraries.push_back(name);
    }
    return true;
}

std::uint64_t addressSpaceLeftBytes() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    // The process's mapped size, in pages, is the first field of /proc/self/statm.
    unsigned long long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    const std::uint64_t mapped =
        static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(sysconf(_SC_PAGE_SIZE));
    const std::uint64_t cap = static_cast<std::uint64_t>(limit.rlim_cur);
    return mapped < cap ? cap - mapped : 0;
}

void* mapLargeBlock(std::size_t bytes, std::size_t alignment) {
    if (bytes == 0 || bytes > SIZE_MAX - alignment) return nullptr;
    // Map one alignment more than asked, then unmap the unaligned head and the tail.
    const std::size_t span = bytes + alignment;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const std::uintptr_t end = aligned + bytes;
    if (start + span > end) munmap(reinterpret_cast<void*>(end), start + span - end);
    return reinterpret_cast<void*>(aligned);
}

void adviseHugePages(void* block, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    if (block && bytes) madvise(block, bytes, MADV_HUGEPAGE);
#else
    (void)block, (void)bytes;
#endif
}

void unmapLargeBlock(void* block, std::size_t bytes) {
    if (block) munmap(block, bytes);
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
void* threadEntry(void* raw) {
    StartRecord* record = static_cast<StartRecord*>(raw);
    record->function(record->argument);
    delete record;
    return nullptr;
}
}  // namespace

bool startThread(ThreadHandle& handle, void (*function)(void*), void* argument) {
    const int limit = threadStartLimit.load();
    if (limit >= 0 && threadsStarted.fetch_add(1) >= limit) return false;
    StartRecord* record = new (std::nothrow) StartRecord{function, argument};
    if (!record) return false;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, threadEntry, record) != 0) {
        delete record;
        return false;
    }
    handle.native = reinterpret_cast<void*>(1);
    handle.id = static_cast<std::uintptr_t>(thread);
    return true;
}

void joinThread(ThreadHandle& handle) {
    if (!handle.native) return;
    pthread_join(static_cast<pthread_t>(handle.id), nullptr);
    handle.native = nullptr;
    handle.id = 0;
}

}  // namespace lumet::platform
