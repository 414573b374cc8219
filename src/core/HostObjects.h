// The host application's objects as the component sees them. The host hands these over through
// IZelComm (Settings, Pif, SetCallBack); the component reads and calls only the members below.
// Members whose names the host's type library leaves to us are named plainly and documented here.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

// One data-lock entry of the host's settings: which code this (or another) installation uses.
class HostDataLockEntry
{
public:
    virtual ~HostDataLockEntry() = default;
    virtual qint32 Value() const = 0;        // plain 16-bit code, -1 when not set
    virtual qint32 DataLockType() const = 0; // the host's type of the entry (1 and 3 are "keep as is")
    virtual QString Name() const = 0;        // shown in the status pad when the entry is chosen
    virtual qint32 Number() const = 0;       // reported to the host with "SET_DATALOCK"
};

// A data-lock entry that holds its values: what a host or an adapter builds from values it read.
class HostDataLockValues : public HostDataLockEntry
{
public:
    HostDataLockValues(qint32 value, qint32 type, QString name, qint32 number)
        : m_value(value), m_type(type), m_name(std::move(name)), m_number(number)
    {
    }
    qint32 Value() const override { return m_value; }
    qint32 DataLockType() const override { return m_type; }
    QString Name() const override { return m_name; }
    qint32 Number() const override { return m_number; }

private:
    qint32 m_value;
    qint32 m_type;
    QString m_name;
    qint32 m_number;
};

class HostSettings
{
public:
    virtual ~HostSettings() = default;

    // Session identity and the network link.
    virtual QString AccountName() const = 0;
    virtual QString LinkKey() const = 0;    // 32 characters for an encrypted link
    virtual qint32 LinkKeyMode() const = 0; // 1 switches encryption off; 0 lets the link probe both
    virtual QString RemoteHost() const = 0;
    virtual void setRemoteHost(const QString &host) = 0;

    // True while the host talks to the panel over a remote link (modem, network, enhanced direct).
    virtual bool HostDataMode() const = 0;
    virtual void setHostDataMode(bool remote) = 0;

    virtual QString ResponseTimeout() const = 0; // seconds, as text
    virtual qint16 TimeOffsetHours() const = 0;
    virtual qint32 PanelType() const = 0;

    // Data-lock entries: by position 1..dataLockCount(), and the fallback under the key "PRIMARY".
    virtual int dataLockCount() const = 0;
    virtual std::shared_ptr<HostDataLockEntry> dataLock(int position) const = 0;
    virtual std::shared_ptr<HostDataLockEntry> dataLockByKey(const QString &key) const = 0;

    // Serial line and modem.
    virtual qint16 DataBits() const = 0;
    virtual QString Parity() const = 0; // one letter: N, E, O, M, S
    virtual qint16 StopBits() const = 0;
    virtual QString PostDialString() const = 0;
    virtual QString ResetCmd() const = 0;

    // Values that fill the connection dialog.
    virtual QString PanelName() const = 0;
    virtual qint32 BaudRate() const = 0;
    virtual qint16 ComPort() const = 0;
    virtual QString InitString() const = 0;
    virtual QString PanelPhone() const = 0;
    virtual QString VoicePhone() const = 0;
    virtual QString Passcode() const = 0;
    virtual QString PanelPort() const = 0;

    // The value the panel must report in byte 6 of its status answer.
    virtual qint16 ExpectedPanelStatus() const = 0;
};

// One item record of the host's panel data.
class HostPifItem
{
public:
    virtual ~HostPifItem() = default;
    virtual qint16 SISize() const = 0;      // bytes per sub-item
    virtual qint16 NofSubItems() const = 0; // number of sub-items
};

// An item record that holds its values.
class HostPifItemValues : public HostPifItem
{
public:
    HostPifItemValues(qint16 size, qint16 subItems) : m_size(size), m_subItems(subItems) {}
    qint16 SISize() const override { return m_size; }
    qint16 NofSubItems() const override { return m_subItems; }

private:
    qint16 m_size;
    qint16 m_subItems;
};

class HostPif
{
public:
    virtual ~HostPif() = default;

    // The item collection: Item("3") is the record of item 3 (none when the key is unknown).
    virtual std::shared_ptr<HostPifItem> Item(const QString &key) const = 0;

    // Location of item `item` from record `startRecord` on; the value is only passed back to
    // read() and write().
    virtual qint32 locate(qint16 item, qint32 startRecord) const = 0;
    // Fills `buffer` (its size says how many bytes) from `location`.
    virtual void read(QByteArray &buffer, qint32 location) const = 0;
    // Stores `buffer` at `location`.
    virtual void write(const QByteArray &buffer, qint32 location) = 0;

    // The host's connection-type query. The dialog asks it with (16, 20, 0) when the operator picks
    // the external modem; 4 in reply means the panel cannot be reached that way. A failure is
    // reported by returning std::nullopt.
    virtual std::optional<qint32> queryConnectionType(qint32 arg1, qint32 arg2, qint32 arg3) const = 0;

    // Asks the host to accept the panel's data lock; 0 accepts. The arguments after the lock are
    // passed as the connection handshake gives them.
    virtual qint32 acceptDataLock(qint32 &dataLock, qint32 arg1, qint32 arg2, qint32 arg3) = 0;

    // Received panel data is handed over through the transfer file at `path`.
    virtual void takeTransferFile(const QString &path) = 0;
    // A send of the host's data to the panel has finished.
    virtual void finishSend() = 0;

    // The panel's passcode as the host's data holds it (item 3).
    virtual QString Passcode() const = 0;
};

class HostCallback
{
public:
    virtual ~HostCallback() = default;
    // The late-bound notification call: code, data, and a source text when one is given.
    virtual void ZelCommEvent(qint32 &code, const QVariant &data, const std::optional<QString> &source) = 0;
};
