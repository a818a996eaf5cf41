#pragma once

#include <string>

namespace platform {

// The customer's own language for the texts they read. Log lines, the window's title and
// machine-readable values stay as they are.
namespace Localization {

// Once, early in the start: the catalogues (`<folder>/<language>/LC_MESSAGES/<domain>.mo`),
// chosen by the desktop's locale settings (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
void useCatalogues(const std::string& folder, const std::string& domain);

// The language the texts come in, as its catalogue names it ("de", "pt_BR"); "en" when no
// catalogue answers for the customer's language.
std::string language();

}  // namespace Localization

// `english` in the customer's language, or itself when it has no translation. The message
// catalogue's template collects every call by this function's name.
std::string localized(const char* english);

}  // namespace platform
