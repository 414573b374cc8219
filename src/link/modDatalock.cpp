#include "link/modDatalock.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"

namespace modDatalock {

std::int32_t CheckDatalock(std::int32_t &code, bool &rewrite, std::shared_ptr<HostDataLockEntry> &entry)
{
    return errors::guarded(QStringLiteral("modDatalock"), QStringLiteral("CheckDatalock()"), [&] {
        const std::shared_ptr<HostSettings> settings = sessionState().hostSettings;
        if (!settings)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no host settings"));

        const std::shared_ptr<HostDataLockEntry> own = settings->dataLock(1);
        if (!own)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("the host holds no data-lock entry 1"));
        // The fallback entry is looked up only when it is needed; a host without one cannot be
        // handed a null entry as the chosen one.
        const auto primary = [&settings] {
            std::shared_ptr<HostDataLockEntry> p = settings->dataLockByKey(QStringLiteral("PRIMARY"));
            if (!p)
                raiseError(ErrorCode::ObjectRequired, QStringLiteral("the host holds no \"PRIMARY\" data-lock entry"));
            return p;
        };

        const std::int32_t plain = (code ^ ScrambleMask) & 0xFFFF;
        const std::int32_t ownValue = own->Value();
        const bool ownSet = ownValue != -1;

        bool mustRewrite = false;
        std::shared_ptr<HostDataLockEntry> chosen;
        if (plain == ownValue) {
            chosen = own;
        } else if (plain == MasterValue) {
            mustRewrite = true;
            chosen = ownSet ? own : primary();
        } else {
            std::shared_ptr<HostDataLockEntry> found;
            const int count = settings->dataLockCount();
            for (int position = 2; position <= count && !found; ++position) {
                std::shared_ptr<HostDataLockEntry> candidate = settings->dataLock(position);
                if (candidate && candidate->Value() == plain)
                    found = std::move(candidate);
            }
            if (!found)
                raiseError(ErrorCode::DataLockMismatch,
                           QStringLiteral("panel data lock %1 matches no entry").arg(plain));
            if (ownSet) {
                mustRewrite = true;
                chosen = own;
            } else if (found->DataLockType() != 1 && found->DataLockType() != 3) {
                mustRewrite = true;
                chosen = primary();
            } else {
                chosen = found;
            }
        }

        if (mustRewrite) {
            const std::int32_t value = chosen->Value();
            // Writing "not set" (-1) or anything wider than 16 bits would plant a code no
            // installation can match; refuse rather than lock everyone out of the panel.
            if (value < 0 || value > 0xFFFF)
                raiseError(ErrorCode::DataLockMismatch,
                           QStringLiteral("data-lock entry %1 holds no code to write").arg(chosen->Number()));
            code = value ^ ScrambleMask;
        }
        rewrite = mustRewrite;
        entry = chosen;
    });
}

} // namespace modDatalock
