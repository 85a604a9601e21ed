// The template baby the screenshot mode makes on an empty data root: a few days of notes, some with
// a photo, a few teeth (one of them lost again) and an icon, so that every captured screen has
// something to show. The pictures are drawn here; nothing is read from outside the data root.
#include <array>
#include <utility>

#include "platform/graphics/cairo_canvas.h"
#include "platform/runtime/run_loop.h"
#include "reports/screenshot_detail.h"
#include "reports/screenshot_helper.h"

namespace reports {

using namespace screenshot_detail;

namespace {

using graphics::Color;
using graphics::Rect;

// A picture of `width` x `height` pixels from `draw`; empty when no canvas could be made.
template <typename Draw>
graphics::Image drawPicture(double width, double height, Draw&& draw) {
  auto canvas = graphics::CairoCanvas::createBitmap(graphics::Size{width, height}, 1.0);
  if (!canvas) return {};
  draw(static_cast<graphics::Canvas&>(**canvas));
  auto image = (*canvas)->image();
  return image ? std::move(image).value() : graphics::Image();
}

// The baby's picture: a round face on a soft background.
graphics::Image drawIcon() {
  return drawPicture(240, 240, [](graphics::Canvas& canvas) {
    canvas.setFillColor(Color::rgb255(255, 214, 224));
    canvas.fillRect(Rect(0, 0, 240, 240));
    canvas.setFillColor(Color::rgb255(255, 226, 196));
    canvas.fillEllipse(Rect(40, 40, 160, 160));
    canvas.setFillColor(Color::rgb255(60, 60, 90));
    canvas.fillEllipse(Rect(82, 100, 18, 18));
    canvas.fillEllipse(Rect(140, 100, 18, 18));
    canvas.setFillColor(Color::rgb255(230, 120, 140));
    canvas.fillEllipse(Rect(100, 146, 40, 20));
  });
}

// One outdoor scene: sky, ground and a sun or a ball, in its own colours.
struct Scene {
  Color sky;
  Color ground;
  Color thing;
  Rect thingAt;
};

graphics::Image drawScene(const Scene& scene) {
  return drawPicture(480, 360, [&](graphics::Canvas& canvas) {
    canvas.setFillColor(scene.sky);
    canvas.fillRect(Rect(0, 0, 480, 240));
    canvas.setFillColor(scene.ground);
    canvas.fillRect(Rect(0, 240, 480, 120));
    canvas.setFillColor(scene.thing);
    canvas.fillEllipse(scene.thingAt);
  });
}

const std::array<Scene, 3>& scenes() {
  static const std::array<Scene, 3> kScenes{{
      {Color::rgb255(120, 190, 250), Color::rgb255(90, 180, 80), Color::rgb255(255, 220, 60), Rect(340, 40, 90, 90)},
      {Color::rgb255(250, 180, 120), Color::rgb255(230, 210, 150), Color::rgb255(250, 90, 60), Rect(60, 200, 110, 110)},
      {Color::rgb255(60, 70, 140), Color::rgb255(40, 110, 70), Color::rgb255(240, 240, 220), Rect(60, 50, 70, 70)},
  }};
  return kScenes;
}

// Teeth as the tooth chart stores them: one record per event, numbered by the chart's spots.
struct ToothEvent {
  int num;
  int state;  // 10 appeared, 20 lost
  int daysAgo;
};
constexpr std::array<ToothEvent, 5> kTeeth{{
    {14, 10, 40},  // the lower front pair first
    {15, 10, 34},
    {4, 10, 20},  // then the upper front pair
    {5, 10, 16},
    {14, 20, 5},  // and one of the first gone again
}};

std::string templatePhotoKey(std::size_t number) { return "ScreenshotTemplate_" + std::to_string(number); }

}  // namespace

foundation::Status screenShotHelper::makeTemplateBaby() {
  if (!services_.context) return failure(1, "Screenshots: no store");
  auto& context = *services_.context;
  auto fetched = context.count(babiesRequest());
  if (!fetched) return fetched.error();
  if (*fetched != 0) return {};
  const foundation::Clock& clock = services_.clock ? *services_.clock : runtime::RunLoop::main().clock();
  const foundation::Date now = clock.now();
  const std::string templateName(kScreenshotTemplateName);
  auto baby = app::Baby::insertIn(context);
  baby.setBaby_Name(templateName);
  baby.setBaby_BirthDay(now - 150 * 86400.0);
  baby.setBaby_Gender(false);
  baby.setBaby_Bood(3);
  for (const auto& event : kTeeth) {
    auto record = app::Tooth::insertIn(context);
    record.setTooth_Num(event.num);
    record.setTooth_State(event.state);
    record.setTooth_Date(now - event.daysAgo * 86400.0);
    record.setToothToBaby(baby);
  }
  // A few days of the usual notes: feedings on both sides, sleep, a walk with its photo, a diaper
  // and a weight.
  std::vector<std::pair<app::Note, graphics::Image>> photos;
  for (int day = 0; day < 3; ++day) {
    const foundation::Date morning = now - (day + 1) * 86400.0;
    const auto add = [&](const char* type, double start, double stop, std::optional<std::string> notice = {},
                         std::optional<double> number = {}) {
      auto note = app::Note::insertIn(context);
      note.setNote_Type(std::string(type));
      note.setNote_DateStart(morning + start);
      note.setNote_DateStop(morning + stop);
      note.setNote_Notice(std::move(notice));
      if (number) note.setNote_numValue(foundation::Decimal::fromDouble(*number));
      note.setNoteToBaby(baby);
      return note;
    };
    add(kBreastFeeding, 0, 900, std::string("S1"), 10);
    add(kBreastFeeding, 3 * 3600.0, 3 * 3600.0 + 720, std::string("S1"), 8);
    add("Sleep", 4 * 3600.0, 6 * 3600.0);
    photos.emplace_back(add("Walk", 7 * 3600.0, 8 * 3600.0), drawScene(scenes()[day]));
    add("WC", 9 * 3600.0, 9 * 3600.0);
    // A measure carries its unit, or the charts would take it for one in the other unit.
    if (day == 0) add("Weight", 9 * 3600.0, 9 * 3600.0, {}, 6.4).setNote_numMeasureCurrent(std::string("Notation_kg"));
  }
  // The pictures go first: a store row never points at a file that was not written.
  std::vector<std::string> written;
  foundation::Status status;
  for (std::size_t i = 0; i < photos.size() && status; ++i) {
    const auto& [note, picture] = photos[i];
    const std::string key = templatePhotoKey(i + 1);
    status = locSaves_->savePhoto(picture, key);
    if (!status) break;
    written.push_back(key);
    auto info = app::PhotoInfo::insertIn(context);
    if (!info) {
      status = failure(6, "Screenshots: no photo row for the template");
      break;
    }
    info.setPhoto_Date(note.note_DateStop());
    info.setPhoto_Path(key);
    info.setPhotoInfoToBaby(baby);
    info.setPhotoInfoToNote(note);
  }
  if (status) status = locSaves_->saveIcon(drawIcon(), templateName);
  if (status) status = context.save();
  if (!status) {
    context.rollback();
    for (const auto& key : written) (void)locSaves_->deletePhoto(key);
    (void)locSaves_->deleteIcon(templateName);
  }
  return status;
}

}  // namespace reports
