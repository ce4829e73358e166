// A loaded module library (.sep) and its two exports.
#pragma once

#include <memory>
#include <string>

#include "../se_sdk2/SEHostInterface.h"

namespace sephost {

class Library {
public:
    // Loads exactly the file named (a bare name is taken in the current
    // folder, never looked up by the system) after checking that the file
    // holds a complete library image, and resolves its two exports. On
    // failure returns null and says why in `error`: missing file, a file cut
    // short, not a loadable library, missing export.
    static std::unique_ptr<Library> Load(const std::string& path, std::string* error);

    // A library whose exports are functions of this process (unit tests of a
    // module class compiled into the test itself).
    static std::unique_ptr<Library> FromFunctions(SEGetModulePropertiesFn get_module_properties,
                                                  SEMakeModuleFn make_module, const std::string& name);

    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const std::string& Path() const { return m_path; }
    SEGetModulePropertiesFn GetModuleProperties() const { return m_get_module_properties; }
    SEMakeModuleFn MakeModule() const { return m_make_module; }

private:
    Library() = default;
    std::string m_path;
    void* m_handle = nullptr;
    SEGetModulePropertiesFn m_get_module_properties = nullptr;
    SEMakeModuleFn m_make_module = nullptr;
};

}  // namespace sephost
