// Describing a module: its properties and the declarations of one instance
// made only to be asked.
#include <cstdio>
#include <cstring>

#include "Description.h"
#include "Engine.h"
#include "Library.h"

namespace sephost {

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

}  // namespace

// The name of a code, or its number as text for a code without one.
struct CodeName {
    int32_t code;
    const char* name;
};

template <size_t N>
const char* NameOf(const CodeName (&names)[N], int32_t code, char (&other)[16]) {
    for (const CodeName& entry : names)
        if (entry.code == code) return entry.name;
    std::snprintf(other, sizeof other, "%d", static_cast<int>(code));
    return other;
}

const char* DirectionName(int32_t direction) {
    static const CodeName kNames[] = {{DR_IN, "in"}, {DR_OUT, "out"}, {DR_SETTING, "setting"}};
    static char other[16];
    return NameOf(kNames, direction, other);
}

const char* DatatypeName(int32_t datatype) {
    static const CodeName kNames[] = {{DT_ENUM, "enum"}, {DT_FSAMPLE, "float-sample"}, {DT_INT, "int"}};
    static char other[16];
    return NameOf(kNames, datatype, other);
}

PinDescription DescribeDeclaration(int32_t declaration, const SEPinProperties& properties) {
    PinDescription p;
    p.declaration = declaration;
    p.direction = properties.direction;
    p.datatype = properties.datatype;
    p.flags = properties.flags;
    p.name = properties.name != nullptr ? properties.name : "";
    p.has_default = properties.default_text != nullptr;
    p.default_text = p.has_default ? properties.default_text : "";
    p.has_choices = properties.choices != nullptr;
    p.choices_text = p.has_choices ? properties.choices : "";
    std::string ignored;
    ParseChoices(properties.choices, &p.choices, &ignored);
    p.has_value_address = properties.value_address != nullptr;
    return p;
}

bool Describe(const Library& library, ModuleDescription* description, std::string* error) {
    *description = ModuleDescription();
    if (library.GetModuleProperties() == nullptr || library.MakeModule() == nullptr) {
        SetError(error, "'" + library.Path() + "' has no module entry points");
        return false;
    }
    ModuleProperties properties;
    std::memset(&properties, 0, sizeof properties);
    if (library.GetModuleProperties()(SE_MODULE_INDEX, &properties) == 0) {
        SetError(error, "'" + library.Path() + "': getModuleProperties(0) declined to describe a module");
        return false;
    }
    description->id = properties.id != nullptr ? properties.id : "";
    description->name = properties.name != nullptr ? properties.name : "";
    description->about = properties.about != nullptr ? properties.about : "";
    description->name_is_id = properties.id != nullptr && properties.id == properties.name;
    description->sdk_version = properties.sdk_version;

    Engine engine;
    std::string why;
    const int instance = engine.Place(library, 1, &why);
    if (instance < 0) {
        SetError(error, "'" + library.Path() + "': " + why);
        return false;
    }
    description->pins = engine.Declarations(instance);
    engine.Close();
    return true;
}

}  // namespace sephost
