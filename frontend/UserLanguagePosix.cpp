#include "frontend/UserLanguage.h"

#include <cstdlib>

namespace upload::frontend {

bool userLanguageIsPortuguese() {
    // The order in which the C library picks the locale of messages.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return isPortugueseLocale(value);
    }
    return false;
}

} // namespace upload::frontend
