#include "PanelResponder.h"

#include "DatagramCodec.h"

#include <QDate>

namespace panelsim {

namespace {

QByteArray word(int value)
{
    QByteArray b(2, '\0');
    b[0] = static_cast<char>((value >> 8) & 0xFF);
    b[1] = static_cast<char>(value & 0xFF);
    return b;
}

quint8 at(const QByteArray &bytes, int i)
{
    return (i >= 0 && i < bytes.size()) ? static_cast<quint8>(bytes[i]) : 0;
}

} // namespace

bool PanelResponder::isProbeText(const QByteArray &payload)
{
    return payload == "LANVesk" || payload == "ATA" || payload == "LOCAL_CONN";
}

PanelRequest PanelResponder::describeProbe(const QByteArray &text)
{
    PanelRequest r;
    r.name = QStringLiteral("Null Command");
    r.aliases = QStringList{QStringLiteral("null"), QStringLiteral("probe"), QString::fromLatin1(text)};
    r.numbers = QStringList{QStringLiteral("20/0")};
    r.detail = QString::fromLatin1(text);
    r.command = ExecCommand;
    r.params = text;
    r.isProbe = true;
    return r;
}

QByteArray PanelResponder::probeAnswer(const QByteArray &text)
{
    if (text == "LANVesk" || text == "ATA")
        return QByteArrayLiteral("CONNECT");
    if (text == "LOCAL_CONN")
        return QByteArrayLiteral("LOCAL_CONN OK");
    return {};
}

PanelRequest PanelResponder::describeFrame(const QByteArray &frame)
{
    PanelRequest r;
    r.command = at(frame, 2);
    const QByteArray data = frame.mid(3, qMax<qsizetype>(0, frame.size() - 4));
    auto set = [&r](const char *name, std::initializer_list<const char *> aliases) {
        r.name = QString::fromLatin1(name);
        for (const char *a : aliases)
            r.aliases.append(QString::fromLatin1(a));
    };
    if (r.command == ExecCommand) {
        r.function = at(data, 0);
        r.params = data.mid(1);
        r.numbers = QStringList{QStringLiteral("20/%1").arg(r.function), QStringLiteral("20")};
        switch (r.function) {
        case 19:
            if (at(r.params, 0) == 0) {
                set("Request Event Index", {"eventindex"});
            } else {
                set("Request Event Log", {"eventlog"});
                r.detail = QString::number((at(r.params, 1) << 8) | at(r.params, 2));
            }
            break;
        case 20:
            set("Set Event Index", {"setindex"});
            r.detail = QString::number((at(r.params, 0) << 8) | at(r.params, 1));
            break;
        case 22:
            set("Change Panel Date", {"setdate"});
            r.detail = QStringLiteral("%1/%2/%3 %4:%5 %6").arg(at(r.params, 0)).arg(at(r.params, 1)).arg(at(r.params, 2))
                           .arg(at(r.params, 3)).arg(at(r.params, 4)).arg(at(r.params, 5));
            break;
        case 26: set("Request Panel Status", {"status", "Keep Alive", "keepalive"}); break;
        case 30:
            set("Panel Goodbye", {"goodbye"});
            r.detail = QString::number(at(r.params, 0));
            break;
        case 32:
            set("Passcode Verification", {"passcode"});
            r.detail = QString::fromLatin1(r.params.left(5).toHex()).toUpper();
            break;
        case 33: set("Request Panel Date", {"date"}); break;
        case 40:
            set("Exclusive Command", {"exclusive"});
            r.detail = at(r.params, 0) == 255 ? QStringLiteral("ON") : QStringLiteral("OFF");
            break;
        default: set("Unknown Command", {"unknown"}); break;
        }
        return r;
    }
    r.params = data;
    r.numbers = QStringList{QString::number(r.command)};
    const QString block = QStringLiteral("%1:%2").arg(at(data, 0)).arg(at(data, 1));
    switch (r.command) {
    case WriteBlockCommand:
        set("Write Item Block", {"write", "writeblock"});
        r.detail = block + QStringLiteral(" (%1 bytes)").arg(qMax<qsizetype>(0, data.size() - 2));
        break;
    case ReadBlockCommand:
        if (at(data, 0) == 0 && at(data, 1) == 0)
            set("Request Data Lock", {"datalock", "Request Item Block", "read", "readblock"});
        else
            set("Request Item Block", {"read", "readblock"});
        r.detail = block;
        break;
    case CrcCommand: set("Request CRC", {"crc"}); break;
    default: set("Unknown Command", {"unknown"}); break;
    }
    return r;
}

QByteArray PanelResponder::statusAnswer(const PanelState &state, Addressing addressing)
{
    QByteArray data;
    data.append(static_cast<char>(state.romRevision[0]));
    data.append(static_cast<char>(state.romRevision[1]));
    data.append(static_cast<char>(state.romRevision[2]));
    data.append(static_cast<char>(state.statusByte));
    data.append(static_cast<char>(state.panelType & 0xFF));
    data.append(static_cast<char>(state.exclusive ? 0xFF : 0x00));
    data.append(QByteArray(5, '\0'));
    // The new-event word travels low byte first (frame bytes 14 and 15).
    data.append(static_cast<char>(state.eventCounter & 0xFF));
    data.append(static_cast<char>(state.eventCounter >> 8));
    return PanelFrame::answer(addressing, ExecCommand, data);
}

QByteArray PanelResponder::answer(PanelState &state, const PanelRequest &r, Addressing a, bool answeredCall)
{
    const auto ack = [a](quint8 command, quint8 detail) { return PanelFrame::answer(a, command, QByteArray(1, char(detail))); };
    const auto refuse = [a](quint8 detail) { return PanelFrame::refusal(a, detail); };

    if (r.command == ExecCommand) {
        const QByteArray &p = r.params;
        switch (r.function) {
        case 32: {
            const QByteArray given = p.left(5);
            const bool ok = given == DatagramCodec::passcodeBytes(state.passcode)
                || (answeredCall && given == DatagramCodec::passcodeBytes(state.answerPasscode));
            state.passcodeAccepted = ok;
            return ok ? ack(ExecCommand, r.function) : refuse(r.function);
        }
        case 26:
            return statusAnswer(state, a);
        case 19: {
            const EventLog &log = state.eventLog;
            if (at(p, 0) == 0) {
                QByteArray d = word(log.panelPointer()) + word(log.newestIndex()) + word(log.size());
                return PanelFrame::answer(a, ExecCommand, d);
            }
            if (at(p, 0) != 1)
                return refuse(r.function);
            // Slots from the index on, round the end of the ring; an index outside it is refused.
            const int start = (at(p, 1) << 8) | at(p, 2);
            if (start >= log.size())
                return refuse(r.function);
            return PanelFrame::answer(a, ExecCommand, log.readSlots(start, state.slotsPerAnswer));
        }
        case 20: {
            // Slots are numbered 0 .. size - 1: a pointer outside the ring is refused.
            const int index = (at(p, 0) << 8) | at(p, 1);
            if (index >= state.eventLog.size())
                return refuse(r.function);
            state.eventLog.setPanelPointer(static_cast<quint16>(index));
            return ack(ExecCommand, r.function);
        }
        case 22: {
            const int month = at(p, 0), day = at(p, 1), year = 2000 + at(p, 2);
            const int hour12 = at(p, 3), minute = at(p, 4), pm = at(p, 5);
            state.lastClockWrite = p.left(6);
            const QDate date(year, month, day);
            // The clock's coding: 00:xx travels as hour 0 AM, 01..11 as 1..11 AM, 12:xx as 12 PM and
            // 13..23 as 1..11 PM. Anything else (hour 13 or more, 0 PM, 12 AM) is no time.
            if (!date.isValid() || hour12 > 12 || minute > 59 || pm > 1 || (pm == 1 && hour12 == 0)
                || (pm == 0 && hour12 == 12))
                return refuse(r.function);
            const int hour = (pm == 1 && hour12 < 12) ? hour12 + 12 : hour12;
            state.setClock(QDateTime(date, QTime(hour, minute)));
            return ack(ExecCommand, r.function);
        }
        case 33: {
            const QDateTime now = state.clock();
            const int hour = now.time().hour();
            QByteArray d;
            d.append(static_cast<char>(now.date().month()));
            d.append(static_cast<char>(now.date().day()));
            d.append(static_cast<char>(now.date().year() % 100));
            d.append(static_cast<char>(hour >= 13 ? hour - 12 : hour));
            d.append(static_cast<char>(now.time().minute()));
            d.append(static_cast<char>(hour >= 12 ? 1 : 0));
            return PanelFrame::answer(a, ExecCommand, d);
        }
        case 30:
            state.goodbyeReceived = true;
            state.goodbyeCode = at(p, 0);
            state.resetRequested = at(p, 0) == 1;
            state.exclusive = false;
            return {};
        case 40:
            if (at(p, 0) != 255 && at(p, 0) != 0)
                return refuse(r.function);
            state.exclusive = at(p, 0) == 255;
            return ack(ExecCommand, r.function);
        default:
            return refuse(r.function);
        }
    }

    switch (r.command) {
    case ReadBlockCommand: {
        const QByteArray block = state.block(at(r.params, 0), at(r.params, 1));
        return block.isEmpty() ? refuse(r.command) : PanelFrame::answer(a, ReadBlockCommand, block);
    }
    case WriteBlockCommand: {
        const bool ok = r.params.size() >= 2 && state.writeBlock(at(r.params, 0), at(r.params, 1), r.params.mid(2));
        return ok ? ack(WriteBlockCommand, at(r.params, 0)) : refuse(r.command);
    }
    case CrcCommand: {
        QByteArray d = QByteArray::fromHex("FFFFE0");
        for (int item = 0; item < ItemMap::ItemCount; ++item)
            d.append(word(state.itemCrc(item)));
        return PanelFrame::answer(a, CrcCommand, d);
    }
    default:
        return refuse(r.command);
    }
}

} // namespace panelsim
