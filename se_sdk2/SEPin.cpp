#include "SEPin.h"

#include <cstring>

#include "SEAssert.h"
#include "SEModule_base.h"

void SEPin::Init(SEModule_base* module, int32_t index, int32_t datatype, void* value_address) {
    m_status = ST_STILL;
    m_module = module;
    m_datatype = datatype;
    m_index = index;
    m_value_ptr = value_address;
    std::memset(&m_local_value, 0, sizeof m_local_value);
    if (value_address != nullptr) return;

    switch (datatype) {
    case DT_ENUM:  // 16-bit signed value
    case DT_BYTE:  // one byte
    case DT_WORD:  // 32-bit word
    case DT_INT:
        m_value_ptr = &m_local_value;
        break;
    case DT_FSAMPLE: {
        // The host keeps the buffer; the pin asks its address once.
        const int32_t address = module->CallHost(SE_CB_PIN_BUFFER, index, 0, nullptr, 0.0f);
        m_local_value.buffer = reinterpret_cast<float*>(static_cast<intptr_t>(address));
        m_value_ptr = &m_local_value;
        break;
    }
    default:  // no value storage
        break;
    }
}

void SEPin::SetStatus(int32_t status) {
    m_status = status;
    if (m_module != nullptr) m_module->OnPinStatusChange(this);
    if (status == ST_CHANGED_ONCE) m_status = ST_STILL;
}

bool SEPin::IsConnected() {
    if (m_module == nullptr) return false;
    return m_module->CallHost(SE_CB_IS_CONNECTED, m_index, 0, nullptr, 0.0f) != 0;
}

void SEPin::TransmitStatus(uint32_t time_stamp, int32_t status) {
    if (m_module == nullptr) return;
    m_module->CallHost(SE_CB_PIN_STATUS, m_index, status, reinterpret_cast<void*>(static_cast<uintptr_t>(time_stamp)),
                       0.0f);
}

void SEPin::TransmitData(uint32_t time_stamp, int32_t value) {
    if (m_module == nullptr) return;
    m_module->CallHost(SE_CB_PIN_SEND, m_index, value, reinterpret_cast<void*>(static_cast<uintptr_t>(time_stamp)),
                       0.0f);
}

float SEPin::GetValue() {
    SE_ASSERT(m_datatype == DT_FSAMPLE, "in GetValue of pin %d, data type %d", static_cast<int>(m_index),
              static_cast<int>(m_datatype));
    if (m_module == nullptr || m_value_ptr == nullptr) return 0.0f;
    const uint32_t base = static_cast<uint32_t>(m_module->CallHost(SE_CB_BUFFER_CLOCK, m_index, 0, nullptr, 0.0f));
    const uint32_t now = m_module->SampleClock();
    const float* buffer = *static_cast<float* const*>(m_value_ptr);
    // Without a host there is no buffer to read.
    if (buffer == nullptr) return 0.0f;
    // A buffer holds one block: a clock that puts the current sample outside
    // it (a host's mistake) reads the nearest sample that is inside.
    const int32_t block = m_module->BlockSize();
    const uint32_t last = block > 1 ? static_cast<uint32_t>(block - 1) : 0u;
    const int32_t offset = static_cast<int32_t>(now - base);
    if (offset < 0) return buffer[0];
    return buffer[static_cast<uint32_t>(offset) > last ? last : static_cast<uint32_t>(offset)];
}
