#include "platform/afx/runtime_class.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/afx/dialog.h"

namespace {

class DynamicDialog : public CDialog {
    DECLARE_DYNAMIC(DynamicDialog)

  public:
    DynamicDialog() : CDialog(100) {}
};
IMPLEMENT_DYNAMIC(DynamicDialog, CDialog)

// A class without its own declaration answers with its nearest dynamic base.
class PlainDialog : public DynamicDialog {};

TEST(RuntimeClassTest, NameAndBaseChainThroughABasePointer) {
    DynamicDialog dialog;
    const CCmdTarget& asTarget = dialog;
    const CRuntimeClass* c = asTarget.GetRuntimeClass();
    ASSERT_EQ(c, RUNTIME_CLASS(DynamicDialog));
    EXPECT_STREQ(c->m_lpszClassName, "DynamicDialog");
    EXPECT_EQ(c->m_nObjectSize, static_cast<int>(sizeof(DynamicDialog)));
    const char* chain[] = {"DynamicDialog", "CDialog", "CWnd", "CCmdTarget"};
    for (const char* name : chain) {
        ASSERT_NE(c, nullptr) << name;
        EXPECT_STREQ(c->m_lpszClassName, name);
        c = c->m_pBaseClass;
    }
    EXPECT_EQ(c, nullptr);

    EXPECT_TRUE(asTarget.IsKindOf(RUNTIME_CLASS(CDialog)));
    EXPECT_TRUE(asTarget.IsKindOf(RUNTIME_CLASS(CCmdTarget)));
    CWnd window;
    EXPECT_FALSE(window.IsKindOf(RUNTIME_CLASS(CDialog)));
    EXPECT_FALSE(window.IsKindOf(RUNTIME_CLASS(DynamicDialog)));
    EXPECT_EQ(PlainDialog().GetRuntimeClass(), RUNTIME_CLASS(DynamicDialog));
}

TEST(RuntimeClassTest, NoClassCanBeCreatedByName) {
    for (const CRuntimeClass* c = RUNTIME_CLASS(DynamicDialog); c != nullptr; c = c->m_pBaseClass) {
        SCOPED_TRACE(c->m_lpszClassName);
        EXPECT_EQ(c->m_pfnCreateObject, nullptr);
        EXPECT_EQ(c->CreateObject(), nullptr);
    }
}

}  // namespace
