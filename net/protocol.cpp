#include "net/protocol.h"

#include <cjson/cJSON.h>

#include <cmath>
#include <limits>
#include <memory>
#include <mutex>

namespace lumora {
namespace {

// cJSON_Parse records the position of every failure in a process-wide
// variable. The accept thread and a connection thread may parse at the same
// moment, so parses take turns on it.
std::mutex& ParseMutex() {
  static std::mutex mutex;
  return mutex;
}

struct TreeDeleter {
  void operator()(cJSON* tree) const { cJSON_Delete(tree); }
};

bool Fail(std::string* error, const char* text) {
  if (error != nullptr) {
    *error = text;
  }
  return false;
}

const cJSON* Field(const cJSON* object, const char* name) {
  return cJSON_GetObjectItemCaseSensitive(object, name);
}

bool StringField(const cJSON* object, const char* name, std::string& out) {
  const cJSON* item = Field(object, name);
  if (!cJSON_IsString(item) || item->valuestring == nullptr) {
    return false;
  }
  out = item->valuestring;
  return true;
}

// Builds an object whose first field is "type".
cJSON* NewMessage(std::string_view type) {
  cJSON* object = cJSON_CreateObject();
  if (object != nullptr) {
    cJSON_AddStringToObject(object, "type", std::string(type).c_str());
  }
  return object;
}

void AddString(cJSON* object, const char* name, std::string_view value) {
  if (object != nullptr) {
    cJSON_AddStringToObject(object, name, std::string(value).c_str());
  }
}

void AddNumber(cJSON* object, const char* name, double value) {
  if (object != nullptr) {
    cJSON_AddNumberToObject(object, name, value);
  }
}

}  // namespace

std::int64_t TruncateToInt64(double value) {
  // 2^63 is exact as a double; anything at or beyond it does not fit, and a
  // plain conversion of it would be undefined.
  constexpr double kLimit = 9223372036854775808.0;
  if (std::isnan(value)) {
    return 0;
  }
  if (value >= kLimit) {
    return std::numeric_limits<std::int64_t>::max();
  }
  if (value <= -kLimit) {
    return std::numeric_limits<std::int64_t>::min();
  }
  return static_cast<std::int64_t>(value);
}

bool ParseClientMessage(std::string_view line, ClientMessage& message, std::string* error) {
  message = ClientMessage{};

  // cJSON reads a NUL-terminated string: it stops at the first NUL and
  // ignores whatever follows the first complete value.
  const std::string text(line);
  std::unique_ptr<cJSON, TreeDeleter> root;
  {
    std::lock_guard<std::mutex> lock(ParseMutex());
    root.reset(cJSON_Parse(text.c_str()));
  }
  if (!root || !cJSON_IsObject(root.get())) {
    return Fail(error, "invalid json");
  }

  std::string type;
  if (!StringField(root.get(), "type", type)) {
    return Fail(error, "missing type");
  }

  if (type == "hello") {
    message.type = MessageType::Hello;
    StringField(root.get(), "client", message.client);
    StringField(root.get(), "version", message.version);
  } else if (type == "text") {
    message.type = MessageType::Text;
    if (!StringField(root.get(), "content", message.content)) {
      return Fail(error, "text.content missing");
    }
  } else if (type == "commit") {
    message.type = MessageType::Commit;
    const cJSON* press_enter = Field(root.get(), "press_enter");
    if (cJSON_IsBool(press_enter)) {
      message.press_enter = cJSON_IsTrue(press_enter);
    }
  } else if (type == "clear") {
    message.type = MessageType::Clear;
  } else if (type == "key") {
    message.type = MessageType::Key;
    StringField(root.get(), "name", message.name);
    if (message.name.empty()) {
      return Fail(error, "key.name missing");
    }
  } else if (type == "ping") {
    message.type = MessageType::Ping;
    const cJSON* ts = Field(root.get(), "ts");
    if (cJSON_IsNumber(ts)) {
      message.ts = TruncateToInt64(ts->valuedouble);
    }
  } else if (type == "bye") {
    message.type = MessageType::Bye;
  } else {
    message.type = MessageType::Unrecognized;
  }
  return true;
}

std::string SerializeLine(cJSON* object) {
  std::string line;
  char* printed = object != nullptr ? cJSON_PrintUnformatted(object) : nullptr;
  if (printed != nullptr) {
    line = printed;
    cJSON_free(printed);
  }
  line += '\n';
  cJSON_Delete(object);
  return line;
}

std::string BuildWelcome(std::string_view server, std::string_view version, int protocol) {
  cJSON* object = NewMessage("welcome");
  AddString(object, "server", server);
  AddString(object, "version", version);
  AddNumber(object, "protocol", static_cast<double>(protocol));
  return SerializeLine(object);
}

std::string BuildAck(std::string_view of) {
  cJSON* object = NewMessage("ack");
  AddString(object, "of", of);
  return SerializeLine(object);
}

std::string BuildPong(std::int64_t ts) {
  cJSON* object = NewMessage("pong");
  AddNumber(object, "ts", static_cast<double>(ts));
  return SerializeLine(object);
}

std::string BuildError(std::string_view code, std::string_view message) {
  cJSON* object = NewMessage("error");
  AddString(object, "code", code);
  AddString(object, "message", message);
  return SerializeLine(object);
}

std::string BuildBye(std::string_view reason) {
  cJSON* object = NewMessage("bye");
  AddString(object, "reason", reason);
  return SerializeLine(object);
}

}  // namespace lumora
