#include <gtest/gtest.h>
#include <QDir>

#include "editor/ExtensionList.h"
#include "platform/Errors.h"
#include "site/SiteWorkspace.h"
#include "support/TempSite.h"

using namespace zor;
using namespace zor::editor;

TEST(ExtensionName, FromTheEighthCharacterToTheFirstCodeEnd) {
    EXPECT_EQ(extensionName("<?php //Комментарии ?>"), "/Комментарии ");
    EXPECT_EQ(extensionName("<?php //Гостевая книга?> rest ?>"), "/Гостевая книга");
    EXPECT_EQ(extensionName("<?php // no end"), "");
    EXPECT_EQ(extensionName("<?php?>"), "");
    EXPECT_EQ(extensionName("1234567?>"), "");  // "?>" at 8: nothing before it
    EXPECT_EQ(extensionName("12345678?>"), "8");
    EXPECT_EQ(extensionName(""), "");
    EXPECT_EQ(extensionEntry("/Комментарии ", "guest.ex"), "/Комментарии  [guest.ex]");
}

TEST(ExtensionList, EveryReadableFileByNameWithItsEntry) {
    test::TempRoot root;
    const QString site = root.makeSite("alpha");
    const QString folder = site::extensionsFolder(site);
    test::writeFile(folder + "/guest.ex", test::crlf({"<?php //Комментарии ?>", "<?php ?>"}));
    test::writeFile(folder + "/empty.ex", {});
    test::writeFile(folder + "/nameless", test::crlf({"<b>no code</b>"}));
    QDir().mkpath(folder + "/sub.ex");  // a folder is no extension

    const auto list = listExtensions(site);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].entry, " [empty.ex]");
    EXPECT_EQ(list[1].entry, "/Комментарии  [guest.ex]");
    EXPECT_EQ(list[1].fileName, "guest.ex");
    EXPECT_EQ(list[2].entry, " [nameless]");

    EXPECT_EQ(extensionText(site, "guest.ex"), "<?php //Комментарии ?>\r\n<?php ?>\r\n");
    EXPECT_THROW(extensionText(site, "gone.ex"), FileError);
}

TEST(ExtensionList, NoFolderNoExtensions) {
    test::TempRoot root;
    EXPECT_TRUE(listExtensions(root.makeSite("alpha")).empty());
}
