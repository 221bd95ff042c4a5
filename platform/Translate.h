#pragma once
// Messages in the user's language: gettext of the C library, domain "korvane", English texts in the code and
// catalogues built from po/ (installed under share/locale, or found in the build tree). Every layer uses it,
// the window as well as the Qt-free ones.
#include <initializer_list>
#include <string>
#include <string_view>

namespace korvane {

// The text in the language the locale asks for (LC_ALL, LC_MESSAGES, LANG, LANGUAGE); the English text
// itself where there is no translation. Marks the text for the catalogues (xgettext --keyword=Tr).
const char* Tr(const char* english);

// Marks a text for the catalogues where it is not translated at once (a constant translated where used).
constexpr const char* TrNoop(const char* english) {
    return english;
}

// The pattern with %1, %2, ... replaced by the arguments, so that a translation may put them in another
// order; "%%" is a percent sign.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);

// Takes the locale's language and character type from the environment (numbers stay as in "C") and finds the
// catalogues. Call once at start, before any message is made.
void SetUpTranslations();

// Where the catalogues were looked for: "<folder>/<language>/LC_MESSAGES/korvane.mo".
std::string CatalogueFolder();

} // namespace korvane
