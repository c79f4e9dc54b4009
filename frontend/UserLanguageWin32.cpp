#include "frontend/UserLanguage.h"

#include <windows.h>

namespace upload::frontend {

bool userLanguageIsPortuguese() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_PORTUGUESE;
}

} // namespace upload::frontend
