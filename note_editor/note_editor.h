#pragma once
// NoteEditor: the state and the rules of the note editor, without any view. The screen
// (noteEditController) is a thin adapter that shows what this model describes and hands it the
// user's taps; the timers and the value entry work on the same fields.
//
//   open ──setUp()──> editing state ──rows / texts──> table
//                          │  ▲
//          taps, children ─┘  └─ copyThisNote(), setPhoto(), sub-value
//                          │
//              saveThisNote() / removeThisNote() ──> store, photo file, analytics, (opener)
//
// The one promise of saving and deleting: all or nothing. Either the store saved every change of
// the operation (note, photo record, remembered values) and the photo files follow it, or the
// context is rolled back, any photo file written for it is put back as it was, nothing is logged
// to analytics, and the caller gets an alert text and keeps the editor open. (Rolling back is
// safe because every screen on the editing road saves its changes at once: the context holds
// none but the editor's own when it saves.)
//
// Everything runs on the main thread. Time comes from the services' clock. The model's code lies
// by job: note_editor.cpp (services, set-up), editor_table.cpp (rows, header, taps),
// editor_timers.cpp (timer states, tick, records, limit), editor_saving.cpp (child screens'
// answers, save, delete, copy); date_changes and value_entry hold the panel's rules.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/entities.h"
#include "app/local_saves.h"
#include "app/note_edit_helper.h"
#include "app/settings_records.h"
#include "app/value_texts.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/error.h"
#include "platform/graphics/image.h"
#include "platform/store/context.h"

namespace note_editor {

// Keys of the texts the editor chooses at run time (the others it names where it shows them).
namespace text_key {
inline constexpr std::string_view kDate = "Date";
inline constexpr std::string_view kBreast = "Breast";
inline constexpr std::string_view kStart = "Start";
inline constexpr std::string_view kContinue = "Continue";
inline constexpr std::string_view kPause = "Pause";
inline constexpr std::string_view kEndBeforeBegin = "EndT_Biger_BeginT";
inline constexpr std::string_view kTimeLimit = "TimeLimit24Hours";
inline constexpr std::string_view kTimerLimitExceeded = "TimerLimitExceeded";
// The destructive buttons of the timer sheets.
inline constexpr std::string_view kReset = "Reset";
inline constexpr std::string_view kSwitchSides = "Save and switch sides";
inline constexpr std::string_view kStop = "Stop";
// Shown when a save or a delete could not be completed; nothing was changed.
inline constexpr std::string_view kSaveFailed = "The note could not be saved.";
inline constexpr std::string_view kNoBaby = "The baby of this note was not found.";
inline constexpr std::string_view kDeleteFailed = "The note could not be deleted.";
// The baby's timer file, when it cannot be read or written; it is never written over then.
inline constexpr std::string_view kTimersUnreadable = "The running timers could not be read.";
inline constexpr std::string_view kTimerNotStored = "The running timer could not be stored.";
}  // namespace text_key

inline constexpr std::string_view kLeftBreast = "Left Breast";
inline constexpr std::string_view kRightBreast = "Right Breast";

// What the editor reaches outside itself. Every field may be left empty in tests except the
// clock; fromApplication() fills them from the running application.
struct EditorServices {
  const foundation::Clock* clock = &foundation::Clock::system();
  // The file store for photos and timer records; none: photos and records are not written.
  std::shared_ptr<app::localSaves> saves;
  // The interface language; InterfaceText::current() when empty.
  std::function<app::InterfaceText()> language;
  // Where analytics events go (the Tally entry point in the application).
  app::AnalyticsEventSink logEvent;
  // The first "AppleLanguages" entry and the current locale's country code.
  std::function<std::optional<std::string>()> preferredLanguage;
  std::function<std::optional<std::string>()> countryCode;
  // A 32-bit random number, for photo keys.
  std::function<std::uint32_t()> random;
  // The Library folder the type order lives in (for the helper).
  std::filesystem::path library;

  // The application's: its file store, the Tally entry point, the standard preferences, the
  // current locale, the main run loop's clock.
  static EditorServices fromApplication();
};

// What the table shows in one row.
enum class RowKind { kDate, kTimer, kTimerBreast, kValue, kSegment, kNotice };

struct RowContent {
  RowKind kind = RowKind::kValue;
  // The prototype's reuse identifier ("noteEditDateCell", ...).
  std::string identifier;
  // Date rows: caption and date text; value rows: the text in rightText.
  std::string leftText;
  std::string rightText;
  bool drawTopLine = false;
  bool drawBottomLine = false;
  bool foolLine = false;
  // Segment rows.
  std::vector<std::string> segmentTitles;
  std::optional<int> selectedSegment;
};

// What a tap on a row asks for.
enum class RowTap { kNone, kStartDate, kStopDate, kNumberEntry, kSubValues };

// One button of a timer cell.
struct TimerButtonLook {
  bool hidden = true;
  std::string label;  // localised
  bool filled = false;
  // The breast cell's centre button keeps whatever image it has.
  bool keepsImage = false;
};

struct TimerCellContent {
  bool breast = false;
  bool closeHidden = false;
  std::string time;   // single or left side
  std::string time2;  // right side
  std::string hoursCaption, minutesCaption, secondsCaption;
  std::array<TimerButtonLook, 3> buttons;  // left, centre, right
  std::string leftPrevious, rightPrevious;
};

// How a save ended.
struct SaveOutcome {
  // The editor may close (the opener is told).
  bool close = false;
  // The alert to show when it may not.
  std::optional<std::string> alert;
};

class NoteEditor {
 public:
  explicit NoteEditor(EditorServices services);
  // Its helper reaches back into it: it stays where it was made.
  NoteEditor(const NoteEditor&) = delete;
  NoteEditor& operator=(const NoteEditor&) = delete;

  // --- Set by the opener before setUp

  std::shared_ptr<store::Context> managedObjectContext;
  std::optional<std::string> currentBabyName;
  app::Note editingNote;
  bool stopWatchOn = false;
  std::int32_t stopWatchNum = 0;
  // Set only by the screenshot tools: the editor shows a made-up running timer.
  std::optional<std::string> local_ID;

  // --- The editing state

  std::optional<std::string> note_Type;
  std::optional<foundation::Date> note_DateStart;
  std::optional<foundation::Date> note_DatePaused;
  std::optional<foundation::Date> note_DateStop;
  std::optional<std::string> note_strVal;
  std::optional<double> note_numVal;
  std::optional<std::string> note_Notice;
  std::optional<std::string> note_numMeasureCurrent;
  std::optional<graphics::Image> note_Photo;
  // 0 no photo, 1 the stored photo was loaded, 2 a photo was chosen here.
  std::int32_t photoState = 0;
  // What the first value row shows: 1 the sub-value, 2 the number.
  std::int32_t firstValue = 0;

  std::int64_t pickerViewType = 0;
  std::int64_t actionSheetNum = 0;
  bool dateTimerON = false;
  std::int64_t timerType = 0;
  bool towTimers = false;
  std::uint32_t lastBreast = 0;
  bool timerStarted = false;
  bool startTimeHasBeenChanged = false;
  bool timerHasBeenStarted = false;
  std::int64_t timerCount = 0;
  std::int64_t timerCount2 = 0;
  std::int64_t timerCountTmp = 0;
  std::string timeStr;
  std::string time2Str;
  // The bar shows the running-timer pair (to main screen, empty) instead of save and cancel.
  bool runningTimerBar = false;

  // --- Set-up (what the screen's viewDidLoad does besides its views)

  void setUp();
  bool canUseTimer() const;
  bool isBreastType() const;
  // Both dates on the current minute.
  void setDates();
  // The type's row, fetched at set-up; empty without a context or a type.
  const app::ValueType& valueType() const { return valueType_; }
  // The timer record this editor owns in the baby's timer file; nothing when it owns none.
  const std::optional<size_t>& ownRecord() const { return ownRecord_; }

  // --- Timer state the table shows (the ticking itself lives with the timers)

  bool isTimeLimitExceeded() const;
  std::string timerStrFromSeconds(std::int32_t seconds) const;
  // Back to state 0 at zero with both dates now.
  void resetTimer();
  // The breast-feeding counters are seconds while the timer is shown and minutes once it is not
  // (stopped, closed, or an edited note). Other types always count seconds.
  bool countsMinutes() const { return isBreastType() && !dateTimerON; }
  // The screenshot tools' timer: started five minutes ago, running on the side in note_strVal (or
  // the single one). Nothing ticks and nothing is stored.
  void fakeRunningTimer();
  // The running state of the timer: 1 for a single one, 3 or 5 for the side in note_strVal
  // (unchanged without a side).
  void setRunningState();
  // Refreshes the timer texts from the counters.
  void updateTimerTexts();
  // Rewrites the owned record from the editing state (its temporary photo included); nothing
  // without a file store or an owned record.
  foundation::Status refrashTimerSave();

  // --- Running the timers (the screen keeps the one-second tick going while `ticking`)

  // The tick should run: a timer counts, or a paused side waits to be continued.
  bool ticking = false;
  // Counts the starts: each start begins a new second, so the screen schedules a fresh tick.
  std::uint64_t tickStarts = 0;
  // One second passed: the running counter grows and the limit is checked.
  void tick();
  // Limit test and timer texts.
  void updateTimer();
  // Set when the 24-hour limit stopped the timer; the screen shows the alert once and clears it.
  bool limitAlertPending = false;
  // A failure the screen shows once and clears: the timer file could not be read or written.
  std::optional<std::string> pendingAlert;
  // "To main screen": the running timer's record takes what the editor shows, and is written
  // anew when its first write failed. An error when no record holds the timer afterwards.
  foundation::Status keepRunningTimer();
  // Starts or continues counting; with `save` a first start stores a new record.
  foundation::Status startAndSaveTimer(bool save);
  // Stops counting and drops the owned record; with `close` the dates show again.
  foundation::Status stopTimerAndClose(bool close);
  // The counters become the note's dates (and, for breast feeding, minutes per side).
  void setDatesFromTimerCount();
  // Recomputes the counters of a shown timer: from the owned record (`fromRecord`) or the dates.
  void setTimerCountFromDates(bool fromRecord);
  // Pumping: stores the running side as a note and starts the other (1 left, 2 right). The save's
  // alert when it failed; then the side and the record are kept.
  std::optional<std::string> startAnotherBreast(std::uint32_t side);
  // Appends a record for the running timer and owns it.
  foundation::Status saveTheTimer();
  // Removes the owned record with its temporary photo; the editor owns none afterwards.
  foundation::Status deleteTheTimer();
  // The timer passed 24 hours: it stops, keeps what it counted (at most 24 hours in all) and the
  // alert is pending.
  void timerLimitExceeded();
  // A timer cell button (0 left, 1 centre, 2 right); the confirmation sheet to ask (5, 6 or 7), or 0.
  int timerButtonClicked(int button);
  // The timer cell's close button.
  void closeTimer();
  // The answer of a timer sheet (4 reset, 5 and 6 switch sides, 7 stop); an alert text to show.
  std::optional<std::string> timerSheetAnswered(int sheet, int buttonIndex);

  // --- The table

  int numberOfRowsInSection(int section) const;
  double rowHeight(int section, int row, double viewHeight) const;
  double headerHeight(int section) const;
  // The text over the dates; empty for the other sections.
  std::string headerText() const;
  // Also decides firstValue for the first value row.
  RowContent rowContent(int section, int row);
  TimerCellContent timerCellContent() const;
  RowTap tapOnRow(int section, int row);
  // The side segment: 0 left, 1 right.
  void breastSegmentChanged(int segment);
  // The sub-value list editor's texts: the type's sub-values in numeric order.
  std::optional<std::vector<std::string>> subValueTexts() const;

  // --- Answers of child screens

  // A nil text changes nothing; a non-empty one logs "sub_categories".
  void noteInputSetSubtypesAndValues(const std::optional<std::string>& text);
  void setPhoto(const std::optional<graphics::Image>& image);

  // --- Saving, copying, deleting

  SaveOutcome saveThisNote();
  // Deletes the edited note with its photo record in one save; its photo file goes after.
  foundation::Status removeThisNote();
  void copyThisNote();
  // The alert text for one or two keys.
  std::string alertText(std::string_view key, std::optional<std::string_view> second = std::nullopt) const;

  // --- Services

  app::InterfaceText language() const;
  std::string localized(std::string_view key) const;
  const app::NoteEditHelper& helper() const { return helper_; }
  const EditorServices& services() const { return services_; }
  foundation::Date now() const { return services_.clock->now(); }

 private:
  struct PendingEvent {
    std::string name;
    foundation::Dictionary parameters;
  };

  // What a save did to the photo files, so that a failed save can put them back.
  struct PhotoFiles {
    std::optional<std::string> written;  // a new file under a new key
    std::optional<std::pair<std::filesystem::path, foundation::Bytes>> replaced;  // the old bytes
    std::optional<std::string> removeAfterSave;
    void undo(app::localSaves* saves) const;
  };

  // The date checks of a save: the alert key of the first that fails.
  std::optional<std::string_view> dateProblem();
  void writeNote(const app::Note& note);
  foundation::Status writePhoto(const app::Note& note, const app::Baby& baby, PhotoFiles& files);
  // The type's remembered values and the events of the save, to log once it is stored.
  std::vector<PendingEvent> rememberValues(const app::ValueType& valueType, bool isNew);
  void loadEditedNote();
  // Whether the photo file of the record is surely not there (no key, or no file of any kind at
  // its place); false when the file store cannot tell.
  bool photoFileIsGone(const app::PhotoInfo& info) const;
  // Deletes the record of a photo whose file is gone and saves at once; a failed save is logged
  // and rolled back, and the next save of the note tries again.
  void dropPhotoRecord(const app::PhotoInfo& info);
  void restoreTimerRecord();
  void applyDefaults();
  void findLastBreast();
  void timerAtLoad();
  // The baby's timer array as stored; an error when the file exists but cannot be read, so that
  // nothing is written over the baby's other timers.
  foundation::Result<app::NoteTimerArray> loadTimers() const;
  // The lowest temporary photo number no record carries.
  static std::int64_t freePhotoNumber(const app::NoteTimerArray& timers);
  void fillRecord(app::noteTimer& record) const;
  // A breast-feeding record's counters, side state and pause, counted on to now when it runs.
  void countersFromRecord(const app::noteTimer& record);
  foundation::Status writeRecordPhoto(app::noteTimer& record, const app::NoteTimerArray& timers);
  foundation::Date cutToMinute(foundation::Date date) const;
  app::Baby findBaby(std::string& alert);
  std::string newPhotoKey(foundation::Date photoDate);
  std::optional<PendingEvent> newNoteEvent() const;
  std::optional<PendingEvent> breastTypeEvent() const;
  // The breast-feeding sides in whole minutes, as a note stores them.
  std::pair<std::int64_t, std::int64_t> breastMinutes() const;
  void logEvent(const PendingEvent& event) const;

  EditorServices services_;
  app::NoteEditHelper helper_;
  app::ValueType valueType_;
  foundation::Calendar calendar_;
  std::optional<size_t> ownRecord_;
  // The edited note's photo file exists but could not be read: its record is kept.
  bool photoUnreadable_ = false;
};

// "Food", "Drink" and "Pumping" take their number on the keypad; every other type on the picker.
bool usesKeypad(const std::optional<std::string>& type);

// The number as the store keeps it: a value that came from single precision is written with the
// fewest digits that read back as the same float (36.6, not 36.59999847).
std::optional<foundation::Decimal> storedNumber(std::optional<double> value);

}  // namespace note_editor
