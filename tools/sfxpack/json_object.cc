#include "tools/sfxpack/json_object.h"

#include <cstdio>

#include "tools/sfxpack/messages.h"

namespace sfxpack {

JsonObject& JsonObject::Raw(const char* name, const std::string& json) {
  if (!members_.empty()) members_ += ',';
  members_ += JsonString(name) + ":" + json;
  return *this;
}

JsonObject& JsonObject::String(const char* name, const std::string& text) {
  return Raw(name, JsonString(text));
}

JsonObject& JsonObject::StringOrNull(const char* name, const std::string& text) {
  return Raw(name, text.empty() ? "null" : JsonString(text));
}

JsonObject& JsonObject::Number(const char* name, int64_t value) {
  return Raw(name, std::to_string(value));
}

JsonObject& JsonObject::Bool(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }

JsonObject& JsonObject::Null(const char* name) { return Raw(name, "null"); }

void JsonObject::Print() const { std::printf("%s\n", Text().c_str()); }

}  // namespace sfxpack
