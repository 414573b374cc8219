// The string catalog: its texts load, and every use of a catalog number in the sources names an
// entry that exists and carries the variables its caller fills in.
#include <gtest/gtest.h>

#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "external/StringCatalog.h"

#include <QDir>
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

// Blanks out // and /* */ comments (keeping line breaks, so line numbers stay right); string and
// character literals are kept as they are, so "//" inside a literal is not taken for a comment.
QString stripComments(const QString &code)
{
    enum class State { Code, String, Char, LineComment, BlockComment } state = State::Code;
    QString out = code;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        const QChar next = i + 1 < code.size() ? code.at(i + 1) : QChar();
        switch (state) {
        case State::Code:
            if (c == u'/' && next == u'/') {
                state = State::LineComment;
                out[i] = u' ';
            } else if (c == u'/' && next == u'*') {
                state = State::BlockComment;
                out[i] = u' ';
                out[++i] = u' ';
            } else if (c == u'"') {
                state = State::String;
            } else if (c == u'\'') {
                state = State::Char;
            }
            break;
        case State::String:
        case State::Char:
            if (c == u'\\')
                ++i; // skip the escaped character
            else if ((state == State::String && c == u'"') || (state == State::Char && c == u'\''))
                state = State::Code;
            break;
        case State::LineComment:
            if (c == u'\n')
                state = State::Code;
            else
                out[i] = u' ';
            break;
        case State::BlockComment:
            if (c == u'*' && next == u'/') {
                out[i] = u' ';
                out[++i] = u' ';
                state = State::Code;
            } else if (c != u'\n') {
                out[i] = u' ';
            }
            break;
        }
    }
    return out;
}

// Index just past the parenthesis that closes the one at `open`; -1 when it is not closed.
qsizetype closingParen(const QString &code, qsizetype open)
{
    int depth = 0;
    for (qsizetype i = open; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (c == u'"' || c == u'\'') { // skip a literal
            for (++i; i < code.size() && code.at(i) != c; ++i)
                if (code.at(i) == u'\\')
                    ++i;
            continue;
        }
        if (c == u'(')
            ++depth;
        else if (c == u')' && --depth == 0)
            return i + 1;
    }
    return -1;
}

// Splits the argument list of the call whose '(' is at `open` at its top-level commas; each
// argument is returned with its offset in `code`.
QList<std::pair<qsizetype, QString>> callArguments(const QString &code, qsizetype open)
{
    QList<std::pair<qsizetype, QString>> args;
    const qsizetype end = closingParen(code, open);
    if (end < 0)
        return args;
    int depth = 0;
    qsizetype start = open + 1;
    for (qsizetype i = open + 1; i < end - 1; ++i) {
        const QChar c = code.at(i);
        if (c == u'"' || c == u'\'') {
            for (++i; i < end - 1 && code.at(i) != c; ++i)
                if (code.at(i) == u'\\')
                    ++i;
            continue;
        }
        if (c == u'(' || c == u'{' || c == u'[')
            ++depth;
        else if (c == u')' || c == u'}' || c == u']')
            --depth;
        else if (c == u',' && depth == 0) {
            args.append({start, code.mid(start, i - start)});
            start = i + 1;
        }
    }
    args.append({start, code.mid(start, end - 1 - start)});
    return args;
}

// The variable name of a ReplaceVariable argument written as a string literal ("MAX",
// QStringLiteral("MAX"), u"MAX"_s ...); empty when the argument is not a literal.
QString literalName(const QString &argument)
{
    static const QRegularExpression literal(
        QStringLiteral(R"re(^\s*(?:[A-Za-z_][\w:]*\s*\(\s*)?u?"([^"\\]*)"(?:_s|_L1)?\s*\)?\s*$)re"));
    const QRegularExpressionMatch m = literal.match(argument);
    return m.hasMatch() ? m.captured(1) : QString();
}

// Finds every GetCatalogString(<digits>) call in `source` and the variable names filled in for it.
// A ReplaceVariable call fills its names into the catalog texts taken inside its first argument
// (nested calls included); when that argument takes no catalog text itself, its names count for
// every catalog text of the statement (the text from the previous ';', '{' or '}' to the next ';').
QList<CatalogUse> scanSource(const QString &source, const QString &fileName)
{
    const QString code = stripComments(source);
    static const QRegularExpression catalogCall(QStringLiteral(R"(\bGetCatalogString\s*\(\s*(\d+)\s*\))"));
    static const QRegularExpression replaceCall(QStringLiteral(R"(\bReplaceVariable\s*\()"));

    QList<CatalogUse> uses;
    for (auto it = catalogCall.globalMatch(code); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        CatalogUse use;
        use.number = m.captured(1).toInt();
        use.where = QStringLiteral("%1:%2").arg(fileName).arg(code.left(m.capturedStart()).count(u'\n') + 1);

        qsizetype begin = 0;
        for (const QChar stop : {u';', u'{', u'}'})
            begin = std::max(begin, code.lastIndexOf(stop, m.capturedStart()) + 1);
        qsizetype end = code.indexOf(u';', m.capturedEnd());
        if (end < 0)
            end = code.size();

        for (auto rit = replaceCall.globalMatch(code, begin); rit.hasNext();) {
            const QRegularExpressionMatch r = rit.next();
            if (r.capturedStart() >= end)
                break;
            const qsizetype open = r.capturedEnd() - 1;
            const auto args = callArguments(code, open);
            if (args.size() < 2)
                continue;
            const QString name = literalName(args.at(1).second);
            if (name.isEmpty())
                continue;
            const qsizetype firstBegin = args.at(0).first;
            const qsizetype firstEnd = firstBegin + args.at(0).second.size();
            const bool ownsThisCall = m.capturedStart() >= firstBegin && m.capturedEnd() <= firstEnd;
            const bool firstTakesCatalogText = catalogCall.match(args.at(0).second).hasMatch();
            if (ownsThisCall || !firstTakesCatalogText)
                use.names.append(name);
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
        if (entry == texts.end()) {
            problems.append(QStringLiteral("%1: catalog text %2 does not exist").arg(use.where).arg(use.number));
            continue;
        }
        for (const QString &name : use.names) {
            if (!entry->second.contains(QLatin1Char('%') + name + QLatin1Char('%')))
                problems.append(QStringLiteral("%1: catalog text %2 lacks %%3%").arg(use.where).arg(use.number).arg(name));
        }
    }
    return problems;
}

// Markers that are not "%" + upper-case name + "%" (an odd number of percent signs, or something
// other than A-Z, 0-9 and "_" between a pair).
QStringList malformedMarkers(const QString &text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Z][A-Z0-9_]*$"));
    QStringList bad;
    const QStringList parts = text.split(QLatin1Char('%'));
    if (parts.size() % 2 == 0)
        bad.append(QStringLiteral("unpaired %"));
    for (qsizetype i = 1; i < parts.size(); i += 2) {
        if (!name.match(parts.at(i)).hasMatch())
            bad.append(QLatin1Char('%') + parts.at(i) + QLatin1Char('%'));
    }
    return bad;
}

// The English catalog as the component loads it.
std::map<int, QString> loadedTexts()
{
    StringCatalog catalog(QStringLiteral("en"));
    std::map<int, QString> texts;
    for (int number : catalog.numbers()) {
        std::int16_t n = static_cast<std::int16_t>(number);
        texts[number] = catalog.GetCatalogStringCOMM(n);
    }
    return texts;
}

} // namespace

TEST(Catalog, LoadsTheEnglishTexts)
{
    StringCatalog catalog(QStringLiteral("en"));
    EXPECT_EQ(catalog.language(), QStringLiteral("en"));
    std::int16_t ok = 109;
    EXPECT_EQ(catalog.GetCatalogStringCOMM(ok), QStringLiteral("OK")); // the panel test looks for it
    std::int16_t header = 327;
    EXPECT_TRUE(catalog.GetCatalogStringCOMM(header).contains(QStringLiteral("%TIMESTAMP%")));
    std::int16_t unknown = 32000;
    EXPECT_TRUE(catalog.GetCatalogStringCOMM(unknown).isEmpty());

    // "\n" in the file is a line break; captions keep their exact spacing.
    std::int16_t twoLines = 986;
    EXPECT_EQ(catalog.GetCatalogStringCOMM(twoLines),
              QStringLiteral("Panel data and Tamsel are different.  Please \nchoose from the following options."));
    std::int16_t port = 1351;
    EXPECT_EQ(catalog.GetCatalogStringCOMM(port), QStringLiteral("Pane&l Port: "));
    std::int16_t host = 1352;
    EXPECT_EQ(catalog.GetCatalogStringCOMM(host), QStringLiteral("&IP Address\\Host Name:"));

    // Through the shared helper, which creates the catalog on first use.
    resetSessionState();
    EXPECT_EQ(modGlobals::GetCatalogString(109), QStringLiteral("OK"));
    EXPECT_EQ(modGlobals::ReplaceVariable(modGlobals::GetCatalogString(278), QStringLiteral("MAX"), QStringLiteral("30")),
              QStringLiteral("30 Sec."));
    resetSessionState();
}

TEST(Catalog, FileLinesAreWellFormedSortedAndUnique)
{
    StringCatalog catalog(QStringLiteral("en")); // registers the resource
    QFile file(QStringLiteral(":/quarvo/strings/catalog_en.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    static const QRegularExpression entry(QStringLiteral(R"(^(\d+)\t(.+)$)"));
    int previous = 0;
    int count = 0;
    int lineNumber = 0;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        ++lineNumber;
        const QString line = QString::fromUtf8(raw);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QRegularExpressionMatch m = entry.match(line);
        ASSERT_TRUE(m.hasMatch()) << "line " << lineNumber << ": " << line.toStdString();
        const int number = m.captured(1).toInt();
        EXPECT_GT(number, previous) << "line " << lineNumber << ": numbers must rise (sorted, no duplicates)";
        EXPECT_LE(number, SHRT_MAX) << "catalog numbers are 16-bit";
        previous = number;
        ++count;
    }
    EXPECT_EQ(count, catalog.numbers().size()) << "every entry line is loaded";
}

TEST(Catalog, MarkersAreWellFormed)
{
    EXPECT_TRUE(malformedMarkers(QStringLiteral("Dialling %PHONE% (%ROM_REV%)")).isEmpty());
    EXPECT_FALSE(malformedMarkers(QStringLiteral("50% done")).isEmpty());
    EXPECT_FALSE(malformedMarkers(QStringLiteral("%max% retries")).isEmpty());

    const auto texts = loadedTexts();
    ASSERT_FALSE(texts.empty());
    for (const auto &[number, text] : texts)
        EXPECT_TRUE(malformedMarkers(text).isEmpty())
            << "catalog text " << number << ": " << malformedMarkers(text).join(QLatin1Char(' ')).toStdString();
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
        found[use.number] = use.names.join(QLatin1Char(',')).toStdString();
    const std::map<int, std::string> expected = {
        {157, "APP_NAME"}, {280, "MAX"}, {307, "CURRENT,TOTAL"}, {309, ""}, {310, ""}, {312, "PHONE"}, {315, ""},
    };
    EXPECT_EQ(found, expected);
    EXPECT_EQ(uses.front().where, QStringLiteral("f.cpp:3"));

    // Checked against texts: a missing number and a missing variable are both reported.
    const std::map<int, QString> texts = {{157, QStringLiteral("%APP_NAME%")},
                                          {280, QStringLiteral("%MAX%")},
                                          {307, QStringLiteral("%CURRENT% of %TOTAL%")},
                                          {309, QStringLiteral("a")},
                                          {312, QStringLiteral("Dialling")},
                                          {315, QStringLiteral("b")}};
    const QStringList problems = checkUses(uses, texts);
    ASSERT_EQ(problems.size(), 2) << problems.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(problems.at(0).contains(QStringLiteral("catalog text 310 does not exist")));
    EXPECT_TRUE(problems.at(1).contains(QStringLiteral("catalog text 312 lacks %PHONE%")));
}

TEST(Catalog, EveryNumberUsedInTheSourcesExistsWithItsVariables)
{
    const QDir sources(QString::fromUtf8(QUARVO_SOURCE_DIR) + QStringLiteral("/src"));
    ASSERT_TRUE(sources.exists()) << sources.path().toStdString();
    const auto texts = loadedTexts();

    QList<CatalogUse> uses;
    int files = 0;
    QDirIterator it(sources.path(), {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        uses += scanSource(QString::fromUtf8(file.readAll()), sources.relativeFilePath(path));
        ++files;
    }
    ASSERT_GT(files, 0);

    // The session log header is a known use: the scan must see it with its variable.
    const bool sawHeader = std::any_of(uses.cbegin(), uses.cend(), [](const CatalogUse &u) {
        return u.number == 327 && u.names.contains(QStringLiteral("TIMESTAMP"));
    });
    EXPECT_TRUE(sawHeader) << "the scan did not find GetCatalogString(327) with TIMESTAMP";

    const QStringList problems = checkUses(uses, texts);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(QLatin1Char('\n')).toStdString();
}
