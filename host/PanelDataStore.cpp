#include "PanelDataStore.h"

#include "HostFiles.h"

#include "link/modChecksums.h"
#include "link/modToolbox.h"

#include <QtEndian>

#include <cstdio>

namespace {

// A location is the item number times 65536 plus the byte offset within the item (every item is
// shorter than 65536 bytes).
constexpr qint32 kItemStride = 65536;

modToolbox::ItemGeometry geometry(int item, qint32 panelType)
{
    return modToolbox::itemGeometry(item, panelType).value_or(modToolbox::ItemGeometry{});
}

quint16 crcOf(const QByteArray &bytes)
{
    return bytes.isEmpty() ? 0 : static_cast<quint16>(modGlobals::CalcBufferCRC_Morx(bytes));
}

void put16(QByteArray &out, quint32 v)
{
    out.append(static_cast<char>((v >> 8) & 0xFF));
    out.append(static_cast<char>(v & 0xFF));
}

void put32(QByteArray &out, quint32 v)
{
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}

quint16 get16(const QByteArray &in, qsizetype at)
{
    return qFromBigEndian<quint16>(in.constData() + at);
}

quint32 get32(const QByteArray &in, qsizetype at)
{
    return qFromBigEndian<quint32>(in.constData() + at);
}

} // namespace

PanelDataStore::PanelDataStore(qint32 panelType)
    : m_panelType(knownPanelType(panelType) ? panelType : 1)
{
    for (int item = 0; item < ItemCount; ++item)
        m_items.append(QByteArray(geometry(item, m_panelType).bytes, '\0'));
}

bool PanelDataStore::knownPanelType(qint32 panelType)
{
    return modToolbox::itemGeometry(1, panelType).has_value();
}

qint64 PanelDataStore::maxFileBytes()
{
    static const qint64 largest = [] {
        qint64 most = 0;
        for (qint32 type = 0; type <= 0xFFFF; ++type) {
            if (!knownPanelType(type))
                continue;
            qint64 bytes = 0;
            for (int item = 0; item < ItemCount; ++item)
                bytes += geometry(item, type).bytes;
            most = qMax(most, bytes);
        }
        return HeaderSize + ItemCount * EntrySize + most;
    }();
    return largest;
}

QByteArray PanelDataStore::toBytes() const
{
    QByteArray out(Magic, sizeof Magic);
    put16(out, FormatVersion);
    put16(out, static_cast<quint32>(m_panelType));
    put16(out, ItemCount);
    put16(out, 0);
    for (int item = 0; item < ItemCount; ++item) {
        const modToolbox::ItemGeometry g = geometry(item, m_panelType);
        put16(out, static_cast<quint32>(item));
        put16(out, static_cast<quint32>(g.recordSize));
        put16(out, static_cast<quint32>(g.records));
        put16(out, itemCrc(item));
        put32(out, static_cast<quint32>(m_items.at(item).size()));
    }
    for (const QByteArray &bytes : m_items)
        out.append(bytes);
    return out;
}

bool PanelDataStore::fromBytes(const QByteArray &bytes, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    constexpr qsizetype tableEnd = HeaderSize + ItemCount * EntrySize;
    if (bytes.size() < HeaderSize || !bytes.startsWith(QByteArray(Magic, sizeof Magic)))
        return fail(QStringLiteral("not a panel data file (no \"QVPD\" at its start)"));
    const quint16 version = get16(bytes, 4);
    if (version != FormatVersion)
        return fail(QStringLiteral("panel data format version %1; this quarvo-host reads version %2").arg(version).arg(FormatVersion));
    const qint32 type = get16(bytes, 6);
    if (!knownPanelType(type))
        return fail(QStringLiteral("panel type %1 has no known item layout").arg(type));
    if (get16(bytes, 8) != ItemCount)
        return fail(QStringLiteral("%1 items; a panel has %2").arg(get16(bytes, 8)).arg(ItemCount));
    if (bytes.size() < tableEnd)
        return fail(QStringLiteral("the item table is cut short"));

    QList<QByteArray> items;
    qsizetype offset = tableEnd;
    for (int item = 0; item < ItemCount; ++item) {
        const qsizetype entry = HeaderSize + item * EntrySize;
        const modToolbox::ItemGeometry g = geometry(item, type);
        const quint32 length = get32(bytes, entry + 8);
        if (get16(bytes, entry) != item || get16(bytes, entry + 2) != g.recordSize || get16(bytes, entry + 4) != g.records
            || length != static_cast<quint32>(g.bytes))
            return fail(QStringLiteral("item %1: the table does not match the item map of panel type %2 (%3 records of %4 bytes)")
                            .arg(item)
                            .arg(type)
                            .arg(g.records)
                            .arg(g.recordSize));
        if (bytes.size() - offset < static_cast<qsizetype>(length))
            return fail(QStringLiteral("item %1: the file ends inside its bytes").arg(item));
        const QByteArray data = bytes.mid(offset, length);
        if (crcOf(data) != get16(bytes, entry + 6))
            return fail(QStringLiteral("item %1: its bytes do not match the CRC of the table (damaged file)").arg(item));
        items.append(data);
        offset += length;
    }
    if (offset != bytes.size())
        return fail(QStringLiteral("%1 bytes after the last item").arg(bytes.size() - offset));
    m_panelType = type;
    m_items = items;
    return true;
}

bool PanelDataStore::load(const QString &path, QString *error)
{
    QString file;
    QByteArray bytes;
    if (!hostfiles::resolveOwnLinks(path, &file, error) || !hostfiles::readBounded(file, maxFileBytes(), &bytes, error))
        return false;
    QString why;
    if (!fromBytes(bytes, &why)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}

bool PanelDataStore::save(const QString &path, QString *error) const
{
    return hostfiles::writeAtomically(path, toBytes(), error, hostfiles::Links::FollowOwn);
}

quint16 PanelDataStore::itemCrc(int item) const
{
    return crcOf(m_items.value(item));
}

bool PanelDataStore::setBytes(int item, int offset, const QByteArray &bytes, QString *error)
{
    if (item < 0 || item >= ItemCount) {
        if (error)
            *error = QStringLiteral("no item %1 (items are 0 to %2)").arg(item).arg(ItemCount - 1);
        return false;
    }
    const qsizetype size = m_items.at(item).size();
    if (offset < 0 || offset + bytes.size() > size) {
        if (error)
            *error = QStringLiteral("item %1 has %2 bytes: %3 bytes from offset %4 do not fit").arg(item).arg(size).arg(bytes.size()).arg(offset);
        return false;
    }
    m_items[item].replace(offset, bytes.size(), bytes);
    return true;
}

std::shared_ptr<HostPifItem> PanelDataStore::Item(const QString &key) const
{
    bool ok = false;
    const int item = key.toInt(&ok);
    if (!ok || item < 0 || item >= ItemCount)
        return nullptr;
    const modToolbox::ItemGeometry g = geometry(item, m_panelType);
    return std::make_shared<HostPifItemValues>(static_cast<qint16>(g.recordSize), static_cast<qint16>(g.records));
}

qint32 PanelDataStore::locate(qint16 item, qint32 startRecord) const
{
    if (item < 0 || item >= ItemCount)
        return -1;
    const modToolbox::ItemGeometry g = geometry(item, m_panelType);
    if (startRecord < 0 || startRecord >= g.records)
        return -1;
    return item * kItemStride + startRecord * g.recordSize;
}

void PanelDataStore::read(QByteArray &buffer, qint32 location) const
{
    if (location < 0)
        return;
    const QByteArray &bytes = m_items.at(location / kItemStride);
    const qsizetype start = location % kItemStride;
    const qsizetype count = qMin(buffer.size(), bytes.size() - start);
    if (count > 0)
        buffer.replace(qsizetype(0), count, bytes.constData() + start, count);
}

void PanelDataStore::write(const QByteArray &buffer, qint32 location)
{
    if (location < 0)
        return;
    const int item = location / kItemStride;
    QByteArray &bytes = m_items[item];
    const qsizetype start = location % kItemStride;
    // A block never reaches past its item; bytes that would are not the item's and are dropped.
    const qsizetype count = qMin(buffer.size(), bytes.size() - start);
    if (count > 0)
        bytes.replace(start, count, buffer.constData(), count);
    m_itemsWritten.insert(item);
    ++m_blocksWritten;
}

qint32 PanelDataStore::acceptDataLock(qint32 &dataLock, qint32, qint32, qint32)
{
    m_dataLock = dataLock;
    return 0;
}

void PanelDataStore::takeTransferFile(const QString &path)
{
    m_transferFiles << path;
    const QByteArray bytes = toBytes();
    QString why;
    // The transfer file has a fixed name in a folder the component chose: a link there was not made
    // by the user's choice, and is refused.
    bool ok = hostfiles::writeAtomically(path, bytes, &why, hostfiles::Links::Refuse);
    if (ok && !m_dataFile.isEmpty())
        ok = hostfiles::writeAtomically(m_dataFile, bytes, &why, hostfiles::Links::FollowOwn);
    if (!ok) {
        m_saveFailed = true;
        m_saveError = why;
        std::fprintf(stderr, "quarvo-host: the received panel data were not saved: %s\n", qPrintable(why));
        std::fflush(stderr);
    }
}

QString PanelDataStore::Passcode() const
{
    return QString::fromLatin1(m_items.value(3).left(3).toHex()).toUpper();
}
