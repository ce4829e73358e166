// Every text the tools copy into an XML document (a JUnit report, an SVG
// picture) goes through XmlString, for the reason JsonString exists: the
// texts are whatever bytes a module or a user gave, and the document must
// stay well-formed whatever they hold.
#pragma once

#include <string>

namespace sephost {

// `text` as XML character data or an attribute value: valid UTF-8 (what
// JsonString makes of any bytes, read back), the five special characters
// escaped, and the control characters XML 1.0 cannot hold as U+FFFD.
std::string XmlString(const std::string& text);

}  // namespace sephost
