#pragma once

// The phone simulator's run: command line in, exit status out. Talks to the
// PC over one TCP connection; `out` gets the transcript, `err` the verdict.

#include <iosfwd>
#include <string>
#include <vector>

namespace lumora {

inline constexpr int kSimPassed = 0;
inline constexpr int kSimFailed = 1;  // the PC answered wrongly or the connection ended early
inline constexpr int kSimUsage = 2;   // usage error or no connection

// `args` without the program name, as UTF-8. `in` is read for --script -.
int RunPhoneSim(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace lumora
