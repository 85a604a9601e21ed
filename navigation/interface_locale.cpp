#include "navigation/interface_locale.h"

#include "app/value_texts.h"

namespace navigation {

// The diary's one rule for dates in its language, so the screens write them as the list rows and
// the report do.
foundation::Locale interfaceLocale() { return app::interfaceLocale(app::InterfaceText::current()); }

foundation::DateFormatter interfaceDateFormatter(foundation::DateFormatterStyle date,
                                                 foundation::DateFormatterStyle time) {
  return foundation::DateFormatter::withStyles(date, time, interfaceLocale());
}

}  // namespace navigation
