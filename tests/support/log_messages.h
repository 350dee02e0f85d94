#pragma once

// What a log file says, line by line, without the level, tag and time that
// begin each line ("[W APP 12:00:00.000] ").

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace lumora::testing {

inline std::vector<std::string> LogMessagesOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> messages;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const std::size_t end = line.find("] ");
    messages.push_back(end == std::string::npos ? line : line.substr(end + 2));
  }
  return messages;
}

}  // namespace lumora::testing
