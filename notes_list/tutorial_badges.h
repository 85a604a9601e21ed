#pragma once
// The first-use tutorial as the main screens show it: badges that point the user at the next
// thing to try. The step lives in the application delegate (stored in "tutorialStatus.txt") and
// only moves forward:
//
//   0 --a "Weight" note exists (checked at each refresh)--> 1   badge: strip while 0
//   1 --growth graph opened (sidebar / iPad panel)--------> 2   badge: menu / graphs picture
//   2 --latest updates opened-----------------------------> 3   badge: latest-updates picture
//   3 --note-type order edited (the chooser)--------------> 4   badge: strip (its more slot)
//   4 --next refresh--------------------------------------> -1  no badge, tutorial finished
//
// Main thread only.

#include <cstdint>
#include <optional>
#include <string>

#include "navigation/note_type_chooser.h"
#include "platform/store/context.h"

namespace notes_list {

// Where the badges stand after a refresh.
struct TutorialBadges {
  std::int32_t step = -1;
  // The quick-start strip's badge (on its more slot).
  bool stripBadge = false;
  // Step 1: the picture of the menu button (phone) or of the growth-graph button (tablet).
  bool menuBadge = false;
  // Step 2: the picture of the latest-updates button.
  bool latestUpdatesBadge = false;
};

// The refresh's share of the tutorial: at step 0 a "Weight" note of any baby moves it to 1, at
// step 4 it ends (-1); each move is stored. At -1 (or any step outside 0-4) no badge shows, and the
// badged buttons still get their plain pictures: a finished tutorial takes the badges, never the
// buttons. A failed fetch, or no context, counts as no "Weight" note. A step that cannot be stored
// is logged; the step in memory moves all the same. Always a value (optional for the callers that
// keep the last one).
std::optional<TutorialBadges> refreshTutorial(const navigation::ChooserServices& tutorial,
                                              store::Context* context);

// Moves the step from `from` to `to` and stores it, when it stands at `from`; true when it moved.
bool moveTutorial(const navigation::ChooserServices& tutorial, std::int32_t from, std::int32_t to);

// The pictures of the badged buttons.
std::string menuButtonImageName(bool badge);     // phone's menu button
std::string graphsButtonImageName(bool badge);   // tablet's growth-graph button
std::string latestUpdatesImageName(bool badge);  // latest-updates button, both devices

}  // namespace notes_list
