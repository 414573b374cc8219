#include "transports/clsModem.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "diagnostics/clsSessionLog.h"
#include "link/modModem.h"
#include "platform/Timing.h"
#include "queue/MessageQueue.h"
#include "transports/CommDialog.h"
#include "transports/SerialLine.h"
#include "transports/TransportNotices.h"

#include <QCoreApplication>
#include <QSerialPort>

#include <algorithm>
#include <array>

namespace {

const QString kClass = QStringLiteral("clsModem");

// Longest single wait for input inside a modem wait (real ms): short enough for Cancel to feel
// immediate, long enough that an idle wait costs nothing.
constexpr qint64 kSliceMs = 20;

struct ResultCode
{
    const char *verbal;
    const char *numeric;
};

// Hayes result codes: index = numeric code.
constexpr std::array<ResultCode, 5> kResultCodes{{
    {"OK", "0"},
    {"CONNECT", "1"},
    {"RING", "2"},
    {"NO CARRIER", "3"},
    {"ERROR", "4"},
}};

} // namespace

clsModem::clsModem()
    : ControlTypeBase(false)
{
    errors::guarded(kClass, QStringLiteral("Class_Initialize()"), [&] {
        SessionState &state = sessionState();
        if (!state.sessionLog) {
            state.sessionLog = std::make_shared<clsSessionLog>();
            state.sessionLog->OpenLog(state.UnattendedFlag ? state.accountName + QStringLiteral(".log") : QString());
        }
        if (!state.UnattendedFlag && state.messageQueue) {
            m_port = state.messageQueue->MSComm1;
            m_rtsEnable = true;
        }
        m_connected = state.UnattendedFlag;
        m_abortPending = false;
        if (const std::shared_ptr<HostSettings> settings = state.hostSettings) {
            DataBits = settings->DataBits();
            Parity = settings->Parity();
            PostDialString = settings->PostDialString();
            ResetCmd = settings->ResetCmd();
            StopBits = settings->StopBits();
        }
        if (m_port) {
            // A port whose far end vanished reports ResourceError over and over until it is closed.
            connect(m_port.data(), &QSerialPort::errorOccurred, this,
                    [this](QSerialPort::SerialPortError error) { onPortError(static_cast<int>(error)); });
        }
    });
}

clsModem::~clsModem()
{
    SessionState &state = sessionState();
    if (const std::shared_ptr<clsSessionLog> log = state.sessionLog) {
        log->CloseLog();
        state.sessionLog.reset();
    }
}

QString clsModem::Name() const
{
    return m_name.isEmpty() ? QStringLiteral("Modem") : m_name;
}

void clsModem::setRTSEnable(bool enable)
{
    m_rtsEnable = enable;
    if (portOpen() && !m_port->setRequestToSend(enable))
        modGlobals::DebugPrint(QStringLiteral("RTS cannot be set on this port"));
}

QString clsModem::devicePathFor(std::int16_t port)
{
    return SerialLine::devicePathFor(port);
}

void clsModem::status(CommDialog *frm, const QString &text) const
{
    if (frm)
        frm->AddStatus(text);
}

bool clsModem::portOpen() const
{
    return m_port && m_port->isOpen();
}

void clsModem::onPortError(int error)
{
    // A read that fails on a serial line means the device hung up or vanished (a pty whose far end
    // closed reports ReadError in blocking waits and ResourceError from the event loop).
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || !m_port || !m_port->isOpen())
        return;
    // The device is gone: close it so waits end at once, and the link is down.
    m_port->close();
    m_connected = false;
    modGlobals::DebugPrint(QStringLiteral("Serial port lost"));
}

void clsModem::waitSlice(qint64 ms)
{
    if (!SerialLine::waitSlice(m_port, std::min(ms, kSliceMs), kSliceMs) && m_port)
        onPortError(m_port->error());
}

// ---- Modem commands ----------------------------------------------------------------------------

std::int32_t clsModem::ModemTextCmd(const QString &Cmd, const QString &expected, const QString &failure,
                                    std::int32_t WaitSeconds)
{
    std::int32_t result = NoAnswer;
    QString response;
    const std::int32_t rc = errors::guarded(kClass, QStringLiteral("ModemTextCmd()"), [&] {
        // Text input, nothing buffered, no receive events while the command runs.
        if (portOpen())
            m_port->clear(QSerialPort::Input);
        if (!portOpen()) {
            // Nothing can be sent or heard: never report a command as answered.
            raiseError(ErrorCode::Aborted, QStringLiteral("the serial port is not open"));
        }

        const QByteArray out = Cmd == QLatin1String("+++") ? Cmd.toLatin1() : Cmd.toLatin1() + '\r';
        if (m_port->write(out) != out.size())
            raiseError(ErrorCode::Aborted, QStringLiteral("the serial port refused the command"));
        m_port->waitForBytesWritten(static_cast<int>(std::max<qint64>(100, Timing::scaled(1000))));
        response = QString::fromLatin1(m_port ? m_port->readAll() : QByteArray());
        if (!Cmd.isEmpty())
            modGlobals::AddLogEntry(modGlobals::GetCatalogString(320), Cmd.toLatin1());

        result = NoAnswer;
        // The deadline is fixed before the settle pause: a one-second wait ends unread.
        const Timing::Deadline deadline(static_cast<qint64>(WaitSeconds) * 1000);
        Timing::sleep(2100);
        for (;;) {
            if (deadline.expired() || m_abortPending)
                break;
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            if (!portOpen())
                raiseError(ErrorCode::Aborted, QStringLiteral("the serial port closed during the wait"));
            response += QString::fromLatin1(m_port->readAll());

            bool echoRemoved = false;
            result = ReadModemAnswer(response, Cmd, expected, failure, echoRemoved);
            if (echoRemoved)
                modGlobals::DebugPrint(QStringLiteral("Echo [") + Cmd + QStringLiteral("] REMOVED"));
            if (result != NoAnswer)
                break;
            waitSlice(deadline.remainingMs());
        }
    });
    if (rc != 0)
        result = rc;
    switch (result) {
    case Expected: modGlobals::AddLogEntry(modGlobals::GetCatalogString(321), response); break;
    case Failed: modGlobals::AddLogEntry(modGlobals::GetCatalogString(322), response); break;
    case NoAnswer: modGlobals::AddLogEntry(modGlobals::GetCatalogString(324), response); break;
    case Busy: modGlobals::AddLogEntry(modGlobals::GetCatalogString(323), response); break;
    default: modGlobals::AddLogEntry(modGlobals::GetCatalogString(325), response); break;
    }
    return result;
}

std::int32_t clsModem::ReadModemAnswer(QString &response, const QString &Cmd, const QString &expected,
                                       const QString &failure, bool &echoRemoved)
{
    echoRemoved = false;
    if (!Cmd.isEmpty() && response.contains(Cmd)) {
        response.remove(0, Cmd.size());
        echoRemoved = true;
    }
    if (response.contains(expected))
        return Expected;
    for (int i = 0; i < static_cast<int>(kResultCodes.size()); ++i) {
        if (!response.contains(QString::number(i) + QLatin1Char('\r')))
            continue;
        const QString verbal = QString::fromLatin1(kResultCodes[i].verbal);
        const QString numeric = QString::fromLatin1(kResultCodes[i].numeric);
        if (verbal == expected || numeric == expected)
            return Expected;
        if (verbal == failure || numeric == failure)
            return Failed;
    }
    if (response.contains(failure + QStringLiteral("\r\n")))
        return Failed;
    if (response.contains(QLatin1String("BUSY")))
        return Busy;
    return NoAnswer;
}

std::int32_t clsModem::GetCharacter(std::uint8_t &cNewChar, std::int32_t lTimeoutSeconds)
{
    return errors::guarded(kClass, QStringLiteral("GetCharacter()"), [&] {
        const Timing::Deadline deadline(static_cast<qint64>(lTimeoutSeconds) * 1000);
        for (;;) {
            if (!portOpen())
                raiseError(ErrorCode::Aborted, QStringLiteral("the serial port is not open"));
            if (m_port->bytesAvailable() >= 1) {
                char c = 0;
                if (m_port->read(&c, 1) == 1) {
                    cNewChar = static_cast<std::uint8_t>(c);
                    return;
                }
            }
            if (deadline.expired())
                raiseError(ErrorCode::NoCharacter);
            waitSlice(deadline.remainingMs());
        }
    });
}

// ---- Link operations ---------------------------------------------------------------------------

std::int32_t clsModem::PortPrep(CommDialog *frm, bool bDisplay)
{
    return errors::guarded(kClass, QStringLiteral("PortPrep()"), [&] {
        SerialLine::prepare(m_port, SerialLine::Settings{CommPort, BaudRate, Parity, DataBits, StopBits}, frm, m_rtsEnable);
    });
}

std::int32_t clsModem::ControlInitialize(CommDialog *frm, bool bDisplay)
{
    return errors::guarded(kClass, QStringLiteral("ControlInitialize()"), [&] {
        std::int32_t rc = NoAnswer;
        for (int attempt = 0; attempt < 4; ++attempt) {
            if (m_abortPending)
                raiseError(ErrorCode::Aborted);
            rc = ModemTextCmd(ResetCmd, QStringLiteral("OK"), QStringLiteral("ERROR"), 12);
            if (rc == Expected || m_abortPending)
                break;
        }
        if (rc != Expected && !m_abortPending) {
            status(frm, modGlobals::GetCatalogString(317));
            raiseError(ErrorCode::ModemResetFailed);
        }
        if (m_abortPending)
            raiseError(ErrorCode::Aborted);
        rc = ModemTextCmd(PreDialInit, QStringLiteral("OK"), QStringLiteral("ERROR"), 12);
        if (rc != Expected && !m_abortPending) {
            status(frm, modGlobals::GetCatalogString(318));
            status(frm, modGlobals::GetCatalogString(319));
            raiseError(ErrorCode::ModemInitRejected);
        }
    });
}

std::int32_t clsModem::Connect(CommDialog *frm, bool bDisplay)
{
    std::int32_t cmdResult = 0;
    std::int32_t result = errors::guarded(kClass, QStringLiteral("Connect()"), [&] {
        if (bDisplay)
            status(frm, modGlobals::ReplaceVariable(modGlobals::GetCatalogString(312), QStringLiteral("PHONE"), DataPhone));
        cmdResult = ModemTextCmd(QStringLiteral("ATDT") + DataPhone + PostDialString, QStringLiteral("CONNECT"),
                                 QStringLiteral("NO CARRIER"), 100);
        switch (cmdResult) {
        case Expected: break;
        case NoAnswer: raiseError(ErrorCode::ModemNoAnswer);
        case Failed: raiseError(ErrorCode::ModemNoCarrier);
        case Busy: raiseError(ErrorCode::ModemBusy);
        default: raiseError(cmdResult);
        }
        m_connected = true;
    });
    if (m_abortPending) {
        m_connected = false;
        return ErrorCode::Aborted;
    }
    if (cmdResult != ErrorCode::Aborted) {
        if (cmdResult == Expected) {
            status(frm, modGlobals::GetCatalogString(314));
            Timing::sleep(500);
        } else {
            status(frm, modGlobals::GetCatalogString(313));
        }
    }
    return result;
}

std::int32_t clsModem::Answer(CommDialog *frm, bool bDisplay)
{
    return errors::guarded(kClass, QStringLiteral("Answer()"), [&] {
        status(frm, modGlobals::GetCatalogString(326));
        Timing::sleep(1200);
        const std::int32_t rc = ModemTextCmd(QStringLiteral("ATA"), QStringLiteral("CONNECT"), QStringLiteral("NO CARRIER"), 100);
        switch (rc) {
        case Expected: break;
        case NoAnswer: raiseError(ErrorCode::ModemNoAnswer);
        case Failed: raiseError(ErrorCode::ModemNoCarrier);
        default: raiseError(rc); // "BUSY" comes back as the bare 3
        }
        m_connected = true;
    });
}

std::int32_t clsModem::ControlRinging(CommDialog *frm, bool bDisplay)
{
    return errors::guarded(kClass, QStringLiteral("ControlRinging()"), [&] {
        const std::int32_t rc = ModemTextCmd(QString(), QStringLiteral("RING"), QStringLiteral("ERROR"),
                                             sessionState().config.callBackTime);
        if (rc != Expected) {
            const QString text = modGlobals::GetCatalogString(309) + QStringLiteral("\r\n") + modGlobals::GetCatalogString(310);
            const QString title = modGlobals::ReplaceVariable(modGlobals::GetCatalogString(157), QStringLiteral("APP_NAME"), QStringLiteral("Tamsel"));
            if (const auto &notice = transportNotices().information)
                notice(title, text);
            raiseError(ErrorCode::NoRing);
        }
        status(frm, modGlobals::GetCatalogString(311));
    });
}

std::int32_t clsModem::ControlDisconnect(CommDialog *frm, bool bDisplay)
{
    return errors::guarded(kClass, QStringLiteral("ControlDisconnect()"), [&] {
        m_connected = false;
        if (portOpen()) {
            if (m_remote) {
                QCoreApplication::processEvents(QEventLoop::AllEvents);
                Timing::sleep(1100);
                ModemTextCmd(QStringLiteral("+++"), QStringLiteral("OK"), QStringLiteral("ERROR"), 1);
                QCoreApplication::processEvents(QEventLoop::AllEvents);
                Timing::sleep(1000);
                ModemTextCmd(QStringLiteral("ATH"), QStringLiteral("OK"), QStringLiteral("ERROR"), 1);
            }
            if (m_port)
                m_port->close();
        } else {
            modGlobals::DebugPrint(QStringLiteral("Port is closed..."));
        }
    });
}

std::int32_t clsModem::SendData(clsMessage &msg)
{
    return modModem::SendCmd(msg);
}

std::int32_t clsModem::DataReceived(clsMessage &msg)
{
    return 0;
}
