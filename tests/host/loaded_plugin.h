// Test helper: a reference host driving the built plug-in library, registered, globally set up
// and with its parameters declared. Every test program that includes this loads the same
// library, so its process-wide state (locks, caches) is shared between the tests of a program.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "refhost/host.h"

namespace lumet::test {

inline std::unique_ptr<refhost::Host> loadedPlugin(bool declareParams = true) {
    auto host = std::make_unique<refhost::Host>(LUMET_PLUGIN_PATH);
    EXPECT_EQ(host->registerPlugin(), PF_Err_NONE);
    EXPECT_EQ(host->globalSetup(), PF_Err_NONE);
    if (declareParams) {
        EXPECT_EQ(host->paramsSetup(), PF_Err_NONE);
    }
    return host;
}

}  // namespace lumet::test
