// The language of the texts the programs add: chosen by the locale, looked up in the catalog
// the build compiled from translations/pt.po.

#include "framework/Translation.h"
#include "frontend/UserLanguage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct Environment {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    bool portuguese;
};

void setOrUnset(const char* name, const char* value) {
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}

} // namespace

TEST(UserLanguage, FollowsTheLocaleOfMessagesAsTheCLibraryPicksIt) {
    for (const Environment& e : {Environment{nullptr, nullptr, "pt_BR.UTF-8", true},
                                 {nullptr, nullptr, "pt", true},
                                 {nullptr, nullptr, "pt_PT@euro", true},
                                 {nullptr, nullptr, "ptx_XX", false},
                                 {nullptr, nullptr, "de_DE.UTF-8", false},
                                 {nullptr, nullptr, nullptr, false},
                                 {"C", nullptr, "pt_BR.UTF-8", false},
                                 {"", "pt_BR.UTF-8", "en_US.UTF-8", true},
                                 {nullptr, "en_GB.UTF-8", "pt_BR.UTF-8", false}}) {
        setOrUnset("LC_ALL", e.lcAll);
        setOrUnset("LC_MESSAGES", e.lcMessages);
        setOrUnset("LANG", e.lang);
        EXPECT_EQ(upload::frontend::userLanguageIsPortuguese(), e.portuguese)
            << (e.lcAll ? e.lcAll : "-") << " " << (e.lcMessages ? e.lcMessages : "-") << " "
            << (e.lang ? e.lang : "-");
    }
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::unsetenv("LANG");
}

TEST(UserLanguage, ThePortugueseCatalogTranslatesWithTheValuesInPlace) {
    ::setenv("LC_ALL", "pt_BR.UTF-8", 1);
    upload::frontend::useUserLanguage();
    EXPECT_EQ(fw::tr("Port {1}: {2}.", {"COM3", "No such file or directory"}),
              "Porta COM3: No such file or directory.");
    // A text without a translation stays English; a value is never read as a placeholder.
    EXPECT_EQ(fw::tr("no such text {1}", {"{1}"}), "no such text {1}");
    ::setenv("LC_ALL", "C", 1);
    upload::frontend::useUserLanguage();
    EXPECT_EQ(fw::tr("Port {1}.", {"COM3"}), "Port COM3.");
    ::unsetenv("LC_ALL");
}

TEST(UserLanguage, ACatalogThatIsCutShortIsRefused) {
    const std::string_view whole = upload::frontend::portugueseCatalog();
    ASSERT_TRUE(upload::frontend::MessageCatalog::read(whole));
    EXPECT_FALSE(upload::frontend::MessageCatalog::read(whole.substr(0, whole.size() - 40)));
    EXPECT_FALSE(upload::frontend::MessageCatalog::read("not a catalog"));
}
