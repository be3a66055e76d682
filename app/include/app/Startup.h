// The process entry's steps, start-up and shutdown.
#pragma once

namespace app {

// Registers the class records: the framework's, the plug-ins', then the program's own.
void RegisterClasses();
// Hands _Startup to the framework's initialisation, then runs the event loop.
void _Main();
// The six start-up steps.
void _Startup();
void _InitFileTypes();
void _MakeDefaultView();
// The module exits, in order.
void ModuleExits();
// The whole process: what main() runs. Returns the exit code.
int ProcessEntry();

}  // namespace app
