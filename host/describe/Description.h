// What a module declares: its description, its pin declarations and the
// texts inside them (choice lists, defaults), and their text and JSON forms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../se_sdk2/SEHostInterface.h"

namespace sephost {

class Library;

struct Choice {
    std::string label;
    int32_t value = 0;
};

// "label=value,label=value" -> entries. An empty text is an empty list. A
// malformed entry (no '=', a value that is not an integer) is an error.
bool ParseChoices(const char* text, std::vector<Choice>* choices, std::string* error);

// Default texts. DT_FSAMPLE pins: a voltage, the float being the number
// divided by 10 ("10" is 1.0). List and integer pins: the integer. A null or
// unparsable text gives 0.
float DefaultSampleValue(const char* text);
int32_t DefaultIntegerValue(const char* text);

// Whole-text decimal integer within int32; false otherwise.
bool ParseInt32(const std::string& text, int32_t* value);

const char* DirectionName(int32_t direction);  // "in", "out", "setting", or the number
const char* DatatypeName(int32_t datatype);    // "enum", "float-sample", "int", or the number

struct PinDescription {
    int32_t declaration = 0;  // declaration index answered by opcode 6
    int32_t direction = 0;
    int32_t datatype = 0;
    int32_t flags = 0;
    std::string name;
    bool has_default = false;
    std::string default_text;
    bool has_choices = false;
    std::string choices_text;
    std::vector<Choice> choices;
    bool has_value_address = false;
};

// The host's copy of one declaration answered by opcode 6.
PinDescription DescribeDeclaration(int32_t declaration, const SEPinProperties& properties);

struct ModuleDescription {
    std::string id;
    std::string name;
    std::string about;
    bool name_is_id = false;  // id and name are one text object
    int32_t sdk_version = 0;
    std::vector<PinDescription> pins;
};

// getModuleProperties(0), then one instance made only to enumerate its pin
// declarations (opcode 6 from index 0 until refused), then closed.
bool Describe(const Library& library, ModuleDescription* description, std::string* error);

std::string FormatDescriptionText(const ModuleDescription& description);
std::string FormatDescriptionJson(const ModuleDescription& description);

}  // namespace sephost
