// The progress window of a running batch: the file being dithered, a bar, and "Cancel".
#pragma once

#include <string>

#include "app/W_Main.h"
#include "framework/Window.h"

namespace batch {

class W_Progress final : public fw::Window {
 public:
  W_Progress();
  ~W_Progress() override;

  void Layout() override;
  void CreateControls() override;
  void _CreateControls0();
  void PushButton1_Action();
  void Event_Close() override;
  // Builds the window and remembers the document window it reports on.
  void Constructor(app::W_Main* owner);
  // Shows "Dithering: " and the name (an empty name keeps the label), then redraws at once.
  void UpdateName(const std::string& name);

  fw::Ref<fw::ProgressBar> PB_Watch() const { return ControlNamed<fw::ProgressBar>("PB_Watch"); }
  fw::Ref<fw::PushButton> PushButton1() const { return ControlNamed<fw::PushButton>("PushButton1"); }
  fw::Ref<fw::StaticText> ST_Name() const { return ControlNamed<fw::StaticText>("ST_Name"); }

  fw::GuardedRef<app::W_Main> PreviewWindow;

  // The property lists the window and its controls are built from.
  static std::string WindowSettings();
  static std::string ProgressBarSettings();
  static std::string ButtonSettings();
  static std::string LabelSettings();
};

}  // namespace batch
