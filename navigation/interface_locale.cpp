#include "navigation/interface_locale.h"

#include "app/value_texts.h"

namespace navigation {

foundation::Locale interfaceLocale() {
  const std::string language = app::InterfaceText::current().language();
  return language.empty() ? foundation::Locale::current() : foundation::Locale(language);
}

foundation::DateFormatter interfaceDateFormatter(foundation::DateFormatterStyle date,
                                                 foundation::DateFormatterStyle time) {
  return foundation::DateFormatter::withStyles(date, time, interfaceLocale());
}

}  // namespace navigation
