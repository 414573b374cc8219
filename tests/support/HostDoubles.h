// In-memory doubles of the host's objects, for tests. Every member is a public field.
#pragma once

#include "core/HostObjects.h"
#include "link/modToolbox.h"

#include <QHash>
#include <QStringList>
#include <QVariant>

#include <functional>

#include <map>
#include <vector>

namespace testsupport {

// A data-lock entry of the settings double: the values it was made with.
using DataLockDouble = HostDataLockValues;

class SettingsDouble : public HostSettings
{
public:
    QString accountName = QStringLiteral("1234");
    QString linkKey;
    qint32 linkKeyMode = 0;
    QString remoteHost;
    bool hostDataMode = false;
    QString responseTimeout = QStringLiteral("5");
    qint16 timeOffsetHours = 0;
    qint32 panelType = 1;
    std::vector<std::shared_ptr<DataLockDouble>> dataLocks;
    std::shared_ptr<DataLockDouble> primary;
    qint16 dataBits = 8;
    QString parity = QStringLiteral("N");
    qint16 stopBits = 1;
    QString postDialString;
    QString resetCmd = QStringLiteral("ATZ");
    QString panelName = QStringLiteral("Test panel");
    qint32 baudRate = 9600;
    qint16 comPort = 1;
    QString initString = QStringLiteral("AT&F");
    QString panelPhone = QStringLiteral("5551234");
    QString voicePhone;
    QString passcode = QStringLiteral("123456");
    QString panelPort = QStringLiteral("3001");
    qint16 expectedPanelStatus = 0;
    int remoteHostWrites = 0;

    QString AccountName() const override { return accountName; }
    QString LinkKey() const override { return linkKey; }
    qint32 LinkKeyMode() const override { return linkKeyMode; }
    QString RemoteHost() const override { return remoteHost; }
    void setRemoteHost(const QString &host) override
    {
        remoteHost = host;
        ++remoteHostWrites;
    }
    bool HostDataMode() const override { return hostDataMode; }
    void setHostDataMode(bool remote) override { hostDataMode = remote; }
    QString ResponseTimeout() const override { return responseTimeout; }
    qint16 TimeOffsetHours() const override { return timeOffsetHours; }
    qint32 PanelType() const override { return panelType; }
    int dataLockCount() const override { return static_cast<int>(dataLocks.size()); }
    std::shared_ptr<HostDataLockEntry> dataLock(int position) const override
    {
        if (position < 1 || position > static_cast<int>(dataLocks.size()))
            return nullptr;
        return dataLocks.at(static_cast<size_t>(position - 1));
    }
    std::shared_ptr<HostDataLockEntry> dataLockByKey(const QString &key) const override
    {
        return key == QLatin1String("PRIMARY") ? primary : nullptr;
    }
    qint16 DataBits() const override { return dataBits; }
    QString Parity() const override { return parity; }
    qint16 StopBits() const override { return stopBits; }
    QString PostDialString() const override { return postDialString; }
    QString ResetCmd() const override { return resetCmd; }
    QString PanelName() const override { return panelName; }
    qint32 BaudRate() const override { return baudRate; }
    qint16 ComPort() const override { return comPort; }
    QString InitString() const override { return initString; }
    QString PanelPhone() const override { return panelPhone; }
    QString VoicePhone() const override { return voicePhone; }
    QString Passcode() const override { return passcode; }
    QString PanelPort() const override { return panelPort; }
    qint16 ExpectedPanelStatus() const override { return expectedPanelStatus; }
};

class PifItemDouble : public HostPifItem
{
public:
    PifItemDouble(qint16 siSize, qint16 subItems) : siSize(siSize), subItems(subItems) {}
    qint16 SISize() const override { return siSize; }
    qint16 NofSubItems() const override { return subItems; }
    qint16 siSize;
    qint16 subItems;
};

// Panel data kept as one byte array per item, laid out as the panel's item map cuts it: a record
// of an item is its block length divided by the start-record step (an item of one block is one
// record), so block (item, start) lies at byte start x record size. A location is item * 65536 +
// that byte offset. An item reports its stored bytes as its size (SISize x NofSubItems), so the
// item CRC covers exactly what is stored.
class PifDouble : public HostPif
{
public:
    // Bytes per record of each item (the item map's geometry); item 1 depends on the panel type (75
    // or 78), and a type without a known layout is taken as type 1.
    static int recordSize(int item, qint32 panelType = 1)
    {
        std::optional<modToolbox::ItemGeometry> g = modToolbox::itemGeometry(item, panelType);
        if (!g)
            g = modToolbox::itemGeometry(item, 1);
        return g ? g->recordSize : 1;
    }

    std::map<int, QByteArray> items;
    qint32 panelType = 1;
    std::optional<qint32> connectionQueryResult = 0;
    qint32 acceptResult = 0;
    std::vector<qint32> acceptedLocks;
    QStringList transferFiles;
    int sendsFinished = 0;
    QString passcode = QStringLiteral("123456");

    std::shared_ptr<HostPifItem> Item(const QString &key) const override
    {
        bool ok = false;
        const int n = key.toInt(&ok);
        const auto it = items.find(n);
        if (!ok || it == items.end())
            return nullptr;
        return std::make_shared<PifItemDouble>(static_cast<qint16>(it->second.size()), 1);
    }
    qint32 locate(qint16 item, qint32 startRecord) const override
    {
        return item * 65536 + startRecord * recordSize(item, panelType);
    }
    void read(QByteArray &buffer, qint32 location) const override
    {
        const auto it = items.find(location / 65536);
        if (it == items.end())
            return;
        const int start = location % 65536;
        for (int i = 0; i < buffer.size() && start + i < it->second.size(); ++i)
            buffer[i] = it->second.at(start + i);
    }
    void write(const QByteArray &buffer, qint32 location) override
    {
        QByteArray &item = items[location / 65536];
        const int start = location % 65536;
        if (item.size() < start + buffer.size())
            item.resize(start + buffer.size(), '\0');
        for (int i = 0; i < buffer.size(); ++i)
            item[start + i] = buffer.at(i);
    }
    std::optional<qint32> queryConnectionType(qint32, qint32, qint32) const override { return connectionQueryResult; }
    qint32 acceptDataLock(qint32 &dataLock, qint32, qint32, qint32) override
    {
        acceptedLocks.push_back(dataLock);
        return acceptResult;
    }
    // What the host was asked at the end of a transfer, in order ("take <path>", "finish send");
    // `onEndReport` runs at each request (a test can look at the session's state then).
    void takeTransferFile(const QString &path) override
    {
        transferFiles << path;
        endReports << QStringLiteral("take ") + path;
        if (onEndReport)
            onEndReport();
    }
    void finishSend() override
    {
        ++sendsFinished;
        endReports << QStringLiteral("finish send");
        if (onEndReport)
            onEndReport();
    }
    QStringList endReports;
    std::function<void()> onEndReport;
    QString Passcode() const override { return passcode; }
};

class CallbackDouble : public HostCallback
{
public:
    struct Event
    {
        qint32 code;
        QVariant data;
        std::optional<QString> source;
    };
    std::vector<Event> events;

    void ZelCommEvent(qint32 &code, const QVariant &data, const std::optional<QString> &source) override
    {
        events.push_back({code, data, source});
    }
    // Events with `code`, in order.
    std::vector<Event> withCode(qint32 code) const
    {
        std::vector<Event> out;
        for (const Event &e : events)
            if (e.code == code)
                out.push_back(e);
        return out;
    }
    // Tags of the tagged notifications (event 5), in order.
    QStringList tags() const
    {
        QStringList out;
        for (const Event &e : events)
            if (e.code == 5)
                out << e.data.toList().value(0).toString();
        return out;
    }
};

} // namespace testsupport
