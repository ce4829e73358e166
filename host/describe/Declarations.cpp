// The host's one walk of a module's pin declarations and the values its pins
// start from.
#include <cstring>

#include "Description.h"
#include "Limits.h"

namespace sephost {

int32_t WalkDeclarations(const AskDeclaration& ask, const TakeDeclaration& take) {
    int32_t pins = 0;
    int32_t declaration = 0;
    for (; declaration < kMaxDeclarations; ++declaration) {
        SEPinProperties properties;
        std::memset(&properties, 0, sizeof properties);
        if (!ask(declaration, &properties)) break;
        // UI-only declarations are the editor's: they get no pin.
        const int32_t pin = SEIsUiOnly(properties.flags) ? -1 : pins++;
        take(declaration, pin, properties);
    }
    return declaration;
}

PinStart StartValues(const SEPinProperties& properties) {
    PinStart start;
    if (properties.datatype != DT_FSAMPLE)
        start.integer = DefaultIntegerValue(properties.default_text);
    else if (properties.direction != DR_OUT)
        start.sample = DefaultSampleValue(properties.default_text);
    return start;
}

}  // namespace sephost
