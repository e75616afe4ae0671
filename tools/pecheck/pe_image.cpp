// PE file reader: headers, section table, export, import and resource directories. Every offset
// is bounds-checked against the file, so a damaged file is reported instead of read past its end.
#include "pe_image.h"

namespace pecheck {
namespace {

class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    bool has(std::uint64_t offset, std::uint64_t size) const {
        return offset <= bytes_.size() && size <= bytes_.size() - offset;
    }
    std::uint16_t u16(std::uint64_t offset) const {
        if (!has(offset, 2)) throw "read past the end of the file";
        return std::uint16_t(bytes_[offset] | (bytes_[offset + 1] << 8));
    }
    std::uint32_t u32(std::uint64_t offset) const {
        return std::uint32_t(u16(offset)) | (std::uint32_t(u16(offset + 2)) << 16);
    }
    std::string cString(std::uint64_t offset) const {
        std::string text;
        while (true) {
            if (!has(offset, 1)) throw "unterminated string";
            const char c = char(bytes_[offset++]);
            if (c == 0) return text;
            text.push_back(c);
        }
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    const std::vector<std::uint8_t>& bytes_;
};

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawOffset;
    std::uint32_t rawSize;
};

struct Image {
    std::vector<Section> sections;

    // File offset of a relative virtual address; throws when no section's file data holds it.
    std::uint64_t offsetOf(std::uint32_t rva) const {
        for (const Section& s : sections) {
            if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) {
                return std::uint64_t(s.rawOffset) + (rva - s.virtualAddress);
            }
        }
        throw "address outside every section";
    }
};

std::string utf16Name(const Reader& r, std::uint64_t offset) {
    const std::uint16_t length = r.u16(offset);
    std::string name;
    for (std::uint16_t i = 0; i < length; ++i) {
        const std::uint16_t c = r.u16(offset + 2 + 2u * i);
        name.push_back(c < 128 ? char(c) : '?');
    }
    return name;
}

// The name or id of a resource directory entry.
std::string entryName(const Reader& r, std::uint64_t resourceBase, std::uint32_t nameField) {
    if (nameField & 0x80000000u) return utf16Name(r, resourceBase + (nameField & 0x7FFFFFFFu));
    std::string name = std::to_string(nameField);
    name.insert(name.begin(), '#');
    return name;
}

void readResources(const Reader& r, const Image& image, std::uint32_t rva, PeImage& out) {
    const std::uint64_t base = image.offsetOf(rva);
    // Type, name and language levels; each entry's high offset bit marks a subdirectory.
    auto entries = [&](std::uint64_t directory) {
        const std::uint32_t count = std::uint32_t(r.u16(directory + 12)) + r.u16(directory + 14);
        if (count > 4096) throw "implausible resource directory";
        std::vector<std::pair<std::uint32_t, std::uint32_t>> list;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t entry = directory + 16 + 8ull * i;
            list.emplace_back(r.u32(entry), r.u32(entry + 4));
        }
        return list;
    };
    for (auto [typeField, typeOffset] : entries(base)) {
        if (!(typeOffset & 0x80000000u)) throw "resource type without a subdirectory";
        const std::string type = entryName(r, base, typeField);
        for (auto [nameField, nameOffset] : entries(base + (typeOffset & 0x7FFFFFFFu))) {
            if (!(nameOffset & 0x80000000u)) throw "resource name without a subdirectory";
            const std::string name = entryName(r, base, nameField);
            for (auto [languageField, dataOffset] : entries(base + (nameOffset & 0x7FFFFFFFu))) {
                if (dataOffset & 0x80000000u) throw "resource language entry is a directory";
                const std::uint64_t dataEntry = base + dataOffset;
                const std::uint32_t dataRva = r.u32(dataEntry);
                const std::uint32_t size = r.u32(dataEntry + 4);
                const std::uint64_t at = image.offsetOf(dataRva);
                if (!r.has(at, size)) throw "resource data past the end of the file";
                Resource resource;
                resource.type = type;
                resource.name = name;
                resource.language = languageField;
                resource.bytes.assign(r.bytes().begin() + std::ptrdiff_t(at),
                                      r.bytes().begin() + std::ptrdiff_t(at + size));
                out.resources.push_back(std::move(resource));
            }
        }
    }
}

}  // namespace

bool readPeImage(const std::vector<std::uint8_t>& file, PeImage& out, std::string& error) {
    out = PeImage{};
    const Reader r(file);
    try {
        if (r.u16(0) != 0x5A4D) throw "no MZ header";
        const std::uint32_t pe = r.u32(0x3C);
        if (r.u32(pe) != 0x00004550) throw "no PE signature";
        const std::uint64_t coff = pe + 4;
        out.machine = r.u16(coff);
        const std::uint16_t sectionCount = r.u16(coff + 2);
        const std::uint16_t optionalSize = r.u16(coff + 16);
        out.isDll = (r.u16(coff + 18) & 0x2000) != 0;
        const std::uint64_t optional = coff + 20;
        out.isPe32Plus = r.u16(optional) == 0x20B;
        if (!out.isPe32Plus) throw "not a 64-bit (PE32+) image";
        const std::uint32_t directoryCount = r.u32(optional + 108);
        auto directory = [&](std::uint32_t index) -> std::pair<std::uint32_t, std::uint32_t> {
            if (index >= directoryCount) return {0, 0};
            return {r.u32(optional + 112 + 8ull * index), r.u32(optional + 116 + 8ull * index)};
        };

        Image image;
        const std::uint64_t table = optional + optionalSize;
        for (std::uint16_t i = 0; i < sectionCount; ++i) {
            const std::uint64_t s = table + 40ull * i;
            image.sections.push_back({r.u32(s + 12), r.u32(s + 8), r.u32(s + 20), r.u32(s + 16)});
        }

        if (auto [rva, size] = directory(0); rva && size) {
            const std::uint64_t exports = image.offsetOf(rva);
            const std::uint32_t nameCount = r.u32(exports + 24);
            const std::uint64_t names = image.offsetOf(r.u32(exports + 32));
            for (std::uint32_t i = 0; i < nameCount; ++i) {
                out.exports.push_back(r.cString(image.offsetOf(r.u32(names + 4ull * i))));
            }
        }
        if (auto [rva, size] = directory(1); rva && size) {
            std::uint64_t descriptor = image.offsetOf(rva);
            while (true) {
                const std::uint32_t nameRva = r.u32(descriptor + 12);
                if (nameRva == 0 && r.u32(descriptor) == 0 && r.u32(descriptor + 16) == 0) break;
                out.imports.push_back(r.cString(image.offsetOf(nameRva)));
                descriptor += 20;
            }
        }
        if (auto [rva, size] = directory(2); rva && size) readResources(r, image, rva, out);
    } catch (const char* what) {
        error = what;
        return false;
    }
    return true;
}

}  // namespace pecheck
