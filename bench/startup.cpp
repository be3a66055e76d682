// Time from process start to the first document window painted, and the resident memory of the idle
// program with that one window. Runs the program's own start-up in this process (offscreen unless a
// display is set).
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/Startup.h"
#include "app/W_Main.h"
#include "framework/Runtime.h"
#include "framework/Window.h"

namespace {

// Seconds since this process started, from the kernel's own record of its start.
double SecondsSinceProcessStart() {
  std::ifstream stat("/proc/self/stat");
  std::string line;
  std::getline(stat, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  unsigned long long startTicks = 0;
  for (int i = 3; i <= 22 && fields >> field; ++i)
    if (i == 22) startTicks = std::stoull(field);
  std::ifstream uptimeFile("/proc/uptime");
  double uptime = 0;
  uptimeFile >> uptime;
  return uptime - static_cast<double>(startTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 20, '\n');
  }
  return -1;
}

class FirstPaint final : public QObject {
 public:
  double seconds = -1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (seconds < 0 && event->type() == QEvent::Paint && watched->isWidgetType()) {
      for (const auto& w : fw::OpenWindows())
        if (dynamic_cast<app::W_Main*>(w.get()) && w->Widget() && w->Widget()->isAncestorOf(static_cast<QWidget*>(watched))) {
          seconds = SecondsSinceProcessStart();
          QTimer::singleShot(500, [] { QApplication::quit(); });  // let it settle before measuring memory
        }
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

int main() {
  fw::RuntimeInit();
  FirstPaint probe;
  qApp->installEventFilter(&probe);
  app::RegisterClasses();
  fw::RunFrameworkInitialization(app::_Startup);
  QTimer::singleShot(10000, [] { QApplication::quit(); });
  QApplication::exec();
  const long rss = ResidentKilobytes();
  qApp->removeEventFilter(&probe);
  app::ModuleExits();
  fw::RuntimeExit();
  if (probe.seconds < 0) {
    std::printf("no document window was painted\n");
    return 1;
  }
  std::printf("first window painted %.0f ms after the process started (goal: under 300 ms)\n", probe.seconds * 1000);
  std::printf("resident memory, idle with one window: %.1f MB (goal: under 80 MB)\n", rss / 1024.0);
  return 0;
}
