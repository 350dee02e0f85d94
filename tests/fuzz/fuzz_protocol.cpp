// Feeds arbitrary phone lines to the codec and checks what the rest of the
// server relies on: parsing never fails in an unexpected way, and a line the PC
// builds from arbitrary text is one line that reads back to the same text.

#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/protocol.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool IsKnownError(const std::string& error) {
  return error == "invalid json" || error == "missing type" || error == "text.content missing" ||
         error == "key.name missing";
}

// One built line: a single line feed, at the end.
void CheckOneLine(const std::string& line) {
  Check(!line.empty() && line.back() == '\n');
  Check(line.find('\n') == line.size() - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using lumora::ClientMessage;
  using lumora::MessageType;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  ClientMessage message;
  std::string error;
  if (lumora::ParseClientMessage(input, message, &error)) {
    Check(error.empty());
    Check(message.type >= MessageType::Unrecognized && message.type <= MessageType::Bye);
    Check(message.type != MessageType::Key || !message.name.empty());
    Check(message.type == MessageType::Commit || message.press_enter);
    CheckOneLine(lumora::BuildPong(message.ts));
  } else {
    Check(IsKnownError(error));
  }

  // Everything up to the first NUL as text content: survives the round trip.
  const std::string text(input.substr(0, input.find('\0')));
  cJSON* object = cJSON_CreateObject();
  cJSON_AddStringToObject(object, "type", "text");
  cJSON_AddStringToObject(object, "content", text.c_str());
  const std::string line = lumora::SerializeLine(object);
  CheckOneLine(line);
  ClientMessage back;
  Check(lumora::ParseClientMessage(std::string_view(line).substr(0, line.size() - 1), back));
  Check(back.type == MessageType::Text && back.content == text);

  const std::string error_line = lumora::BuildError("bad_frame", text);
  CheckOneLine(error_line);
  return 0;
}
