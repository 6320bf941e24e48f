#include <gtest/gtest.h>
#include "StringT.h"

TEST(StringT, CopiesShareUntilOneChanges)
{
    CStringW a(L"C:\\Data\\old.txt");
    CStringW b(a);
    EXPECT_EQ(a.GetString(), b.GetString());
    b += L"x";
    EXPECT_STREQ(L"C:\\Data\\old.txt", a);
    EXPECT_STREQ(L"C:\\Data\\old.txtx", b);
    a.GetBuffer()[0] = L'D';
    a.ReleaseBuffer();
    EXPECT_STREQ(L"D:\\Data\\old.txt", a);
    EXPECT_STREQ(L"C:\\Data\\old.txtx", b);
}

TEST(StringT, FormatUsesTheFormatsOwnCharacterWidth)
{
    CStringW w;
    w.Format(L" /text /f1 \"%s\" /f2 \"%s\"", L"a b", L"");
    EXPECT_STREQ(L" /text /f1 \"a b\" /f2 \"\"", w);
    CStringA a;
    a.Format("Downloading Update: %s (%d KB of %d KB)", "Korvane", 121, 562);
    EXPECT_STREQ("Downloading Update: Korvane (121 KB of 562 KB)", a);
    a.Format("%d%%", 42);
    EXPECT_STREQ("42%", a);
    CStringA big;
    big.Format("%s", std::string(100000, 'x').c_str());
    EXPECT_EQ(100000, big.GetLength());
}

TEST(StringT, SearchSliceAndReplace)
{
    CStringW s(L"Compare to FILENAME As Text");
    EXPECT_EQ(1, s.Replace(L"FILENAME", L"\"old.txt\""));
    EXPECT_STREQ(L"Compare to \"old.txt\" As Text", s);
    EXPECT_EQ(0, s.Replace(L"FILENAME", L""));

    CStringW path(L"C:\\a\\b.txt");
    EXPECT_EQ(4, path.ReverseFind(L'\\'));
    EXPECT_STREQ(L"b.txt", path.Mid(path.ReverseFind(L'\\') + 1));
    EXPECT_STREQ(L"C:\\a\\", path.Left(5));
    EXPECT_STREQ(L"", path.Mid(100));
    EXPECT_STREQ(L"C:\\a\\b.txt", path.Left(100));
    EXPECT_STREQ(L"txt", path.Right(3));
    EXPECT_EQ(-1, path.Find(L"zz"));

    CStringW self(L"ab");
    self.Append(self.GetString(), self.GetLength());
    EXPECT_STREQ(L"abab", self);
    self = self.GetString() + 1;
    EXPECT_STREQ(L"bab", self);
}

TEST(StringT, EmptyAndComparisons)
{
    CStringA e;
    EXPECT_TRUE(e.IsEmpty());
    EXPECT_STREQ("", e);
    EXPECT_TRUE(e == "");
    EXPECT_TRUE(CStringA("abc") == "abc");
    EXPECT_TRUE(CStringA("abc") != CStringA("abd"));
    EXPECT_EQ(0, CStringA("ABC").CompareNoCase("abc"));
    EXPECT_FALSE(e.LoadString(0xFFF0));
}
