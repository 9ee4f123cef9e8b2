// Paths as Windows reads them: where a directory ends, and which paths need no current folder.
#include "platform/Path.h"
#include <gtest/gtest.h>

TEST(DirectoryOfPath, EndsAtTheLastSeparator)
{
    const struct { LPCWSTR path, directory; } cases[] = {
        {L"D:\\Apps\\Phone\\remove.exe", L"D:\\Apps\\Phone\\"},
        {L"C:\\remove.exe", L"C:\\"},
        {L"C:/Apps\\Phone/remove.exe", L"C:/Apps\\Phone/"},
        {L"\\\\server\\share\\Phone\\remove.exe", L"\\\\server\\share\\Phone\\"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.directory, DirectoryOfPath(c.path)) << c.path;
}

TEST(FullyQualifiedPath, DriveOrUncOnly)
{
    for (LPCWSTR path : {L"C:\\", L"z:/x", L"\\\\srv\\share", L"\\\\srv\\share\\x", L"//srv/share/x"})
        EXPECT_TRUE(IsFullyQualifiedPath(path)) << path;
    for (LPCWSTR path : {L"", L"C:", L"C:x", L"1:\\x", L"\\x", L"\\\\", L"\\\\srv", L"\\\\srv\\", L"\\\\\\share\\x"})
        EXPECT_FALSE(IsFullyQualifiedPath(path)) << path;
}
