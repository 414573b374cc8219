#include "PanelFrame.h"

namespace panelsim {

quint8 PanelFrame::sum(const QByteArray &bytes)
{
    quint32 total = 0;
    for (const char c : bytes)
        total += static_cast<quint8>(c);
    return static_cast<quint8>(total & 0xFF);
}

static QByteArray buildFrame(quint8 address, quint8 target, quint8 command, const QByteArray &data)
{
    const QByteArray body = data.left(253);
    QByteArray frame;
    frame.reserve(body.size() + 4);
    frame.append(static_cast<char>(address));
    frame.append(static_cast<char>(body.size() + 2));
    frame.append(static_cast<char>(command));
    frame.append(body);
    frame.append(static_cast<char>((target - PanelFrame::sum(frame)) & 0xFF));
    return frame;
}

QByteArray PanelFrame::answer(Addressing a, quint8 command, const QByteArray &data)
{
    return buildFrame(answerAddress(a), answerTarget(a), command, data);
}

QByteArray PanelFrame::request(Addressing a, quint8 command, const QByteArray &data)
{
    return buildFrame(requestAddress(a), requestTarget(a), command, data);
}

} // namespace panelsim
