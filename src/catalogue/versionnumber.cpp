#include "catalogue/versionnumber.h"

#include <array>
#include <cstdint>

namespace {

// Stands for "no further full stop": the last present part runs to the end of the text.
constexpr qsizetype NoStop = 1000;

// The text from 1-based position p, n characters; empty when n <= 0 or p is past the end.
QString Copy(const QString& s, qsizetype p, qsizetype n) {
    if (n <= 0 || p > s.size() || p < 1)
        return {};
    return s.mid(p - 1, n);
}

// 1-based position of the first full stop, 0 when there is none.
qsizetype Pos(const QString& s) {
    return s.indexOf('.') + 1;
}

// Decimal with optional sign and leading blanks, in the signed 32-bit range; otherwise 0.
std::int32_t ToInteger(const QString& part) {
    qsizetype i = 0;
    while (i < part.size() && part[i] == ' ')
        ++i;
    bool negative = false;
    if (i < part.size() && (part[i] == '+' || part[i] == '-'))
        negative = part[i++] == '-';
    if (i == part.size())
        return 0;
    std::int64_t value = 0;
    for (; i < part.size(); ++i) {
        if (part[i] < '0' || part[i] > '9')
            return 0;
        value = value * 10 + (part[i].unicode() - '0');
        if (value > std::int64_t(INT32_MAX) + (negative ? 1 : 0))
            return 0;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::array<std::uint32_t, 4> Parse(const QString& s) {
    const qsizetype length = s.size();
    const qsizetype p1 = Pos(s);
    const qsizetype d1 = p1 == 0 ? NoStop : p1;
    const qsizetype p2 = Pos(Copy(s, d1 + 1, NoStop));
    const qsizetype d2 = p2 == 0 ? NoStop : d1 + p2;
    const qsizetype p3 = Pos(Copy(s, d2 + 1, NoStop));
    const qsizetype d3 = p3 == 0 ? NoStop : d2 + p3;
    const std::array<QString, 4> parts = {Copy(s, 1, d1 - 1), Copy(s, d1 + 1, d2 - d1 - 1),
                                          Copy(s, d2 + 1, d3 - d2 - 1),
                                          Copy(s, d3 + 1, length - d3)};
    std::array<std::uint32_t, 4> numbers{};
    for (std::size_t i = 0; i < parts.size(); ++i)
        numbers[i] = static_cast<std::uint32_t>(ToInteger(parts[i]));
    return numbers;
}

} // namespace

bool IsNewerVersion(const QString& installed, const QString& available) {
    if (installed.trimmed().isEmpty() || available.trimmed().isEmpty())
        return false;
    const auto have = Parse(installed);
    const auto offered = Parse(available);
    for (std::size_t i = 0; i < have.size(); ++i) {
        if (have[i] != offered[i])
            return offered[i] > have[i];
    }
    return false;
}
