// One connection point of an open module instance: where its value lives,
// how a status change reaches the module, how the module reads the current
// sample of an audio input and announces a status change on an output.
#pragma once

#include <cstdint>

#include "SEHostInterface.h"

class SEModule_base;

class SEPin {
public:
    // Entries the frame leaves unbound (more host pins than declarations and
    // no repeating declaration) keep this empty state: no module, no storage.
    SEPin() = default;
    virtual ~SEPin() = default;

    // [frame, in Open] Binds the pin to its module, index and storage.
    void Init(SEModule_base* module, int32_t index, int32_t datatype, void* value_address);

    // [frame, in HandleEvent] Stores the status and tells the module; a
    // one-off change reads ST_CHANGED_ONCE only during the module's handler.
    void SetStatus(int32_t status);

    bool IsConnected();

    // Announces a status change of this (output) pin, effective at time_stamp.
    void TransmitStatus(uint32_t time_stamp, int32_t status);
    void TransmitData(uint32_t time_stamp, int32_t value);

    // The sample of a DT_FSAMPLE pin at the current sample clock: the sample
    // of the status change inside OnPinStatusChange, the call's first sample
    // inside a process call.
    float GetValue();

    void* m_value_ptr = nullptr;
    SEModule_base* m_module = nullptr;
    int32_t m_index = -1;
    int32_t m_status = ST_STILL;
    int32_t m_datatype = -1;
    union LocalValue {
        uint8_t bytes[4];
        int16_t enum_value;
        int32_t int_value;
        float* buffer;
    } m_local_value = {};
};
static_assert(sizeof(SEPin::LocalValue) == 4, "pin storage is one 32-bit word");
