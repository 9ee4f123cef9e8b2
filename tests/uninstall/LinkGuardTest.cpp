// Which links Uninst.exe follows: only those that a user without administrator rights cannot have
// made. Wine reports every file's owner as the user, so the owner rule is pinned here, on its own.
#include "uninstall/LinkGuard.h"
#include <gtest/gtest.h>
#include <sddl.h>

TEST(LinkGuard, TrustsOnlyTheOwnersThatUsersCannotBe)
{
    const struct {
        const wchar_t* sid;
        bool trusted;
    } cases[] = {
        {L"S-1-5-18", true},                                                          // SYSTEM
        {L"S-1-5-32-544", true},                                                      // Administrators
        {L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", true},  // TrustedInstaller
        {L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478465", false}, // another service
        {L"S-1-5-32-545", false},                                                     // Users
        {L"S-1-5-21-0-0-0-1000", false},                                              // a user, as Wine reports every owner
        {L"S-1-1-0", false},                                                          // Everyone
    };
    for (const auto& c : cases) {
        PSID sid = nullptr;
        ASSERT_TRUE(::ConvertStringSidToSidW(c.sid, &sid)) << c.sid;
        EXPECT_EQ(c.trusted, IsTrustedOwner(sid)) << c.sid;
        ::LocalFree(sid);
    }
    EXPECT_FALSE(IsTrustedOwner(nullptr));
}

TEST(LinkGuard, TakesEveryNameSurrogateForALink)
{
    const DWORD LINKED_FOLDER = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const struct {
        DWORD attributes, tag;
        bool link;
    } cases[] = {
        {LINKED_FOLDER, IO_REPARSE_TAG_MOUNT_POINT, true},  // a junction
        {LINKED_FOLDER, IO_REPARSE_TAG_SYMLINK, true},
        {LINKED_FOLDER, 0xA000001D, true},                  // a WSL symbolic link
        {LINKED_FOLDER, 0, true},                           // a kind Windows does not tell: Wine's Unix symlinks
        {LINKED_FOLDER, 0x9000601A, false},                 // a cloud files placeholder (OneDrive)
        {LINKED_FOLDER, 0x80000017, false},                 // Windows' own file compression
        {FILE_ATTRIBUTE_DIRECTORY, 0, false},
        {FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT, false},  // the tag means nothing without the attribute
    };
    for (const auto& c : cases) EXPECT_EQ(c.link, IsLink(c.attributes, c.tag)) << std::hex << c.attributes << " " << c.tag;
}
