#include "platform/StringList.h"
#include <gtest/gtest.h>
#include <string>

static std::wstring At(const CStringList& list, INT_PTR index)
{
    return static_cast<LPCWSTR>(list.GetAt(list.FindIndex(index)));
}

TEST(CString, OwnsACopyOfItsText)
{
    wchar_t text[] = L"C:\\Quorill\\a.dll";
    CString s(text);
    text[0] = L'D';
    EXPECT_STREQ(L"C:\\Quorill\\a.dll", s);
    EXPECT_EQ(16, s.GetLength());

    CString copy(s);
    copy += L"x";
    EXPECT_STREQ(L"C:\\Quorill\\a.dll", s);
    EXPECT_STREQ(L"C:\\Quorill\\a.dllx", copy);

    copy = s;
    copy = copy;
    EXPECT_STREQ(L"C:\\Quorill\\a.dll", copy);
}

TEST(CString, EmptyAndJoined)
{
    CString empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_STREQ(L"", empty);
    EXPECT_STREQ(L"", CString(L""));
    EXPECT_STREQ(L"Uninst.ini", empty + L"Uninst.ini");
    EXPECT_STREQ(L"D:\\Apps\\Uninst.ini", CString(L"D:\\Apps\\") + L"Uninst.ini");
    EXPECT_STREQ(L"D:\\", CString(L"D:\\Apps", 3));
    EXPECT_STREQ(L"卸载“Zembrat”", CString(L"卸载") + L"“Zembrat”");
}

TEST(CStringList, KeepsOrderAndCountAcrossBlocks)
{
    CStringList list;
    EXPECT_EQ(0, list.GetCount());
    EXPECT_EQ(nullptr, list.FindIndex(0));

    for (int i = 0; i < 25; ++i)  // three blocks of nodes
        list.AddTail(std::to_wstring(i).c_str());
    EXPECT_EQ(25, list.GetCount());
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(std::to_wstring(i), At(list, i));
    EXPECT_EQ(nullptr, list.FindIndex(25));
    EXPECT_EQ(nullptr, list.FindIndex(-1));
}

TEST(CStringList, OwnsCopiesOfItsEntries)
{
    CStringList list;
    {
        wchar_t path[] = L"C:\\Quorill\\b.dll";
        CString s(L"C:\\Quorill");
        list.AddTail(path);
        list.AddTail(s);
        path[0] = L'X';
        s += L"\\changed";
    }
    EXPECT_EQ(L"C:\\Quorill\\b.dll", At(list, 0));
    EXPECT_EQ(L"C:\\Quorill", At(list, 1));
    list.AddTail(L"C:\\Quorill\\b.dll");
    EXPECT_EQ(3, list.GetCount());
    EXPECT_EQ(At(list, 0), At(list, 2));
}
