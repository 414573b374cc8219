// The six properties every transport keeps the same way: stored as given, read back unchanged.
// `Name` reads the class's default name while no name was stored.
#pragma once

#include "core/IControlType.h"

class ControlTypeBase : public IControlType
{
public:
    void setName(const QString &name) override { m_name = name; }
    bool Remote() const override { return m_remote; }
    void setRemote(bool remote) override { m_remote = remote; }
    bool CallbackSet() const override { return m_callbackSet; }
    void setCallbackSet(bool set) override { m_callbackSet = set; }
    bool Connected() const override { return m_connected; }
    void setConnected(bool connected) override { m_connected = connected; }
    bool AbortPending() const override { return m_abortPending; }
    void setAbortPending(bool pending) override { m_abortPending = pending; }
    bool AbortWorkInProgress() const override { return m_abortWorkInProgress; }
    void setAbortWorkInProgress(bool abort) override { m_abortWorkInProgress = abort; }

protected:
    explicit ControlTypeBase(bool remote) : m_remote(remote) {}

    QString m_name;
    bool m_remote;
    bool m_callbackSet = false;
    bool m_connected = false;
    bool m_abortPending = false;
    bool m_abortWorkInProgress = false;
};
