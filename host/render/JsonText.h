// Reading JSON texts for the renderer: a syntax error is reported with the
// file name, line and column, as a compiler would ("patch.json:3:14: ...").
#pragma once

#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace sephost::render {

// Reads a whole file into `text`; false with a message naming the file.
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);

// How deep lists and objects may nest in a patch or score.
constexpr size_t kMaxJsonDepth = 64;

// Parses `text`; `name` is the file name used in messages. Nesting deeper
// than kMaxJsonDepth, and a number beyond the range of a double (named by
// its key), are errors with the line and column.
bool ParseJson(const std::string& text, const std::string& name, nlohmann::json* value, std::string* error);

// Line and column (both from 1) of byte `offset` in `text`.
void LineAndColumn(const std::string& text, size_t offset, size_t* line, size_t* column);

// `v` as a number from `low` to `high` (a whole one when `whole`); otherwise
// false with "WHAT must be a number from LOW to HIGH, not V".
bool NumberIn(const nlohmann::json& v, const std::string& what, double low, double high, bool whole, double* value,
              std::string* error);

// At most `most` bytes of a text or of a value's JSON, for messages; a cut
// one ends in "...".
std::string Excerpt(const std::string& text, size_t most = 40);
std::string Excerpt(const nlohmann::json& value, size_t most = 40);

// Describes a JSON value's type in messages ("a number", "an object").
std::string TypeName(const nlohmann::json& value);

}  // namespace sephost::render
