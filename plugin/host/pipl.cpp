// Builds the plug-in property list's bytes from the effect identity.
#include "host/pipl.h"

#include <string_view>

#include "host/effect_identity.h"

namespace lumet {
namespace {

class PiplWriter {
public:
    void u16(std::uint16_t v) {
        bytes_.push_back(std::uint8_t(v));
        bytes_.push_back(std::uint8_t(v >> 8));
    }
    void u32(std::uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(std::uint8_t(v >> shift));
    }

    // One property: 8BIM, key, id 0, declared length, then data padded with zeros to 4 bytes.
    void property(const char (&key)[5], const std::vector<std::uint8_t>& data,
                  std::uint32_t declaredLength) {
        u32(fourCharCode("8BIM"));
        u32(fourCharCode(key));
        u32(0);
        u32(declaredLength);
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        // Padding counts from the start of the data: the 10-byte list header leaves properties
        // on two-byte offsets in the file.
        bytes_.insert(bytes_.end(), (4 - data.size() % 4) % 4, 0);
    }
    void wordProperty(const char (&key)[5], std::uint32_t value) {
        property(key, littleEndian32(value), 4);
    }
    // Strings declare their padded length.
    void stringProperty(const char (&key)[5], std::vector<std::uint8_t> data) {
        std::uint32_t padded = std::uint32_t((data.size() + 3) / 4 * 4);
        property(key, data, padded);
    }

    static std::vector<std::uint8_t> littleEndian32(std::uint32_t v) {
        return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                std::uint8_t(v >> 24)};
    }
    static std::vector<std::uint8_t> pascal(std::string_view text) {
        std::vector<std::uint8_t> data;
        data.push_back(std::uint8_t(text.size()));
        data.insert(data.end(), text.begin(), text.end());
        return data;
    }
    static std::vector<std::uint8_t> zeroTerminated(std::string_view text) {
        std::vector<std::uint8_t> data(text.begin(), text.end());
        data.push_back(0);
        return data;
    }

    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

static_assert(sizeof(kSupportAddress) - 1 <= 255, "a Pascal string holds at most 255 bytes");

}  // namespace

std::vector<std::uint8_t> buildPipl() {
    PiplWriter w;
    w.u16(1);   // reserved
    w.u32(0);   // list version
    w.u32(13);  // property count
    w.wordProperty("kind", kEffectPluginKind);
    w.stringProperty("name", PiplWriter::pascal(kEffectName));
    w.stringProperty("catg", PiplWriter::pascal(kEffectCategory));
    w.stringProperty("8664", PiplWriter::zeroTerminated(kEntryPointName));
    w.property("ePVR", {2, 0, 0, 0}, 4);  // property-list version 2.0
    w.property("eSVR",
               {std::uint8_t(kEffectApiVersionMajor), std::uint8_t(kEffectApiVersionMajor >> 8),
                std::uint8_t(kEffectApiVersionMinor), std::uint8_t(kEffectApiVersionMinor >> 8)},
               4);
    w.wordProperty("eVER", kEffectVersionWord);
    w.property("eINF", {0, 0}, 2);  // information flags: a 16-bit word, padded
    w.wordProperty("eGLO", kEffectOutFlags);
    w.wordProperty("eGL2", kEffectOutFlags2);
    w.stringProperty("eMNA", PiplWriter::pascal(kEffectMatchName));
    w.wordProperty("aeFL", 0);
    w.stringProperty("eURL", PiplWriter::pascal(kSupportAddress));
    return w.take();
}

}  // namespace lumet
