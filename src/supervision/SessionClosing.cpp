#include "supervision/SessionClosing.h"

#include "core/Errors.h"
#include "core/SessionState.h"
#include "core/Variant.h"
#include "core/modGlobals.h"
#include "queue/SessionEnd.h"
#include "supervision/SupervisionWindows.h"

#include <QPointer>

namespace {
const QString kForm = QStringLiteral("frmDisconnect");
constexpr std::int16_t kAfterDialog = 5; // session result of an end chosen in a dialog
} // namespace

SessionClosing::SessionClosing(QObject *parent)
    : QObject(parent)
{
    setObjectName(kForm);
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

SessionClosing::~SessionClosing()
{
    unload();
}

std::int32_t SessionClosing::Display()
{
    QPointer<SessionClosing> self(this);
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        if (!sessionState().UnattendedFlag)
            modGlobals::ZelCommEvent(6, 0);
        m_answer = NotAnswered;
        const auto window = supervisionWindows().endSession; // a copy: the entries may change meanwhile
        if (!window || !window(*this)) {
            if (self)
                cancel(); // nobody to ask
        }
        if (!self)
            return;
        if (m_answer == Confirmed) {
            if (m_panelReset) {
                modGlobals::MakeCallback(QStringLiteral("PANEL_RESET"), missingArgument());
                modGlobals::Disconnect(true, kAfterDialog);
            } else {
                modGlobals::Disconnect(false, kAfterDialog);
            }
        }
    });
    if (self)
        unload();
    return rc;
}

void SessionClosing::confirm(bool panelReset)
{
    m_panelReset = panelReset;
    m_answer = Confirmed;
    emit answered(m_answer);
}

void SessionClosing::cancel()
{
    m_answer = Cancelled;
    emit answered(m_answer);
}

void SessionClosing::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    if (m_answer == Cancelled && !sessionState().UnattendedFlag)
        modGlobals::ZelCommEvent(7, 0);
    if (m_registered)
        modGlobals::ForgetGUIDObject(szGUID());
    m_registered = false;
}
