// QVariant stands in for the host's variant values. A "missing" argument (an optional argument the
// caller did not pass) is a value of its own, distinct from an empty text or an invalid QVariant.
#pragma once

#include <QMetaType>
#include <QVariant>

struct MissingArgument
{
    bool operator==(const MissingArgument &) const { return true; }
};
Q_DECLARE_METATYPE(MissingArgument)

inline QVariant missingArgument()
{
    return QVariant::fromValue(MissingArgument{});
}

inline bool isMissing(const QVariant &v)
{
    return v.metaType() == QMetaType::fromType<MissingArgument>();
}
