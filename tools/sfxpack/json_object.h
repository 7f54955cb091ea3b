// One JSON object, built member by member in the order given and written on one line: what
// every --json run prints. Strings are JsonString's (messages.h): any byte string round-trips.
#ifndef SFXSTUB_TOOLS_SFXPACK_JSON_OBJECT_H_
#define SFXSTUB_TOOLS_SFXPACK_JSON_OBJECT_H_

#include <cstdint>
#include <string>

namespace sfxpack {

class JsonObject {
 public:
  JsonObject& String(const char* name, const std::string& text);
  // A string, or null when `text` is empty.
  JsonObject& StringOrNull(const char* name, const std::string& text);
  JsonObject& Number(const char* name, int64_t value);
  JsonObject& Bool(const char* name, bool value);
  JsonObject& Null(const char* name);
  // A member whose value is JSON text already (an object, an array, null).
  JsonObject& Raw(const char* name, const std::string& json);
  JsonObject& Object(const char* name, const JsonObject& value) { return Raw(name, value.Text()); }

  // "{...}".
  std::string Text() const { return "{" + members_ + "}"; }
  // Text() and a line end on stdout.
  void Print() const;

 private:
  std::string members_;
};

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_JSON_OBJECT_H_
