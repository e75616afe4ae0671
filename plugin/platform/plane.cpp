// The plane pool. Blocks are recorded in a fixed table (no allocation inside the allocator, and
// nothing to destroy: a plane freed while the library unloads still finds its record). Requests
// are served by the smallest idle block that holds them; new blocks are mapped outside the lock.
// Under AddressSanitizer blocks come from the C library, the bytes past a request and every idle
// block poisoned, so that overruns and uses after release are still caught.
#include "platform/plane.h"

#include <atomic>
#include <mutex>

#include "platform/platform.h"

#if defined(__SANITIZE_ADDRESS__)
#define LUMET_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMET_POOL_ASAN 1
#endif
#endif
#ifdef LUMET_POOL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace lumet {

static std::atomic<std::size_t> allocationLimit{0};
static std::atomic<std::int64_t> failingRequest{0};
static std::atomic<std::int64_t> requestsCounted{0};
static std::atomic<std::uint64_t> requestsRefused{0};

void setPlaneAllocationLimit(std::size_t bytes) { allocationLimit.store(bytes); }

void failPlaneRequest(std::int64_t failAt) {
    failingRequest.store(0);
    requestsCounted.store(0);
    failingRequest.store(failAt);
}

std::int64_t planeRequestsCounted() { return requestsCounted.load(); }

std::uint64_t planeRequestsRefused() { return requestsRefused.load(); }

bool planeAllocationAllowed(std::size_t bytes) {
    const std::int64_t failAt = failingRequest.load(std::memory_order_relaxed);
    const std::size_t limit = allocationLimit.load(std::memory_order_relaxed);
    const bool failed =
        failAt > 0 && requestsCounted.fetch_add(1, std::memory_order_relaxed) + 1 == failAt;
    if (!failed && (limit == 0 || bytes < limit)) return true;
    requestsRefused.fetch_add(1);
    return false;
}

namespace {

constexpr std::size_t kBlockAlignment = std::size_t{2} << 20;
constexpr int kSlots = 1024;
// An idle block is freed once this many frames have started without using it.
constexpr std::uint64_t kIdleFrames = 4;

struct Block {
    void* data;
    std::size_t capacity;
    std::uint64_t lastFrame;
    bool inUse;
    bool zero;  // never handed out since it was mapped: reads zero
};

struct Pool {
    Block blocks[kSlots];
    int count;  // blocks[0, count) are records; a record with null data is free
    std::uint64_t held, idle, reused, mapped, frame;
};

std::mutex gPoolMutex;
Pool gPool;  // zero-initialised; guarded by gPoolMutex

void* mapBlock(std::size_t capacity) {
#ifdef LUMET_POOL_ASAN
    void* data = std::aligned_alloc(kBlockAlignment, capacity);
    if (data) std::memset(data, 0, capacity);
    return data;
#else
    return platform::mapLargeBlock(capacity, kBlockAlignment);
#endif
}

void unmapBlock(void* data, std::size_t capacity) {
#ifdef LUMET_POOL_ASAN
    ASAN_UNPOISON_MEMORY_REGION(data, capacity);
    std::free(data);
#else
    platform::unmapLargeBlock(data, capacity);
#endif
}

// Marks the bytes of a block a request may not touch.
void poison(void* data, std::size_t capacity, std::size_t used) {
#ifdef LUMET_POOL_ASAN
    ASAN_UNPOISON_MEMORY_REGION(data, used);
    ASAN_POISON_MEMORY_REGION(static_cast<char*>(data) + used, capacity - used);
#else
    (void)data, (void)capacity, (void)used;
#endif
}

// Takes the smallest idle block of `bytes` or more; null when there is none. (A larger idle
// block serves a smaller plane rather than stay idle beside a new block: idle memory is resident.)
Block* takeIdle(std::size_t bytes) {
    Block* best = nullptr;
    for (int i = 0; i < gPool.count; ++i) {
        Block& b = gPool.blocks[i];
        if (b.data && !b.inUse && b.capacity >= bytes && (!best || b.capacity < best->capacity))
            best = &b;
    }
    if (best) {
        best->inUse = true;
        best->lastFrame = gPool.frame;
        gPool.idle -= best->capacity;
        ++gPool.reused;
    }
    return best;
}

Block* freeRecord() {
    for (int i = 0; i < gPool.count; ++i)
        if (!gPool.blocks[i].data) return &gPool.blocks[i];
    return gPool.count < kSlots ? &gPool.blocks[gPool.count++] : nullptr;
}

// Removes the idle blocks `drop` selects from the pool; the caller unmaps them after unlocking.
template <class Drop>
int detachIdle(Block* detached, Drop drop) {
    int n = 0;
    for (int i = 0; i < gPool.count; ++i) {
        Block& b = gPool.blocks[i];
        if (!b.data || b.inUse || !drop(b)) continue;
        detached[n++] = b;
        gPool.held -= b.capacity;
        gPool.idle -= b.capacity;
        b = Block{};
    }
    while (gPool.count > 0 && !gPool.blocks[gPool.count - 1].data) --gPool.count;
    return n;
}

std::mutex gDetachMutex;
Block gDetached[kSlots];  // guarded by gDetachMutex

template <class Drop>
void releaseIdleWhere(Drop drop) {
    const std::lock_guard<std::mutex> detaching(gDetachMutex);
    Block* const detached = gDetached;
    int n;
    {
        const std::lock_guard<std::mutex> hold(gPoolMutex);
        n = detachIdle(detached, drop);
    }
    for (int i = 0; i < n; ++i) unmapBlock(detached[i].data, detached[i].capacity);
}

void* acquirePooled(std::size_t bytes, bool zeroed) {
    Block* block;
    bool zero;
    void* data;
    {
        const std::lock_guard<std::mutex> hold(gPoolMutex);
        block = takeIdle(bytes);
        if (block) {
            zero = block->zero;
            block->zero = false;
            data = block->data;
            poison(data, block->capacity, bytes);
        }
    }
    if (block) {
        if (zeroed && !zero) std::memset(data, 0, bytes);
        return data;
    }
    const std::size_t capacity = (bytes + kBlockAlignment - 1) / kBlockAlignment * kBlockAlignment;
    data = mapBlock(capacity);
    if (!data) {
        // Memory is short: what the pool keeps idle gives way, then one more try.
        releaseIdlePlanes();
        data = mapBlock(capacity);
        if (!data) return nullptr;
    }
#ifndef LUMET_POOL_ASAN
    // Huge pages over the whole 2 MiB units the request fills: a huge page at the partly used end
    // would make the whole unit resident for the few bytes the plane reads there.
    platform::adviseHugePages(data, bytes / kBlockAlignment * kBlockAlignment);
#endif
    const std::lock_guard<std::mutex> hold(gPoolMutex);
    Block* record = freeRecord();
    if (!record) {
        // Every record taken (a pathological number of live planes): an unpooled block.
        unmapBlock(data, capacity);
        return zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
    }
    *record = Block{data, capacity, gPool.frame, true, false};
    gPool.held += capacity;
    ++gPool.mapped;
    poison(data, capacity, bytes);
    return data;
}

}  // namespace

void* acquirePlaneMemory(std::size_t bytes, bool zeroed, bool seldom) {
    void* data;
    if (!seldom && bytes >= kPooledPlaneBytes && bytes <= PTRDIFF_MAX - kBlockAlignment) {
        data = acquirePooled(bytes, zeroed);
    } else {
        const std::size_t size = bytes == 0 ? 1 : bytes;
        data = zeroed ? std::calloc(size, 1) : std::malloc(size);
    }
    if (!data) requestsRefused.fetch_add(1);
    return data;
}

void releasePlaneMemory(void* pointer) {
    if (!pointer) return;
    {
        const std::lock_guard<std::mutex> hold(gPoolMutex);
        for (int i = 0; i < gPool.count; ++i) {
            Block& b = gPool.blocks[i];
            if (b.data != pointer) continue;
            b.inUse = false;
            gPool.idle += b.capacity;
            poison(b.data, b.capacity, 0);
            return;
        }
    }
    std::free(pointer);
}

PlanePoolStats planePoolStats() {
    const std::lock_guard<std::mutex> hold(gPoolMutex);
    return {gPool.held, gPool.idle, gPool.reused, gPool.mapped};
}

void releaseIdlePlanes() {
    releaseIdleWhere([](const Block&) { return true; });
}

void beginPlaneFrame() {
    std::uint64_t frame;
    {
        const std::lock_guard<std::mutex> hold(gPoolMutex);
        frame = ++gPool.frame;
    }
    releaseIdleWhere([frame](const Block& b) { return b.lastFrame + kIdleFrames < frame; });
}

void makeRoomForFrame(std::uint64_t bytes, std::uint64_t budget) {
    if (planePoolStats().heldBytes + bytes > budget) releaseIdlePlanes();
}

namespace {
// Gives the idle blocks back when the library unloads or the process ends.
struct IdleBlocksAtExit {
    ~IdleBlocksAtExit() { releaseIdlePlanes(); }
} gIdleBlocksAtExit;
}  // namespace

}  // namespace lumet
