// Accessor for one message record: a 1024-byte named shared-memory block addressed by its
// 38-character GUID text. No message data is held in process memory; every property reads or
// writes the shared block, so the queue server and other processes see the same bytes. A block
// that another process cut short is a damaged record: its properties raise BadRecord (160).
//
// Record layout (little-endian 16-bit integers, UTF-16LE texts without terminator):
//   0 szGUID (76) | 76 Name length | 78 Name (100) | 178 Priority | 180 Auto | 182 Data length |
//   184 Data (256) | 440 OwnerName length | 442 OwnerName (100) | 542 OwnerGUID (76) |
//   618 ClientGUID (76) | 694 NextMsgGUID (76) | 770 HeadGUID (76) | 846 reserved (178)
#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QVariant>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/GuidRegistry.h"
#include "platform/SharedMemory.h"

namespace msgrecord {
constexpr std::size_t RecordSize = 1024;
constexpr int GuidLength = 38;     // characters
constexpr int GuidBytes = 76;      // bytes of a GUID field
constexpr int MaxTextChars = 50;   // Name and OwnerName
constexpr int MaxDataBytes = 256;  // Data

constexpr std::size_t OffGuid = 0;
constexpr std::size_t OffNameLen = 76;
constexpr std::size_t OffName = 78;
constexpr std::size_t OffPriority = 178;
constexpr std::size_t OffAuto = 180;
constexpr std::size_t OffDataLen = 182;
constexpr std::size_t OffData = 184;
constexpr std::size_t OffOwnerNameLen = 440;
constexpr std::size_t OffOwnerName = 442;
constexpr std::size_t OffOwnerGuid = 542;
constexpr std::size_t OffClientGuid = 618;
constexpr std::size_t OffNextMsgGuid = 694;
constexpr std::size_t OffHeadGuid = 770;
constexpr std::size_t OffFirstMsgGuid = 0; // list head record

// Unlinks the block of a record that is discarded (its accessors keep their mapping).
void Discard(const QString &guid);

// Field codecs over record bytes in memory (bounds fixed by the layout above).
QString readGuid(const void *base, std::size_t offset);
void writeGuid(void *base, std::size_t offset, const QString &guid);
std::int16_t readInt16(const void *base, std::size_t offset);
void writeInt16(void *base, std::size_t offset, std::int16_t value);
QByteArray guidBytes(const QString &guid);
QByteArray int16Bytes(std::int16_t value);

// Who hears that a record was found damaged (cut short by another process, a length word beyond
// its field, links that go round in a cycle): the message queue of the running session, which ends
// the session over it. It is told as the damage is found, before BadRecord is raised, and must
// defer its reaction (the finder is in the middle of its own work). None by default.
using DamageWatcher = std::function<void()>;
void setDamageWatcher(DamageWatcher watcher);
// Tells the watcher, then raises BadRecord (160) with `text`.
[[noreturn]] void raiseDamaged(const QString &text);

// Reads or writes bytes of a record block. A block that another process cut short since it was
// opened is a damaged record: error BadRecord (160), never a read or write past its end.
QByteArray readBlock(const SharedMemory &block, std::size_t offset, std::size_t size);
void writeBlock(SharedMemory &block, std::size_t offset, const QByteArray &bytes);
} // namespace msgrecord

class clsMessage;

namespace msgrecord {
// Guards a walk along a list's links. Every list ends at its head, so a record met twice means the
// links form a cycle (records damaged by someone else): the walk fails at once (raiseDamaged)
// instead of going round until its step limit of MaxWalk messages.
class ListWalk
{
public:
    static constexpr int MaxWalk = 100000;
    void visit(const clsMessage &msg);

private:
    QSet<QString> m_seen;
};
} // namespace msgrecord

class clsMessage : public GuidObject
{
public:
    clsMessage() = default;
    ~clsMessage() override = default;

    // Creates the block (or opens it when it exists) and keeps it open. Returns 0 for a new block (its
    // szGUID is written), 183 for an existing one (left unchanged). On an error the error is
    // reported, 0 is returned and the accessor stays without a block.
    std::int32_t Create(const QString &guid);
    // Opens an existing block. Returns 0; on an error as Create.
    std::int32_t Load(const QString &guid);
    bool isLoaded() const { return m_block.isAttached(); }

    // Every property raises error 13 while the accessor has no block.
    QString szGUID() const override;
    void setSzGUID(const QString &guid) override;
    QString Name() const;
    // Raises InvalidArgument for more than 50 characters (the field is left unchanged).
    void setName(const QString &name);
    std::int16_t Priority() const;
    void setPriority(std::int16_t priority);
    std::int16_t Auto() const;
    void setAuto(std::int16_t value);
    // A QByteArray, or an empty QVariant when the record holds no data.
    QVariant Data() const;
    QByteArray dataBytes() const;
    // Takes an empty QVariant, a QByteArray or a list of numbers (each converted to a byte). More
    // than 256 bytes, or an element outside 0..255, raises an error and leaves the field unchanged.
    void setData(const QVariant &data);
    QString OwnerName() const;
    void setOwnerName(const QString &name);
    QString OwnerGUID() const;
    void setOwnerGUID(const QString &guid);
    QString ClientGUID() const;
    void setClientGUID(const QString &guid);
    QString NextMsgGUID() const;
    void setNextMsgGUID(const QString &guid);
    QString HeadGUID() const;
    void setHeadGUID(const QString &guid);

    // The next message of the list, or none at the end of the list (or when it cannot be loaded).
    std::shared_ptr<clsMessage> NextMessage() const;

private:
    const SharedMemory &block() const;
    QByteArray readField(std::size_t offset, std::size_t size) const;
    void writeField(std::size_t offset, const QByteArray &bytes);
    QString readText(std::size_t lenOffset, std::size_t textOffset) const;
    void writeText(std::size_t lenOffset, std::size_t textOffset, const QString &text);

    SharedMemory m_block;
};

class clsMessages
{
public:
    // As clsMessage; a new head holds its own GUID as FirstMsgGUID (an empty list).
    std::int32_t Create(const QString &guid);
    std::int32_t Load(const QString &guid);
    bool isLoaded() const { return m_block.isAttached(); }

    // The head's own GUID (fixed at Create/Load).
    QString szGUID() const { return m_szGUID; }
    QString FirstMsgGUID() const;
    // Raises BadRecord (160) for a text that is not 38 characters.
    void setFirstMsgGUID(const QString &guid);
    // The first message, or none when the list is empty (or it cannot be loaded).
    std::shared_ptr<clsMessage> FirstMsg() const;
    bool isEmpty() const { return FirstMsgGUID() == m_szGUID; }

private:
    const SharedMemory &block() const;
    SharedMemory m_block;
    QString m_szGUID;
};
