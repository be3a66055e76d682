// The About window: the program's icon, name, version and credits.
#pragma once

#include "framework/Window.h"

namespace app {

class W_About final : public fw::Window {
 public:
  W_About();

  void Layout() override;
  void CreateControls() override;
  void _CreateControls0();
  void Canvas1_Paint(fw::Graphics& g);
  void StaticText2_Open();
  bool StaticText3_MouseDown(std::int32_t x, std::int32_t y);
  void AddMenuHandlers(fw::Window* window) override;
  void Event_Open() override;
  bool _FileCloseWindow_Action();
};

// The one About window: the open one, or a new one, built and visible.
fw::Ref<W_About> W_AboutInstance();

// What the credits say and where a click on them leads.
inline constexpr const char* kWebAddress = "https://speckmoor.example.org/";
inline constexpr const char* kCredits =
    "Made by the Speckmoor project.\r"
    "https://speckmoor.example.org/\r"
    "\r"
    "With thanks for six-neighbour error diffusion.";

}  // namespace app
