// Boundary: what a host sees before any sound is made. The exports, the
// refusals of makeModule, the record, getModuleProperties, the dispatcher's
// answers to every opcode, and the pin declarations.
#include <cstring>
#include <memory>
#include <set>

#include "BareHost.h"
#include "Checks.h"
#include "ElfExports.h"
#include "SepHost.h"

namespace sepcheck {

namespace {

std::unique_ptr<sephost::Library> Load(const CheckContext& context, std::string* error) {
    return sephost::Library::Load(context.path, error);
}

Verdict Exports(const CheckContext& context) {
    std::vector<std::string> names;
    std::string error;
    if (!ReadExportedNames(context.path, &names, &error)) return Fail(error);
    const std::vector<std::string> expected = {"getModuleProperties", "makeModule"};
    if (names == expected) return Pass("exactly getModuleProperties and makeModule");
    std::string listed;
    for (const std::string& name : names) listed += (listed.empty() ? "" : ", ") + name;
    return Fail("exports [" + listed + "], expected exactly [getModuleProperties, makeModule]");
}

Verdict MakeModuleRefusals(const CheckContext& context) {
    std::string error;
    auto library = Load(context, &error);
    if (library == nullptr) return Fail(error);
    const int32_t refused[][2] = {{1, 1}, {0, 0}, {0, 2}, {-1, 1}, {0, -1}, {2147483647, 1}, {0, 1000}};
    for (const auto& call : refused) {
        int marker = 0;
        HostRecord* record = library->MakeModule()(call[0], call[1], nullptr, &marker);
        if (record != nullptr)
            return Fail("makeModule(" + std::to_string(call[0]) + ", " + std::to_string(call[1]) +
                        ") made an instance; only (0, 1) may");
    }
    return Pass("7 refusals");
}

Verdict RecordFields(const CheckContext& context) {
    std::string error;
    auto library = Load(context, &error);
    if (library == nullptr) return Fail(error);
    int marker = 0;
    HostRecord* record = library->MakeModule()(0, 1, nullptr, &marker);
    if (record == nullptr) return Fail("makeModule(0, 1) refused");
    std::string wrong;
    auto expect = [&](bool ok, const std::string& text) {
        if (!ok && wrong.empty()) wrong = text;
    };
    expect(record->magic == SE_MAGIC, "magic is " + std::to_string(record->magic) + ", expected 0x5345504C");
    expect(record->version == SE_RECORD_VERSION, "version is " + std::to_string(record->version) + ", expected 1");
    expect(record->host_reserved == &marker, "host_reserved is not makeModule's fourth argument");
    expect(record->object != nullptr, "object is null");
    expect(record->spare == 0, "spare is " + std::to_string(record->spare) + ", expected 0");
    expect(record->dispatcher != nullptr, "dispatcher is null");
    expect(record->process_function != nullptr, "process_function is null");
    expect(record->event_function != nullptr, "event_function is null");
    for (int k = 0; k < 4; ++k)
        expect(record->reserved[k] == 0,
               "reserved[" + std::to_string(k) + "] is " + std::to_string(record->reserved[k]));
    // A second instance is a new one.
    HostRecord* second = record->dispatcher != nullptr ? library->MakeModule()(0, 1, nullptr, nullptr) : nullptr;
    if (second != nullptr) {
        expect(second != record && second->object != record->object, "a second makeModule returned the same instance");
        if (second != record) second->dispatcher(second, SE_OP_CLOSE, 0, 0, nullptr, 0.0f);
    }
    if (record->dispatcher != nullptr) {
        const int32_t closed = record->dispatcher(record, SE_OP_CLOSE, 0, 0, nullptr, 0.0f);
        expect(closed == 1, "SE_OP_CLOSE answered " + std::to_string(closed) + ", expected 1");
    }
    return wrong.empty() ? Pass("magic, version, host_reserved, object, spare, entry points, reserved") : Fail(wrong);
}

Verdict ModuleProperties(const CheckContext& context) {
    std::string error;
    auto library = Load(context, &error);
    if (library == nullptr) return Fail(error);
    static const char kUntouched[] = "untouched";
    for (int32_t index : {1, 5, -1, 2147483647}) {
        ::ModuleProperties p;
        std::memset(&p, 0, sizeof p);
        p.id = p.name = p.about = kUntouched;
        const int32_t answer = library->GetModuleProperties()(index, &p);
        const std::string call = "getModuleProperties(" + std::to_string(index) + ")";
        if (answer != 0) return Fail(call + " answered " + std::to_string(answer) + ", expected 0");
        if (p.sdk_version != SE_SDK_VERSION)
            return Fail(call + " left sdk_version " + std::to_string(p.sdk_version) + ", expected 2230");
        if (p.id != kUntouched || p.name != kUntouched || p.about != kUntouched)
            return Fail(call + " wrote id, name or about");
    }
    ::ModuleProperties p;
    std::memset(&p, 0, sizeof p);
    const int32_t answer = library->GetModuleProperties()(0, &p);
    if (answer != 1) return Fail("getModuleProperties(0) answered " + std::to_string(answer) + ", expected 1");
    if (p.sdk_version != SE_SDK_VERSION)
        return Fail("sdk_version " + std::to_string(p.sdk_version) + ", expected 2230");
    if (p.id == nullptr || *p.id == '\0') return Fail("getModuleProperties(0) gave no id");
    if (p.name == nullptr || p.about == nullptr) return Fail("getModuleProperties(0) gave no name or about");
    return Pass("id \"" + std::string(p.id) + "\", sdk_version 2230, indexes 1, 5, -1, 2^31-1 refused");
}

Verdict DispatcherOpcodes(const CheckContext& context) {
    std::string error;
    auto library = Load(context, &error);
    if (library == nullptr) return Fail(error);
    BareHost host(library->GetModuleProperties(), library->MakeModule());
    if (!host.Make(&error)) return Fail(error);
    // Every opcode the interface defines or leaves unknown, before and after
    // open; 0 (open), 1 (close) and 6 (declarations) are sent on their own,
    // 7 and 10 are never sent by a host of this interface.
    auto sweep = [&](const char* when) -> std::string {
        for (int32_t opcode = -1; opcode <= 100; ++opcode) {
            if (opcode == SE_OP_OPEN || opcode == SE_OP_CLOSE || opcode == SE_OP_GET_PIN_PROPERTIES || opcode == 7 ||
                opcode == 10)
                continue;
            const float opt = opcode == SE_OP_SET_SAMPLE_RATE ? 44100.0f : 0.0f;
            const int32_t value = opcode == SE_OP_SET_BLOCK_SIZE ? host.BlockSize() : 0;
            HostRecord* record = host.Record();
            const int32_t answer = record->dispatcher(record, opcode, 0, value, nullptr, opt);
            if (opcode == SE_OP_PROCESS_INFO) {
                if (answer == 0) return std::string("opcode 13 answered 0 ") + when + ", expected its record";
                const SEProcessInfo* info = reinterpret_cast<const SEProcessInfo*>(static_cast<intptr_t>(answer));
                if (info->word0 != 1 || info->word1 != 8 || info->word3 != 1002 || info->process_function == nullptr)
                    return std::string("opcode 13's record ") + when + " holds " + std::to_string(info->word0) + ", " +
                           std::to_string(info->word1) + ", -, " + std::to_string(info->word3) +
                           ", expected 1, 8, an address, 1002";
            } else if (answer != 0) {
                return "opcode " + std::to_string(opcode) + " " + when + " answered " + std::to_string(answer) +
                       ", expected 0";
            }
        }
        return "";
    };
    std::string wrong = sweep("before open");
    if (!wrong.empty()) return Fail(wrong);
    host.Open(44100.0f, 256);
    wrong = sweep("after open");
    if (!wrong.empty()) return Fail(wrong);
    return Pass("opcodes -1 to 100 before and after open");
}

// The faults of the declarations as one verdict: every fault found, each
// with the declaration it is in.
Verdict Declarations(const CheckContext& context) {
    std::string error;
    auto library = Load(context, &error);
    if (library == nullptr) return Fail(error);
    BareHost host(library->GetModuleProperties(), library->MakeModule());
    if (!host.Make(&error)) return Fail(error);
    const std::vector<Declaration>& declarations = host.Declarations();
    const int32_t count = static_cast<int32_t>(declarations.size());
    // A table that does not end is one fault: what lies past the limit is
    // not the module's table but the host's cut, and the checks that place
    // the module skip themselves.
    if (count >= kMaxDeclarations) return Fail(TableCutOffText());
    std::vector<std::string> faults;
    // The end stays the end; a negative index is refused too.
    for (int32_t index : {count, count + 1, count + 100, -1, -100}) {
        SEPinProperties p;
        std::memset(&p, 0, sizeof p);
        HostRecord* record = host.Record();
        if (record->dispatcher(record, SE_OP_GET_PIN_PROPERTIES, index, 0, &p, 0.0f) != 0)
            faults.push_back("opcode 6 refused index " + std::to_string(count) + " but answered index " +
                             std::to_string(index));
    }
    std::set<std::string> names;
    for (int32_t d = 0; d < count; ++d) {
        const SEPinProperties& p = declarations[d].properties;
        const bool named = p.name != nullptr && *p.name != '\0';
        const std::string name = named ? p.name : "";
        const std::string at = "declaration " + std::to_string(d) + (named ? " \"" + name + "\"" : "");
        if (!named) faults.push_back(at + " has no name");
        if (named && !names.insert(name).second) faults.push_back(at + ": the name is declared twice");
        if (!SEPatchStoreRuleHolds(p.direction, p.flags))
            faults.push_back(at + " has IO_PATCH_STORE without IO_PRIVATE, DR_OUT or IO_UI_COMMUNICATION");
        double number = 0.0;
        const bool numeric = p.default_text == nullptr || ParseNumber(p.default_text, &number);
        if (!numeric) faults.push_back(at + ": default \"" + p.default_text + "\" is not a number");
        if (p.datatype == DT_ENUM) {
            std::vector<sephost::Choice> choices;
            std::string why;
            if (p.choices == nullptr || !sephost::ParseChoices(p.choices, &choices, &why) || choices.empty()) {
                faults.push_back(at + ": list \"" + (p.choices != nullptr ? p.choices : "(none)") +
                                 "\" does not parse" + (why.empty() ? "" : ": " + why));
                continue;
            }
            bool listed = p.default_text == nullptr || !numeric;
            // Compared as numbers: a default beyond int32 (or a fraction) is simply
            // not listed, where a cast to int would be undefined or round it in.
            for (const sephost::Choice& c : choices) listed = listed || static_cast<double>(c.value) == number;
            if (!listed) faults.push_back(at + ": default " + p.default_text + " is not in its list");
        } else if (p.choices != nullptr) {
            std::vector<sephost::Choice> choices;
            std::string why;
            if (!sephost::ParseChoices(p.choices, &choices, &why))
                faults.push_back(at + ": list does not parse: " + why);
        }
    }
    if (faults.empty()) return Pass(std::to_string(count) + " declarations, names distinct, defaults and lists parse");
    std::string text = std::to_string(faults.size()) + (faults.size() == 1 ? " fault: " : " faults: ");
    for (size_t k = 0; k < faults.size(); ++k) text += (k > 0 ? "; " : "") + faults[k];
    return Fail(text);
}

}  // namespace

std::string TableCutOffText() {
    return "the declaration table does not end: opcode 6 still answered at index " +
           std::to_string(kMaxDeclarations - 1) + ", the host's limit of " + std::to_string(kMaxDeclarations) +
           " declarations, so the table was cut off there";
}

std::string DeclarationTableCutOff(const std::string& path) {
    std::string error;
    auto library = sephost::Library::Load(path, &error);
    if (library == nullptr) return "";
    BareHost host(library->GetModuleProperties(), library->MakeModule());
    if (!host.Make(&error) || host.Declarations().size() < size_t(kMaxDeclarations)) return "";
    return "skipped: the declaration table does not end within the host's limit of " +
           std::to_string(kMaxDeclarations) +
           " declarations (boundary/declarations), so the module has no pins to place";
}

void AddBoundaryChecks(std::vector<Check>* checks) {
    checks->push_back({"boundary", "exports", "exactly the two entry points are visible", &Exports});
    checks->push_back({"boundary", "make-module-refusals", "makeModule refuses every index and kind but (0, 1)",
                       &MakeModuleRefusals});
    checks->push_back(
        {"boundary", "record", "magic, version, host_reserved, object, spare, entry points, reserved", &RecordFields});
    checks->push_back({"boundary", "module-properties", "sdk_version first, index 0 only", &ModuleProperties});
    checks->push_back({"boundary", "dispatcher-opcodes", "answers to opcodes -1 to 100", &DispatcherOpcodes});
    checks->push_back({"boundary", "declarations",
                       "opcode 6 ends, patch-store rule, defaults and lists parse, no duplicate names", &Declarations});
}

}  // namespace sepcheck
