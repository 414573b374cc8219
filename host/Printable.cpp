#include "Printable.h"

#include <QList>

namespace {

// Characters that would act on the terminal or reorder the line rather than show.
bool actsInsteadOfShowing(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x200E && c <= 0x200F) || (c >= 0x202A && c <= 0x202E)
           || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

QString escaped(char32_t c)
{
    switch (c) {
    case U'\n': return QStringLiteral("\\n");
    case U'\r': return QStringLiteral("\\r");
    case U'\t': return QStringLiteral("\\t");
    default: break;
    }
    if (c <= 0xFF)
        return QStringLiteral("\\x%1").arg(static_cast<uint>(c), 2, 16, QLatin1Char('0'));
    return QStringLiteral("\\u%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'));
}

} // namespace

QString printable(const QString &text, int maxChars)
{
    QString out;
    qsizetype shown = 0;
    qsizetype total = 0;
    const QList<uint> points = text.toUcs4();
    for (const uint point : points) {
        ++total;
        if (maxChars >= 0 && shown >= maxChars)
            continue;
        ++shown;
        const auto c = static_cast<char32_t>(point);
        if (actsInsteadOfShowing(c))
            out += escaped(c);
        else
            out += QString::fromUcs4(&c, 1);
    }
    if (maxChars >= 0 && total > maxChars)
        out += QStringLiteral("... (%1 characters)").arg(total);
    return out;
}
