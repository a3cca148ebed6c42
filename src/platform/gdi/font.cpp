#include "platform/gdi/font.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/base/geometry.h"
#include "platform/base/lasterror.h"

namespace {

class FontObject : public platform::GdiObject {
  public:
    explicit FontObject(const LOGFONTA& lf) : logFont_(lf) {
        logFont_.lfFaceName[LF_FACESIZE - 1] = '\0';
    }
    int Describe(int size, void* out) const override {
        if (out == nullptr)
            return static_cast<int>(sizeof(LOGFONTA));
        int n =
            size < static_cast<int>(sizeof(LOGFONTA)) ? size : static_cast<int>(sizeof(LOGFONTA));
        std::memcpy(out, &logFont_, static_cast<size_t>(n));
        return n;
    }
    const LOGFONTA& logFont() const { return logFont_; }

  private:
    LOGFONTA logFont_;
};

}  // namespace

HFONT CreateFontIndirectA(const LOGFONTA* logFont) {
    if (logFont == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return static_cast<HFONT>(platform::NewGdiHandle(std::make_shared<FontObject>(*logFont)));
}

namespace platform {
bool LogFontOf(HFONT font, LOGFONTA* out) {
    auto object = GdiObjectAs<FontObject>(font);
    if (!object)
        return false;
    if (out != nullptr)
        *out = object->logFont();
    return true;
}
}  // namespace platform

BOOL CFont::CreateFontIndirect(const LOGFONTA* logFont) {
    return Attach(CreateFontIndirectA(logFont));
}

BOOL CFont::CreatePointFont(int pointSize, LPCSTR faceName) {
    LOGFONTA lf{};
    lf.lfHeight = -MulDiv(pointSize, 96, 720);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    if (faceName != nullptr)
        std::snprintf(lf.lfFaceName, LF_FACESIZE, "%s", faceName);
    return CreateFontIndirect(&lf);
}

int CFont::GetLogFont(LOGFONTA* logFont) const {
    return GetObject(static_cast<int>(sizeof(LOGFONTA)), logFont);
}

CFont* CFont::FromHandle(HFONT font) {
    if (font == nullptr)
        return nullptr;
    // Wrappers are kept for the whole run: a caller may hold the pointer as long as it likes.
    static std::mutex mutex;
    static auto* wrappers = new std::unordered_map<HFONT, std::unique_ptr<CFont>>;
    std::lock_guard<std::mutex> lock(mutex);
    auto& slot = (*wrappers)[font];
    if (!slot) {
        slot = std::make_unique<CFont>();
        slot->m_hObject = font;
    }
    return slot.get();
}
