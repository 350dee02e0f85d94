#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/phone_sim/session.h"

namespace {

// The narrow argv of a Windows program is in the ANSI code page, which cannot
// hold most of what one would dictate; the wide one converts losslessly.
std::string WideToUtf8(const wchar_t* wide) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) {
    return {};
  }
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back();  // the terminating NUL
  return utf8;
}

// The console shows our UTF-8 transcript only with its output code page set
// to UTF-8; the user's code page comes back on exit, since cmd.exe keeps
// whatever a program leaves.
class ConsoleUtf8 {
 public:
  ConsoleUtf8() : previous_(::GetConsoleOutputCP()) {
    if (previous_ != 0) {
      ::SetConsoleOutputCP(CP_UTF8);
    }
  }
  ~ConsoleUtf8() {
    if (previous_ != 0) {
      ::SetConsoleOutputCP(previous_);
    }
  }
  ConsoleUtf8(const ConsoleUtf8&) = delete;
  ConsoleUtf8& operator=(const ConsoleUtf8&) = delete;

 private:
  const UINT previous_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(WideToUtf8(argv[i]));
  }
  // A script piped in is taken byte for byte: no CR LF folding, no Ctrl+Z end.
  _setmode(_fileno(stdin), _O_BINARY);
  const ConsoleUtf8 console;
  const int status = lumora::RunPhoneSim(args, std::cin, std::cout, std::cerr);
  std::cout.flush();
  std::cerr.flush();
  return status;
}
