#pragma once

// What app_config.cpp needs from the platform files to read and replace the
// settings file.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumora::detail {

// The whole file into `bytes`; false if it cannot be opened or read, with the
// system's error code (errno, or GetLastError on Windows) in `error`.
bool ReadConfigFile(const std::filesystem::path& file, std::string& bytes, int& error);

// A new file in the folder of `target`, to be written and then moved over
// `target` in one step, so that a save cut short leaves the old file whole.
// Until Replace succeeds, the destructor closes and deletes it.
class ReplacementFile {
 public:
  explicit ReplacementFile(const std::filesystem::path& target);
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  ~ReplacementFile();

  bool IsOpen() const { return handle_ != kNoHandle; }
  // All of `bytes`, or false.
  bool Write(std::string_view bytes);
  // The contents reach the disk before the file takes the target's place.
  bool Flush();
  // Closes the file and puts it in the target's place.
  bool Replace();

 private:
  static constexpr std::intptr_t kNoHandle = -1;  // also INVALID_HANDLE_VALUE

  bool Close();

  std::filesystem::path target_;
  std::filesystem::path path_;
  std::intptr_t handle_ = kNoHandle;  // file descriptor, or HANDLE on Windows
  bool replaced_ = false;
};

}  // namespace lumora::detail
