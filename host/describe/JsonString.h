// Every text the tools copy into a JSON document goes through JsonString: a
// module's names, pin names, defaults and list texts, file paths and check
// details are whatever bytes they happen to be, and the document must stay
// valid JSON whatever they hold.
#pragma once

#include <string>

namespace sephost {

// `text` as a JSON string literal, quotes included: quote, backslash and
// control characters escaped, every byte sequence that is not UTF-8 replaced
// by U+FFFD; valid UTF-8 is kept as it is.
std::string JsonString(const std::string& text);

}  // namespace sephost
