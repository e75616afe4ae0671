// LUMET_AVX2_CLONES: with GCC on x86-64 ELF targets a loop function so marked is also compiled for
// AVX2 (eight float lanes a vector, no fused multiply-add, so the same floats), chosen at load
// time on processors that have it. Clang does not clone templates; its builds, and the Windows
// build, keep the SSE2 loops.
#pragma once

#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && !defined(__clang__)
#define LUMET_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define LUMET_AVX2_CLONES
#endif

// LUMET_NO_LOOP_ALIASING, in front of a loop: no iteration reads what another writes, so the
// compiler vectorises it without testing its pointers for overlap at run time (where the tests
// would be too many).
#if defined(__clang__)
#define LUMET_NO_LOOP_ALIASING _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define LUMET_NO_LOOP_ALIASING _Pragma("GCC ivdep")
#else
#define LUMET_NO_LOOP_ALIASING
#endif

// LUMET_TARGET_AVX2, in front of a function: compiled for AVX2 (no fused multiply-add, so a lane
// gives the SSE2 form's floats), to be called only where haveAvx2() says the processor has it.
#if defined(__x86_64__) && defined(__GNUC__)
#define LUMET_AVX2_TARGET 1
#define LUMET_TARGET_AVX2 __attribute__((target("avx2")))
namespace lumet {
inline bool haveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
}  // namespace lumet
#endif
