// SuiteHolder: acquires host suites through the basic suite of the in data and releases every
// suite it acquired when it goes out of scope.
#pragma once
#include <vector>

#include "AE_Effect.h"
#include "SPBasic.h"

namespace lumet {

class SuiteHolder {
public:
    // Throws PF_Err_BAD_CALLBACK_PARAM (as an integer) when the host passed no basic suite.
    explicit SuiteHolder(const PF_InData* in_data);
    explicit SuiteHolder(SPBasicSuite* basicSuite);
    ~SuiteHolder();
    SuiteHolder(const SuiteHolder&) = delete;
    SuiteHolder& operator=(const SuiteHolder&) = delete;

    // The suite, or null when the host does not offer it.
    template <typename Suite>
    const Suite* acquire(const char* name, A_long version) {
        return static_cast<const Suite*>(acquireRaw(name, version));
    }
    // The suite; throws PF_Err_BAD_CALLBACK_PARAM when the host does not offer it.
    template <typename Suite>
    const Suite* require(const char* name, A_long version) {
        const void* suite = acquireRaw(name, version);
        if (!suite) throw PF_Err(PF_Err_BAD_CALLBACK_PARAM);
        return static_cast<const Suite*>(suite);
    }

    SPBasicSuite* basicSuite() const { return basic_; }

private:
    const void* acquireRaw(const char* name, A_long version);

    struct Acquired {
        const char* name;
        A_long version;
    };
    SPBasicSuite* basic_;
    std::vector<Acquired> acquired_;
};

}  // namespace lumet
