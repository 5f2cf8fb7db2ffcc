#pragma once

#include <QString>

// Decodes device text: UTF-8, ending at the first zero byte if one occurs
// within `size` bytes. Never reads past `size`.
QString utf8UpToZero(const char* data, int size);

inline QString utf8UpToZero(const unsigned char* data, int size)
{
    return utf8UpToZero(reinterpret_cast<const char*>(data), size);
}
