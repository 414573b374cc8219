#include "queue/clsMessage.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"

#include <QList>

#include <cstring>

namespace msgrecord {

void Discard(const QString &guid)
{
    if (guid.size() == GuidLength)
        SharedMemory::unlink(guid);
}

QString readGuid(const void *base, std::size_t offset)
{
    // Little-endian UTF-16: decode byte by byte so the field's alignment does not matter.
    const auto *p = static_cast<const unsigned char *>(base) + offset;
    QString text(GuidLength, QChar(0));
    for (int i = 0; i < GuidLength; ++i)
        text[i] = QChar(static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8)));
    return text;
}

void writeGuid(void *base, std::size_t offset, const QString &guid)
{
    // The first 38 characters; a shorter text is padded with NULs so the field is always whole.
    auto *p = static_cast<unsigned char *>(base) + offset;
    std::memset(p, 0, GuidBytes);
    const int n = std::min<int>(GuidLength, static_cast<int>(guid.size()));
    for (int i = 0; i < n; ++i) {
        const char16_t c = guid.at(i).unicode();
        p[2 * i] = static_cast<unsigned char>(c & 0xFF);
        p[2 * i + 1] = static_cast<unsigned char>(c >> 8);
    }
}

std::int16_t readInt16(const void *base, std::size_t offset)
{
    const auto *p = static_cast<const unsigned char *>(base) + offset;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

void writeInt16(void *base, std::size_t offset, std::int16_t value)
{
    auto *p = static_cast<unsigned char *>(base) + offset;
    const auto v = static_cast<std::uint16_t>(value);
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}

QByteArray guidBytes(const QString &guid)
{
    QByteArray bytes(GuidBytes, '\0');
    writeGuid(bytes.data(), 0, guid);
    return bytes;
}

QByteArray int16Bytes(std::int16_t value)
{
    QByteArray bytes(2, '\0');
    writeInt16(bytes.data(), 0, value);
    return bytes;
}

namespace {
DamageWatcher &damageWatcher()
{
    static DamageWatcher watcher;
    return watcher;
}
} // namespace

void setDamageWatcher(DamageWatcher watcher)
{
    damageWatcher() = std::move(watcher);
}

void raiseDamaged(const QString &text)
{
    // A copy: the watcher may replace itself.
    if (const DamageWatcher watcher = damageWatcher())
        watcher();
    raiseError(ErrorCode::BadRecord, text);
}

QByteArray readBlock(const SharedMemory &block, std::size_t offset, std::size_t size)
{
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    // Another process may have cut the block short since it was opened: a damaged record.
    if (!block.read(offset, bytes.data(), size))
        raiseDamaged(QStringLiteral("the record was cut short"));
    return bytes;
}

void writeBlock(SharedMemory &block, std::size_t offset, const QByteArray &bytes)
{
    if (!block.write(offset, bytes.constData(), static_cast<std::size_t>(bytes.size())))
        raiseDamaged(QStringLiteral("the record was cut short"));
}

} // namespace msgrecord

using namespace msgrecord;

namespace {

const QString kMessage = QStringLiteral("clsMessage");
const QString kMessages = QStringLiteral("clsMessages");

// Opens (or creates) the block of `guid`; raises the error of a failed step.
std::int32_t attach(SharedMemory &block, const QString &guid, bool create)
{
    if (guid.size() != GuidLength)
        raiseError(ErrorCode::BadRecord, QStringLiteral("not a GUID text: %1").arg(guid));
    const std::int32_t rc = create ? block.create(guid, RecordSize) : block.open(guid, RecordSize);
    if (!block.isAttached() && rc == SharedMemory::TooSmall)
        raiseDamaged(QStringLiteral("shared memory %1 is shorter than a record").arg(guid));
    if (!block.isAttached())
        raiseError(rc, QStringLiteral("shared memory %1").arg(guid));
    return rc;
}

} // namespace

// ---- clsMessage --------------------------------------------------------------------------------

std::int32_t clsMessage::Create(const QString &guid)
{
    std::int32_t result = 0;
    errors::guarded(kMessage, QStringLiteral("Create()"), [&] {
        const std::int32_t rc = attach(m_block, guid, true);
        if (rc != SharedMemory::AlreadyExisted)
            writeBlock(m_block, OffGuid, guidBytes(guid));
        result = rc;
    });
    return result;
}

std::int32_t clsMessage::Load(const QString &guid)
{
    std::int32_t result = 0;
    errors::guarded(kMessage, QStringLiteral("Load()"), [&] { result = attach(m_block, guid, false); });
    return result;
}

const SharedMemory &clsMessage::block() const
{
    if (!m_block.isAttached())
        raiseError(ErrorCode::TypeMismatch, QStringLiteral("message record not loaded"));
    return m_block;
}

QByteArray clsMessage::readField(std::size_t offset, std::size_t size) const
{
    return msgrecord::readBlock(block(), offset, size);
}

void clsMessage::writeField(std::size_t offset, const QByteArray &bytes)
{
    block();
    msgrecord::writeBlock(m_block, offset, bytes);
}

QString clsMessage::readText(std::size_t lenOffset, std::size_t textOffset) const
{
    const int length = readInt16(readField(lenOffset, 2).constData(), 0);
    if (length <= 0)
        return QString();
    // A length word beyond the field (written by someone else) is a damaged record: never read
    // past the field.
    if (length > 2 * MaxTextChars)
        raiseDamaged(QStringLiteral("text length %1 exceeds its field").arg(length));
    const QByteArray bytes = readField(textOffset, static_cast<std::size_t>(length / 2 * 2));
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    QString text(length / 2, QChar(0));
    for (int i = 0; i < length / 2; ++i)
        text[i] = QChar(static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8)));
    return text;
}

void clsMessage::writeText(std::size_t lenOffset, std::size_t textOffset, const QString &text)
{
    block();
    if (text.size() > MaxTextChars)
        raiseError(ErrorCode::InvalidArgument,
                   QStringLiteral("text of %1 characters does not fit its field of %2").arg(text.size()).arg(MaxTextChars));
    // Length word and text in one write: the field is never left half changed.
    QByteArray bytes(static_cast<qsizetype>(textOffset - lenOffset) + 2 * text.size(), '\0');
    writeInt16(bytes.data(), 0, static_cast<std::int16_t>(text.size() * 2));
    auto *p = reinterpret_cast<unsigned char *>(bytes.data()) + (textOffset - lenOffset);
    for (int i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        p[2 * i] = static_cast<unsigned char>(c & 0xFF);
        p[2 * i + 1] = static_cast<unsigned char>(c >> 8);
    }
    writeField(lenOffset, bytes);
}

QString clsMessage::szGUID() const
{
    return readGuid(readField(OffGuid, GuidBytes).constData(), 0);
}

void clsMessage::setSzGUID(const QString &guid)
{
    writeField(OffGuid, guidBytes(guid));
}

QString clsMessage::Name() const
{
    return readText(OffNameLen, OffName);
}

void clsMessage::setName(const QString &name)
{
    writeText(OffNameLen, OffName, name);
}

std::int16_t clsMessage::Priority() const
{
    return readInt16(readField(OffPriority, 2).constData(), 0);
}

void clsMessage::setPriority(std::int16_t priority)
{
    writeField(OffPriority, int16Bytes(priority));
}

std::int16_t clsMessage::Auto() const
{
    return readInt16(readField(OffAuto, 2).constData(), 0);
}

void clsMessage::setAuto(std::int16_t value)
{
    writeField(OffAuto, int16Bytes(value));
}

QByteArray clsMessage::dataBytes() const
{
    const int length = readInt16(readField(OffDataLen, 2).constData(), 0);
    if (length <= 0)
        return QByteArray();
    if (length > MaxDataBytes)
        raiseDamaged(QStringLiteral("data length %1 exceeds its field").arg(length));
    return readField(OffData, static_cast<std::size_t>(length));
}

QVariant clsMessage::Data() const
{
    const QByteArray bytes = dataBytes();
    return bytes.isEmpty() ? QVariant() : QVariant(bytes);
}

void clsMessage::setData(const QVariant &data)
{
    block();
    QByteArray bytes;
    if (!data.isValid() || data.isNull()) {
        // an empty value: no data
    } else if (data.typeId() == QMetaType::QByteArray) {
        bytes = data.toByteArray();
    } else if (data.canConvert<QVariantList>() && data.typeId() != QMetaType::QString) {
        const QVariantList list = data.toList();
        bytes.reserve(list.size());
        for (const QVariant &element : list) {
            bool ok = false;
            const int value = element.toInt(&ok);
            if (!ok)
                raiseError(ErrorCode::TypeMismatch, QStringLiteral("data element is not a number"));
            if (value < 0 || value > 255)
                raiseError(ErrorCode::Overflow, QStringLiteral("data element %1 is not a byte").arg(value));
            bytes.append(static_cast<char>(value));
        }
    } else {
        raiseError(ErrorCode::TypeMismatch, QStringLiteral("data is not a byte array"));
    }
    // Data longer than the field is refused whole: it is never cut and never written past the field.
    if (bytes.size() > MaxDataBytes)
        raiseError(ErrorCode::InvalidArgument,
                   QStringLiteral("%1 data bytes do not fit the field of %2").arg(bytes.size()).arg(MaxDataBytes));
    // Length word and bytes in one write.
    writeField(OffDataLen, int16Bytes(static_cast<std::int16_t>(bytes.size())) + bytes);
}

QString clsMessage::OwnerName() const
{
    return readText(OffOwnerNameLen, OffOwnerName);
}

void clsMessage::setOwnerName(const QString &name)
{
    writeText(OffOwnerNameLen, OffOwnerName, name);
}

QString clsMessage::OwnerGUID() const
{
    return readGuid(readField(OffOwnerGuid, GuidBytes).constData(), 0);
}

void clsMessage::setOwnerGUID(const QString &guid)
{
    writeField(OffOwnerGuid, guidBytes(guid));
}

QString clsMessage::ClientGUID() const
{
    return readGuid(readField(OffClientGuid, GuidBytes).constData(), 0);
}

void clsMessage::setClientGUID(const QString &guid)
{
    writeField(OffClientGuid, guidBytes(guid));
}

QString clsMessage::NextMsgGUID() const
{
    return readGuid(readField(OffNextMsgGuid, GuidBytes).constData(), 0);
}

void clsMessage::setNextMsgGUID(const QString &guid)
{
    writeField(OffNextMsgGuid, guidBytes(guid));
}

QString clsMessage::HeadGUID() const
{
    return readGuid(readField(OffHeadGuid, GuidBytes).constData(), 0);
}

void clsMessage::setHeadGUID(const QString &guid)
{
    writeField(OffHeadGuid, guidBytes(guid));
}

std::shared_ptr<clsMessage> clsMessage::NextMessage() const
{
    return errors::guardedValue(kMessage, QStringLiteral("NextMessage[Get]"), std::shared_ptr<clsMessage>(), [&] {
        const QString next = NextMsgGUID();
        if (next == HeadGUID())
            return std::shared_ptr<clsMessage>();
        auto msg = std::make_shared<clsMessage>();
        const std::int32_t rc = msg->Load(next);
        if (rc != 0 || !msg->isLoaded())
            raiseError(rc != 0 ? rc : ErrorCode::TypeMismatch);
        return msg;
    });
}

// ---- clsMessages -------------------------------------------------------------------------------

std::int32_t clsMessages::Create(const QString &guid)
{
    std::int32_t result = 0;
    errors::guarded(kMessages, QStringLiteral("Create()"), [&] {
        const std::int32_t rc = attach(m_block, guid, true);
        m_szGUID = guid;
        if (rc != SharedMemory::AlreadyExisted)
            writeBlock(m_block, OffFirstMsgGuid, guidBytes(guid));
        result = rc;
    });
    return result;
}

std::int32_t clsMessages::Load(const QString &guid)
{
    std::int32_t result = 0;
    errors::guarded(kMessages, QStringLiteral("Load()"), [&] {
        result = attach(m_block, guid, false);
        m_szGUID = guid;
    });
    return result;
}

const SharedMemory &clsMessages::block() const
{
    if (!m_block.isAttached())
        raiseError(ErrorCode::TypeMismatch, QStringLiteral("list head not loaded"));
    return m_block;
}

QString clsMessages::FirstMsgGUID() const
{
    return readGuid(readBlock(block(), OffFirstMsgGuid, GuidBytes).constData(), 0);
}

void clsMessages::setFirstMsgGUID(const QString &guid)
{
    block();
    if (guid.size() != GuidLength)
        raiseError(ErrorCode::BadRecord, QStringLiteral("not a GUID text: %1").arg(guid));
    writeBlock(m_block, OffFirstMsgGuid, guidBytes(guid));
}

std::shared_ptr<clsMessage> clsMessages::FirstMsg() const
{
    return errors::guardedValue(kMessages, QStringLiteral("FirstMsg[Get]"), std::shared_ptr<clsMessage>(), [&] {
        const QString first = FirstMsgGUID();
        if (first == m_szGUID)
            return std::shared_ptr<clsMessage>();
        auto msg = std::make_shared<clsMessage>();
        const std::int32_t rc = msg->Load(first);
        if (rc != 0 || !msg->isLoaded())
            raiseError(rc != 0 ? rc : ErrorCode::TypeMismatch);
        return msg;
    });
}

void msgrecord::ListWalk::visit(const clsMessage &msg)
{
    const QString guid = msg.szGUID();
    if (m_seen.contains(guid))
        raiseDamaged(QStringLiteral("the links of a list form a cycle at %1").arg(guid));
    if (m_seen.size() >= MaxWalk)
        raiseDamaged(QStringLiteral("a list longer than %1 messages").arg(MaxWalk));
    m_seen.insert(guid);
}
