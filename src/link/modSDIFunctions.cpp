#include "link/modSDIFunctions.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"

namespace modSDIFunctions {

namespace {

const QString kModule = QStringLiteral("modSDIFunctions");

constexpr std::int32_t kItemRead = 15;
constexpr std::int32_t kItemWrite = 14;
constexpr std::int32_t kChecksum = 18;
constexpr std::int32_t kDataItemFunction = 26;

std::uint8_t itemByte(int value)
{
    if (value < 0 || value > 255)
        raiseError(ErrorCode::Overflow, QStringLiteral("item byte %1 does not fit a byte").arg(value));
    return static_cast<std::uint8_t>(value);
}

// Parameter bytes with the unsent element 0 in front of `data`.
QByteArray params(const QByteArray &data)
{
    return QByteArray(1, '\0') + data;
}

// Fills in a new command and queues it; a refusal becomes SendRefused.
void submit(const QByteArray &msgParams, const QString &name, const QString &description, const MsgOwner &frm,
            std::int16_t iPriority, bool boolAuto, std::int32_t commandNo)
{
    const std::shared_ptr<clsPanelMsg> msg = clsPanelMsg::create();
    if (!msgParams.isEmpty())
        msg->MsgParams = msgParams;
    msg->Name = name;
    msg->Description = description;
    msg->Priority = iPriority;
    msg->Auto = boolAuto;
    msg->Abort = false;
    msg->Parent = frm;
    if (msg->SendCmd(commandNo, kDataItemFunction) != 0)
        raiseError(ErrorCode::SendRefused);
}

} // namespace

std::int32_t SDIRequestCRC(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SDIRequestCRC()"), [&] {
        submit(QByteArray(), QStringLiteral("Request CRC"), QStringLiteral("SDI - Request CRC"), frm, iPriority,
               boolAuto, kChecksum);
    });
}

std::int32_t SDIWriteItemBlock(int itemHigh, int itemLow, const QByteArray &data, const MsgOwner &frm,
                               std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SDIWriteItemBlock()"), [&] {
        QByteArray bytes;
        bytes.append(static_cast<char>(itemByte(itemHigh)));
        bytes.append(static_cast<char>(itemByte(itemLow)));
        bytes.append(data);
        submit(params(bytes), QStringLiteral("Write Item Block"),
               QStringLiteral("SDI - WID%1:%2").arg(itemHigh).arg(itemLow), frm, iPriority, boolAuto, kItemWrite);
    });
}

std::int32_t SDIRequestItemBlock(int itemHigh, int itemLow, const MsgOwner &frm, std::int16_t iPriority,
                                 bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SDIRequestItemBlock()"), [&] {
        QByteArray bytes;
        bytes.append(static_cast<char>(itemByte(itemHigh)));
        bytes.append(static_cast<char>(itemByte(itemLow)));
        submit(params(bytes), QStringLiteral("Request Item Block"),
               QStringLiteral("SDI - RID%1:%2").arg(itemHigh).arg(itemLow), frm, iPriority, boolAuto, kItemRead);
    });
}

std::int32_t SDIRequestDataLock(const MsgOwner &frm, std::int16_t iPriority, bool boolAuto)
{
    return errors::guarded(kModule, QStringLiteral("SDIRequestDataLock()"), [&] {
        submit(params(QByteArray(2, '\0')), QStringLiteral("Request Data Lock"),
               QStringLiteral("SDI - Request Data Lock"), frm, iPriority, boolAuto, kItemRead);
    });
}

} // namespace modSDIFunctions
