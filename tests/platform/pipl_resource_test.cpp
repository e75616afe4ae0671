// The property list a resource-reading host sees must describe the effect exactly as its
// registration function does. The builder's bytes are parsed by the reference host's PiPL reader
// and compared field by field with a real registration; on Windows the resource is read back
// from the built Lumet.aex and the reference host's own check runs when it registers the file.
#include "refhost/pipl_resource.h"

#include <gtest/gtest.h>

#include "host/effect_identity.h"
#include "host/entry.h"
#include "host/pipl.h"
#include "refhost/host.h"

namespace {

refhost::Registration inProcessRegistration() {
    refhost::Host host(refhost::PluginEntryPoints{&lumet::effectMain, &lumet::pluginDataEntry});
    EXPECT_EQ(host.registerPlugin(), PF_Err_NONE);
    return host.registration();
}

}  // namespace

TEST(PiplResource, BuilderBytesAgreeWithRegistration) {
    refhost::PiplProperties pipl;
    std::string error;
    ASSERT_TRUE(refhost::parsePipl(lumet::buildPipl(), pipl, error)) << error;

    const refhost::Registration registration = inProcessRegistration();
    EXPECT_TRUE(refhost::comparePiplWithRegistration(pipl, registration).empty());
    EXPECT_EQ(registration.reservedInfo, 8);

    // The comparison notices a disagreement in any one field.
    refhost::Registration renamed = registration;
    renamed.category = "Other";
    renamed.apiVersionMinor = 28;
    const std::vector<std::string> differences =
        refhost::comparePiplWithRegistration(pipl, renamed);
    ASSERT_EQ(differences.size(), 2u);
    EXPECT_NE(differences[0].find("category"), std::string::npos);
    EXPECT_NE(differences[1].find("sub-version"), std::string::npos);
}

TEST(PiplResource, MalformedBytesAreRejected) {
    const std::vector<std::uint8_t> good = lumet::buildPipl();
    refhost::PiplProperties pipl;
    std::string error;
    for (std::size_t cut : {std::size_t(0), std::size_t(9), std::size_t(30), good.size() - 1}) {
        std::vector<std::uint8_t> shortened(good.begin(), good.begin() + std::ptrdiff_t(cut));
        EXPECT_FALSE(refhost::parsePipl(shortened, pipl, error)) << cut << " bytes";
    }
    std::vector<std::uint8_t> trailing = good;
    trailing.push_back(0);
    EXPECT_FALSE(refhost::parsePipl(trailing, pipl, error));
    std::vector<std::uint8_t> badVendor = good;
    badVendor[10] ^= 0xFF;  // first property's vendor code
    EXPECT_FALSE(refhost::parsePipl(badVendor, pipl, error));
    std::vector<std::uint8_t> longName = good;
    longName[10 + 16 + 4 + 16] = 200;  // the name property's Pascal length past its data
    EXPECT_FALSE(refhost::parsePipl(longName, pipl, error));
}

TEST(PiplResource, PluginFileCarriesTheBuilderBytes) {
    if (!refhost::pluginResourcesSupported()) GTEST_SKIP() << "plug-ins carry no resources here";
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(refhost::readPiplResource(LUMET_PLUGIN_PATH, bytes, error)) << error;
    EXPECT_EQ(bytes, lumet::buildPipl());

    refhost::Host host(LUMET_PLUGIN_PATH);
    EXPECT_EQ(host.registerPlugin(), PF_Err_NONE) << host.piplProblem();
    EXPECT_TRUE(host.piplProblem().empty());

    EXPECT_FALSE(
        refhost::readPiplResource(std::string(LUMET_PLUGIN_PATH) + ".missing", bytes, error));
}
