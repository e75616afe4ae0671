// The property list's bytes against the layout written out by hand.
#include "host/pipl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void word(std::vector<unsigned char>& out, unsigned v) {
    for (int i = 0; i < 4; ++i) out.push_back((v >> (8 * i)) & 0xFF);
}
// A property header as the file shows it: the codes reversed.
void header(std::vector<unsigned char>& out, const char* reversedKey, unsigned length) {
    for (const char* p = "MIB8"; *p; ++p) out.push_back(*p);
    for (const char* p = reversedKey; *p; ++p) out.push_back(*p);
    word(out, 0);
    word(out, length);
}
void bytes(std::vector<unsigned char>& out, std::initializer_list<int> values) {
    for (int v : values) out.push_back(static_cast<unsigned char>(v));
}
void chars(std::vector<unsigned char>& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
}

TEST(Pipl, BytesMatchTheResourceLayout) {
    std::vector<unsigned char> expected;
    bytes(expected, {1, 0});  // reserved
    word(expected, 0);        // version
    word(expected, 13);       // count
    header(expected, "dnik", 4);
    chars(expected, "TKFe");
    header(expected, "eman", 8);
    bytes(expected, {5});
    chars(expected, "Lumet");
    bytes(expected, {0, 0});
    header(expected, "gtac", 8);
    bytes(expected, {6});
    chars(expected, "Veltra");
    bytes(expected, {0});
    header(expected, "4668", 12);
    chars(expected, "EffectMain");
    bytes(expected, {0, 0});
    header(expected, "RVPe", 4);
    bytes(expected, {2, 0, 0, 0});
    header(expected, "RVSe", 4);
    bytes(expected, {13, 0, 29, 0});
    header(expected, "REVe", 4);
    bytes(expected, {0x01, 0x06, 0x08, 0x00});
    header(expected, "FNIe", 2);
    bytes(expected, {0, 0, 0, 0});
    header(expected, "OLGe", 4);
    bytes(expected, {0x00, 0x02, 0x00, 0x06});
    header(expected, "2LGe", 4);
    bytes(expected, {0x88, 0x14, 0x00, 0x08});
    header(expected, "ANMe", 16);
    bytes(expected, {12});
    chars(expected, "Veltra Lumet");
    bytes(expected, {0, 0, 0});
    header(expected, "LFea", 4);
    bytes(expected, {0, 0, 0, 0});
    const std::string url = "https://veltra.example/lumet";  // 28 characters: 29 bytes, 32 padded
    header(expected, "LRUe", 32);
    bytes(expected, {28});
    chars(expected, url);
    bytes(expected, {0, 0, 0});

    const std::vector<std::uint8_t> actual = lumet::buildPipl();
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(int(actual[i]), int(expected[i])) << "byte " << i;
    }
    // Every property starts on a four-byte boundary after the 10-byte header.
    EXPECT_EQ((actual.size() - 10) % 4, 0u);
}

}  // namespace
