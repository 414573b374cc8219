#include "core/modGlobals.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/GuidRegistry.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "external/BitOps.h"
#include "external/StringCatalog.h"

#include <QUuid>

#include <cstring>

namespace modGlobals {

const QString ApplicationName = QStringLiteral("Quarvo");

namespace {
const QString kModule = QStringLiteral("modGlobals");
}

void ZelCommEvent(std::int32_t code, const QVariant &data, const QString &source)
{
    errors::guarded(kModule, QStringLiteral("ZelCommEvent()"), [&] {
        SessionState &state = sessionState();
        const std::shared_ptr<HostCallback> callback = state.hostCallback;
        if (!callback)
            return;
        std::int32_t eventCode = code;
        if (code == 3)
            state.sessionEndReported = true;
        if (state.UnattendedFlag)
            callback->ZelCommEvent(eventCode, data, state.accountName);
        else if (source != QLatin1String("-1"))
            callback->ZelCommEvent(eventCode, data, source);
        else
            callback->ZelCommEvent(eventCode, data, std::nullopt);
    });
}

void MakeCallback(const QVariant &tag, const QVariant &value, const QVariant &extra)
{
    errors::guarded(kModule, QStringLiteral("MakeCallback()"), [&] {
        const QVariantList args{tag, value, extra, ApplicationName};
        ZelCommEvent(5, args);
    });
}

std::int32_t GetGUID(QString &guid)
{
    const QUuid id = QUuid::createUuid();
    if (id.isNull())
        return 1;
    return GuidString(id.toRfc4122(), guid);
}

std::int32_t GuidString(const QByteArray &guid16, QString &text)
{
    // The registry format: {8-4-4-4-12} in upper-case hexadecimal, 38 characters.
    const QUuid id = QUuid::fromRfc4122(guid16);
    text = id.toString(QUuid::WithBraces).toUpper();
    return 0;
}

namespace {

// Files `object` in the registry under its GUID, giving it a new GUID first when it has none.
// `keep` holds the object alive while it is registered; without it the object's owner must
// remove it before it goes.
void addToRegistry(GuidObject *object, const std::shared_ptr<GuidObject> &keep)
{
    errors::guarded(kModule, QStringLiteral("AddGUIDObject()"), [&] {
        SessionState &state = sessionState();
        if (!state.guidRegistry)
            return;
        if (!object)
            raiseError(ErrorCode::ObjectRequired);
        QString key = object->szGUID();
        if (key.isEmpty()) {
            const std::int32_t rc = GetGUID(key);
            if (rc != 0)
                raiseError(rc);
            object->setSzGUID(key);
        }
        if (keep)
            state.guidRegistry->add(key, keep);
        else
            state.guidRegistry->addUnowned(key, object);
    });
}

} // namespace

void AddGUIDObject(const std::shared_ptr<GuidObject> &object)
{
    addToRegistry(object.get(), object);
}

bool AddGUIDObjectUnowned(GuidObject *object)
{
    addToRegistry(object, nullptr);
    const SessionState &state = sessionState();
    return object && state.guidRegistry && state.guidRegistry->contains(object->szGUID());
}

std::shared_ptr<GuidObject> GetGUIDObject(const QString &guid)
{
    SessionState &state = sessionState();
    if (!state.guidRegistry)
        return nullptr;
    return state.guidRegistry->get(guid);
}

void ForgetGUIDObject(const QString &guid)
{
    SessionState &state = sessionState();
    if (state.guidRegistry && state.guidRegistry->contains(guid))
        state.guidRegistry->remove(guid);
}

void RemoveGUIDObject(const QString &guid)
{
    errors::guarded(kModule, QStringLiteral("RemoveGUIDObject()"), [&] {
        SessionState &state = sessionState();
        if (!state.guidRegistry)
            raiseError(ErrorCode::ObjectRequired);
        state.guidRegistry->remove(guid);
    });
}

std::uint8_t LoByte(std::int32_t value)
{
    return static_cast<std::uint8_t>(BitOps::And(value, 255));
}

std::uint8_t HiByte(std::int32_t value)
{
    return static_cast<std::uint8_t>(BitOps::ShiftRight(BitOps::And(value, 65280), 8));
}

std::int32_t MakeLong(std::int32_t high, std::int32_t low)
{
    return BitOps::ShiftLeft(high, 8) + low;
}

void StringToByte(const QString &text, QByteArray &bytes)
{
    bytes.resize(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        bytes[i] = static_cast<char>(c <= 0xFF ? c : '?');
    }
}

QString ToString(const QByteArray &bytes, std::int16_t start, std::int16_t count)
{
    return errors::guardedValue(kModule, QStringLiteral("ToString()"), QString(), [&] {
        const qsizetype upper = bytes.size() - 1;
        const qsizetype first = start < 0 ? 0 : start;
        qsizetype last = count == -1 ? upper : first + count - 1;
        if (last > upper)
            last = upper;
        QString text;
        for (qsizetype i = first; i <= last; ++i)
            text.append(QChar(static_cast<unsigned char>(bytes.at(i))));
        return text;
    });
}

namespace {

// Bytes of a byte array, a list of numbers, or one number; false for anything else.
bool toBytes(const QVariant &data, QByteArray &out)
{
    switch (data.typeId()) {
    case QMetaType::QByteArray:
        out = data.toByteArray();
        return true;
    case QMetaType::QVariantList: {
        const QVariantList list = data.toList();
        out.resize(list.size());
        for (qsizetype i = 0; i < list.size(); ++i) {
            bool ok = false;
            const qlonglong v = list.at(i).toLongLong(&ok);
            if (!ok || v < 0 || v > 255)
                raiseError(ErrorCode::Overflow, QStringLiteral("value outside a byte"));
            out[i] = static_cast<char>(v);
        }
        return true;
    }
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::UChar:
    case QMetaType::Char:
    case QMetaType::SChar: {
        const qlonglong v = data.toLongLong();
        if (v < 0 || v > 255)
            raiseError(ErrorCode::Overflow, QStringLiteral("value outside a byte"));
        out = QByteArray(1, static_cast<char>(v));
        return true;
    }
    default:
        return false;
    }
}

} // namespace

QString ToString(const QVariant &bytes, std::int16_t start, std::int16_t count)
{
    QByteArray raw;
    if (!errors::guardedValue(kModule, QStringLiteral("ToString()"), false, [&] { return toBytes(bytes, raw); }))
        return QString();
    return ToString(raw, start, count);
}

QString DebugConvert(const QVariant &data, std::int16_t start, std::int16_t end)
{
    return errors::guardedValue(kModule, QStringLiteral("DebugConvert()"), QString(), [&] {
        QByteArray raw;
        if (!toBytes(data, raw))
            return QString();
        const qsizetype first = start < 0 ? 0 : start;
        const qsizetype last = (end < 0 || end > raw.size() - 1) ? raw.size() - 1 : end;
        QString text;
        text.reserve((last - first + 1) * 4);
        for (qsizetype i = first; i <= last; ++i)
            text += QStringLiteral("[%1]").arg(static_cast<unsigned char>(raw.at(i)), 2, 16, QLatin1Char('0')).toUpper();
        return text;
    });
}

std::int16_t TimeOffset(std::int16_t hour, std::int16_t offset, std::int16_t &newHour)
{
    // Within a day's worth of adjustment (the window's spinner runs from -24 to +24) the carry is
    // 1, 0 or -1. A larger adjustment from the host's settings carries as many days as it spans, so
    // the new hour always stays within 0..23.
    const int sum = hour + offset;
    int carry = sum / 24;
    int shifted = sum % 24;
    if (shifted < 0) {
        shifted += 24;
        --carry;
    }
    newHour = static_cast<std::int16_t>(shifted);
    return static_cast<std::int16_t>(carry);
}

QString GetCatalogString(std::int16_t number)
{
    return errors::guardedValue(kModule, QStringLiteral("GetCatalogString()"), QString(), [&] {
        SessionState &state = sessionState();
        if (!state.stringCatalog)
            state.stringCatalog = std::make_shared<StringCatalog>();
        std::int16_t n = number;
        return state.stringCatalog->GetCatalogStringCOMM(n);
    });
}

QString ReplaceVariable(const QString &text, const QString &name, const QString &value)
{
    return errors::guardedValue(kModule, QStringLiteral("ReplaceVariable()"), QString(), [&] {
        // Every marker is replaced once; the search goes on after the inserted value, so a value
        // that itself holds the marker cannot make the replacement run for ever.
        const QString marker = QLatin1Char('%') + name + QLatin1Char('%');
        QString result = text;
        qsizetype from = 0;
        for (;;) {
            const qsizetype p = result.indexOf(marker, from, Qt::CaseSensitive);
            if (p < 0)
                break;
            result.replace(p, marker.size(), value);
            from = p + value.size();
        }
        return result;
    });
}

void CopyTextToMemory(void *address, const QString &text, int byteCount)
{
    if (!address || byteCount <= 0)
        return;
    const int available = static_cast<int>(text.size() * 2);
    const int n = std::min(byteCount, available);
    std::memcpy(address, text.utf16(), static_cast<size_t>(n));
}

void CopyMemoryToText(QString &text, const void *address, int byteCount)
{
    if (!address || byteCount <= 0) {
        text.clear();
        return;
    }
    // Copied through memcpy: the record's fields need not be aligned for char16_t.
    text.resize(byteCount / 2);
    std::memcpy(text.data(), address, static_cast<size_t>(byteCount / 2) * 2);
}

} // namespace modGlobals
