#include <string>

#include "core/desktop/text_limits.h"
#include "core/desktop/web_address.h"
#include "desktop_fixture.h"

namespace tamborix::testing {
namespace {

TEST_F(DesktopTest, OpenApp_RefusedNames_NoWorkspaceCall) {
    workspace.installed = {{"firefox.desktop", "Firefox"}};
    std::string longName(129, 'a');
    for (const std::string& name :
         {std::string(), longName, std::string("../firefox"), std::string("Fire..fox"),
          std::string("~/bin/app"), std::string("usr/bin/firefox"), std::string("/"),
          std::string("fire\0fox", 8)}) {
        EXPECT_FALSE(desktop.openApp(name)) << name;
    }
    EXPECT_EQ(workspace.calls, 0);
    EXPECT_TRUE(workspace.launched.empty());
}

TEST_F(DesktopTest, OpenApp_LengthLimit_CountsCharacters) {
    workspace.installed = {{"x.desktop", "x"}};
    // 128 two-byte characters: 256 bytes but within the limit; it is looked up (and not found).
    std::string name;
    for (int i = 0; i < 128; ++i) name += "\xC3\xA9";
    EXPECT_FALSE(desktop.openApp(name));
    EXPECT_GT(workspace.calls, 0);
    EXPECT_TRUE(DesktopControl::isAcceptableAppName(name));
    EXPECT_FALSE(DesktopControl::isAcceptableAppName(name + "a"));
}

TEST_F(DesktopTest, OpenApp_ByIdThenByName_LaunchesTheRightEntry) {
    workspace.installed = {
        {"org.gnome.TextEditor.desktop", "Text Editor"},
        {"firefox.desktop", "Firefox"},
        {"firefox-esr.desktop", "Firefox"},  // a later entry of the same name loses
    };
    EXPECT_TRUE(desktop.openApp("org.gnome.TextEditor.desktop"));
    EXPECT_TRUE(desktop.openApp("firefox"));  // by name, ignoring case
    EXPECT_TRUE(desktop.openApp("TEXT EDITOR"));
    EXPECT_EQ(workspace.launched, (std::vector<std::string>{"org.gnome.TextEditor.desktop",
                                                            "firefox.desktop",
                                                            "org.gnome.TextEditor.desktop"}));
    EXPECT_FALSE(desktop.openApp("Thunderbird"));
    EXPECT_EQ(workspace.launched.size(), 3u);
}

TEST_F(DesktopTest, OpenApp_LaunchFails_ReturnsFalse) {
    workspace.installed = {{"firefox.desktop", "Firefox"}};
    workspace.launchResult = false;
    EXPECT_FALSE(desktop.openApp("Firefox"));
}

TEST_F(DesktopTest, OpenWebsite_HttpAndHttpsWithHost_OpenedUnchanged) {
    for (const char* url :
         {"https://example.com", "http://example.com/a/b?q=1#frag", "HTTPS://Example.COM",
          "HtTp://127.0.0.1:8080/", "https://[::1]/x", "https://user@host.example/p%20q"}) {
        EXPECT_TRUE(desktop.openWebsite(url)) << url;
    }
    EXPECT_EQ(workspace.openedUrls.size(), 6u);
    EXPECT_EQ(workspace.openedUrls[2], "HTTPS://Example.COM");
}

TEST_F(DesktopTest, OpenWebsite_OtherSchemesNoHostOrMalformed_Refused) {
    for (const char* url :
         {"", "ftp://example.com", "file:///etc/passwd", "javascript:alert(1)",
          "mailto:a@example.com", "https:", "https://", "https:///path", "http:example.com",
          "example.com", "//example.com", "https://exa mple.com", "https://example.com/a b",
          "https://exa\nmple.com", "httpx://example.com", "https://example.com/%zz"}) {
        EXPECT_FALSE(desktop.openWebsite(url)) << url;
    }
    EXPECT_FALSE(desktop.openWebsite(std::string("https://a.example\0.evil", 24)));
    EXPECT_TRUE(workspace.openedUrls.empty());
}

TEST_F(DesktopTest, OpenWebsite_LengthLimit_TwoThousandCharactersAccepted) {
    const std::string base = "https://example.com/";
    const std::string atLimit = base + std::string(2000 - base.size(), 'a');
    EXPECT_TRUE(desktop.openWebsite(atLimit));
    EXPECT_FALSE(desktop.openWebsite(atLimit + "a"));
    workspace.openUrlResult = false;
    EXPECT_FALSE(desktop.openWebsite(base));
}

TEST(TextLimits, CharacterCount_GraphemeClusters_CountedAsOne) {
    EXPECT_EQ(characterCount("", 10), 0u);
    EXPECT_EQ(characterCount("abc", 10), 3u);
    // A family emoji (seven code points) and a flag (two) are one character each.
    EXPECT_EQ(characterCount("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91"
                             "\xA7\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA",
                             10),
              2u);
    // Counting stops just past the limit.
    EXPECT_EQ(characterCount(std::string(5000, 'a'), 10), 11u);
    EXPECT_FALSE(longerThan("abcd", 4));
    EXPECT_TRUE(longerThan("abcde", 4));
    EXPECT_EQ(characterPrefix("abcdef", 0), "");
    EXPECT_EQ(characterPrefix("ab", 5), "ab");
}

}  // namespace
}  // namespace tamborix::testing
