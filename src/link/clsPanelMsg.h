// One panel command: what to send (command, function, parameter bytes), how to send it (retries,
// answer time-out), who owns it, and the frame that results.
//
// Frame layout (all single bytes): address, length L (bytes after this one, checksum included),
// command, L - 2 data bytes, checksum. The checksum makes the sum of all bytes, modulo 256, equal a
// target that depends on the link: local line (HostDataMode false) address 0xE4, target 0x7F;
// remote link (HostDataMode true) address 0x00, target 0xFF.
//
// Lifetime: create a command with clsPanelMsg::create(). It registers itself in GuidRegistry under
// its szGUID, and the registry keeps it alive while the message is queued or in flight, so that the
// transport can find it by the message's client GUID and read OutputData, TimeOut, RetryCount,
// RetryMax and Name. The queue removes it again when the exchange completes (ReceiveComplete: the
// current message's client is removed), when its message is aborted, or when the message queue
// unloads and empties the registry. SendCmd removes it itself when the frame cannot be built or the
// queue refuses the message. Without a message queue SendCmd only builds the frame and the command
// stays registered (findable by its GUID) until the registry is emptied.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <QObject>
#include <QPointer>

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>

#include "core/GuidRegistry.h"
#include "core/SessionWindow.h"

// The owner of a panel command (its Parent): the object that receives the answer. Any object that
// offers `QString szGUID() const` (its key in GuidRegistry, where answers are routed to it through
// ResponseReceiver) and `QString Name() const` (the name its queued messages are filed under; the
// queue aborts an owner's messages by this name when the owner unloads, e.g. "frmMsgQueue")
// converts to a MsgOwner implicitly, so windows, the message queue and operation objects are passed
// as they are. The reference is not owning; for QObject owners a guard notices when the owner is
// destroyed, and reading it then raises ObjectRequired instead of touching freed memory.
template <typename T>
concept PanelMsgOwnerType = requires(const T &owner) {
    { owner.szGUID() } -> std::convertible_to<QString>;
    { owner.Name() } -> std::convertible_to<QString>;
};

class MsgOwner
{
public:
    MsgOwner() = default;
    MsgOwner(std::nullptr_t) {}
    template <PanelMsgOwnerType T>
    MsgOwner(T *owner) // NOLINT(google-explicit-constructor): owners are passed as they are
    {
        if (!owner)
            return;
        m_guid = [owner] { return QString(owner->szGUID()); };
        m_name = [owner] { return QString(owner->Name()); };
        if constexpr (std::is_base_of_v<QObject, std::remove_const_t<T>>) {
            m_guard = static_cast<QObject *>(const_cast<std::remove_const_t<T> *>(owner));
            m_guarded = true;
        }
        m_address = static_cast<const void *>(owner);
    }

    template <PanelMsgOwnerType T>
    MsgOwner(const QPointer<T> &owner) : MsgOwner(owner.data()) // NOLINT(google-explicit-constructor)
    {
    }
    template <PanelMsgOwnerType T>
    MsgOwner(const std::shared_ptr<T> &owner) : MsgOwner(owner.get()) // NOLINT(google-explicit-constructor)
    {
    }
    template <PanelMsgOwnerType T>
    MsgOwner(const SessionWindow<T> &owner) : MsgOwner(owner.data()) // NOLINT(google-explicit-constructor)
    {
    }

    bool isNull() const { return m_address == nullptr; }
    // The owner's GUID and name; raise ObjectRequired when there is no owner (any more).
    QString szGUID() const;
    QString Name() const;
    // Identity of the referenced object (for comparisons in tests and diagnostics).
    const void *address() const { return m_address; }

private:
    void check() const;

    std::function<QString()> m_guid;
    std::function<QString()> m_name;
    QPointer<QObject> m_guard;
    bool m_guarded = false;
    const void *m_address = nullptr;
};

class clsPanelMsg : public GuidObjectBase, public std::enable_shared_from_this<clsPanelMsg>
{
    struct Token
    {
    };

public:
    // Creates a command: TimeStamp now, RetryMax from the "NumOfNaks" setting, registered in
    // GuidRegistry (which gives it its szGUID). Never null.
    static std::shared_ptr<clsPanelMsg> create();
    explicit clsPanelMsg(Token);

    // Fields, in interface order.
    std::uint8_t MsgFunction = 0; // function number; 0 = raw message (see OutputBuffer)
    // Parameter bytes. For a framed message (MsgFunction not 0) the array holds elements 0 .. n and
    // element 0 is a placeholder that is never sent: elements 1 .. n are the data bytes. For a raw
    // message (MsgFunction 0) every byte of the array is sent, as it stands. Empty = no parameters.
    QByteArray MsgParams;
    // szGUID(): this command's key in GuidRegistry (inherited; set at creation).
    std::int32_t MsgType = 0; // 1 when the command number is 20 (fixed 11-byte form), else 0
    QString Name;
    QDateTime TimeStamp;
    QString Description;
    std::int16_t Priority = 0;
    bool Abort = false;
    bool Auto = false;
    // The owner. Not owned; read only by SendCmd (its GUID and name go into the queued message).
    // Without a Parent the message is queued with an empty owner GUID and name.
    MsgOwner Parent;
    QByteArray OutputData; // the frame built by SendCmd
    bool CallBackFlag = false;
    std::int16_t RetryCount = 0;
    std::int16_t RetryMax = 0;
    std::int16_t TimeOut = 0; // 12 normally; 0 when no answer is awaited

    // Builds the frame for CommandNo/FunctionNo into OutputData and adds the message to the
    // message queue's work queue (when one exists; otherwise only the frame is built). Returns 0,
    // or the error number: a frame that cannot be built (more data than the frame can carry, a
    // number outside a byte) or the queue's refusal. On an error nothing is queued and the command
    // leaves the registry (a later SendCmd registers it again).
    std::int32_t SendCmd(std::int32_t CommandNo, std::int32_t FunctionNo);

    // The frame for the current fields (empty on an error, which is reported).
    QByteArray OutputBuffer();

    // Frame length in bytes (11 for command 20, else 4 + the highest index of MsgParams); also
    // stores the length byte (length - 2). 0 on an error, which is reported.
    std::int16_t Length();

private:
    std::int16_t computeLength();   // throws when the length does not fit the length byte
    QByteArray buildFrame();        // throws when the frame cannot be built
    std::int32_t makeOutput(QByteArray &frame);
    void queueMessage();            // throws the queue's refusal
    void unregister();              // drops the registry's reference after a failed SendCmd

    std::uint8_t m_address = 0;
    std::uint8_t m_lengthByte = 0;
    std::uint8_t m_command = 0;
};
