// Builds .res blobs and the resources in them byte by byte, so that tests can give the parser
// exact, and exactly broken, input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace resbuild {

using Bytes = std::vector<uint8_t>;

class Writer {
  public:
    Writer& U8(uint32_t v) {
        bytes_.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Writer& U16(uint32_t v) { return U8(v).U8(v >> 8); }
    Writer& U32(uint32_t v) { return U16(v).U16(v >> 16); }
    Writer& Raw(const Bytes& b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    // A zero-terminated UTF-16 text of code units.
    Writer& Sz(const std::u16string& text) {
        for (char16_t c : text)
            U16(c);
        return U16(0);
    }
    Writer& Ordinal(uint16_t v) { return U16(0xFFFF).U16(v); }
    Writer& Align4() {
        while (bytes_.size() % 4 != 0)
            U8(0);
        return *this;
    }
    size_t size() const { return bytes_.size(); }
    const Bytes& bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

// One .res entry; a name of "" is taken as the ordinal.
inline void AddEntry(Writer& res, uint16_t type, uint16_t ordinal, const Bytes& data,
                     const std::u16string& name = u"") {
    Writer header;
    header.Ordinal(type);
    if (name.empty()) {
        header.Ordinal(ordinal);
    } else {
        header.Sz(name);
    }
    header.Align4();
    header.U32(0).U16(0x1030).U16(0x0409).U32(0).U32(0);
    res.Align4();
    res.U32(static_cast<uint32_t>(data.size())).U32(static_cast<uint32_t>(8 + header.size()));
    res.Raw(header.bytes()).Raw(data);
}

// A blob that starts with the empty entry every .res file begins with.
inline Writer NewRes() {
    Writer res;
    res.U32(0).U32(32).Ordinal(0).Ordinal(0).U32(0).U16(0).U16(0).U32(0).U32(0);
    return res;
}

// A string-table block of sixteen texts.
inline Bytes StringBlock(const std::vector<std::u16string>& texts) {
    Writer w;
    for (size_t i = 0; i < 16; ++i) {
        const std::u16string text = i < texts.size() ? texts[i] : u"";
        w.U16(static_cast<uint32_t>(text.size()));
        for (char16_t c : text)
            w.U16(c);
    }
    return w.bytes();
}

// An icon bitmap: header, palette, colour rows (bottom-up, as given) and mask rows.
inline Bytes IconBitmap(int32_t width, int32_t height, uint16_t bits, const Bytes& palette,
                        const Bytes& colourRows, const Bytes& maskRows, uint32_t coloursUsed = 0) {
    Writer w;
    w.U32(40).U32(static_cast<uint32_t>(width)).U32(static_cast<uint32_t>(2 * height));
    w.U16(1).U16(bits).U32(0).U32(0).U32(0).U32(0).U32(coloursUsed).U32(0);
    w.Raw(palette).Raw(colourRows).Raw(maskRows);
    return w.bytes();
}

inline Bytes GroupIcon(const std::vector<std::pair<uint8_t, uint16_t>>& sizeAndId) {
    Writer w;
    w.U16(0).U16(1).U16(static_cast<uint32_t>(sizeAndId.size()));
    for (const auto& [size, id] : sizeAndId) {
        w.U8(size).U8(size).U8(0).U8(0).U16(1).U16(32).U32(0).U16(id);
    }
    return w.bytes();
}

}  // namespace resbuild
