// The connection dialog as the transports use it; frmCommInterface implements it and passes itself
// as the `frm` argument of the transport operations. A transport adds its progress lines to the
// dialog's status pad (StatusSink) and queues the probes and waits of a network or enhanced-direct
// connection in the dialog's name, so that their answers reach the dialog's handshake.
// Transports accept a null dialog everywhere (unattended sessions and shared utilities pass none).
#pragma once

#include "link/clsPanelMsg.h"
#include "transports/StatusSink.h"

class CommDialog : public StatusSink
{
public:
    // The dialog as the owner of a message a transport queues for it.
    virtual MsgOwner probeOwner() = 0;
};
