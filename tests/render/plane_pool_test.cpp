// The plane pool: large planes are served from blocks kept between frames (aligned to 2 MiB,
// zeroed on request, aged out and released), concurrent requests never share a block, and a
// frame that follows another of the same shape asks the system for no new memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>
#include <vector>

#include "params/param_ids.h"
#include "platform/plane.h"
#include "render_harness.h"

namespace lumet {
namespace {

constexpr std::int64_t kMiB = std::int64_t{1} << 20;
constexpr std::int64_t kFloatsPerMiB = kMiB / 4;

TEST(PlanePool, IdleBlocksAreReusedZeroedOnRequestAgedOutAndReleased) {
    releaseIdlePlanes();
    const PlanePoolStats start = planePoolStats();
    float* first;
    {
        Plane<float> plane = allocatePlane<float>(3 * kFloatsPerMiB);
        ASSERT_TRUE(plane);
        first = plane.get();
#ifndef _WIN32  // Windows hands out blocks on its 64 KiB allocation granularity
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % (2 * kMiB), 0u);
#endif
        std::fill(first, first + 3 * kFloatsPerMiB, 7.0f);
    }
    PlanePoolStats s = planePoolStats();
    EXPECT_EQ(s.mapped, start.mapped + 1);
    EXPECT_EQ(s.idleBytes, start.idleBytes + 4 * kMiB);  // 3 MiB rounded up to 2 MiB blocks

    {
        // A smaller request takes the idle block, cleared over what it asked for.
        Plane<float> plane = allocateZeroedPlane<float>(2 * kFloatsPerMiB);
        ASSERT_EQ(plane.get(), first);
        EXPECT_TRUE(std::all_of(first, first + 2 * kFloatsPerMiB, [](float v) { return v == 0; }));
        // Small planes come from the C library, not the pool.
        Plane<float> small = allocatePlane<float>(1000);
        EXPECT_TRUE(small);
        EXPECT_EQ(planePoolStats().reused, start.reused + 1);
        EXPECT_EQ(planePoolStats().mapped, start.mapped + 1);
    }

    // Idle through one frame it stays; idle through many it goes.
    beginPlaneFrame();
    EXPECT_EQ(planePoolStats().idleBytes, start.idleBytes + 4 * kMiB);
    for (int frame = 0; frame < 8; ++frame) beginPlaneFrame();
    EXPECT_EQ(planePoolStats().heldBytes, start.heldBytes);

    // A frame that would not fit beside the pool's idle blocks makes them go.
    { Plane<float> plane = allocatePlane<float>(3 * kFloatsPerMiB); }
    s = planePoolStats();
    makeRoomForFrame(0, s.heldBytes);
    EXPECT_EQ(planePoolStats().idleBytes, s.idleBytes);
    makeRoomForFrame(1, s.heldBytes);
    EXPECT_EQ(planePoolStats().idleBytes, 0u);
}

TEST(ConcurrentPlanePool, ThreadsNeverShareABlock) {
    constexpr int kThreads = 4, kRounds = 60;
    std::vector<std::thread> threads;
    std::vector<int> faults(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &faults] {
            std::mt19937 random(static_cast<unsigned>(t));
            for (int round = 0; round < kRounds; ++round) {
                const std::int64_t count = kFloatsPerMiB + random() % (5 * kFloatsPerMiB);
                Plane<float> plane = round % 3 ? allocatePlane<float>(count)
                                               : allocateZeroedPlane<float>(count);
                if (!plane) {
                    ++faults[t];
                    continue;
                }
                const float mark = static_cast<float>(t * 1000 + round);
                std::fill(plane.get(), plane.get() + count, mark);
                std::this_thread::yield();
                if (!std::all_of(plane.get(), plane.get() + count,
                                 [mark](float v) { return v == mark; }))
                    ++faults[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(faults, std::vector<int>(kThreads, 0));
    const PlanePoolStats s = planePoolStats();
    EXPECT_EQ(s.idleBytes, s.heldBytes);  // every block came back
}

TEST(PlanePool, AFrameAfterAnotherOfTheSameShapeMapsNoNewMemory) {
    std::unique_ptr<refhost::Host> host = render_test::makeInProcessHost();
    render_test::setLetterLayer(*host, 480, 270, 8);
    refhost::FrameOptions options;
    options.highQuality = true;
    for (bool plain : {false, true}) {
        for (double angle : {40.0, 50.0, 60.0}) {
            host->params().setValue(PARAM_LIGHT_ANGLE, angle);
            const std::uint64_t mappedBefore = planePoolStats().mapped;
            refhost::RenderedFrame frame;
            ASSERT_EQ(plain ? refhost::renderPlainFrame(*host, options, frame)
                            : refhost::renderSmartFrame(*host, options, frame),
                      PF_Err_NONE);
            if (angle != 40.0) {
                EXPECT_EQ(planePoolStats().mapped, mappedBefore) << plain;
            }
        }
    }
}

}  // namespace
}  // namespace lumet
