// Procedures every part of the component shares: host notifications, the owner registry and GUIDs,
// and byte and text helpers. The rest of the module sits with the types it acts on: the logging
// procedures in diagnostics/Logging.h, the session windows' icon in diagnostics/SessionIcon.h, the
// end of a session and the hand-over of new panel events in queue/SessionEnd.h, the start-up in
// component/Configuration.h.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>

#include "core/Variant.h"

class GuidObject;

namespace modGlobals {

// The component's own application name: what Name returns and the source of its notifications.
extern const QString ApplicationName;

// Host notifications. `source` "-1" means none.
void ZelCommEvent(std::int32_t code, const QVariant &data, const QString &source = QStringLiteral("-1"));
void MakeCallback(const QVariant &tag, const QVariant &value, const QVariant &extra = missingArgument());

// GUIDs and the owner registry.
std::int32_t GetGUID(QString &guid);
std::int32_t GuidString(const QByteArray &guid16, QString &text);
void AddGUIDObject(const std::shared_ptr<GuidObject> &object);
// Registers an object whose lifetime is managed elsewhere (a window); it removes itself on unload.
// True when the registry holds it afterwards (there is no registry outside a session).
bool AddGUIDObjectUnowned(GuidObject *object);
std::shared_ptr<GuidObject> GetGUIDObject(const QString &guid);
void RemoveGUIDObject(const QString &guid);
// Removes the object from the registry when the registry holds it; silent otherwise (a window that
// goes after its session, whose registry is gone or was emptied).
void ForgetGUIDObject(const QString &guid);

// Byte helpers.
std::uint8_t LoByte(std::int32_t value);
std::uint8_t HiByte(std::int32_t value);
std::int32_t MakeLong(std::int32_t high, std::int32_t low);
void StringToByte(const QString &text, QByteArray &bytes);
QString ToString(const QByteArray &bytes, std::int16_t start = -1, std::int16_t count = -1);
QString ToString(const QVariant &bytes, std::int16_t start = -1, std::int16_t count = -1);
// "[06][FF]" for the bytes 6 and 255; an empty text for anything that is not bytes.
QString DebugConvert(const QVariant &data, std::int16_t start = -1, std::int16_t end = -1);

// Shifts an hour (0..23) by `offset` hours: `newHour` receives the shifted hour (0..23), the result
// is the number of days carried (1, 0 or -1 for offsets within -24..24).
std::int16_t TimeOffset(std::int16_t hour, std::int16_t offset, std::int16_t &newHour);

// Catalog texts and their variables.
QString GetCatalogString(std::int16_t number);
QString ReplaceVariable(const QString &text, const QString &name, const QString &value);

// Record memory: UTF-16 text to and from raw memory (byteCount bytes).
void CopyTextToMemory(void *address, const QString &text, int byteCount);
void CopyMemoryToText(QString &text, const void *address, int byteCount);

} // namespace modGlobals
