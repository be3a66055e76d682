#include "app/Startup.h"

#include <functional>
#include <string>

#include "app/App.h"
#include "app/FileTypes.h"
#include "app/Menu.h"
#include "app/W_Main.h"
#include "bindings/PluginEntryTable.h"
#include "framework/ClassRegistry.h"
#include "framework/PluginHost.h"
#include "framework/Runtime.h"

namespace app {
namespace {

int gExitValue = 0;

void RegisterProgramClass(const char* name, const char* super, std::vector<std::string> ownOperations) {
  fw::ClassRecord record;
  record.name = name;
  record.super = super ? fw::FindClass(super) : nullptr;
  if (record.super) record.operations = record.super->operations;
  record.operations.insert(record.operations.end(), ownOperations.begin(), ownOperations.end());
  fw::RegisterClass(std::move(record));
}

// The plug-in routines the program binds but no plug-in offered, named by their plug-ins' keys.
void ReportUnboundRoutines() {
  const auto missing = bindings::UnboundPluginEntries();
  if (missing.empty()) return;
  std::string text = "missing plug-in routines:";
  for (std::string_view key : missing) text += "\n  " + std::string(key);
  fw::ReportStartupProblem(text);
}

}  // namespace

void RegisterClasses() {
  fw::RegisterFrameworkClasses();
  fw::RegisterPluginClassRecords();
  RegisterProgramClass("App", "Application", {"_FileNewWindow_Action", "_FileBatchDither_Action"});
  RegisterProgramClass("Menu.Menu", "MenuBar", {"Untitled0", "Untitled2", "Untitled3", "Untitled4"});
  RegisterProgramClass("W_About.W_About", "Window",
                       {"Layout", "CreateControls", "_CreateControls0", "Canvas1_Paint", "StaticText2_Open",
                        "StaticText3_MouseDown", "AddMenuHandlers", "Event_Open", "_FileCloseWindow_Action"});
  RegisterProgramClass(
      "W_Main.W_Main", "Window",
      {"Layout", "CreateControls", "ViewMenu", "AppleAboutSpeckmoor", "ViewShowOriginal", "UntitledMenu0", "View200",
       "View100", "View50", "View25", "View125", "OptionMenu", "OptionsContrast", "OptionSharpen", "UntitledMenu1",
       "EditClear", "EditPaste", "EditCopy", "EditCut", "UntitledMenu2", "EditUndo", "UntitledMenu3", "FileQuit",
       "FileSave", "UntitledSeparator", "FileCloseWindow", "FileBatchDither", "FileOpen", "FileNewWindow",
       "AddMenuHandlers", "Event_DropObject", "Event_EnableMenuItems", "Event_Paint", "Event_Open", "Event_MouseMove",
       "Event_MouseDown", "Event_MouseDrag", "Event_Resizing", "Event_Resized", "Event_DragEnter", "Event_DragExit",
       "Event_CancelClose", "Event_Close", "Event_Activate", "_EditPaste_Action", "_EditCopy_Action",
       "_View100_Action", "_View200_Action", "_OptionSharpen_Action", "_AppleAboutSpeckmoor_Action",
       "_FileSave_Action", "_FileOpen_Action", "_ViewShowOriginal_Action", "_EditClear_Action",
       "_OptionsContrast_Action", "_FileCloseWindow_Action", "_FileBatchDither_Action", "_View25_Action",
       "_View50_Action", "_View125_Action", "Clear", "SetInputPic", "Interface_BatchComplete",
       "Interface_ProcessImage", "SetInputBatch", "DitheredImage", "Interface_GetProcessedImage",
       "Interface_CheckForCanceled"});
  RegisterProgramClass("Speckmoor", "Object", {"Dither"});
  RegisterProgramClass("BatchDither", "Thread", {"Event_Run", "Constructor"});
  RegisterProgramClass("BatchDitherInterface", nullptr,
                       {"Interface_BatchComplete", "Interface_ProcessImage", "Interface_GetProcessedImage",
                        "Interface_CheckForCanceled"});
  RegisterProgramClass("W_Progress.W_Progress", "Window",
                       {"Layout", "CreateControls", "_CreateControls0", "PushButton1_Action", "Event_Close",
                        "Constructor", "UpdateName"});
}

void _InitFileTypes() { FileTypes::_Initialize(); }

void _MakeDefaultView() { (void)W_MainInstance(); }

void _Startup() {
  fw::RuntimeInitExternalClasses();
  bindings::BindPluginEntryTable();
  ReportUnboundRoutines();
  _InitFileTypes();
  _NewAppInstance();
  _ApplicationAddMenuHandlers();
  _MakeDefaultView();
}

void _Main() {
  try {
    std::function<void()> startup = _Startup;
    fw::RunFrameworkInitialization(startup);
    startup = nullptr;
    fw::RuntimeRun();
  } catch (const std::exception& e) {
    fw::RuntimeUnhandledException(e);
  }
}

void ModuleExits() {
  fw::RuntimeModuleExit();
  FileTypes::pTextExit();
  FileTypes::pSpecialAnyExit();
  MenuInstanceExit();
}

int ProcessEntry() {
  // A logout or a kill ends the program as File > Quit does, also while it connects to the display.
  fw::QuitOnTerminationSignals();
  fw::RuntimeInit();
  RegisterClasses();
  _Main();
  ModuleExits();
  gExitValue = fw::RuntimeExit();
  return gExitValue;
}

}  // namespace app
