#include "common/utf8text.h"

#include <cstring>

QString utf8UpToZero(const char* data, int size)
{
    if (!data || size <= 0)
        return QString();
    const void* zero = std::memchr(data, 0, static_cast<std::size_t>(size));
    const int length = zero ? static_cast<int>(static_cast<const char*>(zero) - data) : size;
    return QString::fromUtf8(data, length);
}
