// A module's pin declarations as one table: each row names the module member
// that holds the pin's value (its type gives the data type) and the texts the
// host shows. GetPinProperties answers from the table with SEDeclarePin.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SEHostInterface.h"

template <class M>
struct SEPinRow {
    float* M::*buffer;   // DT_FSAMPLE: the member holding the buffer address
    int16_t M::*choice;  // DT_ENUM: a 16-bit list value
    int32_t M::*number;  // DT_INT: a 32-bit number
    int32_t direction;
    int32_t datatype;
    const char* name;
    const char* default_text;
    const char* choices;  // DT_ENUM only: "label=value,..."

    // An audio stream.
    static constexpr SEPinRow Samples(float* M::*member, int32_t direction, const char* name,
                                      const char* default_text) {
        return {member, nullptr, nullptr, direction, DT_FSAMPLE, name, default_text, nullptr};
    }
    // A choice from a list, an input.
    static constexpr SEPinRow Choice(int16_t M::*member, const char* name, const char* default_text,
                                     const char* choices) {
        return {nullptr, member, nullptr, DR_IN, DT_ENUM, name, default_text, choices};
    }
    // A 32-bit number.
    static constexpr SEPinRow Number(int32_t M::*member, int32_t direction, const char* name,
                                     const char* default_text) {
        return {nullptr, nullptr, member, direction, DT_INT, name, default_text, nullptr};
    }
};

// Fills `properties` (zeroed by the caller) with row `index` of `table`, the
// value address taken in `module`; false past either end of the table.
template <class M, std::size_t N>
bool SEDeclarePin(M* module, const SEPinRow<M> (&table)[N], int32_t index, SEPinProperties* properties) {
    if (index < 0 || static_cast<std::size_t>(index) >= N) return false;
    const SEPinRow<M>& row = table[index];
    if (row.buffer != nullptr) {
        properties->value_address = &(module->*row.buffer);
    } else if (row.choice != nullptr) {
        properties->value_address = &(module->*row.choice);
    } else if (row.number != nullptr) {
        properties->value_address = &(module->*row.number);
    }
    properties->direction = row.direction;
    properties->datatype = row.datatype;
    properties->name = row.name;
    properties->default_text = row.default_text;
    properties->choices = row.choices;
    return true;
}
