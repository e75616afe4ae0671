// Suite acquisition with release on scope exit.
#include "host/suite_holder.h"

namespace lumet {

SuiteHolder::SuiteHolder(const PF_InData* in_data)
    : SuiteHolder(in_data ? in_data->pica_basicP : nullptr) {}

SuiteHolder::SuiteHolder(SPBasicSuite* basicSuite) : basic_(basicSuite) {
    if (!basic_ || !basic_->AcquireSuite || !basic_->ReleaseSuite) {
        throw PF_Err(PF_Err_BAD_CALLBACK_PARAM);
    }
}

SuiteHolder::~SuiteHolder() {
    for (auto it = acquired_.rbegin(); it != acquired_.rend(); ++it) {
        basic_->ReleaseSuite(it->name, it->version);
    }
}

const void* SuiteHolder::acquireRaw(const char* name, A_long version) {
    acquired_.reserve(acquired_.size() + 1);  // so that recording an acquired suite cannot throw
    const void* suite = nullptr;
    if (basic_->AcquireSuite(name, version, &suite) != kSPNoError || !suite) return nullptr;
    acquired_.push_back({name, version});
    return suite;
}

}  // namespace lumet
