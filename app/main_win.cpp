#include <windows.h>

#include "app/log.h"

// The host does not exist yet: the program records its start and leaves.
int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/, int /*show*/) {
  lumora::Log(lumora::LogLevel::Warn, "APP", "Parlino starting");
  return 0;
}
