// The reference host's panel data: the 19 items of the panel's programming, each held as the item
// map cuts it (records of the size a block divided by its start-record step gives), so that the
// block (item, start) the component reads or writes lies at byte start x record size of the item.
// Kept in a panel data file (layout below, described in the README) that is replaced atomically,
// mode 0600, when a receive from the panel completes.
//
// Panel data file, version 1 (all numbers big-endian):
//   offset  size  field
//        0     4  magic "QVPD"
//        4     2  format version (1)
//        6     2  panel type (item 1's record size depends on it)
//        8     2  item count (19)
//       10     2  reserved, 0
//       12   228  item table, 19 entries of 12 bytes, item 0 first:
//                   item number (2), record size (2), record count (2),
//                   CRC-16/ARC of the item's bytes (2), byte count (4) = record size x record count
//      240     -  the items' bytes, item 0 first, each exactly its byte count
// A file is accepted only when every field agrees with the item map for its panel type and every
// item's CRC with its bytes.
#pragma once

#include "core/HostObjects.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <set>

class PanelDataStore : public HostPif
{
public:
    static constexpr char Magic[4] = {'Q', 'V', 'P', 'D'};
    static constexpr quint16 FormatVersion = 1;
    static constexpr int ItemCount = 19;
    static constexpr int HeaderSize = 12;
    static constexpr int EntrySize = 12;

    // Every item present and zero-filled, for a panel of type `panelType`.
    explicit PanelDataStore(qint32 panelType = 1);

    // Whether the item map knows the block lengths of this panel type.
    static bool knownPanelType(qint32 panelType);
    // The size of the largest sound file (the panel type with the most bytes): no file is read past it.
    static qint64 maxFileBytes();

    // The file's bytes, and back. fromBytes replaces the store's panel type and items only when the
    // whole file is sound; otherwise it leaves the store as it was and says why.
    QByteArray toBytes() const;
    bool fromBytes(const QByteArray &bytes, QString *error);
    // The file the user named: a symbolic link of this user is followed (as an editor follows it),
    // one of another user is refused; anything but a regular file, or a file larger than
    // maxFileBytes(), is refused unread.
    bool load(const QString &path, QString *error);
    bool save(const QString &path, QString *error) const;

    qint32 panelType() const { return m_panelType; }
    QByteArray item(int item) const { return m_items.value(item); }
    quint16 itemCrc(int item) const;
    // Replaces bytes of an item from `offset` on; false (with the reason) when they do not fit.
    bool setBytes(int item, int offset, const QByteArray &bytes, QString *error);

    // The data file a completed receive is saved to (none: the data stay in memory).
    void setDataFile(const QString &path) { m_dataFile = path; }
    QString dataFile() const { return m_dataFile; }

    // What happened during a session.
    const std::set<int> &itemsWritten() const { return m_itemsWritten; }
    int blocksWritten() const { return m_blocksWritten; }
    const QStringList &transferFiles() const { return m_transferFiles; }
    int sendsFinished() const { return m_sendsFinished; }
    // A received panel could not be written to the transfer file or the data file.
    bool saveFailed() const { return m_saveFailed; }
    QString saveError() const { return m_saveError; }

    // HostPif. takeTransferFile writes the transfer file (never through a symbolic link planted at its
    // fixed name), then the data file.
    std::shared_ptr<HostPifItem> Item(const QString &key) const override;
    qint32 locate(qint16 item, qint32 startRecord) const override;
    void read(QByteArray &buffer, qint32 location) const override;
    void write(const QByteArray &buffer, qint32 location) override;
    std::optional<qint32> queryConnectionType(qint32, qint32, qint32) const override { return 0; }
    qint32 acceptDataLock(qint32 &dataLock, qint32, qint32, qint32) override;
    void takeTransferFile(const QString &path) override;
    void finishSend() override { ++m_sendsFinished; }
    // The passcode item 3 holds: its first three bytes, two hexadecimal digits each.
    QString Passcode() const override;

    qint32 acceptedDataLock() const { return m_dataLock; }

private:
    qint32 m_panelType = 1;
    QList<QByteArray> m_items;
    QString m_dataFile;
    std::set<int> m_itemsWritten;
    int m_blocksWritten = 0;
    QStringList m_transferFiles;
    int m_sendsFinished = 0;
    qint32 m_dataLock = -1;
    bool m_saveFailed = false;
    QString m_saveError;
};
