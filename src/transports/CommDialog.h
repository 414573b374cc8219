// The connection dialog as the transports use it; frmCommInterface implements it and passes itself
// as the `frm` argument of the transport operations. A transport adds its progress lines to the
// dialog's status pad (StatusSink), queues the probes and waits of a network or enhanced-direct
// connection in the dialog's name, so that their answers reach the dialog's handshake, and shows a
// panel's net-ring on the session's dialog (SessionState::connectionDialog, asked for this
// interface). Transports accept a null dialog everywhere (unattended sessions and shared utilities
// pass none).
#pragma once

#include "link/clsPanelMsg.h"
#include "transports/StatusSink.h"

class CommDialog : public StatusSink
{
public:
    // The dialog as the owner of a message a transport queues for it.
    virtual MsgOwner probeOwner() = 0;
    // The answering state of a panel's net-ring: the dialog offers to answer while `ringing`.
    virtual void showNetRing(bool ringing) = 0;
};
