// About text through the host's ANSI sprintf.
#include "host/about_box.h"

#include "AE_EffectCBSuites.h"
#include "host/effect_identity.h"
#include "host/suite_holder.h"

namespace lumet {

void writeAboutText(const PF_InData* in_data, PF_OutData* out_data) {
    SuiteHolder suites(in_data);
    const auto* ansi = suites.require<PF_ANSICallbacksSuite1>(kPFANSISuite, kPFANSISuiteVersion1);
    if (!ansi->sprintf) throw PF_Err(PF_Err_BAD_CALLBACK_PARAM);
    // The formatted text is 56 characters, well inside the 256-byte message.
    static_assert(sizeof(kEffectName) + sizeof(kEffectDescription) + 8 <=
                  sizeof(PF_OutData::return_msg));
    ansi->sprintf(out_data->return_msg, "%s v%d.%d\r%s", kEffectName, int(kEffectMajorVersion),
                  int(kEffectMinorVersion), kEffectDescription);
}

}  // namespace lumet
