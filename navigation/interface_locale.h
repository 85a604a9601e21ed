#pragma once
// Dates on the screens follow the interface language the person chose, not the host's locale: a
// Russian interface shows "7 дек. 2026 г.", not "Dec 7, 2026".

#include "platform/foundation/date_formatter.h"
#include "platform/foundation/locale.h"

namespace navigation {

// The locale of the interface language now in force (app::interfaceLocale: the language with the
// host's region); the host's when no language is chosen.
foundation::Locale interfaceLocale();

// A formatter of the platform's date and time styles in the interface language.
foundation::DateFormatter interfaceDateFormatter(foundation::DateFormatterStyle date,
                                                 foundation::DateFormatterStyle time);

}  // namespace navigation
