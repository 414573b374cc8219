#include "FleetReport.h"

#include "FleetDatabase.h"
#include "HostFiles.h"
#include "PanelDataStore.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <array>
#include <map>

namespace fleetreport {

namespace {

// The page's script: it reads the sites from the JSON block, draws the table (every text through
// textContent, never as markup), sorts on a header click, filters as the user types, and opens a
// site's details on a click. "#filter=TEXT&open=ACCOUNT" in the address sets both at load.
const char kScript[] = R"JS((function () {
  'use strict';
  var data = JSON.parse(document.getElementById('fleet-data').textContent);
  var texts = data.texts, sites = data.sites;
  var body = document.getElementById('sites-body');
  var filter = document.getElementById('filter');
  var shown = document.getElementById('shown');
  var fields = [0, 1, 2, 4, 5, 6, 7];
  var sortColumn = -1, sortDirection = 1, opened = {};
  function el(tag, text, cls) {
    var e = document.createElement(tag);
    if (text !== undefined && text !== null) e.textContent = String(text);
    if (cls) e.className = cls;
    return e;
  }
  function table(head, rows) {
    var t = el('table', null, 'inner'), tr = el('tr');
    head.forEach(function (h) { tr.appendChild(el('th', h)); });
    t.appendChild(tr);
    rows.forEach(function (r) {
      var row = el('tr');
      r.forEach(function (c) { row.appendChild(el('td', c)); });
      t.appendChild(row);
    });
    return t;
  }
  function details(s) {
    var box = el('div', null, 'details');
    box.appendChild(el('h3', 'Runs (newest first, ' + s[13] + ' in the period)'));
    box.appendChild(table(['Started', 'Result', 'Attempt', 'Error'], s[10].map(function (r) {
      return [r[0], texts[r[1]], r[2], r[3] < 0 ? '' : texts[r[3]]];
    })));
    box.appendChild(el('h3', 'Newest panel events (oldest first)'));
    box.appendChild(s[11].length ? table(['Date', 'Time', 'Event', 'Modifier'], s[11]) : el('p', 'none stored'));
    box.appendChild(el('h3', 'Snapshots of the programming (newest first, ' + s[14] + ' kept)'));
    box.appendChild(s[12].length ? table(['Version', 'Taken', 'Bytes', 'Items changed since the version before'], s[12])
                                 : el('p', 'none stored'));
    return box;
  }
  function matches(s, words) {
    if (!words) return true;
    var hay = (s[0] + '\u0000' + s[1] + '\u0000' + s[4]).toLowerCase();
    return hay.indexOf(words) >= 0;
  }
  function render() {
    var words = filter.value.trim().toLowerCase();
    var list = sites.filter(function (s) { return matches(s, words); });
    if (sortColumn >= 0) {
      var f = fields[sortColumn];
      list.sort(function (a, b) {
        var x = a[f], y = b[f];
        var d = (typeof x === 'number' && typeof y === 'number') ? x - y : String(x).localeCompare(String(y));
        return d * sortDirection;
      });
    }
    var frag = document.createDocumentFragment();
    list.forEach(function (s) {
      var tr = el('tr', null, 'g' + s[9]);
      tr.dataset.account = s[0];
      tr.dataset.result = s[3] || 'never';
      fields.forEach(function (f) { tr.appendChild(el('td', s[f])); });
      tr.addEventListener('click', function () { opened[s[0]] = !opened[s[0]]; render(); });
      frag.appendChild(tr);
      if (opened[s[0]]) {
        var d = el('tr', null, 'detail'), td = el('td');
        td.colSpan = fields.length;
        td.appendChild(details(s));
        d.appendChild(td);
        frag.appendChild(d);
      }
    });
    body.textContent = '';
    body.appendChild(frag);
    shown.textContent = list.length + ' of ' + sites.length + ' sites shown.';
  }
  Array.prototype.forEach.call(document.querySelectorAll('#sites th'), function (th, i) {
    th.addEventListener('click', function () {
      sortDirection = sortColumn === i ? -sortDirection : 1;
      sortColumn = i;
      render();
    });
  });
  filter.addEventListener('input', render);
  var hash = new URLSearchParams(location.hash.replace(/^#/, ''));
  if (hash.get('filter')) filter.value = hash.get('filter');
  if (hash.get('open')) opened[hash.get('open')] = true;
  render();
})();
)JS";

const char kStyle[] = R"CSS(body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222}
h1{font-size:1.4em;margin:0 0 .3em}h2{font-size:1.1em;margin:1.2em 0 .4em}h3{font-size:1em;margin:.8em 0 .3em}
.summary span{font-weight:bold}.summary .bad{color:#b00}.muted{color:#666}
table{border-collapse:collapse}#sites{width:100%}
th,td{text-align:left;padding:3px 8px;border-bottom:1px solid #ddd;vertical-align:top}
#sites th{cursor:pointer;background:#f3f3f3;position:sticky;top:0}#sites tbody tr{cursor:pointer}
tr.g0 td{background:#fde8e8}tr.g1 td{background:#fff4d6}tr.g2 td{background:#eef}
tr.detail td{background:#fafafa;cursor:auto}.inner td,.inner th{font-size:12px;border-bottom:1px solid #eee}
#filter{font:inherit;padding:3px 6px;width:20em}.legend rect{stroke:none}
)CSS";

QString hashSource(const char *text)
{
    return QStringLiteral("'sha256-%1'").arg(QString::fromLatin1(QCryptographicHash::hash(QByteArray(text), QCryptographicHash::Sha256).toBase64()));
}

QDateTime momentOf(qint64 msSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::UTC);
}

QString dateTimeText(const QDateTime &t)
{
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString();
}

QString resultWords(const QString &result, const QString &error)
{
    const QString why = error.isEmpty() ? QString() : QStringLiteral(": ") + error;
    if (result == QLatin1String("success"))
        return QStringLiteral("succeeded");
    if (result == QLatin1String("failed"))
        return QStringLiteral("failed") + why;
    if (result == QLatin1String("refused"))
        return QStringLiteral("refused") + why;
    if (result == QLatin1String("aborted"))
        return QStringLiteral("interrupted") + why;
    if (result == QLatin1String("running"))
        return QStringLiteral("running");
    return QStringLiteral("never run");
}

bool isFailure(const QString &result)
{
    return result == QLatin1String("failed") || result == QLatin1String("refused") || result == QLatin1String("aborted");
}

// The item numbers whose bytes differ between two panel data files, as "3, 7"; a file that cannot
// be read says so rather than guessing.
QString changedItems(const QByteArray &before, const QByteArray &after)
{
    PanelDataStore a, b;
    QString why;
    if (!a.fromBytes(before, &why) || !b.fromBytes(after, &why))
        return QStringLiteral("(unreadable: %1)").arg(why);
    QStringList items;
    if (a.panelType() != b.panelType())
        items << QStringLiteral("panel type %1 to %2").arg(a.panelType()).arg(b.panelType());
    for (int item = 0; item < PanelDataStore::ItemCount; ++item)
        if (a.item(item) != b.item(item))
            items << QString::number(item);
    return items.isEmpty() ? QStringLiteral("none") : items.join(QStringLiteral(", "));
}

struct SnapshotLine
{
    SnapshotInfo info;
    QString changed; // empty for the oldest version kept
};

QString chart(const std::vector<QDate> &nights, const std::vector<std::array<int, 3>> &counts, int sites)
{
    const int bar = 18, gap = 4, height = 140, top = 10, labels = 18;
    const int width = static_cast<int>(nights.size()) * (bar + gap) + 40;
    static const char *const colours[3] = {"#2e9d4f", "#d23a3a", "#c8c8c8"};
    static const char *const words[3] = {"succeeded", "failed", "not run"};
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"chart\" width=\"%1\" height=\"%2\" role=\"img\" "
                                 "aria-label=\"Results per night\">")
                      .arg(width)
                      .arg(top + height + labels + 24);
    for (size_t n = 0; n < nights.size(); ++n) {
        const int x = 30 + static_cast<int>(n) * (bar + gap);
        int y = top + height;
        svg += QStringLiteral("<g data-night=\"%1\" data-succeeded=\"%2\" data-failed=\"%3\" data-notrun=\"%4\"><title>%1: %2 succeeded, %3 failed, "
                              "%4 not run</title>")
                   .arg(nights[n].toString(Qt::ISODate))
                   .arg(counts[n][0])
                   .arg(counts[n][1])
                   .arg(counts[n][2]);
        for (int k = 0; k < 3; ++k) {
            const int h = sites > 0 ? static_cast<int>(qRound(double(counts[n][k]) * height / sites)) : 0;
            if (h <= 0)
                continue;
            y -= h;
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>").arg(x).arg(y).arg(bar).arg(h).arg(QLatin1String(colours[k]));
        }
        svg += QStringLiteral("</g>");
        if (n % 5 == 0 || n + 1 == nights.size())
            svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"10\" text-anchor=\"middle\">%3</text>")
                       .arg(x + bar / 2)
                       .arg(top + height + 13)
                       .arg(nights[n].toString(QStringLiteral("MM-dd")));
    }
    svg += QStringLiteral("<text x=\"0\" y=\"%1\" font-size=\"10\">%2</text><text x=\"0\" y=\"%3\" font-size=\"10\">0</text>")
               .arg(top + 8)
               .arg(sites)
               .arg(top + height);
    int lx = 30;
    for (int k = 0; k < 3; ++k) {
        svg += QStringLiteral("<rect class=\"legend\" x=\"%1\" y=\"%2\" width=\"10\" height=\"10\" fill=\"%3\"/><text x=\"%4\" y=\"%5\" "
                              "font-size=\"11\">%6</text>")
                   .arg(lx)
                   .arg(top + height + labels + 6)
                   .arg(QLatin1String(colours[k]))
                   .arg(lx + 14)
                   .arg(top + height + labels + 15)
                   .arg(QLatin1String(words[k]));
        lx += 90;
    }
    return svg + QStringLiteral("</svg>");
}

} // namespace

QDate nightOf(const QDateTime &moment)
{
    return moment.toLocalTime().addSecs(-12 * 3600).date();
}

QString escapeHtml(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '&': out += QLatin1String("&amp;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&#39;"); break;
        default: out += c;
        }
    }
    return out;
}

QByteArray jsonForScript(const QByteArray &json)
{
    QByteArray out;
    out.reserve(json.size() + json.size() / 64);
    for (const char c : json) {
        switch (c) {
        case '<': out += "\\u003c"; break;
        case '>': out += "\\u003e"; break;
        case '&': out += "\\u0026"; break;
        default: out += c;
        }
    }
    return out;
}

QByteArray build(const FleetDatabase &db, const ReportOptions &options, ReportSummary *summary)
{
    const QDateTime now = options.now.isValid() ? options.now : QDateTime::currentDateTime();
    ReportSummary sum;
    const std::vector<SiteStatus> statuses = db.status(options.patterns);
    const std::vector<ReportRun> runs = db.reportRuns(options.patterns, options.since);
    QSet<qint64> chosen;
    for (const SiteStatus &st : statuses)
        chosen.insert(st.site.id);

    // The newest night with a run is "last night"; without runs, the night before now.
    qint64 newestMs = 0;
    for (const ReportRun &r : runs)
        newestMs = std::max(newestMs, r.startedMs);
    const QDate lastNight = newestMs ? nightOf(momentOf(newestMs)) : nightOf(now);
    QDate firstNight = lastNight.addDays(1 - std::max(1, options.nights));
    if (options.since.isValid() && nightOf(options.since) > firstNight)
        firstNight = std::min(nightOf(options.since), lastNight);
    std::vector<QDate> nights;
    for (QDate d = firstNight; d <= lastNight; d = d.addDays(1))
        nights.push_back(d);

    QHash<qint64, int> historyByRun;
    for (const auto &[run, count] : db.historyCountsByRun(options.since))
        historyByRun.insert(run, count);
    QHash<qint64, std::vector<HistoryRow>> events;
    for (auto &[site, row] : db.recentHistory(std::max(0, options.eventsPerSite)))
        if (chosen.contains(site))
            events[site].push_back(row);
    // Consecutive snapshots are compared one site at a time: only the previous version's bytes are held.
    QHash<qint64, std::vector<SnapshotLine>> snapshots;
    {
        qint64 site = -1;
        QByteArray previous;
        db.forEachSnapshot([&](qint64 siteId, const SnapshotInfo &info, const QByteArray &bytes) {
            if (!chosen.contains(siteId))
                return;
            if (siteId != site) {
                site = siteId;
                previous.clear();
            }
            snapshots[siteId].push_back(SnapshotLine{info, previous.isNull() ? QString() : changedItems(previous, bytes)});
            previous = bytes;
        });
    }

    // Per site and night: 1 a run succeeded, 2 runs only failed.
    QHash<qint64, std::vector<const ReportRun *>> runsBySite;
    std::map<std::pair<qint64, qint64>, int> outcome;
    for (const ReportRun &r : runs) {
        runsBySite[r.siteId].push_back(&r);
        const QDate night = nightOf(momentOf(r.startedMs));
        if (night < firstNight || r.result == QLatin1String("running"))
            continue;
        int &o = outcome[{r.siteId, firstNight.daysTo(night)}];
        o = (r.result == QLatin1String("success") || o == 1) ? 1 : 2;
    }
    std::vector<std::array<int, 3>> counts(nights.size(), std::array<int, 3>{0, 0, 0});
    for (const auto &[key, o] : outcome)
        ++counts[static_cast<size_t>(key.second)][o == 1 ? 0 : 1];
    for (auto &c : counts)
        c[2] = static_cast<int>(statuses.size()) - c[0] - c[1];

    // Error texts repeat across thousands of runs: each is written once and referred to by number.
    QJsonArray texts;
    QHash<QString, int> textIndex;
    const auto textRef = [&](const QString &text) {
        if (text.isEmpty())
            return -1;
        auto it = textIndex.constFind(text);
        if (it != textIndex.constEnd())
            return *it;
        texts.append(text);
        return *textIndex.insert(text, static_cast<int>(texts.size()) - 1);
    };

    struct Row
    {
        int group;
        QString account;
        QJsonArray cells;
    };
    std::vector<Row> rows;
    const QDateTime staleSince = now.addDays(-std::max(1, options.staleDays));
    for (const SiteStatus &st : statuses) {
        const Site &s = st.site;
        ++sum.sites;
        const QString result = st.lastRun ? st.lastRun->result : QString();
        const bool failed = isFailure(result);
        const bool stale = !st.lastSuccess || *st.lastSuccess < staleSince;
        if (result == QLatin1String("success"))
            ++sum.succeeded;
        if (failed)
            ++sum.failed;
        if (s.needsAttention)
            ++sum.attention;
        if (stale)
            ++sum.stale;
        if (!st.lastRun)
            ++sum.neverRun;
        const int group = failed ? 0 : s.needsAttention ? 1 : stale ? 2 : 3;
        QString words = resultWords(result, st.lastRun ? st.lastRun->errorText : QString());
        if (s.needsAttention)
            words += QStringLiteral(" (needs attention: %1)").arg(s.attentionReason.isEmpty() ? QStringLiteral("marked") : s.attentionReason);

        const std::vector<const ReportRun *> &mine = runsBySite[s.id];
        int eventsLastNight = 0;
        for (const ReportRun *r : mine)
            if (nightOf(momentOf(r->startedMs)) == lastNight)
                eventsLastNight += historyByRun.value(r->id);
        QJsonArray runCells;
        const int runCount = static_cast<int>(mine.size());
        for (int i = runCount - 1; i >= 0 && runCells.size() < options.runsPerSite; --i) {
            const ReportRun *r = mine[static_cast<size_t>(i)];
            runCells.append(QJsonArray{dateTimeText(momentOf(r->startedMs)),
                                       textRef(resultWords(r->result, QString())), r->attempt, textRef(r->errorText)});
        }
        QJsonArray eventCells;
        for (const HistoryRow &h : events.value(s.id)) {
            const auto two = [](const std::optional<int> &v) { return v ? QStringLiteral("%1").arg(*v, 2, 10, QLatin1Char('0')) : QStringLiteral("??"); };
            if (h.valid)
                eventCells.append(QJsonArray{QStringLiteral("%1-%2-%3").arg(h.year ? QString::number(*h.year) : QStringLiteral("????"), two(h.month), two(h.day)),
                                             QStringLiteral("%1:%2").arg(two(h.hour), two(h.minute)), h.event, h.modifier});
            else
                eventCells.append(QJsonArray{QStringLiteral("(invalid slot)"), QString(), h.event, h.modifier});
        }
        QJsonArray snapshotCells;
        const std::vector<SnapshotLine> &versions = snapshots.value(s.id);
        for (auto it = versions.rbegin(); it != versions.rend() && snapshotCells.size() < options.snapshotsPerSite; ++it)
            snapshotCells.append(QJsonArray{it->info.version, dateTimeText(it->info.taken), it->info.size,
                                            it->changed.isEmpty() ? QStringLiteral("(oldest kept)") : it->changed});
        // Programming changed: the newest version was stored last night and differs from the one before.
        QString changed;
        if (versions.size() >= 2 && nightOf(versions.back().info.taken) == lastNight)
            changed = versions.back().changed;

        rows.push_back(Row{group, s.account,
                           QJsonArray{s.account, s.name, st.lastSuccess ? dateTimeText(*st.lastSuccess) : QStringLiteral("never"), result, words,
                                      st.lastRun ? st.lastRun->attempt : 0, eventsLastNight, changed,
                                      (s.needsAttention ? 1 : 0) | (stale ? 2 : 0), group, runCells, eventCells, snapshotCells, runCount, static_cast<int>(versions.size())}});
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.group < b.group; });
    QJsonArray siteCells;
    for (Row &r : rows)
        siteCells.append(r.cells);
    const QByteArray json = jsonForScript(
        QJsonDocument(QJsonObject{{QStringLiteral("texts"), texts}, {QStringLiteral("sites"), siteCells}}).toJson(QJsonDocument::Compact));

    const QString policy = QStringLiteral("default-src 'none'; script-src %1; style-src %2; img-src 'none'; form-action 'none'; base-uri 'none'")
                               .arg(hashSource(kScript), hashSource(kStyle));
    QString period = options.since.isValid() ? QStringLiteral("runs since %1").arg(dateTimeText(options.since)) : QStringLiteral("all stored runs");
    if (!options.patterns.isEmpty())
        period += QStringLiteral(", sites matching %1").arg(options.patterns.join(QStringLiteral(", ")));

    QString page;
    page += QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<meta http-equiv=\"Content-Security-Policy\" content=\"%1\">\n"
                           "<meta name=\"referrer\" content=\"no-referrer\"><title>Fleet report %2</title>\n<style>")
                .arg(escapeHtml(policy), escapeHtml(dateTimeText(now)));
    page += QString::fromUtf8(kStyle);
    page += QStringLiteral("</style></head><body>\n<h1>Fleet report</h1>\n<p class=\"muted\">Made %1 from %2; last night: %3.</p>\n")
                .arg(escapeHtml(dateTimeText(now)), escapeHtml(period), escapeHtml(lastNight.toString(Qt::ISODate)));
    page += QStringLiteral("<p class=\"summary\" id=\"summary\"><span id=\"sum-sites\">%1</span> sites: <span id=\"sum-succeeded\">%2</span> "
                           "succeeded, <span id=\"sum-failed\" class=\"%3\">%4</span> failed, <span id=\"sum-attention\" class=\"%5\">%6</span> "
                           "need attention, <span id=\"sum-stale\">%7</span> not reached for %8 days (<span id=\"sum-never\">%9</span> never "
                           "run).</p>\n")
                .arg(sum.sites)
                .arg(sum.succeeded)
                .arg(sum.failed ? QStringLiteral("bad") : QString())
                .arg(sum.failed)
                .arg(sum.attention ? QStringLiteral("bad") : QString())
                .arg(sum.attention)
                .arg(sum.stale)
                .arg(std::max(1, options.staleDays))
                .arg(sum.neverRun);
    page += QStringLiteral("<h2>Results per night</h2>\n") + chart(nights, counts, sum.sites) + QLatin1Char('\n');
    page += QStringLiteral("<h2>Sites</h2>\n<p>Filter: <input id=\"filter\" type=\"search\" placeholder=\"account, name or result\"> "
                           "<span id=\"shown\" class=\"muted\"></span> <span class=\"muted\">Click a heading to sort, a site for its "
                           "runs, events and snapshots.</span></p>\n<table id=\"sites\"><thead><tr><th>Account</th><th>Name</th><th>Last "
                           "success</th><th>Last result</th><th>Attempts</th><th>Events read last night</th><th>Programming changed "
                           "(items)</th></tr></thead><tbody id=\"sites-body\"></tbody></table>\n"
                           "<noscript><p>The table needs the page's script.</p></noscript>\n");
    QByteArray out = page.toUtf8();
    out += "<script type=\"application/json\" id=\"fleet-data\">";
    out += json;
    out += "</script>\n<script>";
    out += kScript;
    out += "</script>\n</body></html>\n";
    sum.bytes = out.size();
    if (summary)
        *summary = sum;
    return out;
}

bool write(const FleetDatabase &db, const ReportOptions &options, const QString &path, ReportSummary *summary, QString *error)
{
    const QByteArray page = build(db, options, summary);
    return hostfiles::writeAtomically(path, page, error, hostfiles::Links::FollowOwn);
}

} // namespace fleetreport
