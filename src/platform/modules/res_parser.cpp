#include "platform/modules/res_parser.h"

#include <algorithm>
#include <cstring>

#include "platform/base/textconv_internal.h"
#include "platform/modules/dib.h"

namespace platform::res {
namespace {

// Little-endian reads over a byte range; the first read past the end fails the reader, and
// every later read then fails too, so a caller may check once after a group of reads.
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }
    size_t left() const { return ok_ ? size_ - pos_ : 0; }

    WORD U16() {
        uint8_t b[2];
        return Take(b, 2) ? static_cast<WORD>(b[0] | (b[1] << 8)) : 0;
    }
    DWORD U32() {
        uint8_t b[4];
        if (!Take(b, 4))
            return 0;
        return static_cast<DWORD>(b[0]) | (static_cast<DWORD>(b[1]) << 8) |
               (static_cast<DWORD>(b[2]) << 16) | (static_cast<DWORD>(b[3]) << 24);
    }
    BYTE U8() {
        uint8_t b = 0;
        Take(&b, 1);
        return b;
    }
    short S16() { return static_cast<short>(U16()); }

    bool Skip(size_t count) {
        if (!ok_ || count > size_ - pos_)
            return ok_ = false;
        pos_ += count;
        return true;
    }
    // Aligns to a multiple of four from the start of the range.
    bool Align4() { return Skip((4 - pos_ % 4) % 4); }

    // A zero-terminated UTF-16 text, as UTF-8.
    std::string Sz() {
        std::u16string units;
        for (;;) {
            const WORD unit = U16();
            if (!ok_ || unit == 0)
                break;
            units.push_back(static_cast<char16_t>(unit));
        }
        return ok_ ? Utf8FromUtf16(units) : std::string();
    }

    // The sz_Or_Ord field of templates: 0x0000 nothing, 0xFFFF and an ordinal, or a text.
    bool SzOrOrd(bool& isOrdinal, WORD& ordinal, std::string& text) {
        isOrdinal = false;
        ordinal = 0;
        text.clear();
        const WORD first = U16();
        if (!ok_)
            return false;
        if (first == 0x0000)
            return true;
        if (first == 0xFFFF) {
            isOrdinal = true;
            ordinal = U16();
            return ok_;
        }
        pos_ -= 2;
        text = Sz();
        return ok_;
    }

    // sz_Or_Ord as one text: an ordinal as "#<n>".
    bool SzOrOrdText(std::string& out) {
        bool isOrdinal = false;
        WORD ordinal = 0;
        if (!SzOrOrd(isOrdinal, ordinal, out))
            return false;
        if (isOrdinal)
            out = "#" + std::to_string(ordinal);
        return true;
    }

  private:
    bool Take(uint8_t* out, size_t count) {
        if (!ok_ || count > size_ - pos_) {
            ok_ = false;
            std::memset(out, 0, count);
            return false;
        }
        std::memcpy(out, data_ + pos_, count);
        pos_ += count;
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

bool ReadName(Reader& in, Name& name) {
    return in.SzOrOrd(name.isOrdinal, name.ordinal, name.text);
}

std::string ClassOfOrdinal(WORD atom) {
    switch (atom) {
        case 0x80:
            return "Button";
        case 0x81:
            return "Edit";
        case 0x82:
            return "Static";
        case 0x83:
            return "ListBox";
        case 0x84:
            return "ScrollBar";
        case 0x85:
            return "ComboBox";
        default:
            return "#" + std::to_string(atom);
    }
}

// Class names compare without case on Windows, and resource compilers may upper-case them;
// the window layer gets the usual spelling.
std::string CanonicalClass(const std::string& name) {
    static const char* const kKnown[] = {
        "Button",
        "Edit",
        "Static",
        "ListBox",
        "ScrollBar",
        "ComboBox",
        "msctls_progress32",
        "msctls_updown32",
        "msctls_trackbar32",
        "msctls_hotkey32",
        "SysListView32",
        "SysTreeView32",
        "SysTabControl32",
        "SysLink",
        "SysAnimate32",
        "RichEdit20W",
        "ComboBoxEx32",
        "SysDateTimePick32",
    };
    for (const char* known : kKnown) {
        if (SameText(name, known))
            return known;
    }
    return name;
}

bool ReadItemClass(Reader& in, std::string& out) {
    bool isOrdinal = false;
    WORD ordinal = 0;
    if (!in.SzOrOrd(isOrdinal, ordinal, out))
        return false;
    out = isOrdinal ? ClassOfOrdinal(ordinal) : CanonicalClass(out);
    return true;
}

constexpr DWORD kDsSetFont = 0x40;
constexpr int64_t kMaxIconSide = 1024;

// The two template forms differ only in their fixed fields: DIALOGEX adds the version,
// signature and help ids, orders the styles the other way round, gives the font a weight,
// italic flag and character set, and widens item ids to 32 bits.
std::optional<DialogTemplate> ParseDialogForm(Reader& in, bool extended) {
    DialogTemplate t;
    if (extended) {
        in.U32();  // dlgVer and signature: checked by the caller
        t.helpId = in.U32();
        t.exStyle = in.U32();
        t.style = in.U32();
    } else {
        t.style = in.U32();
        t.exStyle = in.U32();
    }
    const WORD count = in.U16();
    t.x = in.S16();
    t.y = in.S16();
    t.cx = in.S16();
    t.cy = in.S16();
    if (!in.SzOrOrdText(t.menu) || !in.SzOrOrdText(t.windowClass))
        return std::nullopt;
    t.title = in.Sz();
    if (t.style & kDsSetFont) {
        t.pointSize = in.U16();
        if (extended) {
            t.weight = in.U16();
            t.italic = in.U8();
            t.charset = in.U8();
        } else {
            t.weight = 400;  // this form has no weight: a normal font
            t.charset = 1;   // DEFAULT_CHARSET
        }
        t.typeface = in.Sz();
    }
    if (!in.ok())
        return std::nullopt;
    const size_t smallestItem = extended ? 24 : 18;
    t.items.reserve(std::min<size_t>(count, in.left() / smallestItem));
    for (WORD i = 0; i < count; ++i) {
        DialogItemTemplate item;
        in.Align4();
        if (extended) {
            item.helpId = in.U32();
            item.exStyle = in.U32();
            item.style = in.U32();
        } else {
            item.style = in.U32();
            item.exStyle = in.U32();
        }
        item.x = in.S16();
        item.y = in.S16();
        item.cx = in.S16();
        item.cy = in.S16();
        if (extended) {
            item.id = in.U32();
        } else {
            const WORD id = in.U16();
            item.id = id == 0xFFFF ? 0xFFFFFFFFu : id;  // IDC_STATIC keeps its meaning
        }
        if (!ReadItemClass(in, item.windowClass) || !in.SzOrOrdText(item.text))
            return std::nullopt;
        in.Skip(in.U16());  // creation data
        if (!in.ok())
            return std::nullopt;
        t.items.push_back(std::move(item));
    }
    return t;
}

}  // namespace

std::optional<std::vector<Entry>> ParseResFile(const uint8_t* blob, size_t size) {
    if (blob == nullptr && size != 0)
        return std::nullopt;
    std::vector<Entry> entries;
    size_t pos = 0;
    while (pos < size) {
        if (size - pos < 8)
            return std::nullopt;
        Reader head(blob + pos, size - pos);
        const DWORD dataSize = head.U32();
        const DWORD headerSize = head.U32();
        if (headerSize < 32 || headerSize > size - pos || dataSize > size - pos - headerSize) {
            return std::nullopt;
        }
        Reader header(blob + pos, headerSize);
        header.Skip(8);
        Entry entry;
        if (!ReadName(header, entry.type) || !ReadName(header, entry.name))
            return std::nullopt;
        header.Align4();
        header.U32();  // DataVersion
        header.U16();  // MemoryFlags
        entry.language = header.U16();
        header.U32();  // Version
        header.U32();  // Characteristics
        if (!header.ok())
            return std::nullopt;
        entry.data = blob + pos + headerSize;
        entry.size = dataSize;
        // The empty entry that starts every .res file marks the format and holds nothing.
        const bool marker = entry.type.isOrdinal && entry.type.ordinal == 0 && dataSize == 0;
        if (!marker)
            entries.push_back(std::move(entry));
        const size_t end = pos + headerSize + dataSize;
        pos = end + (4 - end % 4) % 4;
    }
    return entries;
}

const Entry* FindEntry(const std::vector<Entry>& entries, WORD type, const Name& name) {
    for (const Entry& e : entries) {
        if (!e.type.isOrdinal || e.type.ordinal != type)
            continue;
        if (e.name.isOrdinal != name.isOrdinal)
            continue;
        if (name.isOrdinal ? e.name.ordinal == name.ordinal : SameText(e.name.text, name.text)) {
            return &e;
        }
    }
    return nullptr;
}

std::optional<DialogTemplate> ParseDialog(const uint8_t* data, size_t size) {
    if (data == nullptr)
        return std::nullopt;
    Reader peek(data, size);
    const WORD version = peek.U16();
    const WORD signature = peek.U16();
    if (!peek.ok())
        return std::nullopt;
    Reader in(data, size);
    return ParseDialogForm(in, version == 1 && signature == 0xFFFF);
}

std::optional<std::string> StringFromBlock(const uint8_t* data, size_t size, unsigned index) {
    if (data == nullptr || index > 15)
        return std::nullopt;
    Reader in(data, size);
    for (unsigned i = 0; i < index; ++i) {
        in.Skip(size_t{in.U16()} * 2);
    }
    const WORD length = in.U16();
    std::u16string units(length, u'\0');
    for (WORD i = 0; i < length && in.ok(); ++i) {
        units[i] = static_cast<char16_t>(in.U16());
    }
    if (!in.ok())
        return std::nullopt;
    return Utf8FromUtf16(units);
}

std::optional<std::vector<GroupIconItem>> ParseGroupIcon(const uint8_t* data, size_t size) {
    if (data == nullptr)
        return std::nullopt;
    Reader in(data, size);
    const WORD reserved = in.U16();
    const WORD type = in.U16();
    const WORD count = in.U16();
    if (!in.ok() || reserved != 0 || type != 1 || size_t{count} * 14 > in.left()) {
        return std::nullopt;
    }
    std::vector<GroupIconItem> items(count);
    for (GroupIconItem& item : items) {
        item.width = in.U8();
        item.height = in.U8();
        in.U8();   // colour count
        in.U8();   // reserved
        in.U16();  // planes
        item.bitCount = in.U16();
        in.U32();  // bytes in the image
        item.iconId = in.U16();
    }
    if (!in.ok())
        return std::nullopt;
    return items;
}

bool IsPngImage(const uint8_t* data, size_t size) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return data != nullptr && size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

std::optional<IconImage> DecodeIconImage(const uint8_t* data, size_t size) {
    if (data == nullptr || IsPngImage(data, size))
        return std::nullopt;
    DibRules rules;
    rules.icon = true;
    rules.sizeAllowed = [](int64_t width, int64_t height) {
        return width > 0 && height > 0 && width <= kMaxIconSide && height <= kMaxIconSide;
    };
    std::optional<DibImage> dib = DecodeDib(data, size, rules);
    if (!dib)
        return std::nullopt;
    IconImage image;
    image.width = dib->width;
    image.height = dib->height;
    image.argb = std::move(dib->argb);
    return image;
}

}  // namespace platform::res
