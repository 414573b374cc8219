// Reading the sites of an import file: CSV with a header line, or JSON lines (one object per line).
// Every row is checked as quarvo-host would check the settings made from it; the first bad row is
// named by line and field, and then no site of the file is taken.
#pragma once

#include "Site.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace siteimport {

struct Problem
{
    int line = 0;   // 1-based line of the file
    QString field;  // the column or key
    QString why;
    QString text() const;
};

// The sites of `bytes`; false with the first problem. The format is told by the first character
// that is not white space: '{' is JSON lines, anything else CSV.
bool parse(const QByteArray &bytes, std::vector<Site> *sites, Problem *problem);

// Checks one site (import and the runner share it); false with the field and the reason.
bool check(const Site &site, QString *field, QString *why);

// Data locks as one text ("4660:Office;4661") and back; the first entry is the primary one.
bool dataLocksFromText(const QString &text, QJsonArray *locks, QString *why);
QString dataLocksToText(const QJsonArray &locks);

// One CSV line into fields (quotes and doubled quotes as usual); false when a quote is not closed.
bool splitCsvLine(const QString &line, QStringList *fields);
QString csvField(const QString &text);

} // namespace siteimport
