// Renders on several host threads at once give the frames each gives alone: one render at a
// time uses the smart stage cache, the others work on planes of their own, and no render frees
// or rewrites planes another is reading; and so do frames over the memory budget, computed in
// bands on several threads at once.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "render/frame_report.h"
#include "render_harness.h"
#include "support/sequence_render.h"

namespace lumet {
namespace {

// One frame of a thread's sequence: its layer size, a shape offset, bevel depth, protocol and
// bit depth all differ between threads and between frames, so that the cache would be
// reallocated and recomputed under a render that shared it.
struct Job {
    std::int32_t width, height;
    float shift;
    double bevelDepth;
    bool plain;
    int bits;
};

std::vector<float> renderJob(refhost::Host& host, const Job& job) {
    render_test::setLetterLayer(host, job.width, job.height, job.bits, job.shift);
    host.params().setValue(PARAM_BEVEL_DEPTH, job.bevelDepth);
    refhost::FrameOptions options;
    options.highQuality = false;
    options.bitsPerChannel = job.bits;
    refhost::RenderedFrame frame;
    const PF_Err err = job.plain ? refhost::renderPlainFrame(host, options, frame)
                                 : refhost::renderSmartFrame(host, options, frame);
    EXPECT_EQ(err, PF_Err_NONE);
    return err == PF_Err_NONE ? render_test::pixelsOf(frame, job.bits) : std::vector<float>{};
}

std::unique_ptr<refhost::Host> makeHost() {
    std::unique_ptr<refhost::Host> host = render_test::makeInProcessHost();
    host->params().setValue(PARAM_GLOW_INTENSITY, 0.4);
    host->params().setValue(PARAM_GLOW_RADIUS, 6.0);
    return host;
}

TEST(ConcurrentRender, FramesOnSeveralThreadsEqualTheFramesAlone) {
    constexpr int kThreads = 3, kFramesPerThread = 4;
    std::vector<std::vector<Job>> jobs(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        for (int f = 0; f < kFramesPerThread; ++f) {
            jobs[t].push_back(Job{72 + 24 * t, 36 + 8 * f, float(f), 40.0 + 30 * ((t + f) % 3),
                                  (t + f) % 4 == 3, f % 3 == 2 ? 16 : 8});
        }
    }

    // Each frame alone, in a fresh effect instance.
    std::vector<std::vector<std::vector<float>>> alone(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        for (const Job& job : jobs[t]) {
            std::unique_ptr<refhost::Host> host = makeHost();
            alone[t].push_back(renderJob(*host, job));
        }
    }

    // The same frames, each thread's in sequence, all threads at once, twice over; then once
    // more over a budget that puts every frame in bands. The hosts are set up before and set down
    // after the threads, as one host session would be.
    for (const char* budget : {"", "64K"}) {
        test::setEnvironment("LUMET_MEMORY_BUDGET", budget);
        std::vector<std::unique_ptr<refhost::Host>> hosts;
        for (int t = 0; t < kThreads; ++t) hosts.push_back(makeHost());
        const int rounds = *budget == '\0' ? 2 : 1;
        std::vector<std::vector<std::vector<float>>> together(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < rounds; ++round) {
                    for (const Job& job : jobs[t]) together[t].push_back(renderJob(*hosts[t], job));
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        hosts.clear();
        test::setEnvironment("LUMET_MEMORY_BUDGET", "");
        EXPECT_EQ(lastFrameReport().strips > 0, *budget != '\0');

        for (int t = 0; t < kThreads; ++t) {
            ASSERT_EQ(together[t].size(), std::size_t{1} * rounds * kFramesPerThread);
            for (int i = 0; i < rounds * kFramesPerThread; ++i) {
                SCOPED_TRACE(testing::Message()
                             << "budget " << budget << ", thread " << t << ", frame " << i);
                EXPECT_EQ(together[t][i], alone[t][i % kFramesPerThread]);
            }
        }
    }
}

}  // namespace
}  // namespace lumet
