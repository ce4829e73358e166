// The library's two exports.
#include "../se_sdk2/SEModuleEntry.h"
#include "Module.h"

SE_DEFINE_MODULE_EXPORTS(ulvo::Module)
