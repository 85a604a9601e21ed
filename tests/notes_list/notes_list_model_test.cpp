#include "notes_list/notes_list_model.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "notes_list/list_fixture.h"
#include "platform/foundation/log.h"
#include "platform/graphics/image.h"

namespace {

using foundation::Date;
using list_test::at;
using notes_list::ListFilter;
using notes_list::NotesListModel;

class NotesListModelTest : public list_test::ListTest {
 protected:
  std::unique_ptr<NotesListModel> model(bool sumStyle = false, std::optional<ListFilter> filter = {}) {
    auto list = std::make_unique<NotesListModel>(neh(), services(), saves_);
    list->setCurrentBabyName("Anna");
    list->setSumStyle(sumStyle);
    list->setFilter(std::move(filter));
    EXPECT_TRUE(list->performFetch().ok());
    return list;
  }

  // The store refuses to delete notes from now on.
  void refuseNoteDeletion() {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((home_.documents() / "dataBase.sqlite").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(
        sqlite3_exec(db,
                     "CREATE TRIGGER refuse BEFORE DELETE ON ZNOTE BEGIN SELECT RAISE(ABORT, 'refused'); END",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
  }

  app::Note addWithPhoto(Date when, const std::string& key) {
    graphics::Image image(4, 4);
    EXPECT_TRUE(saves_->savePhoto(image, key).ok());
    auto note = add("WC", when, when);
    auto photo = app::PhotoInfo::insertIn(*context_);
    photo.setPhoto_Path(key);
    note.setNoteToPhotoInfo(photo);
    EXPECT_TRUE(context_->save().ok());
    return note;
  }

  bool photoFileExists(const std::string& key) { return saves_->getPhoto(key).has_value(); }
};

TEST_F(NotesListModelTest, ReadsAPageAtATimeAndGrowsAsTheLastRowComesIntoView) {
  // Ten notes a day for thirty days: three pages.
  for (int day = 1; day <= 30; ++day)
    for (int hour = 1; hour <= 10; ++hour) add("WC", at(day, hour), at(day, hour));
  auto list = model();
  ASSERT_EQ(list->numberOfSections(), 10u);  // 100 notes of ten days
  EXPECT_EQ(list->sectionTitle(0), "December 30, 2026");
  EXPECT_EQ(list->noteAt(0, 0).note_DateStop(), at(30, 10));
  EXPECT_FALSE(list->willDisplayRow(3, 9));  // not the last row
  std::size_t reloads = 0;
  while (list->willDisplayRow(list->numberOfSections() - 1,
                              list->numberOfRows(list->numberOfSections() - 1) - 1))
    ++reloads;
  EXPECT_EQ(reloads, 2u);
  EXPECT_EQ(list->numberOfSections(), 30u);
  EXPECT_EQ(list->sectionTitle(29), "December 1, 2026");
  EXPECT_EQ(list->numberOfRows(29), 10u);
}

TEST_F(NotesListModelTest, RunningTimersComeFirstAndShiftTheDays) {
  add("WC", at(2, 10), at(2, 10));
  auto timer = std::make_shared<app::noteTimer>();
  timer->setParam_Type("Sleep");
  ASSERT_TRUE(saves_->saveTimerArrayById({timer}, "Anna").ok());
  auto list = model();
  ASSERT_EQ(list->numberOfSections(), 2u);
  EXPECT_EQ(list->numberOfRows(0), 1u);
  EXPECT_EQ(list->sectionTitle(0), "");
  EXPECT_FALSE(list->canEditRow(0));
  EXPECT_TRUE(list->canEditRow(1));
  EXPECT_EQ(list->sectionTitle(1), "December 2, 2026");
  EXPECT_FALSE(list->noteAt(0, 0));
  EXPECT_TRUE(list->noteAt(1, 0));
}

TEST_F(NotesListModelTest, ListFollowsSavesAndDeletionsAndThePhotoGoesOnlyAfterTheSave) {
  addWithPhoto(at(3, 10), "photo1");
  auto list = model();
  ASSERT_EQ(list->numberOfSections(), 1u);
  add("WC", at(4, 10), at(4, 10));
  ASSERT_TRUE(list->performFetch().ok());
  ASSERT_EQ(list->numberOfSections(), 2u);

  refuseNoteDeletion();
  {
    // The photo record went in the refused save too, and the log says so for a note that had one.
    foundation::ScopedLogCapture log;
    EXPECT_FALSE(list->deleteNoteAt(0, 0).ok());
    EXPECT_TRUE(log.contains("Failed to delete the note. Error = "));
    EXPECT_FALSE(log.contains("Failed to delete the photoInfo."));
  }
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(list->deleteNoteAt(1, 0).ok());
  EXPECT_TRUE(log.contains("Failed to delete the photoInfo. Error = "));
  EXPECT_TRUE(log.contains("Failed to delete the note. Error = "));
  EXPECT_TRUE(photoFileExists("photo1"));
  EXPECT_EQ(list->numberOfSections(), 2u);
  EXPECT_TRUE(list->noteAt(1, 0).noteToPhotoInfo());  // nothing half-deleted in the context

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((home_.documents() / "dataBase.sqlite").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "DROP TRIGGER refuse", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_TRUE(list->deleteNoteAt(1, 0).ok());
  EXPECT_FALSE(photoFileExists("photo1"));
  ASSERT_EQ(list->numberOfSections(), 1u);
  EXPECT_EQ(list->sectionTitle(0), "December 4, 2026");
}

TEST_F(NotesListModelTest, FilterHoldsInBothStyles) {
  add("WC", at(5, 23, 59), at(5, 23, 59), {}, {}, "Wet");
  add("WC", at(6, 0), at(6, 0), {}, {}, "Wet");
  add("Sleep", at(5, 1), at(5, 3));
  add("WC", at(4, 10), at(4, 10), {}, {}, "Poopy");
  ListFilter filter;
  filter.types = std::vector<std::string>{"WC"};
  filter.endDate = at(5, 12);
  auto list = model(false, filter);
  ASSERT_EQ(list->numberOfSections(), 2u);
  EXPECT_EQ(list->numberOfRows(0), 1u);  // 23:59 of the 5th, not the 6th, not the sleep

  auto summary = model(true, filter);
  ASSERT_EQ(summary->numberOfSections(), 2u);
  EXPECT_FALSE(summary->canEditRow(0));
  EXPECT_EQ(summary->sectionTitle(0), "December 5, 2026");
  ASSERT_NE(summary->sumRowAt(0, 0), nullptr);
  EXPECT_EQ(summary->sumRowAt(0, 0)->id, "WC");
  EXPECT_EQ(summary->sumRowAt(0, 1), nullptr);
}

TEST_F(NotesListModelTest, SummaryFollowsAUnitsChangeAtTheNextFetch) {
  add("Food", at(4, 8), at(4, 8), 100.0, std::string(app::unit::kG));
  auto summary = model(true);
  const auto before = summary->sumRowAt(0, 0)->valWithMeasure;
  neh().getValueType("Food").setVt_NumMeasureCurrent(std::string(app::unit::kOz));
  ASSERT_TRUE(context_->save().ok());
  ASSERT_TRUE(summary->performFetch().ok());
  EXPECT_EQ(
      summary->sumRowAt(0, 0)->valWithMeasure,
      neh().getCurrentNumValueStr("Food", static_cast<float>(app::convertGToOz(100.0)), app::unit::kOz));
  EXPECT_NE(summary->sumRowAt(0, 0)->valWithMeasure, before);
  const auto inOunces = summary->sumRowAt(0, 0)->valWithMeasure;

  // A reset cuts off the rows the units were read from: they are read again, and a later change
  // through the context shows as before.
  context_->reset();
  ASSERT_TRUE(summary->performFetch().ok());
  EXPECT_EQ(summary->sumRowAt(0, 0)->valWithMeasure, inOunces);
  neh().getValueType("Food").setVt_NumMeasureCurrent(std::string(app::unit::kG));
  ASSERT_TRUE(summary->performFetch().ok());
  EXPECT_EQ(summary->sumRowAt(0, 0)->valWithMeasure, before);
}

TEST_F(NotesListModelTest, CellsAndPhotoMarks) {
  auto list = model();
  const auto withPhoto = addWithPhoto(at(3, 10), "photo2");
  withPhoto.setNote_Notice(std::string());
  EXPECT_TRUE(NotesListModel::showsPhotoMark(withPhoto));  // an empty notice does not hide it
  EXPECT_FALSE(NotesListModel::showsPhotoMark(add("WC", at(3, 11), at(3, 11))));
  // The list's rows carry the photo link, read from the store and with unsaved changes alike.
  for (const bool saved : {false, true}) {
    if (saved) {
      ASSERT_TRUE(context_->save().ok());
    }
    ASSERT_TRUE(list->performFetch().ok());
    std::vector<Date> marked;
    for (size_t section = 0; section < list->numberOfSections(); ++section) {
      for (size_t row = 0; row < list->numberOfRows(section); ++row) {
        if (list->rowAt(section, row)->hasPhoto) marked.push_back(*list->rowAt(section, row)->stop);
      }
    }
    EXPECT_EQ(marked, std::vector<Date>{at(3, 10)}) << saved;
  }
  for (const auto& [type, identifier] : std::vector<std::pair<std::string, std::string>>{
           {"Note", "iPhoneNoteNoticeCell"}, {"Event", "iPhoneNoteNoticeCell"}, {"Sleep", "iPhoneNoteCell"},
           {"WC", "iPhoneNoteCell"}})
    EXPECT_EQ(list->cellIdentifierForNote(add(type, at(3, 12), at(3, 12))), identifier) << type;
  auto milestone = add("Milestone", at(3, 12), at(3, 12));
  const auto valueType = neh().getValueType("Milestone");
  valueType.setVt_StrCurrent(std::nullopt);
  EXPECT_EQ(list->cellIdentifierForNote(milestone), "iPhoneNoteNoticeCell");
  valueType.setVt_StrCurrent("First smile");
  EXPECT_EQ(list->cellIdentifierForNote(milestone), "iPhoneNoteCell");
}

TEST_F(NotesListModelTest, FailedFetchGivesAnEmptyListAndAnError) {
  add("WC", at(2, 10), at(2, 10));
  for (bool sumStyle : {false, true}) {
    auto noStore = services();
    noStore.context = nullptr;
    NotesListModel list(neh(), noStore, saves_);
    list.setCurrentBabyName("Anna");
    list.setSumStyle(sumStyle);
    EXPECT_FALSE(list.performFetch().ok());
    EXPECT_EQ(list.numberOfSections(), 0u);
  }
}

}  // namespace
