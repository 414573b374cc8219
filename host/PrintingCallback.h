// The reference host's callback object: prints every notification it receives.
#pragma once

#include "core/HostObjects.h"

#include <QTextStream>
#include <QVariant>

#include <vector>

class PrintingCallback : public HostCallback
{
public:
    struct Event
    {
        qint32 code;
        QVariant data;
        std::optional<QString> source;
    };

    explicit PrintingCallback(QTextStream &out) : m_out(out) {}
    void ZelCommEvent(qint32 &code, const QVariant &data, const std::optional<QString> &source) override;
    const std::vector<Event> &events() const { return m_events; }

    // One readable line for an event: code, data and source.
    static QString describe(const Event &event);

private:
    QTextStream &m_out;
    std::vector<Event> m_events;
};
