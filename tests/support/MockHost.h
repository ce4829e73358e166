// A scripted host for unit tests of the frame and of the module classes: it
// answers the callback opcodes from the fields the test sets
// (sephost::CallbackAnswers) and records every call. One mock is active at a
// time (the callback is a plain function).
#pragma once

#include "../../host/engine/CallbackAnswers.h"

class MockHost : public sephost::CallbackAnswers {
public:
    MockHost() { Active() = this; }
    ~MockHost() {
        if (Active() == this) Active() = nullptr;
    }
    MockHost(const MockHost&) = delete;
    MockHost& operator=(const MockHost&) = delete;

    static seaudioMasterFn Callback() { return &Answer; }

private:
    static MockHost*& Active() {
        static MockHost* active = nullptr;
        return active;
    }

    static int32_t SE_CALL Answer(HostRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                  float opt) {
        MockHost* host = Active();
        return host != nullptr ? host->CallbackAnswers::Answer(record, opcode, index, value, ptr, opt) : 0;
    }
};
