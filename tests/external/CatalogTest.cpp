// The string catalog: its texts load, and every use of a catalog number in the sources names an
// entry that exists and carries the variables its caller fills in.
#include <gtest/gtest.h>

#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "external/StringCatalog.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <map>

namespace {

// One GetCatalogString(<number>) call found in the sources, with the variable names that the
// ReplaceVariable calls around it fill in.
struct CatalogUse
{
    int number = 0;
    QStringList names;
    QString where; // file:line
};

// Comments blanked out (line breaks kept, so line numbers stay right); literals are matched first,
// so "//" inside a string is not taken for a comment.
QString stripComments(const QString &code)
{
    static const QRegularExpression token(
        QStringLiteral(R"re(//[^\n]*|/\*[\s\S]*?\*/|"(?:\\.|[^"\\\n])*"|'(?:\\.|[^'\\\n])*')re"));
    QString out = code;
    for (auto it = token.globalMatch(code); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured().startsWith(u'/'))
            for (qsizetype i = m.capturedStart(); i < m.capturedEnd(); ++i)
                out[i] = out[i] == u'\n' ? u'\n' : u' ';
    }
    return out;
}

// Index of the ',' or ')' that ends the call argument starting at `from`.
qsizetype argumentEnd(const QString &code, qsizetype from)
{
    int depth = 0;
    for (qsizetype i = from; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (c == u'"' || c == u'\'') {
            while (++i < code.size() && code.at(i) != c)
                i += code.at(i) == u'\\' ? 1 : 0;
        } else if (c == u'(' || c == u'[' || c == u'{') {
            ++depth;
        } else if ((c == u')' || c == u']' || c == u'}') && depth-- == 0) {
            return i;
        } else if (c == u',' && depth == 0) {
            return i;
        }
    }
    return code.size();
}

// Every GetCatalogString(<digits>) call of `source` with the variable names filled in for it. A
// ReplaceVariable call fills its name into the catalog texts taken inside its first argument; when
// that argument takes no catalog text itself, its name counts for every catalog text of the statement.
QList<CatalogUse> scanSource(const QString &source, const QString &fileName)
{
    static const QRegularExpression catalogCall(QStringLiteral(R"(\bGetCatalogString\s*\(\s*(\d+)\s*\))"));
    static const QRegularExpression replaceCall(QStringLiteral(R"(\bReplaceVariable\s*\()"));
    static const QRegularExpression nameArgument(QStringLiteral(R"re(,\s*(?:[\w:]+\s*\(\s*)?u?"(\w+)")re"));
    const QString code = stripComments(source);
    QList<CatalogUse> uses;
    for (auto it = catalogCall.globalMatch(code); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        CatalogUse use{m.captured(1).toInt(), {},
                       QStringLiteral("%1:%2").arg(fileName).arg(code.left(m.capturedStart()).count(u'\n') + 1)};
        qsizetype begin = 0;
        for (const QChar stop : {u';', u'{', u'}'})
            begin = std::max(begin, code.lastIndexOf(stop, m.capturedStart()) + 1);
        const qsizetype end = code.indexOf(u';', m.capturedEnd()) < 0 ? code.size() : code.indexOf(u';', m.capturedEnd());
        for (auto rit = replaceCall.globalMatch(code, begin); rit.hasNext();) {
            const QRegularExpressionMatch r = rit.next();
            if (r.capturedStart() >= end)
                break;
            const qsizetype firstEnd = argumentEnd(code, r.capturedEnd());
            const QRegularExpressionMatch name = nameArgument.match(code, firstEnd, QRegularExpression::NormalMatch,
                                                                     QRegularExpression::AnchorAtOffsetMatchOption);
            const bool owns = m.capturedStart() >= r.capturedEnd() && m.capturedEnd() <= firstEnd;
            if (name.hasMatch() && (owns || !catalogCall.match(code.mid(r.capturedEnd(), firstEnd - r.capturedEnd())).hasMatch()))
                use.names.append(name.captured(1));
        }
        use.names.removeDuplicates();
        use.names.sort();
        uses.append(use);
    }
    return uses;
}

// Problems of the uses against `texts`: missing numbers and variables the entry does not carry.
QStringList checkUses(const QList<CatalogUse> &uses, const std::map<int, QString> &texts)
{
    QStringList problems;
    for (const CatalogUse &use : uses) {
        const auto entry = texts.find(use.number);
        if (entry == texts.end())
            problems.append(QStringLiteral("%1: catalog text %2 does not exist").arg(use.where).arg(use.number));
        for (const QString &name : use.names)
            if (entry != texts.end() && !entry->second.contains(u'%' + name + u'%'))
                problems.append(QStringLiteral("%1: catalog text %2 lacks %%3%").arg(use.where).arg(use.number).arg(name));
    }
    return problems;
}

// Markers that are not "%" + upper-case name + "%" (an unpaired percent sign, or a bad name).
QStringList malformedMarkers(const QString &text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Z][A-Z0-9_]*$"));
    const QStringList parts = text.split(u'%');
    QStringList bad;
    if (parts.size() % 2 == 0)
        bad.append(QStringLiteral("unpaired %"));
    for (qsizetype i = 1; i < parts.size(); i += 2)
        if (!name.match(parts.at(i)).hasMatch())
            bad.append(u'%' + parts.at(i) + u'%');
    return bad;
}

QString text(StringCatalog &catalog, int number)
{
    std::int16_t n = static_cast<std::int16_t>(number);
    return catalog.GetCatalogStringCOMM(n);
}

} // namespace

TEST(Catalog, LoadsTheEnglishTexts)
{
    StringCatalog catalog(QStringLiteral("en"));
    EXPECT_EQ(text(catalog, 109), QStringLiteral("OK")); // the panel test looks for it
    EXPECT_TRUE(text(catalog, 32000).isEmpty());
    // "\n" in the file is a line break; captions keep their exact spacing.
    EXPECT_EQ(text(catalog, 986),
              QStringLiteral("Panel data and Tamsel are different.  Please \nchoose from the following options."));
    EXPECT_EQ(text(catalog, 1352), QStringLiteral("&IP Address\\Host Name:"));

    // Through the shared helper, which creates the catalog on first use.
    resetSessionState();
    EXPECT_EQ(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(278), QStringLiteral("MAX"), QStringLiteral("30")),
              QStringLiteral("30 Sec."));
    resetSessionState();
}

TEST(Catalog, EntriesAreSortedUniqueAndCarryWellFormedMarkers)
{
    EXPECT_TRUE(malformedMarkers(QStringLiteral("Dialling %PHONE% (%ROM_REV%)")).isEmpty());
    EXPECT_FALSE(malformedMarkers(QStringLiteral("50% done")).isEmpty());
    EXPECT_FALSE(malformedMarkers(QStringLiteral("%max% retries")).isEmpty());

    StringCatalog catalog(QStringLiteral("en")); // registers the resource
    QFile file(QStringLiteral(":/quarvo/strings/catalog_en.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    static const QRegularExpression entry(QStringLiteral(R"(^(\d+)\t(.+)$)"));
    int previous = 0, count = 0;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QRegularExpressionMatch m = entry.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        const int number = m.captured(1).toInt();
        EXPECT_GT(number, previous) << line.toStdString() << ": numbers must rise (sorted, no duplicates)";
        EXPECT_LE(number, SHRT_MAX) << "catalog numbers are 16-bit";
        EXPECT_TRUE(malformedMarkers(text(catalog, number)).isEmpty()) << line.toStdString();
        previous = number;
        ++count;
    }
    EXPECT_EQ(count, catalog.numbers().size()) << "every entry line is loaded";
}

TEST(Catalog, ScannerFindsNumbersAndTheirVariables)
{
    const QString code = QStringLiteral(
        "void f() {\n"
        "    // GetCatalogString(9999) in a comment does not count\n"
        "    const QString url = \"http://x\"; AddStatus(GetCatalogString(315));\n"
        "    AddLogEntry(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(280), QStringLiteral(\"MAX\"),\n"
        "                                            QString::number(max)));\n"
        "    d = ReplaceVariable(ReplaceVariable(GetCatalogString(307), \"CURRENT\", a), u\"TOTAL\"_s, b);\n"
        "    box(GetCatalogString(309) + GetCatalogString(310), ReplaceVariable(GetCatalogString(157), \"APP_NAME\", app));\n"
        "    /* GetCatalogString(9998) */ t = ReplaceVariable(text, \"PHONE\", p) + GetCatalogString(312);\n"
        "}\n");
    const QList<CatalogUse> uses = scanSource(code, QStringLiteral("f.cpp"));
    std::map<int, std::string> found; // number -> its variable names, comma-separated
    for (const CatalogUse &use : uses)
        found[use.number] = use.names.join(u',').toStdString();
    const std::map<int, std::string> expected = {
        {157, "APP_NAME"}, {280, "MAX"}, {307, "CURRENT,TOTAL"}, {309, ""}, {310, ""}, {312, "PHONE"}, {315, ""},
    };
    EXPECT_EQ(found, expected);
    EXPECT_EQ(uses.front().where, QStringLiteral("f.cpp:3"));

    // Checked against texts: a missing number and a missing variable are both reported.
    const std::map<int, QString> texts = {{157, "%APP_NAME%"}, {280, "%MAX%"}, {307, "%CURRENT% of %TOTAL%"},
                                          {309, "a"},          {312, "Dialling"}, {315, "b"}};
    const QStringList problems = checkUses(uses, texts);
    ASSERT_EQ(problems.size(), 2) << problems.join(u'\n').toStdString();
    EXPECT_TRUE(problems.at(0).contains(QStringLiteral("catalog text 310 does not exist")));
    EXPECT_TRUE(problems.at(1).contains(QStringLiteral("catalog text 312 lacks %PHONE%")));
}

TEST(Catalog, EveryNumberUsedInTheSourcesExistsWithItsVariables)
{
    const QString root = QString::fromUtf8(QUARVO_SOURCE_DIR) + QStringLiteral("/src/");
    StringCatalog catalog(QStringLiteral("en"));
    std::map<int, QString> texts;
    for (int number : catalog.numbers())
        texts[number] = text(catalog, number);

    QList<CatalogUse> uses;
    QDirIterator it(root, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        uses += scanSource(QString::fromUtf8(file.readAll()), file.fileName().mid(root.size()));
    }
    // The session log header is a known use: the scan must see it with its variable.
    EXPECT_TRUE(std::any_of(uses.cbegin(), uses.cend(), [](const CatalogUse &u) {
        return u.number == 327 && u.names.contains(QStringLiteral("TIMESTAMP"));
    })) << "the scan did not find GetCatalogString(327) with TIMESTAMP";

    const QStringList problems = checkUses(uses, texts);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
}
