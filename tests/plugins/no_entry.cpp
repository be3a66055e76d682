// A shared library without the plug-in entry.
extern "C" __attribute__((visibility("default"))) int NotAPluginEntry() { return 1; }
