// The fleet report: one self-contained HTML page with the state of every chosen site. A summary
// line, a chart of results per night, a table of sites (failures and attention first; sorted and
// filtered in the page) and, per site, its runs, newest panel events and snapshots with the items
// that changed between consecutive versions. The page loads nothing: its style and script are
// inline and a Content-Security-Policy allows only those two (by their hashes). Secrets never go
// into it; every text from a panel or the site list reaches the page as text, never as markup.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

class FleetDatabase;

struct ReportOptions
{
    QStringList patterns;   // sites by account or name (all when empty)
    QDateTime since;        // runs before this are left out (none when invalid)
    int staleDays = 7;      // "not reached": no success for this many days
    int nights = 30;        // nights in the chart
    int runsPerSite = 10;   // newest runs in a site's details
    int eventsPerSite = 10; // newest panel events in a site's details
    int snapshotsPerSite = 5; // newest snapshots in a site's details
    QDateTime now;          // the report's moment (invalid: the current time)
};

// What a report holds, for the command's closing line and for tests.
struct ReportSummary
{
    int sites = 0;
    int succeeded = 0;  // the last run succeeded
    int failed = 0;     // the last run failed, was refused or was interrupted
    int attention = 0;  // marked as needing attention
    int stale = 0;      // no success in the last staleDays (or never)
    int neverRun = 0;
    qint64 bytes = 0;
};

namespace fleetreport {

// The night a run belongs to: the local date of the moment twelve hours earlier, so that a run at
// 02:00 counts for the evening before.
QDate nightOf(const QDateTime &moment);

// Text for HTML element content and double-quoted attributes.
QString escapeHtml(const QString &text);
// JSON that can sit inside a <script> element: no "<", ">" or "&" remains (they become \u escapes,
// which JSON reads back as the same characters), so no "</script" or "<!--" can end the element.
QByteArray jsonForScript(const QByteArray &json);

// The page for the sites and runs of `db` as `options` choose them.
QByteArray build(const FleetDatabase &db, const ReportOptions &options, ReportSummary *summary);
// Builds the page and writes it to `path` (replaced atomically). False with the reason.
bool write(const FleetDatabase &db, const ReportOptions &options, const QString &path, ReportSummary *summary, QString *error);

} // namespace fleetreport
