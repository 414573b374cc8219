// The panel date answer of the clock setting (ClockSetting::DecodePanelDateTime). Byte 0 picks
// the locale; the rest is the answer frame with the six clock bytes at 3..8.
#include "FuzzSupport.h"

#include "operations/ClockSetting.h"

#include <QDate>
#include <QTime>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    if (size < 1)
        return 0;
    static const QLocale locales[] = {QLocale::c(), QLocale(QStringLiteral("en_US")), QLocale(QStringLiteral("de_DE")),
                                      QLocale(QStringLiteral("ja_JP")), QLocale(QStringLiteral("ar_EG"))};
    const QLocale &locale = locales[data[0] % std::size(locales)];
    const QByteArray answer = fuzzsupport::bytes(data + 1, size - 1);
    QString date = QStringLiteral("x");
    QString time = QStringLiteral("x");
    const bool decoded = ClockSetting::DecodePanelDateTime(answer, locale, date, time);
    // The six bytes come before the checksum.
    FUZZ_CHECK(decoded == (answer.size() >= 10));
    if (!decoded) {
        FUZZ_CHECK(date.isEmpty() && time.isEmpty());
        return 0;
    }
    const auto byte = [&answer](int i) { return static_cast<std::uint8_t>(answer.at(i)); };
    const QDate day(2000 + byte(5), byte(3), byte(4));
    FUZZ_CHECK(date.isEmpty() == (byte(5) > 99 || !day.isValid()));
    // The time is the 24-hour "HH:mm" of the panel's 12-hour coding, or nothing.
    const int hour = byte(6), minute = byte(7), pm = byte(8);
    const bool valid = pm <= 1 && hour <= 12 && minute <= 59;
    FUZZ_CHECK(time.isEmpty() == !valid);
    if (valid)
        FUZZ_CHECK(time == QTime(hour % 12 + 12 * pm, minute).toString(QStringLiteral("HH:mm")));
    return 0;
}
