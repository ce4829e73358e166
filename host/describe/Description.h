// What a module declares: its description, its pin declarations and the
// texts inside them (choice lists, defaults), and their text and JSON forms.
#pragma once

#include <cstdint>
#include <functional>
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

// What a pin holds before anything drives it: a sample input its default
// sample value, a sample output 0, a list or integer pin its default integer.
struct PinStart {
    float sample = 0.0f;
    int32_t integer = 0;
};
PinStart StartValues(const SEPinProperties& properties);

// The host's walk of a module's declarations: 0, 1, ... each asked into a
// zeroed record until the module refuses one or kMaxDeclarations (Limits.h)
// have been read. `take` sees each answer before the next is asked, with the
// index of the pin it gets, or -1 for a UI-only declaration, which gets none.
// Answers the number of declarations read.
using AskDeclaration = std::function<bool(int32_t declaration, SEPinProperties* properties)>;
using TakeDeclaration = std::function<void(int32_t declaration, int32_t pin, const SEPinProperties& properties)>;
int32_t WalkDeclarations(const AskDeclaration& ask, const TakeDeclaration& take);

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
