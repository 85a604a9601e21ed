#pragma once
// The diary's object model: the ten entities of the data store, with their attributes,
// relationships, inverses and delete rules.

#include <memory>
#include <string>

#include "platform/foundation/date.h"
#include "platform/store/model.h"

namespace app {

// The one model of the diary, built on first use.
std::shared_ptr<const store::Model> managedObjectModel();

// The day key of a date: year, month and day in the current calendar and time zone (the zone
// foundation::TimeZone::local() answers at the call), written "%d" for the year and two digits for
// month and day ("20150305" for 5 March 2015); empty for a date no calendar can place.
std::string dayKey(foundation::Date date);

}  // namespace app
