// Error handling: procedures return 32-bit results (0 is success). Inside, code throws QuarvoError;
// the boundary helper of each procedure catches it (and any std::exception), reports it to the
// error reporter with the module and procedure names, and hands back the number. Nothing escapes to
// the host.
#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

class QuarvoError : public std::exception
{
public:
    explicit QuarvoError(std::int32_t number, QString text = QString())
        : m_number(number), m_text(std::move(text)), m_what(m_text.toStdString())
    {
    }
    std::int32_t number() const noexcept { return m_number; }
    const QString &text() const noexcept { return m_text; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    std::int32_t m_number;
    QString m_text;
    std::string m_what;
};

// Throws QuarvoError(number).
[[noreturn]] void raiseError(std::int32_t number, const QString &text = QString());

namespace errors {

// Reports an error the way every procedure does: Add, AddlText "", LogError, Clear.
void report(std::int32_t number, const QString &module, const QString &procedure, const QString &text = QString());

// The number an exception stands for: its own for QuarvoError, an internal-error number otherwise.
std::int32_t numberOf(const std::exception &e);

// Runs `body`; on an error reports it under module/procedure and returns the number, else 0.
std::int32_t guarded(const QString &module, const QString &procedure, const std::function<void()> &body);

// As guarded(), for procedures that return a value of their own: on an error the value is `fallback`.
template <typename T, typename F>
T guardedValue(const QString &module, const QString &procedure, T fallback, F &&body)
{
    try {
        return body();
    } catch (const std::exception &e) {
        report(numberOf(e), module, procedure, QString::fromUtf8(e.what()));
    } catch (...) {
        report(numberOf(std::runtime_error("unknown")), module, procedure);
    }
    return fallback;
}

// Session-fatal handling: as guarded(), and on an error stores LastErrorNumber and sets `endSession`.
std::int32_t guardedFatal(const QString &module, const QString &procedure, bool &endSession,
                          const std::function<void()> &body);

} // namespace errors
