#include "tools/phone_sim/wire.h"

#include <cjson/cJSON.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "net/protocol.h"

namespace lumora {
namespace {

struct TreeDeleter {
  void operator()(cJSON* tree) const { cJSON_Delete(tree); }
};

cJSON* NewMessage(const char* type) {
  cJSON* object = cJSON_CreateObject();
  if (object != nullptr) {
    cJSON_AddStringToObject(object, "type", type);
  }
  return object;
}

void AddString(cJSON* object, const char* name, std::string_view value) {
  if (object != nullptr) {
    cJSON_AddStringToObject(object, name, std::string(value).c_str());
  }
}

std::string Print(const cJSON* item) {
  std::string text;
  char* printed = cJSON_PrintUnformatted(item);
  if (printed != nullptr) {
    text = printed;
    cJSON_free(printed);
  }
  return text;
}

std::string NumberText(double value) {
  // Integers up to 2^53 are exact in a double, so they print as the digits
  // the PC sent rather than in exponent form.
  constexpr double kExact = 9007199254740992.0;
  char text[40];
  if (std::isfinite(value) && std::trunc(value) == value && std::fabs(value) <= kExact) {
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
  } else {
    std::snprintf(text, sizeof text, "%.17g", value);
  }
  return text;
}

std::string FieldText(const cJSON* item) {
  if (cJSON_IsString(item) && item->valuestring != nullptr) {
    return item->valuestring;
  }
  if (cJSON_IsNumber(item)) {
    return NumberText(item->valuedouble);
  }
  return Print(item);
}

}  // namespace

std::string BuildHello(std::string_view client, std::string_view version) {
  cJSON* object = NewMessage("hello");
  AddString(object, "client", client);
  AddString(object, "version", version);
  return SerializeLine(object);
}

std::string BuildText(std::string_view content) {
  cJSON* object = NewMessage("text");
  AddString(object, "content", content);
  return SerializeLine(object);
}

std::string BuildCommit(bool press_enter) {
  cJSON* object = NewMessage("commit");
  if (object != nullptr) {
    cJSON_AddBoolToObject(object, "press_enter", press_enter ? 1 : 0);
  }
  return SerializeLine(object);
}

std::string BuildClear() { return SerializeLine(NewMessage("clear")); }

std::string BuildKey(std::string_view name) {
  cJSON* object = NewMessage("key");
  AddString(object, "name", name);
  return SerializeLine(object);
}

std::string BuildPing(std::int64_t ts) {
  // Written as digits, not through a double, so that every 64-bit ts leaves
  // exactly as given.
  cJSON* object = NewMessage("ping");
  if (object != nullptr) {
    cJSON_AddRawToObject(object, "ts", std::to_string(ts).c_str());
  }
  return SerializeLine(object);
}

std::string BuildPhoneBye() { return SerializeLine(NewMessage("bye")); }

const std::string* ReceivedLine::Field(std::string_view name) const {
  for (const auto& field : fields) {
    if (field.first == name) {
      return &field.second;
    }
  }
  return nullptr;
}

bool ParseReceivedLine(std::string_view line, ReceivedLine& received) {
  received = ReceivedLine{};
  const std::string text(line);
  std::unique_ptr<cJSON, TreeDeleter> root(cJSON_Parse(text.c_str()));
  if (!root || !cJSON_IsObject(root.get())) {
    return false;
  }
  const cJSON* type = cJSON_GetObjectItemCaseSensitive(root.get(), "type");
  if (!cJSON_IsString(type) || type->valuestring == nullptr) {
    return false;
  }
  received.type = type->valuestring;
  for (const cJSON* item = root->child; item != nullptr; item = item->next) {
    if (item->string != nullptr) {
      received.fields.emplace_back(item->string, FieldText(item));
    }
  }
  return true;
}

bool MatchesExpectation(std::string_view line, std::string_view type,
                        const std::vector<ExpectedField>& fields, std::string& why) {
  ReceivedLine received;
  if (!ParseReceivedLine(line, received)) {
    why = "not a JSON object with a type";
    return false;
  }
  if (received.type != type) {
    why = "type is \"" + received.type + "\"";
    return false;
  }
  for (const ExpectedField& want : fields) {
    const std::string* got = received.Field(want.name);
    if (got == nullptr) {
      why = "no field \"" + want.name + "\"";
      return false;
    }
    if (*got != want.value) {
      why = want.name + " is \"" + *got + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace lumora
