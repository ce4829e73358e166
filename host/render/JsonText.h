// Reading JSON texts for the renderer: a syntax error is reported with the
// file name, line and column, as a compiler would ("patch.json:3:14: ...").
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

namespace sephost::render {

// Reads a whole file into `text`; false with a message naming the file.
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);

// Parses `text`; `name` is the file name used in messages.
bool ParseJson(const std::string& text, const std::string& name, nlohmann::json* value, std::string* error);

// Line and column (both from 1) of byte `offset` in `text`.
void LineAndColumn(const std::string& text, size_t offset, size_t* line, size_t* column);

// `v` as a number from `low` to `high` (a whole one when `whole`); otherwise
// false with "WHAT must be a number from LOW to HIGH, not V".
bool NumberIn(const nlohmann::json& v, const std::string& what, double low, double high, bool whole, double* value,
              std::string* error);

// Describes a JSON value's type in messages ("a number", "an object").
std::string TypeName(const nlohmann::json& value);

}  // namespace sephost::render
