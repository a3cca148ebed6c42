#include "platform/base/cstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "platform/base/exceptions.h"

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

// An argument that points into the string itself: the text grows (and may move) while it is
// read, in place and past what the string had room for.
TEST(CStringFormat, AppendFormatMayUseItsOwnText) {
    const std::string longText(100, 'x');
    const struct {
        const char* name;
        std::string start;
        void (*append)(CString& s);
        std::string expected;
    } cases[] = {
        {"short, room in place", "abc",
         [](CString& s) { s.AppendFormat("%s,%s", s.GetString(), s.GetString()); }, "abcabc,abc"},
        {"short, after a literal", "abc", [](CString& s) { s.AppendFormat("x%s", s.GetString()); },
         "abcxabc"},
        {"long, the text moves", longText,
         [](CString& s) { s.AppendFormat("%s|%s", s.GetString(), s.GetString()); },
         longText + longText + "|" + longText},
    };
    for (const auto& c : cases) {
        CString s(c.start.c_str());
        c.append(s);
        EXPECT_EQ(std::string(s.GetString()), c.expected) << c.name;
    }
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

TEST(CStringOps, ReplaceDeleteAndInsertStayInsideTheText) {
    struct ReplaceCase {
        const char* text;
        const char* from;
        const char* to;
        int count;
        const char* after;
    };
    // A replacement that contains what it replaces is not scanned again.
    const ReplaceCase replaces[] = {
        {"a-b-c", "-", "--", 2, "a--b--c"}, {"aaa", "a", "aa", 3, "aaaaaa"},
        {"%20x%20", "%20", " ", 2, " x "},  {"abc", "", "x", 0, "abc"},
        {"abc", "b", nullptr, 1, "ac"},     {"abc", "z", "y", 0, "abc"},
    };
    for (const ReplaceCase& c : replaces) {
        CString s(c.text);
        EXPECT_EQ(s.Replace(c.from, c.to), c.count) << c.text << " " << c.from;
        EXPECT_EQ(s, c.after) << c.text << " " << c.from;
    }

    struct EditCase {
        int index;
        int count;
        const char* deleted;  // "abcdef" after Delete(index, count)
    };
    const EditCase deletes[] = {
        {1, 2, "adef"}, {4, 10, "abcd"}, {-2, 2, "cdef"}, {6, 1, "abcdef"}, {2, 0, "abcdef"},
    };
    for (const EditCase& c : deletes) {
        CString s("abcdef");
        EXPECT_EQ(s.Delete(c.index, c.count), static_cast<int>(std::strlen(c.deleted)))
            << c.index << "," << c.count;
        EXPECT_EQ(s, c.deleted) << c.index << "," << c.count;
    }
    const std::pair<int, const char*> inserts[] = {
        {0, "XYabc"}, {2, "abXYc"}, {-1, "XYabc"}, {99, "abcXY"}};
    for (const auto& [index, after] : inserts) {
        CString s("abc");
        EXPECT_EQ(s.Insert(index, "XY"), 5) << index;
        EXPECT_EQ(s, after) << index;
    }

    CString s("ab");
    s.SetAt(1, 'z');
    EXPECT_EQ(s.GetAt(1), 'z');
    for (int bad : {-1, 2}) {
        for (bool write : {false, true}) {
            try {
                if (write) {
                    s.SetAt(bad, 'x');
                } else {
                    (void)s.GetAt(bad);
                }
                ADD_FAILURE() << "no exception for index " << bad;
            } catch (CInvalidArgException* e) {
                e->Delete();
            }
        }
    }
    EXPECT_EQ(s, "az");
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
