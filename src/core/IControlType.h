// The one interface through which every part of the component drives the session's transport
// (modem, plain direct line, enhanced direct link, network link). It has no behaviour of its own:
// each implementation keeps the six properties in its own fields and supplies the eight operations.
// Operations return 0 on success or an error number; they never let an error escape. Every
// operation that takes the connection dialog accepts a null dialog.
//
// The interface sits in core so that every layer that drives the current transport (the queue, the
// frame exchange, the connection dialog, the component) may use it; the transports implement it.
#pragma once

#include <QString>

#include <cstdint>

// The connection dialog as a transport uses it (transports/CommDialog.h): the status pad, and the
// owner of the probes the network and enhanced-direct transports send.
class CommDialog;
class clsMessage;

class IControlType
{
public:
    virtual ~IControlType() = default;

    // Properties, each read then written.
    virtual QString Name() const = 0;
    virtual void setName(const QString &name) = 0;
    virtual bool Remote() const = 0;
    virtual void setRemote(bool remote) = 0;
    virtual bool CallbackSet() const = 0;
    virtual void setCallbackSet(bool set) = 0;
    virtual bool Connected() const = 0;
    virtual void setConnected(bool connected) = 0;
    virtual bool AbortPending() const = 0;
    virtual void setAbortPending(bool pending) = 0;
    virtual bool AbortWorkInProgress() const = 0;
    virtual void setAbortWorkInProgress(bool abort) = 0;

    // Line operations; `frm` may be null, `bDisplay` governs the optional status lines.
    virtual std::int32_t ControlInitialize(CommDialog *frm, bool bDisplay) = 0;
    virtual std::int32_t ControlDisconnect(CommDialog *frm, bool bDisplay) = 0;
    virtual std::int32_t ControlRinging(CommDialog *frm, bool bDisplay) = 0;
    virtual std::int32_t PortPrep(CommDialog *frm, bool bDisplay) = 0;
    virtual std::int32_t Connect(CommDialog *frm, bool bDisplay) = 0;
    virtual std::int32_t Answer(CommDialog *frm, bool bDisplay) = 0;

    // Sends one queued message to the panel (and, on blocking links, delivers its answer).
    virtual std::int32_t SendData(clsMessage &msg) = 0;
    // Decodes bytes that arrived for the link, in place in the message record.
    virtual std::int32_t DataReceived(clsMessage &msg) = 0;
};
