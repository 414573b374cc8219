// The string catalog: every numbered text the component shows or logs. Texts carry their variables
// as %NAME%, which callers fill with ReplaceVariable. One resource file per language
// (strings/catalog_<language>.txt: "number<TAB>text" lines, "\n" for a line break); English is
// the fallback.
#pragma once

#include <QHash>
#include <QString>

#include <cstdint>

class StringCatalog
{
public:
    // Loads the catalog of `language` (for example "en"); an empty language takes the locale's.
    explicit StringCatalog(const QString &language = QString());

    // The text of `number`; an empty text for a number the catalog does not hold.
    QString GetCatalogStringCOMM(std::int16_t &number) const;

    bool contains(int number) const { return m_texts.contains(number); }
    QList<int> numbers() const { return m_texts.keys(); }
    QString language() const { return m_language; }

private:
    bool load(const QString &language);
    QHash<int, QString> m_texts;
    QString m_language;
};
