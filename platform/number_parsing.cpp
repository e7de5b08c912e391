#include "platform/number_parsing.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdint>

namespace platform {
namespace {

// The part of the text after leading white space and an optional sign.
struct Prepared {
    QByteArray bytes;
    const char* begin = nullptr;
    const char* end = nullptr;
    bool negative = false;
};

Prepared prepare(const QString& text) {
    Prepared p;
    p.bytes = text.toLatin1();
    p.begin = p.bytes.constData();
    p.end = p.begin + p.bytes.size();
    while (p.begin < p.end && std::isspace(static_cast<unsigned char>(*p.begin))) ++p.begin;
    if (p.begin < p.end && (*p.begin == '+' || *p.begin == '-')) {
        p.negative = *p.begin == '-';
        ++p.begin;
    }
    return p;
}

}  // namespace

double CStringToDouble(const QString& text) {
    const Prepared p = prepare(text);
    double value = 0.0;
    const auto result = std::from_chars(p.begin, p.end, value, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument) return 0.0;
    return p.negative ? -value : value;
}

int CStringToInt(const QString& text) {
    const Prepared p = prepare(text);
    std::int64_t value = 0;
    for (const char* c = p.begin; c < p.end && std::isdigit(static_cast<unsigned char>(*c)); ++c) {
        value = value * 10 + (*c - '0');
        if (value > INT_MAX) {
            value = static_cast<std::int64_t>(INT_MAX) + 1;
            break;
        }
    }
    if (p.negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace platform
