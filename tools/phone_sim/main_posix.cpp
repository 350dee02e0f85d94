#include <iostream>
#include <string>
#include <vector>

#include "tools/phone_sim/session.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return lumora::RunPhoneSim(args, std::cin, std::cout, std::cerr);
}
