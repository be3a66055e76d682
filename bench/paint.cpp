// One paint of an 8192 x 8192 result into a 1280 x 800 window at each zoom level, and one pan step at
// 200 %: the program's own window, painted offscreen.
#include <QApplication>
#include <QMainWindow>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <chrono>
#include <cstdio>
#include <vector>

#include "app/Startup.h"
#include "app/W_Main.h"
#include "framework/Runtime.h"
#include "framework/Window.h"

namespace {

constexpr int kSide = 8192;
constexpr int kRuns = 15;

double MedianMs(const std::function<void()>& f) {
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  fw::RuntimeInit();
  app::RegisterClasses();
  fw::RunFrameworkInitialization(app::_Startup);
  fw::Ref<app::W_Main> window = app::NewDocumentWindow();
  auto* content = static_cast<QMainWindow*>(window->Widget())->centralWidget();
  window->Widget()->resize(1280, 800 + (window->Widget()->height() - content->height()));
  QApplication::processEvents();

  fw::Ref<fw::Picture> picture = fw::NewPicture(kSide, kSide, 32);
  for (int y = 0; y < kSide; ++y) {
    std::uint8_t* row = picture->Row(y);
    for (int x = 0; x < kSide; ++x) row[4 * x + 1] = row[4 * x + 2] = row[4 * x + 3] = static_cast<std::uint8_t>((x ^ y) & 255);
  }
  window->SetInputPic(picture);
  content->repaint();  // the one conversion to a Qt image, made once for this result

  std::printf("paint of an %dx%d result into %dx%d:\n", kSide, kSide, content->width(), content->height());
  const struct {
    const char* name;
    bool (app::W_Main::*zoom)();
  } levels[] = {{"12.5%", &app::W_Main::_View125_Action}, {"25%", &app::W_Main::_View25_Action},
                {"50%", &app::W_Main::_View50_Action},    {"100%", &app::W_Main::_View100_Action},
                {"200%", &app::W_Main::_View200_Action}};
  for (const auto& level : levels) {
    ((*window).*level.zoom)();
    std::printf("  %-6s %6.2f ms\n", level.name, MedianMs([&] { content->repaint(); }));
  }
  window->Event_MouseDown(600, 400);
  int step = 0;
  std::printf("  pan step at 200%%: %6.2f ms\n", MedianMs([&] {
                window->Event_MouseDrag(600 + (++step % 7), 400);
                content->repaint();
              }));
  app::ModuleExits();
  fw::RuntimeExit();
  return 0;
}
