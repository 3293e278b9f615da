#include "motion_state.h"

namespace kvx {

void FillBuffer(uint8_t* array, uint8_t value, int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        array[i] = value;
}

QString BufferToString(const uint8_t* array)
{
    constexpr int MaxCharacters = 256;
    int length = 0;
    while (length < MaxCharacters && array[length] != 0)
        ++length;
    return QString::fromLatin1(reinterpret_cast<const char*>(array), length);
}

} // namespace kvx
