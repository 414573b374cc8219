// The reference host's panel data, kept in memory for the length of a run: one byte array per
// item, a location being item * 65536 + start record with one byte per record. It accepts every
// data lock the panel reports and remembers it.
#pragma once

#include "core/HostObjects.h"

#include <QString>

#include <map>

class MemoryHostPif : public HostPif
{
public:
    explicit MemoryHostPif(QString passcode) : m_passcode(std::move(passcode)) {}

    std::shared_ptr<HostPifItem> Item(const QString &key) const override;
    qint32 locate(qint16 item, qint32 startRecord) const override { return item * 65536 + startRecord; }
    void read(QByteArray &buffer, qint32 location) const override;
    void write(const QByteArray &buffer, qint32 location) override;
    std::optional<qint32> queryConnectionType(qint32, qint32, qint32) const override { return 0; }
    qint32 acceptDataLock(qint32 &dataLock, qint32, qint32, qint32) override
    {
        m_dataLock = dataLock;
        return 0;
    }
    void takeTransferFile(const QString &path) override { m_transferFiles << path; }
    void finishSend() override {}
    QString Passcode() const override { return m_passcode; }

    qint32 dataLock() const { return m_dataLock; }
    const std::map<int, QByteArray> &items() const { return m_items; }

private:
    QString m_passcode;
    std::map<int, QByteArray> m_items;
    qint32 m_dataLock = -1;
    QStringList m_transferFiles;
};
