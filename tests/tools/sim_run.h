#pragma once

// The phone simulator run in-process as its command line would run it, with
// what it printed.

#include <sstream>
#include <string>
#include <vector>

#include "tools/phone_sim/session.h"

namespace lumora::testing {

inline const std::string kNi = "你";
inline const std::string kHao = "好";

struct SimRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline SimRun RunSim(const std::vector<std::string>& args, const std::string& stdin_text = "") {
  std::istringstream in(stdin_text);
  std::ostringstream out;
  std::ostringstream err;
  SimRun run;
  run.status = RunPhoneSim(args, in, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

}  // namespace lumora::testing
