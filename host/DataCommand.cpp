// quarvo-host data: panel data files as an integrator scripts them: show an item (or all) in hex,
// change bytes of an item, compare two files item by item.
#include "Commands.h"
#include "HostSession.h"
#include "PanelDataStore.h"
#include "Printable.h"

#include "link/modToolbox.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>

namespace {

const char kDescription[] =
    "Panel data files (the layout is in the README).\n\n"
    "  data show FILE [ITEM]                  each item (or ITEM 0-18): geometry, CRC, bytes in hex\n"
    "  data set FILE ITEM OFFSET HEXBYTES     replace bytes of ITEM from byte OFFSET on, e.g.\n"
    "                                         data set panel.qpd 5 0 0a1b2c; a missing FILE is\n"
    "                                         created with empty items (--panel-type)\n"
    "  data diff FILE1 FILE2                  compare item by item; exit 0 equal, 1 different\n\n"
    "Numbers may be decimal or 0x-hexadecimal.";

std::optional<int> number(const QString &text)
{
    bool ok = false;
    const QString t = text.trimmed();
    const int n = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.mid(2).toInt(&ok, 16) : t.toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}

std::optional<int> itemNumber(const QString &text)
{
    const std::optional<int> n = number(text);
    if (!n || *n < 0 || *n >= PanelDataStore::ItemCount) {
        complain(QStringLiteral("data: \"%1\" is no item number (0 to %2)").arg(printable(text)).arg(PanelDataStore::ItemCount - 1));
        return std::nullopt;
    }
    return n;
}

bool load(PanelDataStore &store, const QString &path)
{
    QString why;
    if (store.load(path, &why))
        return true;
    complain(QStringLiteral("data: ") + why);
    return false;
}

void printItem(const PanelDataStore &store, int item)
{
    const modToolbox::ItemGeometry g = modToolbox::itemGeometry(item, store.panelType()).value_or(modToolbox::ItemGeometry{});
    const QByteArray bytes = store.item(item);
    std::printf("item %d: %d record(s) of %d bytes, %lld bytes, CRC 0x%04X\n", item, g.records, g.recordSize,
                static_cast<long long>(bytes.size()), store.itemCrc(item));
    for (qsizetype at = 0; at < bytes.size(); at += 16)
        std::printf("  %04llX  %s\n", static_cast<long long>(at), bytes.mid(at, 16).toHex(' ').constData());
}

int show(const QStringList &args)
{
    if (args.size() < 1 || args.size() > 2) {
        complain(QStringLiteral("data show FILE [ITEM] (see quarvo-host data --help)"));
        return hostexit::Usage;
    }
    PanelDataStore store;
    if (!load(store, args.at(0)))
        return hostexit::Usage;
    std::printf("%s: panel type %d, format version %d\n", qPrintable(args.at(0)), store.panelType(), PanelDataStore::FormatVersion);
    if (args.size() == 2) {
        const std::optional<int> item = itemNumber(args.at(1));
        if (!item)
            return hostexit::Usage;
        printItem(store, *item);
        return hostexit::Success;
    }
    for (int item = 0; item < PanelDataStore::ItemCount; ++item)
        printItem(store, item);
    return hostexit::Success;
}

int set(const QStringList &args, int panelType)
{
    if (args.size() != 4) {
        complain(QStringLiteral("data set FILE ITEM OFFSET HEXBYTES (see quarvo-host data --help)"));
        return hostexit::Usage;
    }
    const QString path = args.at(0);
    PanelDataStore store(panelType);
    if (QFileInfo::exists(path) && !load(store, path))
        return hostexit::Usage;
    const std::optional<int> item = itemNumber(args.at(1));
    const std::optional<int> offset = number(args.at(2));
    if (!item)
        return hostexit::Usage;
    if (!offset) {
        complain(QStringLiteral("data set: \"%1\" is no byte offset").arg(printable(args.at(2))));
        return hostexit::Usage;
    }
    QString hex = args.at(3);
    hex.remove(QRegularExpression(QStringLiteral("[\\s:]")));
    static const QRegularExpression hexDigits(QStringLiteral("^([0-9A-Fa-f]{2})+$"));
    if (!hexDigits.match(hex).hasMatch()) {
        complain(QStringLiteral("data set: \"%1\" is not bytes in hex (two digits a byte, e.g. 0a1b2c)").arg(printable(args.at(3))));
        return hostexit::Usage;
    }
    QString why;
    if (!store.setBytes(*item, *offset, QByteArray::fromHex(hex.toLatin1()), &why)) {
        complain(QStringLiteral("data set: ") + why);
        return hostexit::Usage;
    }
    if (!store.save(path, &why)) {
        complain(QStringLiteral("data set: ") + why);
        return hostexit::Failure;
    }
    std::printf("item %d: CRC now 0x%04X\n", *item, store.itemCrc(*item));
    return hostexit::Success;
}

int diff(const QStringList &args)
{
    if (args.size() != 2) {
        complain(QStringLiteral("data diff FILE1 FILE2 (see quarvo-host data --help)"));
        return hostexit::Usage;
    }
    PanelDataStore a, b;
    if (!load(a, args.at(0)) || !load(b, args.at(1)))
        return hostexit::Usage;
    if (a.panelType() != b.panelType())
        std::printf("panel types differ: %d and %d\n", a.panelType(), b.panelType());
    int differing = 0;
    for (int item = 0; item < PanelDataStore::ItemCount; ++item) {
        const QByteArray x = a.item(item);
        const QByteArray y = b.item(item);
        if (x == y)
            continue;
        ++differing;
        qsizetype first = -1, count = 0;
        for (qsizetype i = 0; i < qMax(x.size(), y.size()); ++i) {
            if (i < x.size() && i < y.size() && x.at(i) == y.at(i))
                continue;
            if (first < 0)
                first = i;
            ++count;
        }
        std::printf("item %d differs: %lld byte(s) from offset %lld on (CRC 0x%04X / 0x%04X)\n", item, static_cast<long long>(count),
                    static_cast<long long>(first), a.itemCrc(item), b.itemCrc(item));
    }
    if (differing == 0 && a.panelType() == b.panelType()) {
        std::printf("all %d items equal\n", PanelDataStore::ItemCount);
        return hostexit::Success;
    }
    std::printf("%d of %d items differ\n", differing, PanelDataStore::ItemCount);
    return hostexit::Failure;
}

} // namespace

int runData(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addPositionalArgument(QStringLiteral("show|set|diff"), QStringLiteral("What to do with panel data files."));
    const QCommandLineOption typeOption(QStringLiteral("panel-type"),
                                        QStringLiteral("data set on a new file: the panel type of its layout (default 1)."),
                                        QStringLiteral("n"), QStringLiteral("1"));
    parser.addOption(typeOption);
    if (const std::optional<int> done = parseCommandLine(parser, QStringLiteral("data"), arguments))
        return *done;
    QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        complain(QStringLiteral("data: say show, set or diff (see quarvo-host data --help)"));
        return hostexit::Usage;
    }
    const QString what = args.takeFirst();
    if (what == QLatin1String("show"))
        return show(args);
    if (what == QLatin1String("diff"))
        return diff(args);
    if (what == QLatin1String("set")) {
        const std::optional<int> type = number(parser.value(typeOption));
        if (!type || !PanelDataStore::knownPanelType(*type)) {
            complain(QStringLiteral("data set: --panel-type must be a panel type with a known layout (1-6, 37-39, 49-51)"));
            return hostexit::Usage;
        }
        return set(args, *type);
    }
    complain(QStringLiteral("data: unknown action \"%1\" (show, set or diff)").arg(printable(what)));
    return hostexit::Usage;
}
