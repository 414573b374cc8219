#include "server/HostExports.h"

#include "server/BusValues.h"

#include <QDBusMessage>

#include <algorithm>

namespace quarvobus {

namespace {

bool entryValues(const std::shared_ptr<HostDataLockEntry> &entry, int &value, int &type, QString &name, int &number)
{
    if (!entry) {
        value = type = number = 0;
        name.clear();
        return false;
    }
    value = entry->Value();
    type = entry->DataLockType();
    name = entry->Name();
    number = entry->Number();
    return true;
}

} // namespace

void CallbackExport::ZelCommEvent(int code, const QDBusVariant &data, const QStringList &source)
{
    qint32 eventCode = code;
    const std::optional<QString> from = source.isEmpty() ? std::nullopt : std::optional<QString>(source.first());
    m_callback->ZelCommEvent(eventCode, fromBus(data.variant()), from);
}

bool SettingsExport::DataLock(int position, int &Value, int &DataLockType, QString &Name, int &Number)
{
    return entryValues(m_s->dataLock(position), Value, DataLockType, Name, Number);
}

bool SettingsExport::DataLockByKey(const QString &key, int &Value, int &DataLockType, QString &Name, int &Number)
{
    return entryValues(m_s->dataLockByKey(key), Value, DataLockType, Name, Number);
}

bool PifExport::Item(const QString &key, short &SISize, short &NofSubItems)
{
    const std::shared_ptr<HostPifItem> item = m_pif->Item(key);
    SISize = item ? item->SISize() : 0;
    NofSubItems = item ? item->NofSubItems() : 0;
    return item != nullptr;
}

int PifExport::Locate(short item, int startRecord)
{
    return m_pif->locate(item, startRecord);
}

QByteArray PifExport::Read(int location, int length)
{
    QByteArray buffer(std::max(length, 0), '\0');
    m_pif->read(buffer, location);
    return buffer;
}

void PifExport::Write(const QByteArray &data, int location)
{
    m_pif->write(data, location);
}

int PifExport::QueryConnectionType(int arg1, int arg2, int arg3)
{
    const std::optional<qint32> answer = m_pif->queryConnectionType(arg1, arg2, arg3);
    if (!answer)
        sendErrorReply(QDBusError::Failed, QStringLiteral("the host's connection-type query failed"));
    return answer.value_or(0);
}

int PifExport::AcceptDataLock(int dataLock, int arg1, int arg2, int arg3, int &newDataLock)
{
    qint32 lock = dataLock;
    const qint32 result = m_pif->acceptDataLock(lock, arg1, arg2, arg3);
    newDataLock = lock;
    return result;
}

void PifExport::TakeTransferFile(const QString &path)
{
    m_pif->takeTransferFile(path);
}

void PifExport::FinishSend()
{
    m_pif->finishSend();
}

QString PifExport::Passcode()
{
    return m_pif->Passcode();
}

} // namespace quarvobus
