// Loading module libraries, parsing declaration texts and describing a
// module. Platform loading lives behind one small seam (LoadLibrary on
// Windows, dlopen elsewhere).
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "SepHost.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace sephost {

namespace {

// --- platform seam -----------------------------------------------------------

#if defined(_WIN32)
void* OpenLibrary(const std::string& path, std::string* why) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr) *why = "error " + std::to_string(static_cast<unsigned long>(GetLastError()));
    return reinterpret_cast<void*>(handle);
}
void* FindSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* OpenLibrary(const std::string& path, std::string* why) {
    // RTLD_LOCAL: two libraries loaded into one process never see each
    // other's symbols.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = dlerror();
        *why = text != nullptr ? text : "unknown loader error";
    }
    return handle;
}
void* FindSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void CloseLibrary(void* handle) { dlclose(handle); }
#endif

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

// Whole-text integer parse; false on anything but an optional sign and
// decimal digits, or a value outside int32.
bool ParseInt32(const std::string& text, int32_t* value) {
    if (text.empty()) return false;
    size_t i = 0;
    if (text[0] == '-' || text[0] == '+') i = 1;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", c);
                out += code;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

}  // namespace

// --- libraries ----------------------------------------------------------------

std::unique_ptr<Library> Library::Load(const std::string& path, std::string* error) {
    {
        std::ifstream probe(path, std::ios::binary);
        if (!probe) {
            SetError(error, "cannot open '" + path + "': no such file or not readable");
            return nullptr;
        }
    }
    std::string why;
    void* handle = OpenLibrary(path, &why);
    if (handle == nullptr) {
        SetError(error, "'" + path + "' is not a loadable module library (" + why + ")");
        return nullptr;
    }
    auto get_properties = reinterpret_cast<SEGetModulePropertiesFn>(FindSymbol(handle, "getModuleProperties"));
    auto make_module = reinterpret_cast<SEMakeModuleFn>(FindSymbol(handle, "makeModule"));
    if (get_properties == nullptr || make_module == nullptr) {
        std::string missing;
        if (get_properties == nullptr) missing = "getModuleProperties";
        if (make_module == nullptr) missing += std::string(missing.empty() ? "" : " and ") + "makeModule";
        SetError(error, "'" + path + "' does not export " + missing);
        CloseLibrary(handle);
        return nullptr;
    }
    std::unique_ptr<Library> library(new Library());
    library->m_path = path;
    library->m_handle = handle;
    library->m_get_module_properties = get_properties;
    library->m_make_module = make_module;
    return library;
}

std::unique_ptr<Library> Library::FromFunctions(SEGetModulePropertiesFn get_module_properties,
                                                SEMakeModuleFn make_module, const std::string& name) {
    std::unique_ptr<Library> library(new Library());
    library->m_path = name;
    library->m_get_module_properties = get_module_properties;
    library->m_make_module = make_module;
    return library;
}

Library::~Library() {
    if (m_handle != nullptr) CloseLibrary(m_handle);
}

// --- declaration texts -----------------------------------------------------------

bool ParseChoices(const char* text, std::vector<Choice>* choices, std::string* error) {
    choices->clear();
    if (text == nullptr || *text == '\0') return true;
    const std::string all(text);
    size_t begin = 0;
    while (true) {
        const size_t comma = all.find(',', begin);
        const std::string entry = all.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
        // Labels may not contain '=', so the first one separates the value.
        const size_t equals = entry.find('=');
        Choice choice;
        if (equals == std::string::npos || equals == 0 || !ParseInt32(entry.substr(equals + 1), &choice.value)) {
            SetError(error, "malformed choice \"" + entry + "\" in \"" + all + "\" (expected label=integer)");
            choices->clear();
            return false;
        }
        choice.label = entry.substr(0, equals);
        choices->push_back(choice);
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    return true;
}

float DefaultSampleValue(const char* text) {
    if (text == nullptr || *text == '\0') return 0.0f;
    char* end = nullptr;
    const double volts = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(volts)) return 0.0f;
    // Pin values are volts / 10: "10" is full scale 1.0.
    const double value = volts / 10.0;
    if (value > 3.0e38) return 3.0e38f;
    if (value < -3.0e38) return -3.0e38f;
    return static_cast<float>(value);
}

int32_t DefaultIntegerValue(const char* text) {
    int32_t value = 0;
    if (text == nullptr || !ParseInt32(text, &value)) return 0;
    return value;
}

const char* DirectionName(int32_t direction) {
    static char other[16];
    switch (direction) {
    case DR_IN:
        return "in";
    case DR_OUT:
        return "out";
    case DR_SETTING:
        return "setting";
    default:
        std::snprintf(other, sizeof other, "%d", static_cast<int>(direction));
        return other;
    }
}

const char* DatatypeName(int32_t datatype) {
    static char other[16];
    switch (datatype) {
    case DT_ENUM:
        return "enum";
    case DT_FSAMPLE:
        return "float-sample";
    case DT_INT:
        return "int";
    default:
        std::snprintf(other, sizeof other, "%d", static_cast<int>(datatype));
        return other;
    }
}

// --- descriptions ------------------------------------------------------------------

bool Describe(const Library& library, ModuleDescription* description, std::string* error) {
    *description = ModuleDescription();
    if (library.GetModuleProperties() == nullptr || library.MakeModule() == nullptr) {
        SetError(error, "'" + library.Path() + "' has no module entry points");
        return false;
    }
    ModuleProperties properties;
    std::memset(&properties, 0, sizeof properties);
    if (library.GetModuleProperties()(0, &properties) == 0) {
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

std::string FormatDescriptionText(const ModuleDescription& d) {
    std::ostringstream out;
    out << "id:          " << d.id << "\n";
    out << "name:        " << d.name << (d.name_is_id ? "  (the id's text object)" : "") << "\n";
    out << "about:       " << d.about << "\n";
    out << "sdk version: " << d.sdk_version << "\n";
    out << "pins:        " << d.pins.size() << "\n\n";

    std::vector<std::vector<std::string>> rows;
    rows.push_back({"index", "name", "direction", "type", "default", "choices"});
    for (size_t i = 0; i < d.pins.size(); ++i) {
        const PinDescription& p = d.pins[i];
        rows.push_back({std::to_string(i), p.name, DirectionName(p.direction), DatatypeName(p.datatype),
                        p.has_default ? p.default_text : "-", p.has_choices ? p.choices_text : "-"});
    }
    std::vector<size_t> width(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(width[c] - row[c].size() + 2, ' ');
        }
        out << line << "\n";
    }
    return out.str();
}

std::string FormatDescriptionJson(const ModuleDescription& d) {
    std::ostringstream out;
    out << "{\n";
    out << "  \"id\": " << JsonString(d.id) << ",\n";
    out << "  \"name\": " << JsonString(d.name) << ",\n";
    out << "  \"about\": " << JsonString(d.about) << ",\n";
    out << "  \"name_is_id\": " << (d.name_is_id ? "true" : "false") << ",\n";
    out << "  \"sdk_version\": " << d.sdk_version << ",\n";
    out << "  \"pins\": [";
    for (size_t i = 0; i < d.pins.size(); ++i) {
        const PinDescription& p = d.pins[i];
        out << (i == 0 ? "\n" : ",\n");
        out << "    {\"index\": " << i << ", \"name\": " << JsonString(p.name)
            << ", \"direction\": " << JsonString(DirectionName(p.direction))
            << ", \"type\": " << JsonString(DatatypeName(p.datatype)) << ", \"flags\": " << p.flags
            << ", \"default\": " << (p.has_default ? JsonString(p.default_text) : std::string("null"))
            << ", \"choices\": ";
        if (!p.has_choices) {
            out << "null";
        } else {
            out << "[";
            for (size_t c = 0; c < p.choices.size(); ++c)
                out << (c == 0 ? "" : ", ") << "{\"label\": " << JsonString(p.choices[c].label)
                    << ", \"value\": " << p.choices[c].value << "}";
            out << "]";
        }
        out << "}";
    }
    out << (d.pins.empty() ? "]\n" : "\n  ]\n") << "}\n";
    return out.str();
}

}  // namespace sephost
