#include "scan/countformat.h"

std::string FormatCount(int64_t n)
{
    // Through the unsigned magnitude, so that the most negative value has one too.
    uint64_t magnitude = n < 0 ? 0 - uint64_t(n) : uint64_t(n);
    char buffer[32];
    char *end = buffer + sizeof buffer;
    char *at = end;
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0)
            *--at = ',';
        *--at = char('0' + magnitude % 10);
        magnitude /= 10;
        ++digits;
    } while (magnitude != 0);
    if (n < 0)
        *--at = '-';
    return std::string(at, end);
}
