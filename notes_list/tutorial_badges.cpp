#include "notes_list/tutorial_badges.h"

#include "app/entities.h"
#include "notes_list/note_predicates.h"
#include "platform/foundation/log.h"
#include "platform/store/fetch_request.h"

namespace notes_list {

namespace {

bool anyWeightNote(store::Context* context) {
  if (!context) return false;
  store::FetchRequest request{std::string(app::Note::kEntityName)};
  request.predicate = store::Predicate::andPredicates({fixedPredicate("note_Type == %@", {"Weight"})});
  request.fetchLimit = 1;
  auto counted = context->count(request);
  if (!counted) {
    foundation::log("The tutorial could not look for a weight note: " + counted.error().description());
    return false;
  }
  return *counted > 0;
}

void store(const navigation::ChooserServices& tutorial, std::int32_t step) {
  if (!tutorial.setTutorialState) return;
  if (auto saved = tutorial.setTutorialState(step); !saved)
    foundation::log("The tutorial step could not be stored: " + saved.error().description());
}

}  // namespace

std::optional<TutorialBadges> refreshTutorial(const navigation::ChooserServices& tutorial,
                                              store::Context* context) {
  TutorialBadges badges;
  badges.step = tutorial.tutorial();
  switch (badges.step) {
    case 0:
      if (anyWeightNote(context)) {
        badges.step = 1;
        store(tutorial, 1);
      } else {
        badges.stripBadge = true;
      }
      break;
    case 1:
    case 2:
      break;
    case 3:
      badges.stripBadge = true;
      break;
    case 4:
      badges.step = -1;
      store(tutorial, -1);
      break;
    default:
      // Finished (or a step this version does not know): no badge, but the buttons keep their plain
      // pictures, which only this refresh gives them.
      break;
  }
  badges.menuBadge = badges.step == 1;
  badges.latestUpdatesBadge = badges.step == 2;
  return badges;
}

bool moveTutorial(const navigation::ChooserServices& tutorial, std::int32_t from, std::int32_t to) {
  if (tutorial.tutorial() != from) return false;
  store(tutorial, to);
  return true;
}

std::string menuButtonImageName(bool badge) {
  return badge ? "iPhone_list_button_badge.png" : "iPhone_list_button.png";
}
std::string graphsButtonImageName(bool badge) {
  return badge ? "iPad_icon_graphs_badge.png" : "iPad_icon_graphs.png";
}
std::string latestUpdatesImageName(bool badge) {
  return badge ? "iPhone_sum_button_badge.png" : "iPhone_sum_button.png";
}

}  // namespace notes_list
