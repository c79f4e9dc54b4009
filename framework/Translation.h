#pragma once

// The texts this project adds for its users (advice, diagnostics) are written in English and pass
// through tr(), so that a program can show them in its user's language: it installs a translator
// once at start, before any other thread runs. Without one, tr() gives the English text.

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace fw {

// The text for `english` in the user's language, or nothing to keep the English.
using Translator = std::function<std::string(std::string_view english)>;

// Installs `translator` (empty: English again) and returns the one it replaces.
Translator setTranslator(Translator translator);

// `english` in the user's language, with "{1}", "{2}" ... replaced by `values` in order. The
// values (names, numbers, the system's words) are never translated.
std::string tr(std::string_view english, std::initializer_list<std::string_view> values = {});

} // namespace fw
