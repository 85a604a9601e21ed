#pragma once
// The notes of a long diary, as the benchmarks that read one write them: eight types in turn, one
// note every `spacing` seconds back from the newest (3000 s is about 29 a day), half an hour long,
// with a number and its unit, every third with a sub-value and every fifth with a notice.

#include "app/entities.h"
#include "platform/foundation/date.h"
#include "platform/foundation/decimal.h"
#include "platform/store/context.h"

namespace bench_support {

inline constexpr const char* kNoteTypes[] = {"Breast Feeding", "Sleep", "WC",    "Walk",
                                             "Food",           "Drink", "Bath", "Weight"};

// Inserts `count` notes into `context` (unsaved): note i stops i × `spacing` seconds before
// `newest` and belongs to `babyOf(i)`.
template <class BabyOf>
void insertNotes(store::Context& context, int count, foundation::Date newest, double spacing, BabyOf&& babyOf) {
  for (int i = 0; i < count; ++i) {
    auto note = app::Note::insertIn(context);
    const foundation::Date stop = newest - i * spacing;
    note.setNote_Type(kNoteTypes[i % 8]);
    note.setNote_DateStart(stop - 1800);
    note.setNote_DateStop(stop);
    note.setNote_numValue(foundation::Decimal::fromInteger(i % 250));
    note.setNote_numMeasureCurrent("Notation_ml");
    if (i % 3 == 0) note.setNote_strValue("Milk");
    if (i % 5 == 0) note.setNote_Notice("A short notice");
    note.setNoteToBaby(babyOf(i));
  }
}

}  // namespace bench_support
