#pragma once

// The user's language for the texts the programs add (advice, diagnostics): Portuguese when the
// user's locale asks for it, English otherwise. The texts fixed by the window (its captions and
// message boxes) are Portuguese whatever the locale.
//
// The Portuguese texts are kept in frontend/translations/pt.po, the translators' usual
// form; the build checks it and compiles it with Debian's msgfmt, and the compiled catalog is
// embedded in the programs. One mechanism on both systems: the Windows build has no libintl to
// look texts up with (Debian has none for mingw-w64), and a catalog in the program cannot go
// missing beside it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace upload::frontend {

// Installs the Portuguese texts as fw::tr()'s translator when the user's locale is Portuguese.
// Call once at the start of a program, before any other thread runs.
void useUserLanguage();

// Whether the user's locale is Portuguese: on Linux the first set of LC_ALL, LC_MESSAGES and
// LANG, as the C library chooses a locale for messages; on Windows the user's interface
// language.
bool userLanguageIsPortuguese();

// Whether a POSIX locale name ("pt_BR.UTF-8", "pt", "pt_PT@euro") is Portuguese.
bool isPortugueseLocale(std::string_view name);

// A catalog compiled by msgfmt (a .mo file's bytes), read in place.
class MessageCatalog {
public:
    // Empty when `bytes` is no catalog msgfmt writes.
    static std::optional<MessageCatalog> read(std::string_view bytes);
    // The translation of `english`, or nothing when the catalog has none.
    std::optional<std::string_view> find(std::string_view english) const;

private:
    explicit MessageCatalog(std::string_view bytes) : bytes_(bytes) {}
    std::string_view bytes_;
};

// The Portuguese catalog embedded at build time.
std::string_view portugueseCatalog();

} // namespace upload::frontend
