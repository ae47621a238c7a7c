// The one reader of the JSON documents this program is given (presets,
// takes, segment manifests): bounded in size and in nesting, every value
// checked for its type and range before it is used, every problem one line
// naming the file, the place and what is wrong. Nothing it reads can throw
// past it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace tool {

// The deepest nesting of arrays and objects a document may have.
constexpr int kMaxJsonDepth = 32;

// Parses `text`; `where` starts every message. A syntax error is named by
// line and column; numbers beyond a double and nesting deeper than
// kMaxJsonDepth are refused.
bool ParseJson(const std::string& text, const std::string& where, nlohmann::json& document, std::string& error);

// Reads and parses a file of at most `limit` bytes (see ReadBoundedFile).
bool ReadJsonFile(const std::string& path, size_t limit, const std::string& what, nlohmann::json& document,
                  std::string& error);

// The value of `key` in `object`, checked. False with one line: "<where>:
// key "<key>" must be ...".
bool JsonNumber(const nlohmann::json& object, const char* key, double minimum, double maximum,
                const std::string& where, double& value, std::string& error);
bool JsonWhole(const nlohmann::json& object, const char* key, long minimum, long maximum, const std::string& where,
               long& value, std::string& error);
bool JsonText(const nlohmann::json& object, const char* key, const std::string& where, std::string& value,
              std::string& error);

// The header every document this program writes starts with: "format"
// naming what it is and, when `version` is above 0, "version" equal to it.
// False with one line: "<where>: not a <what> (key "format" must be ...)"
// or "<where>: key "version" must be N".
bool JsonFormat(const nlohmann::json& document, const char* format, long version, const std::string& what,
                const std::string& where, std::string& error);

}  // namespace tool
