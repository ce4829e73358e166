// Loading module libraries: the exact file named, checked before it is
// mapped, and its two exports resolved.
#include "Library.h"

#include <algorithm>

#include "FileAccess.h"
#include "Loader.h"

namespace sephost {

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

}  // namespace

std::unique_ptr<Library> Library::Load(const std::string& path, std::string* error) {
    const std::string exact = loader::ExactPath(path);
    std::string why;
    // A FIFO or a device would block the reads below, or never end.
    if (!CheckInputFile(exact, &why)) {
        const bool opened = why.find(": cannot open the file") == std::string::npos;
        SetError(error, opened ? "cannot load '" + path + "': " + why.substr(std::min(why.size(), exact.size() + 2))
                               : "cannot open '" + path + "': no such file or not readable");
        return nullptr;
    }
    void* handle = loader::CheckImage(exact, &why) ? loader::Open(exact, &why) : nullptr;
    if (handle == nullptr) {
        SetError(error, "'" + path + "' is not a loadable module library (" + why + ")");
        return nullptr;
    }
    auto get_properties = reinterpret_cast<SEGetModulePropertiesFn>(loader::Symbol(handle, "getModuleProperties"));
    auto make_module = reinterpret_cast<SEMakeModuleFn>(loader::Symbol(handle, "makeModule"));
    if (get_properties == nullptr || make_module == nullptr) {
        std::string missing;
        if (get_properties == nullptr) missing = "getModuleProperties";
        if (make_module == nullptr) missing += std::string(missing.empty() ? "" : " and ") + "makeModule";
        SetError(error, "'" + path + "' does not export " + missing);
        loader::Close(handle);
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
    if (m_handle != nullptr) loader::Close(m_handle);
}

}  // namespace sephost
