// A parent on the tablet and in other languages meets the kit's own behaviour: a popover that moves
// the field being typed into above the keyboard, a long baby name that shrinks on the panel, a mail
// subject that shrinks between the bar's buttons. Each case is a script the `diary` program runs; the
// screens go to test-output/kit_walk/<case>.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/entities.h"
#include "program_run.h"
#include "support/temp_dir.h"

namespace {

using namespace program_run;

DiaryRun runWalk(const testing_support::TempDir& home, const std::string& script, const std::string& name,
                 const std::string& arguments) {
  return runDiaryScript(home, script + "quit\n", testing_support::testOutput() / "kit_walk" / name, arguments);
}

TEST(KitWalk, TheContactFieldBeingTypedIntoIsAboveTheKeyboard) {
  // Each field is typed into, then tapped where it shows: a field left under the keyboard would take
  // that tap as a key, and a letter would land in it.
  const std::string toTheEditor = std::string(kNewBabyFirstRun) + "tap Contacts\ntap \"Add contact\"\n";
  const std::string fill =
      "type \"ann@mail.ru\"\ntap \"ann@mail.ru\"\nkey return\n"
      "type Street\ntap Street\nkey return\n"
      "type Aunt\ntap Aunt\n";
  const struct {
    const char* name;
    const char* device;
    std::string start;
  } cases[] = {
      {"contact-upright-from-mail", "ipad", "tap E-mail\n"},
      {"contact-turned-from-mail", "ipad-landscape", "tap E-mail\n"},
      // Typing moves down from the first name: the keyboard stays up while the popover follows.
      {"contact-turned-from-first-name", "ipad-landscape",
       "tap \"First name\"\ntype Ann\nkey return\ntype Lee\nkey return\nkey return\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir home;
    const DiaryRun run =
        runWalk(home, toTheEditor + c.start + fill + "look\ntap Done\n", c.name, std::string("--device ") + c.device);
    ASSERT_EQ(run.status, 0) << run.out;
    OpenStore keep;
    const auto rows = storedRows(home, app::Contact::kEntityName, keep);
    ASSERT_EQ(rows.size(), 1u) << run.out;
    const app::Contact contact(rows.front());
    EXPECT_EQ(contact.contact_Mail().value_or(""), "ann@mail.ru") << run.out;
    EXPECT_EQ(contact.contact_Address().value_or(""), "Street") << run.out;
    EXPECT_EQ(contact.contact_Description().value_or(""), "Aunt") << run.out;
  }
}

TEST(KitWalk, ALongBabyNameShrinksOnTheTabletsPanel) {
  const struct {
    const char* name;
    const char* device;
    std::string baby;
    bool cut;
  } cases[] = {
      {"name-short", "ipad", "Ada", false},
      {"name-long-upright", "ipad", "Александра-Виктория", false},
      {"name-long-turned", "ipad-landscape", "Александра-Виктория", false},
      // Shrinking stops at a size still read at a glance; past it the name is cut.
      {"name-too-long", "ipad", "Александра-Виктория-Елизавета-Кристина", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir home;
    const DiaryRun run = runWalk(home, firstRun("\"" + c.baby + "\"", "en") + "look\n", c.name,
                                 std::string("--device ") + c.device);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto looks = lookTexts(run.out);
    ASSERT_FALSE(looks.empty()) << run.out;
    EXPECT_TRUE(lists(looks.back(), c.baby)) << run.out;
    EXPECT_EQ(lists(cutTexts(run.out), c.baby), c.cut) << run.out;
  }
}

TEST(KitWalk, TheMailSubjectShrinksBetweenTheBarsButtons) {
  const struct {
    std::string language;
    std::string baby;
    std::string subject;
    bool titleCut;
  } cases[] = {
      {"ru", "Ada", "Отчёт: Ada", false},
      {"de", "Ada", "Bericht: Ada", false},
      {"en", "Ada", "Report: Ada", false},
      // Shrinking has a floor: past it the bar's title is cut, and the subject's own field shows it.
      {"ru", "Александра", "Отчёт: Александра", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language + " " + c.baby);
    const auto t = [&](std::string_view key) { return quotedText(key, c.language); };
    testing_support::TempDir home;
    const std::string toMail = firstRun(c.baby, c.language) + "tap iPhone_list_button\ntap " + t("Settings") +
                               "\ntap " + t("Report") + "\ntap " + t("Start") + "\nwait 60\ntap " + t("Send") +
                               "\nlook\n";
    const DiaryRun run = runWalk(home, toMail, "mail-" + c.language + "-" + c.baby, "--language " + c.language);
    ASSERT_EQ(run.status, 0) << run.out;
    const auto looks = lookTexts(run.out);
    ASSERT_FALSE(looks.empty()) << run.out;
    EXPECT_TRUE(lists(looks.back(), c.subject)) << run.out;
    EXPECT_EQ(cutTexts(run.out), c.titleCut ? std::vector<std::string>{c.subject} : std::vector<std::string>{})
        << run.out;
  }
}

}  // namespace
