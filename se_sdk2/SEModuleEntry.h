// The two exports of a module library, written once for any module class M
// that offers `static void Describe(ModuleProperties*)` and a constructor
// taking (callback, reserved). Each library defines the exported functions
// and forwards to these.
#pragma once

#include <new>

#include "SEHostInterface.h"

template <class M>
int32_t SEGetModuleProperties(int32_t index, ModuleProperties* properties) {
    if (properties == nullptr) return 0;
    properties->sdk_version = SE_SDK_VERSION;
    if (index != SE_MODULE_INDEX) return 0;
    M::Describe(properties);
    return 1;
}

// One module type (index 0), audio object only (kind 1). An instance that
// cannot be allocated is a refusal: null.
template <class M>
HostRecord* SEMakeModule(int32_t index, int32_t kind, seaudioMasterFn callback, void* reserved) {
    if (index != SE_MODULE_INDEX || kind != SE_KIND_AUDIO) return nullptr;
    M* module = new (std::nothrow) M(callback, reserved);
    return module != nullptr ? module->GetHostRecord() : nullptr;
}

#define SE_DEFINE_MODULE_EXPORTS(ModuleClass)                                                                  \
    extern "C" SE_EXPORT int32_t SE_CALL getModuleProperties(int32_t index, ModuleProperties* properties) {    \
        return SEGetModuleProperties<ModuleClass>(index, properties);                                          \
    }                                                                                                          \
    extern "C" SE_EXPORT HostRecord* SE_CALL makeModule(int32_t index, int32_t kind, seaudioMasterFn callback, \
                                                        void* reserved) {                                      \
        return SEMakeModule<ModuleClass>(index, kind, callback, reserved);                                     \
    }
