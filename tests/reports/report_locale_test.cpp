// The report's times and days in the interface language, whatever the host's locale: the job runs
// on a thread of its own, as the report screen runs it, and the PDF is read back as text.
#include <gtest/gtest.h>

#include <thread>

#include "app/entities.h"
#include "app/note_helper_fixture.h"
#include "pdf_tools.h"
#include "platform/files/file_ops.h"
#include "platform/foundation/locale.h"
#include "platform/foundation/time_zone.h"
#include "reports/report_job.h"
#include "support/diary_store.h"
#include "support/temp_dir.h"

namespace reports {
namespace {

using note_helper_test::at;

// The report of a day with a nappy and a 150-minute sleep, made in `code` on a thread of its own as
// the report screen makes it, read back as text.
std::string reportOfADay(const testing_support::TempDir& dir, const std::string& code) {
  const files::AppHome home(dir.path() / "home");
  auto store = testing_support::openDiaryStore(home);
  auto context = store->newContext().value();
  auto baby = app::Baby::insertIn(*context);
  baby.setBaby_Name(std::string("Anna"));
  const auto note = [&](const char* type, foundation::Date start, foundation::Date stop) {
    auto n = app::Note::insertIn(*context);
    n.setNote_Type(std::string(type));
    n.setNote_DateStart(start);
    n.setNote_DateStop(stop);
    n.setNoteToBaby(baby);
  };
  note("WC", at("UTC", 2026, 12, 3, 4, 46), at("UTC", 2026, 12, 3, 4, 46));
  note("Sleep", at("UTC", 2026, 12, 3, 13), at("UTC", 2026, 12, 3, 15, 30));
  EXPECT_TRUE(context->save().ok());

  foundation::ManualClock clock(at("UTC", 2026, 12, 6, 12));
  ReportJobInput input;
  input.store = store;
  input.babyName = "Anna";
  input.options.types = {"WC", "Sleep"};
  input.options.beginDate = at("UTC", 2026, 12, 1);
  input.options.endDate = at("UTC", 2026, 12, 5);
  input.options.descending = false;
  input.pdfPath = home.tmp() / "report.pdf";
  input.home = home;
  input.helper.library = home.library();
  input.helper.clock = &clock;
  input.helper.language = [code] { return note_helper_test::language(code); };
  input.language = note_helper_test::language(code);
  input.reportDate = clock.now();
  EXPECT_TRUE(files::createDirectory(home.tmp()).ok());

  foundation::Status result;
  std::thread job([&] { result = ReportJob::run(input, {}, {}); });
  job.join();
  EXPECT_TRUE(result.ok()) << result.error().description();
  return result.ok() ? pdfText(input.pdfPath) : std::string();
}

// The host as the diary meets it in a plain C locale (en_US_POSIX).
TEST(ReportLocaleTest, ARussianReportOnAnEnglishHostReadsRussianTimesAndDays) {
  foundation::ScopedDefaultLocale host(foundation::Locale::posix());
  foundation::ScopedDefaultTimeZone zone(foundation::TimeZone::utc());
  testing_support::TempDir dir;
  const std::string text = reportOfADay(dir, "ru");
  EXPECT_NE(text.find("04:46"), std::string::npos) << text;
  EXPECT_NE(text.find("13:00 - 15:30"), std::string::npos) << text;
  EXPECT_NE(text.find("3 декабря 2026"), std::string::npos) << text;
  EXPECT_EQ(text.find("AM"), std::string::npos) << text;
  EXPECT_EQ(text.find("PM"), std::string::npos) << text;
}

// In Japanese and Chinese a day's sum line writes durations without a blank, as the rows do.
TEST(ReportLocaleTest, JapaneseAndChineseSumLinesWriteDurationsWithoutBlanks) {
  foundation::ScopedDefaultLocale host(foundation::Locale::posix());
  foundation::ScopedDefaultTimeZone zone(foundation::TimeZone::utc());
  const std::pair<const char*, const char*> cases[] = {{"ja", "2時間30分"}, {"zh-Hans", "2小时30分钟"}};
  for (const auto& [code, duration] : cases) {
    testing_support::TempDir dir;
    const std::string text = reportOfADay(dir, code);
    const std::string sum = text.substr(std::min(text.find("\u2211"), text.size()));
    EXPECT_NE(sum.find(duration), std::string::npos) << code << "\n" << text;
    EXPECT_EQ(text.find(std::string(duration).insert(std::string(duration).find("30"), " ")), std::string::npos)
        << code << "\n" << text;
  }
}

// One rule for every date shown in the interface language: the language with the host's region,
// when the host names one.
TEST(ReportLocaleTest, TheInterfaceLanguageTakesTheHostsRegion) {
  struct Case {
    const char* host;
    const char* language;
    const char* locale;
  };
  const Case cases[] = {
      {"en_US", "ru", "ru_US"},    {"ru_RU", "ru", "ru_RU"}, {"de_DE", "zh-Hans", "zh_Hans_DE"},
      {"en_US", "en-GB", "en_GB"}, {"fr_FR", "", "fr_FR"},   {"en_US_POSIX", "ru", "ru"}};
  for (const Case& c : cases) {
    foundation::ScopedDefaultLocale host(foundation::Locale(c.host));
    EXPECT_EQ(reportLocale(app::InterfaceText(c.language, {})).identifier(), c.locale)
        << c.host << " " << c.language;
  }
}

}  // namespace
}  // namespace reports
