#include "frontend/UserLanguage.h"

#include "framework/Translation.h"

#include <cstdint>
#include <cstring>

namespace upload::frontend {

namespace {

// A .mo file: a header of 32-bit words in the writer's byte order (msgfmt writes the build
// machine's, little-endian on both targets), then two tables of (length, offset) pairs, the
// originals sorted, each string ended by a zero byte.
constexpr std::uint32_t moMagic = 0x950412de;

std::optional<std::uint32_t> word(std::string_view bytes, std::size_t at) {
    if (at > bytes.size() || bytes.size() - at < 4) return std::nullopt;
    std::uint32_t w = 0;
    std::memcpy(&w, bytes.data() + at, 4);
    return w;
}

// String `index` of the table at `table`, checked against the file's end.
std::optional<std::string_view> entry(std::string_view bytes, std::uint32_t table,
                                      std::uint32_t index) {
    const std::size_t at = table + std::size_t{8} * index;
    const auto length = word(bytes, at), offset = word(bytes, at + 4);
    if (!length || !offset || *offset > bytes.size() || bytes.size() - *offset <= *length)
        return std::nullopt;
    return bytes.substr(*offset, *length);
}

} // namespace

std::optional<MessageCatalog> MessageCatalog::read(std::string_view bytes) {
    if (word(bytes, 0) != moMagic || word(bytes, 4) != 0u) return std::nullopt;
    const auto count = word(bytes, 8), originals = word(bytes, 12), translations = word(bytes, 16);
    if (!count || !originals || !translations) return std::nullopt;
    for (std::uint32_t i = 0; i < *count; ++i)
        if (!entry(bytes, *originals, i) || !entry(bytes, *translations, i)) return std::nullopt;
    return MessageCatalog(bytes);
}

std::optional<std::string_view> MessageCatalog::find(std::string_view english) const {
    const std::uint32_t count = *word(bytes_, 8), originals = *word(bytes_, 12),
                        translations = *word(bytes_, 16);
    // msgfmt sorts the originals by their bytes.
    std::uint32_t low = 0, high = count;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        const std::string_view original = *entry(bytes_, originals, middle);
        if (original == english) {
            const std::string_view text = *entry(bytes_, translations, middle);
            if (text.empty()) return std::nullopt; // not translated yet
            return text;
        }
        if (original < english)
            low = middle + 1;
        else
            high = middle;
    }
    return std::nullopt;
}

bool isPortugueseLocale(std::string_view name) {
    if (!name.starts_with("pt")) return false;
    return name.size() == 2 || name[2] == '_' || name[2] == '.' || name[2] == '@';
}

void useUserLanguage() {
    if (!userLanguageIsPortuguese()) {
        fw::setTranslator({});
        return;
    }
    static const std::optional<MessageCatalog> catalog = MessageCatalog::read(portugueseCatalog());
    if (!catalog) return; // cannot happen with the catalog the build embeds: English, then
    fw::setTranslator([](std::string_view english) {
        const auto text = catalog->find(english);
        return text ? std::string(*text) : std::string();
    });
}

} // namespace upload::frontend
