#include "platform/cstring.h"

#include <gtest/gtest.h>

#include "platform/exceptions.h"

namespace {

TEST(CStringFormat, PrintfConversionsAndNumberedArguments) {
    struct Case {
        const char* name;
        CString (*make)();
        const char* expected;
    };
    const Case cases[] = {
        {"plain",
         [] {
             CString s;
             s.Format("%s-%d", "a", 7);
             return s;
         },
         "a-7"},
        {"unsigned",
         [] {
             CString s;
             s.Format("%u", 4294967295u);
             return s;
         },
         "4294967295"},
        {"doubles",
         [] {
             CString s;
             s.Format("%.2f of %.2f MB", 4.77, 9.54);
             return s;
         },
         "4.77 of 9.54 MB"},
        {"numbered in order",
         [] {
             CString s;
             s.Format("%1$.2f/%2$.2f", 4.77, 9.54);
             return s;
         },
         "4.77/9.54"},
        {"numbered reversed",
         [] {
             CString s;
             s.Format("%2$.1f < %1$.1f", 9.54, 4.77);
             return s;
         },
         "4.8 < 9.5"},
        {"literal percent",
         [] {
             CString s;
             s.Format("100%%");
             return s;
         },
         "100%"},
        {"empty result",
         [] {
             CString s("old");
             s.Format("%s", "");
             return s;
         },
         ""},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.make().GetString(), c.expected) << c.name;
    }
}

TEST(CStringFormat, FormatMayUseItsOwnTextAndAppendFormatAppends) {
    CString s("abc");
    s.Format("[%s]", s.GetString());
    EXPECT_EQ(s, "[abc]");
    s.AppendFormat("%d%c", 42, '!');
    EXPECT_EQ(s, "[abc]42!");
    CString big;
    big.Format("%2000d", 1);
    EXPECT_EQ(big.GetLength(), 2000);
}

TEST(CStringOps, SubstringsAndSearches) {
    const CString url("http://host/dir/setup_a.exe");
    const int slash = url.ReverseFind('/');
    EXPECT_EQ(url.Mid(slash + 1), "setup_a.exe");
    EXPECT_EQ(url.Left(4), "http");
    EXPECT_EQ(url.Right(3), "exe");
    EXPECT_EQ(url.Mid(100), "");
    EXPECT_EQ(url.Mid(-3, 4), "http");
    EXPECT_EQ(url.Right(100), url);
    EXPECT_EQ(url.Find("dir"), 12);
    EXPECT_EQ(url.Find('/', 8), 11);
    EXPECT_EQ(url.Find("none"), -1);
    EXPECT_EQ(CString("no slash").ReverseFind('/'), -1);
    CString mixed("Content-Length: 5");
    EXPECT_EQ(mixed.MakeLower(), "content-length: 5");
    EXPECT_TRUE(CString().IsEmpty());
}

TEST(CStringOps, BufferAndEditing) {
    CString s;
    char* buffer = s.GetBuffer(260);
    std::snprintf(buffer, 260, "%s", "folder");
    s.ReleaseBuffer();
    EXPECT_EQ(s.GetLength(), 6);
    s += '\\';
    s += "file";
    EXPECT_EQ(s, "folder\\file");
    EXPECT_EQ(s.Replace('\\', '/'), 1);
    EXPECT_EQ("x" + s + CString("y"), "xfolder/filey");
    EXPECT_EQ(CString("  pad \t").Trim(), "pad");
    EXPECT_TRUE(CString("abc") < CString("abd"));
    EXPECT_EQ(CString("ABC").CompareNoCase("abc"), 0);
}

TEST(CStringArray, KeepsOrderAndThrowsOutsideItsBounds) {
    CStringArray items;
    EXPECT_EQ(items.Add("one"), 0);
    EXPECT_EQ(items.Add(""), 1);
    items.Add("three");
    ASSERT_EQ(items.GetSize(), 3);
    EXPECT_EQ(items[1], "");
    EXPECT_EQ(items.GetAt(2), "three");
    items.SetAt(1, "two");
    EXPECT_EQ(items[1], "two");
    for (INT_PTR bad : {INT_PTR{-1}, INT_PTR{3}}) {
        try {
            (void)items.GetAt(bad);
            ADD_FAILURE() << "no exception for index " << bad;
        } catch (CInvalidArgException* e) {
            e->Delete();
        }
    }
    items.RemoveAll();
    EXPECT_TRUE(items.IsEmpty());
}

}  // namespace
