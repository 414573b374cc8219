// The connection as the transports use it; PanelConnection implements it and passes itself as the
// `frm` argument of the transport operations. A transport adds its progress lines to the status
// (StatusSink: the dialog's status pad when there is one), queues the probes and waits of a network
// or enhanced-direct connection in the connection's name, so that their answers reach its
// handshake, and offers a panel's net-ring to the session's connection (SessionState::connection,
// asked for this interface). Transports accept a null dialog everywhere (shared utilities pass
// none).
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
