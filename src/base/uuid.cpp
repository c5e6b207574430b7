// Version-4 UUIDs from the standard library's random device.
#include "base/uuid.h"

#include <random>

namespace qv {

std::string makeUUIDString()
{
    static thread_local std::mt19937_64 engine { std::random_device {}() };
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 8) {
        uint64_t v = engine();
        for (int k = 0; k < 8; ++k)
            bytes[i + k] = static_cast<unsigned char>(v >> (8 * k));
    }
    bytes[6] = (bytes[6] & 0x0F) | 0x40;
    bytes[8] = (bytes[8] & 0x3F) | 0x80;
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out += '-';
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0x0F];
    }
    return out;
}

bool isUUIDString(std::string_view text)
{
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

} // namespace qv
