#include "external/StringCatalog.h"

#include <QFile>
#include <QLocale>
#include <QTextStream>

static void initCatalogResource()
{
    // The catalog lives in a resource of the static library: make sure it is registered.
    Q_INIT_RESOURCE(strings);
}

StringCatalog::StringCatalog(const QString &language)
{
    initCatalogResource();
    const QString wanted = language.isEmpty() ? QLocale().name().section(QLatin1Char('_'), 0, 0) : language;
    if (!load(wanted))
        load(QStringLiteral("en"));
}

bool StringCatalog::load(const QString &language)
{
    QFile file(QStringLiteral(":/quarvo/strings/catalog_%1.txt").arg(language));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    m_texts.clear();
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int tab = line.indexOf(QLatin1Char('\t'));
        if (tab <= 0)
            continue;
        bool ok = false;
        const int number = line.left(tab).trimmed().toInt(&ok);
        if (!ok)
            continue;
        QString text = line.mid(tab + 1);
        text.replace(QLatin1String("\\n"), QLatin1String("\n"));
        m_texts.insert(number, text);
    }
    m_language = language;
    return true;
}

QString StringCatalog::GetCatalogStringCOMM(std::int16_t &number) const
{
    return m_texts.value(number);
}
