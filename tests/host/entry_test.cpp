// The entry points of the built plug-in: exports, the command table, the about box, global
// set-up and set-down, and the guard that keeps exceptions away from the host.
#include "host/entry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "AE_ComputeCacheSuite.h"
#include "AE_Effect.h"
#include "AE_EffectCBSuites.h"
#include "AE_HashSuite.h"
#include "host/env_map_cache.h"
#include "host/entry_guard.h"
#include "host/loaded_plugin.h"
#include "refhost/compute_cache.h"
#include "render/render_locks.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

using lumet::test::loadedPlugin;

TEST(Exports, LibraryExportsExactlyTheTwoEntryPoints) {
    std::set<std::string> names;
#ifdef _WIN32
    // The export directory of the loaded DLL, read from its mapped headers.
    HMODULE module = LoadLibraryA(LUMET_PLUGIN_PATH);
    ASSERT_NE(module, nullptr);
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(directory.VirtualAddress, 0u);
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        names.insert(reinterpret_cast<const char*>(base + nameRvas[i]));
    }
    EXPECT_EQ(exports->NumberOfFunctions, 2u);
    FreeLibrary(module);
#else
    const std::string command = std::string("nm -D --defined-only ") + LUMET_PLUGIN_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512];
    while (std::fgets(line, sizeof(line), pipe)) {
        char address[128], kind[8], name[256];
        if (std::sscanf(line, "%127s %7s %255s", address, kind, name) == 3) names.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0);
#endif
    EXPECT_EQ(names, (std::set<std::string>{"EffectMain", "PluginDataEntryFunction2"}));
}

TEST(AboutBox, FormatsNameVersionAndDescriptionThroughTheAnsiSuite) {
    refhost::Host host(LUMET_PLUGIN_PATH);
    std::string text;
    ASSERT_EQ(host.about(&text), PF_Err_NONE);
    EXPECT_EQ(text,
              "Lumet v1.0\rProfessional PBR Metal & Glass Text Effects\rVeltra Premium Effects");
    EXPECT_EQ(host.suites().acquisitions(kPFANSISuite, 1), 1);
    EXPECT_EQ(host.suites().outstanding(kPFANSISuite, 1), 0) << "the suite must be released";
}

TEST(AboutBox, MissingSuitesGiveBadCallbackParam) {
    refhost::Host host(LUMET_PLUGIN_PATH);
    host.withholdSuite(kPFANSISuite, 1);
    EXPECT_EQ(host.about(nullptr), PF_Err_BAD_CALLBACK_PARAM);
    host.offerSuite(kPFANSISuite, 1, refhost::ansiSuite());
    host.withholdBasicSuite(true);
    EXPECT_EQ(host.about(nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

// Commands without a handler: result 0 and no trace in the out data, even without any record.
TEST(CommandTable, UnhandledCommandsAnswerZeroAndTouchNothing) {
    auto host = loadedPlugin();
    const std::set<int> handled = {0, 1, 3, 4, 10, 11, 13, 23, 24};
    const refhost::PluginLibrary library = refhost::PluginLibrary::load(LUMET_PLUGIN_PATH, nullptr);
    const PF_FilterProc main = library.entryPoints().effectMain;
    ASSERT_NE(main, nullptr);
    const int cacheAcquisitions = host->suites().acquisitions(kAEGPComputeCacheSuite, 1);
    const int ansiAcquisitions = host->suites().acquisitions(kPFANSISuite, 1);
    for (int cmd = 0; cmd <= 30; ++cmd) {
        if (handled.count(cmd)) continue;
        PF_InData in = host->makeInData();
        PF_OutData out, untouched;
        std::memset(&out, 0xA5, sizeof(out));
        std::memcpy(&untouched, &out, sizeof(out));
        PF_LayerDef output;
        std::memset(&output, 0, sizeof(output));
        PF_ParamDef* params[1] = {nullptr};
        char extra[64] = {};
        EXPECT_EQ(main(PF_Cmd(cmd), &in, &out, params, &output, extra), PF_Err_NONE) << cmd;
        EXPECT_EQ(std::memcmp(&out, &untouched, sizeof(out)), 0) << "command " << cmd;
        EXPECT_EQ(main(PF_Cmd(cmd), nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_NONE)
            << cmd;
    }
    EXPECT_EQ(host->suites().acquisitions(kAEGPComputeCacheSuite, 1), cacheAcquisitions);
    EXPECT_EQ(host->suites().acquisitions(kPFANSISuite, 1), ansiAcquisitions);
}

TEST(CommandTable, HandledCommandsRefuseMissingRecords) {
    auto host = loadedPlugin();
    for (PF_Cmd cmd : {PF_Cmd_RENDER, PF_Cmd_USER_CHANGED_PARAM, PF_Cmd_SMART_PRE_RENDER,
                       PF_Cmd_SMART_RENDER, PF_Cmd_FRAME_SETUP}) {
        EXPECT_EQ(host->sendCommand(cmd, nullptr, nullptr, nullptr, nullptr),
                  PF_Err_BAD_CALLBACK_PARAM)
            << cmd;
    }
}

TEST(CommandTable, ParameterUiUpdateIsAnsweredWithoutAction) {
    auto host = loadedPlugin();
    refhost::FrameParams frame(host->params(), 0, nullptr);
    PF_OutData out;
    EXPECT_EQ(host->sendCommand(PF_Cmd_UPDATE_PARAMS_UI, frame.array(), nullptr, nullptr, &out),
              PF_Err_NONE);
    EXPECT_EQ(out.out_flags, 0);
    for (int i = 0; i < frame.count(); ++i) EXPECT_EQ(frame[i].uu.change_flags, 0);
}

// Twice with every suite (declaring the parameters each time), then without the compute-cache
// suite, then without the basic suite: set-up succeeds with the same version and flag words.
TEST(GlobalSetup, SetsVersionAndFlagWordsEveryTimeWithOrWithoutOptionalSuites) {
    refhost::Host host(LUMET_PLUGIN_PATH);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        if (round == 2) host.withholdSuite(kAEGPComputeCacheSuite, 1);
        if (round == 3) host.withholdBasicSuite(true);
        ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
        EXPECT_EQ(host.lastOutData().my_version, 0x00080601u);
        EXPECT_EQ(host.lastOutData().out_flags, 0x06000200);
        EXPECT_EQ(host.lastOutData().out_flags2, 0x08001488);
        if (round < 2) {
            ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
            EXPECT_EQ(host.params().count(), 45);
        }
        ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    }
}

// Set-up registers the environment map's class, with all four callbacks, in the host's compute
// cache, which refuses a second registration of a class it holds; set-down removes it again.
TEST(GlobalSetup, RegistersAndUnregistersTheEnvironmentMapClass) {
    refhost::ComputeCache& cache = refhost::ComputeCache::shared();
    const AEGP_ComputeCacheCallbacks probe = {lumet::envMapCacheKey, lumet::envMapCacheCompute,
                                              lumet::envMapCacheSize, lumet::envMapCacheDelete};
    refhost::Host host(LUMET_PLUGIN_PATH);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_EQ(cache.registerClass("veltra.lumet.envmap.v1", &probe), A_Err_PARAMETER);
    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    EXPECT_EQ(host.suites().outstanding(kAEGPComputeCacheSuite, 1), 0);
    ASSERT_EQ(cache.registerClass("veltra.lumet.envmap.v1", &probe), A_Err_NONE);
    EXPECT_EQ(cache.unregisterClass("veltra.lumet.envmap.v1"), A_Err_NONE);
}

// In-process: a second set-up must not re-create a lock that exists, or a render holding it
// would lose its exclusion.
TEST(GlobalSetup, SecondSetupReusesTheLocks) {
    refhost::Host host(refhost::PluginEntryPoints{&lumet::effectMain, &lumet::pluginDataEntry});
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_TRUE(lumet::nonSmartCacheLockCreated());
    EXPECT_TRUE(lumet::gpuLockCreated());

    // Set-down frees the GPU's buffers under the GPU lock, so it runs before the lock is taken.
    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
    std::atomic<int> stage{0};
    std::thread holder([&] {
        lumet::EnterGpuLock();
        stage = 1;
        while (stage != 2) std::this_thread::yield();
        lumet::LeaveGpuLock();
    });
    while (stage != 1) std::this_thread::yield();
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    EXPECT_FALSE(lumet::TryEnterGpuLock()) << "set-up re-created a held lock";
    stage = 2;
    holder.join();
    EXPECT_TRUE(lumet::TryEnterGpuLock());
    lumet::LeaveGpuLock();
    ASSERT_EQ(host.globalSetdown(), PF_Err_NONE);
}

TEST(EntryGuard, IntegerErrorsPassAndOtherExceptionsBecomeCodes) {
    EXPECT_EQ(lumet::runGuarded([]() -> PF_Err { throw PF_Err(1234); }), 1234);
    EXPECT_EQ(lumet::runGuarded([]() -> PF_Err { throw PF_Err(-7); }), -7);
    EXPECT_EQ(lumet::runGuarded([]() -> PF_Err { throw std::bad_alloc(); }), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(lumet::runGuarded([]() -> PF_Err { throw std::runtime_error("x"); }),
              PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(lumet::runGuarded([]() -> PF_Err { throw 'c'; }), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(lumet::runGuarded([]() -> PF_Err { return 77; }), 77);
}

}  // namespace
