#include "framework/Translation.h"

namespace fw {

namespace {

Translator& installed() {
    static Translator translator;
    return translator;
}

} // namespace

Translator setTranslator(Translator translator) {
    Translator previous = std::move(installed());
    installed() = std::move(translator);
    return previous;
}

std::string tr(std::string_view english, std::initializer_list<std::string_view> values) {
    std::string text;
    if (installed()) text = installed()(english);
    if (text.empty()) text = english;
    // "{n}" with n from 1 to 9; anything else stays as written.
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9' &&
            text[i + 2] == '}') {
            const auto n = static_cast<std::size_t>(text[i + 1] - '1');
            if (n < values.size()) {
                out += *(values.begin() + n);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

} // namespace fw
