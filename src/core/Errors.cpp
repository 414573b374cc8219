#include "core/Errors.h"

#include "core/ErrorCodes.h"
#include "core/SessionState.h"
#include "external/ErrorReporter.h"

#include <QDate>
#include <QTime>

#include <new>

void raiseError(std::int32_t number, const QString &text)
{
    throw QuarvoError(number, text);
}

namespace errors {

void report(std::int32_t number, const QString &module, const QString &procedure, const QString &text)
{
    Q_UNUSED(text);
    SessionState &state = sessionState();
    const std::shared_ptr<ErrorReporter> reporter = state.errorReporter;
    if (!reporter)
        return; // without a reporter the report is lost
    std::int16_t level = state.config.warningLevel;
    reporter->Add(number, QDate::currentDate(), QTime::currentTime(), module, procedure, level);
    reporter->AddlText = QString();
    reporter->LogError();
    reporter->Clear();
}

std::int32_t numberOf(const std::exception &e)
{
    if (const auto *q = dynamic_cast<const QuarvoError *>(&e))
        return q->number();
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return 7; // out of memory
    if (dynamic_cast<const std::out_of_range *>(&e))
        return ErrorCode::SubscriptOutOfRange;
    return ErrorCode::InvalidArgument;
}

std::int32_t guarded(const QString &module, const QString &procedure, const std::function<void()> &body)
{
    try {
        body();
        return 0;
    } catch (const std::exception &e) {
        const std::int32_t n = numberOf(e);
        report(n, module, procedure, QString::fromUtf8(e.what()));
        return n;
    } catch (...) {
        report(ErrorCode::InvalidArgument, module, procedure);
        return ErrorCode::InvalidArgument;
    }
}

std::int32_t guardedFatal(const QString &module, const QString &procedure, bool &endSession,
                          const std::function<void()> &body)
{
    const std::int32_t n = guarded(module, procedure, body);
    if (n != 0) {
        sessionState().LastErrorNumber = n;
        endSession = true;
    }
    return n;
}

} // namespace errors
