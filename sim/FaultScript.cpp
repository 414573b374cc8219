#include "FaultScript.h"

namespace panelsim {

namespace {

struct KindName
{
    FaultKind kind;
    const char *name;
};

constexpr KindName kKinds[] = {
    {FaultKind::Nak, "nak"},
    {FaultKind::Silence, "silence"},
    {FaultKind::BadChecksum, "badsum"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::WrongSequence, "wrongseq"},
    {FaultKind::Duplicate, "duplicate"},
    {FaultKind::Late, "late"},
    {FaultKind::OtherPort, "otherport"},
    {FaultKind::Callback, "callback"},
    {FaultKind::Refuse, "refuse"},
    {FaultKind::Drop, "drop"},
    {FaultKind::BadCrcMarker, "badcrc"},
    {FaultKind::BadHeader, "badheader"},
    {FaultKind::BadLength, "badlength"},
    {FaultKind::Busy, "busy"},
    {FaultKind::NoCarrier, "nocarrier"},
    {FaultKind::DialSilence, "nodial"},
    {FaultKind::Mute, "mute"},
    {FaultKind::Error, "error"},
};

} // namespace

bool FaultRule::isModemFault() const
{
    switch (kind) {
    case FaultKind::Busy:
    case FaultKind::NoCarrier:
    case FaultKind::DialSilence:
    case FaultKind::Mute:
    case FaultKind::Error:
        return true;
    default:
        return false;
    }
}

QString FaultRule::toString() const
{
    QString s = FaultScript::kindName(kind);
    if (argument >= 0)
        s += QLatin1Char('=') + QString::number(argument);
    if (!target.isEmpty())
        s += QLatin1Char('@') + target;
    if (times != 1)
        s += QLatin1Char('*') + QString::number(times);
    return s;
}

QString FaultScript::kindName(FaultKind kind)
{
    for (const KindName &k : kKinds)
        if (k.kind == kind)
            return QString::fromLatin1(k.name);
    return {};
}

std::optional<FaultRule> FaultScript::parse(const QString &text, QString *error)
{
    auto fail = [error, &text](const QString &why) -> std::optional<FaultRule> {
        if (error)
            *error = QStringLiteral("fault \"%1\": %2").arg(text, why);
        return std::nullopt;
    };
    QString rest = text.trimmed();
    FaultRule rule;
    const qsizetype star = rest.lastIndexOf(QLatin1Char('*'));
    if (star >= 0) {
        bool ok = false;
        rule.times = rest.mid(star + 1).toInt(&ok);
        if (!ok || rule.times < 0)
            return fail(QStringLiteral("bad repeat count"));
        rest.truncate(star);
    }
    const qsizetype at = rest.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        rule.target = rest.mid(at + 1).trimmed();
        rest.truncate(at);
    }
    const qsizetype eq = rest.indexOf(QLatin1Char('='));
    if (eq >= 0) {
        bool ok = false;
        rule.argument = rest.mid(eq + 1).toInt(&ok);
        if (!ok || rule.argument < 0)
            return fail(QStringLiteral("bad argument"));
        rest.truncate(eq);
    }
    const QString kind = rest.trimmed().toLower();
    for (const KindName &k : kKinds) {
        if (kind == QLatin1String(k.name)) {
            rule.kind = k.kind;
            if (error)
                error->clear();
            return rule;
        }
    }
    return fail(QStringLiteral("unknown kind \"%1\"").arg(kind));
}

QList<FaultRule> FaultScript::take(const std::function<bool(const FaultRule &)> &eligible,
                                   const std::function<bool(const QString &)> &matches, int exchange)
{
    QList<FaultRule> fired;
    for (FaultRule &rule : m_rules) {
        if (!eligible(rule))
            continue;
        if (rule.times > 0 && rule.fired >= rule.times)
            continue;
        bool hit = rule.target.isEmpty();
        if (!hit && rule.target.startsWith(QLatin1Char('#')))
            hit = rule.target.mid(1).toInt() == exchange;
        else if (!hit)
            hit = matches(rule.target);
        if (!hit)
            continue;
        ++rule.fired;
        fired.append(rule);
    }
    return fired;
}

QList<FaultRule> FaultScript::takeForRequest(const QStringList &names, const QStringList &numbers, int exchange)
{
    return take([](const FaultRule &r) { return !r.isModemFault(); }, [&](const QString &target) {
        return names.contains(target, Qt::CaseInsensitive) || numbers.contains(target.trimmed());
    }, exchange);
}

QList<FaultRule> FaultScript::takeForModem(const QString &command, int commandNumber, bool dialOrAnswer)
{
    auto eligible = [dialOrAnswer](const FaultRule &r) {
        if (!r.isModemFault())
            return false;
        const bool dialFault = r.kind == FaultKind::Busy || r.kind == FaultKind::NoCarrier || r.kind == FaultKind::DialSilence;
        return dialOrAnswer || !dialFault;
    };
    return take(eligible, [&](const QString &target) {
        return command.trimmed().startsWith(target.trimmed(), Qt::CaseInsensitive);
    }, commandNumber);
}

} // namespace panelsim
