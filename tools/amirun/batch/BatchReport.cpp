#include "tools/amirun/batch/BatchReport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iomanip>
#include <limits>
#include <locale>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tools/amirun/batch/Results.h"
#include "tools/amirun/io/Json.h"
#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

using nlohmann::json;

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Run ids are FNV-1a hashes: 16 lower-case hexadecimal digits, nothing else.
bool IsRunId(const std::string& id) {
    return id.size() == 16 && id.find_first_not_of("0123456789abcdef") == std::string::npos;
}

ResultRun RunOf(const json& line) {
    ResultRun run;
    run.id = line.at("id").get<std::string>();
    run.channel = line.at("channel").get<std::string>();
    for (const auto& [key, value] : line.at("settings").items())
        run.settings[key] = value.get<std::string>();
    if (line.contains("statistical")) {
        run.hasStat = true;
        run.statHeight = line["statistical"].at("height_v").get<double>();
        run.statApplies = line["statistical"].value("applies", true);
        run.statWidth = line["statistical"].at("width_ui").get<double>();
    }
    if (line.contains("bit_by_bit")) {
        run.hasBits = true;
        run.bitsHeight = line["bit_by_bit"].at("height_v").get<double>();
        run.bitsWidth = line["bit_by_bit"].at("width_ui").get<double>();
    }
    return run;
}

bool SameFigures(const ResultRun& a, const ResultRun& b) {
    return a.channel == b.channel && a.settings == b.settings && a.hasStat == b.hasStat &&
           a.statApplies == b.statApplies && a.hasBits == b.hasBits &&
           a.statHeight == b.statHeight && a.statWidth == b.statWidth &&
           a.bitsHeight == b.bitsHeight && a.bitsWidth == b.bitsWidth;
}

// Text order with digit runs compared as numbers: EQ=5 before EQ=10.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
            const std::string x = a.substr(i, ei - i), y = b.substr(j, ej - j);
            const std::size_t zx = x.find_first_not_of('0'), zy = y.find_first_not_of('0');
            const std::string nx = zx == std::string::npos ? "" : x.substr(zx);
            const std::string ny = zy == std::string::npos ? "" : y.substr(zy);
            if (nx.size() != ny.size()) return nx.size() < ny.size();
            if (nx != ny) return nx < ny;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

bool RunLess(const ResultRun& a, const ResultRun& b) {
    if (a.channel != b.channel) return NaturalLess(a.channel, b.channel);
    const std::string x = a.Side("tx.") + " " + a.Side("rx."),
                      y = b.Side("tx.") + " " + b.Side("rx.");
    if (x != y) return NaturalLess(x, y);
    return a.id < b.id;
}

std::string SettingsName(const ResultRun& run) {
    return "tx: " + run.Side("tx.") + ", rx: " + run.Side("rx.");
}

// Green for an open eye, darker the higher against the map's best; red for a closed one, darker
// the more closed against the map's worst; so a map of closed eyes still shows its order.
std::string Colour(double value, double best, double worst) {
    if (value > 0.0) {
        const double t = best > 0.0 ? std::clamp(value / best, 0.0, 1.0) : 0.0;
        return "rgb(" + std::to_string(int(std::lround(200 - 150 * t))) + "," +
               std::to_string(int(std::lround(235 - 60 * t))) + "," +
               std::to_string(int(std::lround(200 - 150 * t))) + ")";
    }
    const double t = worst < 0.0 ? std::clamp(value / worst, 0.0, 1.0) : 0.0;
    return "rgb(" + std::to_string(int(std::lround(245 - 45 * t))) + "," +
           std::to_string(int(std::lround(210 - 170 * t))) + "," +
           std::to_string(int(std::lround(200 - 150 * t))) + ")";
}

// The channels in natural order (builtin:8 before builtin:12).
std::vector<std::string> ChannelOrder(
    const std::map<std::string, std::vector<const ResultRun*>>& perChannel) {
    std::vector<std::string> names;
    for (const auto& entry : perChannel) names.push_back(entry.first);
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

// The eye's opening drawn to scale: a hexagon as wide as the eye (of one UI) and as high as it
// is open at the centre.
std::string EyeSvg(const ResultRun& run, double fullScale) {
    const double w = 200.0, h = 120.0;
    const double halfWidth = std::clamp(run.Width(), 0.0, 1.0) * w / 2.0;
    const double halfHeight =
        fullScale > 0.0 ? std::clamp(run.Height() / fullScale, 0.0, 1.0) * (h / 2.0 - 5.0) : 0.0;
    const double cx = w / 2.0, cy = h / 2.0;
    std::ostringstream svg;
    svg.imbue(std::locale::classic());
    svg << "<svg width='" << w << "' height='" << h << "' viewBox='0 0 " << w << ' ' << h
        << "'><rect width='" << w << "' height='" << h << "' fill='#222'/>";
    if (halfHeight > 0.0 && halfWidth > 0.0)
        svg << "<polygon fill='#4caf50' points='" << cx - halfWidth << ',' << cy << ' '
            << cx - halfWidth / 2 << ',' << cy - halfHeight << ' ' << cx + halfWidth / 2 << ','
            << cy - halfHeight << ' ' << cx + halfWidth << ',' << cy << ' ' << cx + halfWidth / 2
            << ',' << cy + halfHeight << ' ' << cx - halfWidth / 2 << ',' << cy + halfHeight
            << "'/>";
    else
        svg << "<text x='" << cx << "' y='" << cy << "' fill='#f66' text-anchor='middle'>closed"
            << "</text>";
    svg << "<line x1='0' y1='" << cy << "' x2='" << w << "' y2='" << cy
        << "' stroke='#888' stroke-dasharray='4'/></svg>";
    return svg.str();
}

}  // namespace

std::string ResultRun::Side(const std::string& prefix) const {
    std::string text;
    for (const auto& [key, value] : settings)
        if (key.rfind(prefix, 0) == 0)
            text += (text.empty() ? "" : " ") + key.substr(3) + "=" + value;
    return text.empty() ? "(defaults)" : text;
}

MergedResults MergeResults(const std::vector<std::string>& files) {
    MergedResults merged;
    std::map<std::string, ResultRun> byId;
    std::set<std::string> duplicates;
    for (const std::string& file : files) {
        std::size_t broken = 0;
        for (const ResultLine& result : ReadResultLines(file, broken)) {
            const std::string where = file + ": line " + std::to_string(result.number);
            const json line = json::parse(result.text);
            const std::string plan = line.at("plan").get<std::string>();
            if (merged.plan.empty()) merged.plan = plan;
            if (plan != merged.plan)
                throw ResultsError(file + " holds results of plan " + plan + ", the others of " +
                                   merged.plan + ": a report merges one plan's results");
            ResultRun run;
            std::size_t runs = 0;
            try {
                runs = line.at("runs").get<std::size_t>();
                run = RunOf(line);
            } catch (const json::exception& error) {
                throw ResultsError(where + ": not a result line of amirun batch (" +
                                   std::string(error.what()) + ")");
            }
            if (!IsRunId(run.id))
                throw ResultsError(where + ": the run id is not 16 hexadecimal digits");
            if (merged.expected != 0 && runs != merged.expected)
                throw ResultsError(where + ": says the plan has " + std::to_string(runs) +
                                   " runs, where the lines before say " +
                                   std::to_string(merged.expected));
            merged.expected = runs;
            const auto found = byId.find(run.id);
            if (found == byId.end()) {
                byId.emplace(run.id, std::move(run));
                continue;
            }
            if (!SameFigures(found->second, run))
                throw ResultsError("run " + run.id + " has different figures in two places");
            duplicates.insert(run.id);
        }
        merged.broken += broken;
    }
    for (auto& [id, run] : byId) merged.runs.push_back(std::move(run));
    std::sort(merged.runs.begin(), merged.runs.end(), RunLess);
    merged.duplicates.assign(duplicates.begin(), duplicates.end());
    return merged;
}

std::vector<SettingScore> RankSettings(const MergedResults& merged) {
    std::map<std::string, SettingScore> scores;
    for (const ResultRun& run : merged.runs) {
        SettingScore& s = scores[SettingsName(run)];
        if (s.channels == 0) {
            s.settings = SettingsName(run);
            s.tx = run.Side("tx.");
            s.rx = run.Side("rx.");
            s.worst = std::numeric_limits<double>::infinity();
        }
        s.worst = std::min(s.worst, run.Height());
        s.mean += run.Height();
        ++s.channels;
    }
    std::vector<SettingScore> ranked;
    for (auto& [name, s] : scores) {
        s.mean /= double(s.channels);
        ranked.push_back(s);
    }
    std::sort(ranked.begin(), ranked.end(), [](const SettingScore& a, const SettingScore& b) {
        if (a.worst != b.worst) return a.worst > b.worst;
        if (a.mean != b.mean) return a.mean > b.mean;
        return a.settings < b.settings;
    });
    return ranked;
}

std::map<std::string, std::vector<const ResultRun*>> RankPerChannel(const MergedResults& merged) {
    std::map<std::string, std::vector<const ResultRun*>> channels;  // runs arrive in RunLess order
    for (const ResultRun& run : merged.runs) channels[run.channel].push_back(&run);
    for (auto& [name, runs] : channels)
        std::stable_sort(runs.begin(), runs.end(), [](const ResultRun* a, const ResultRun* b) {
            if (a->Height() != b->Height()) return a->Height() > b->Height();
            return a->Width() > b->Width();
        });
    return channels;
}

std::string ResultsCsv(const MergedResults& merged) {
    std::set<std::string> keys;
    for (const ResultRun& run : merged.runs)
        for (const auto& [key, value] : run.settings) keys.insert(key);
    std::ostringstream csv;
    csv.imbue(std::locale::classic());
    csv << std::setprecision(10) << "id,channel";
    for (const std::string& key : keys) csv << ',' << quoted(key);
    csv << ",stat_height_v,stat_width_ui,bits_height_v,bits_width_ui\n";
    // Every text quoted, so a comma or a line break stays in its cell, and text a spreadsheet
    // would take for a formula (= + - @ first) led by an apostrophe, so it stays text.
    auto quoted = [](const std::string& text) {
        std::string out = "\"";
        if (!text.empty() && std::string("=+-@\t\r").find(text.front()) != std::string::npos)
            out += '\'';
        for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        return out + "\"";
    };
    for (const ResultRun& run : merged.runs) {
        csv << run.id << ',' << quoted(run.channel);
        for (const std::string& key : keys) {
            const auto found = run.settings.find(key);
            csv << ',' << (found == run.settings.end() ? "" : quoted(found->second));
        }
        csv << ',';
        if (run.hasStat) csv << run.statHeight;
        csv << ',';
        if (run.hasStat) csv << run.statWidth;
        csv << ',';
        if (run.hasBits) csv << run.bitsHeight;
        csv << ',';
        if (run.hasBits) csv << run.bitsWidth;
        csv << '\n';
    }
    return csv.str();
}

std::string ResultsJson(const MergedResults& merged) {
    json out = {{"schema", kJsonSchema},
                {"plan", merged.plan},
                {"expected_runs", merged.expected},
                {"runs", merged.runs.size()},
                {"missing_runs", merged.Missing()},
                {"duplicate_ids", merged.duplicates},
                {"broken_lines", merged.broken}};
    json ranking = json::array();
    for (const SettingScore& s : RankSettings(merged))
        ranking.push_back({{"settings", s.settings},
                           {"worst_height_v", s.worst},
                           {"mean_height_v", s.mean},
                           {"channels", s.channels}});
    out["settings_by_worst_channel"] = ranking;
    json best = json::object();
    for (const auto& [channel, runs] : RankPerChannel(merged))
        best[channel] = {{"settings", SettingsName(*runs.front())},
                         {"height_v", runs.front()->Height()},
                         {"width_ui", runs.front()->Width()},
                         {"id", runs.front()->id}};
    out["best_per_channel"] = best;
    return out.dump(2);
}

namespace {

// Heat maps over transmitter x receiver settings: the worst and the mean height over the channels.
void HeatMaps(std::ostream& html, const std::vector<SettingScore>& ranked) {
    std::vector<std::string> txs, rxs;
    for (const SettingScore& s : ranked) {
        if (std::find(txs.begin(), txs.end(), s.tx) == txs.end()) txs.push_back(s.tx);
        if (std::find(rxs.begin(), rxs.end(), s.rx) == rxs.end()) rxs.push_back(s.rx);
    }
    std::sort(txs.begin(), txs.end(), NaturalLess);
    std::sort(rxs.begin(), rxs.end(), NaturalLess);
    for (const bool worstMap : {true, false}) {
        std::map<std::pair<std::string, std::string>, double> cell;
        double best = 0.0, worst = 0.0;
        for (const SettingScore& s : ranked) {
            const double value = worstMap ? s.worst : s.mean;
            cell[{s.tx, s.rx}] = value;
            best = std::max(best, value);
            worst = std::min(worst, value);
        }
        html << "<h2>" << (worstMap ? "Worst-channel" : "Mean")
             << " eye height (mV) over transmitter x receiver settings</h2><table class='map' id='"
             << (worstMap ? "heatmap" : "meanmap") << "'><tr><th class='l'>tx \\ rx</th>";
        for (const std::string& rx : rxs) html << "<th>" << Escape(rx) << "</th>";
        html << "</tr>";
        for (const std::string& tx : txs) {
            html << "<tr><th class='l'>" << Escape(tx) << "</th>";
            for (const std::string& rx : rxs) {
                const auto found = cell.find({tx, rx});
                if (found == cell.end()) {
                    html << "<td></td>";
                    continue;
                }
                html << "<td style='background:" << Colour(found->second, best, worst) << "'>"
                     << Fixed(found->second * 1e3, 1) << "</td>";
            }
            html << "</tr>";
        }
        html << "</table>";
    }
    html << "<p>Green: open, darker the higher; red: closed (negative height), darker the more "
            "closed.</p>";
}

// The ten best settings overall, the best per channel, and the worst channels' eyes at their
// best settings, drawn to one scale.
void BestSettings(std::ostream& html, const MergedResults& merged,
                  const std::vector<SettingScore>& ranked) {
    const auto perChannel = RankPerChannel(merged);
    html << "<h2>Best settings overall (by the worst channel)</h2><table><tr><th>rank</th>"
            "<th class='l'>settings</th><th>worst height (mV)</th><th>mean height (mV)</th>"
            "<th>channels</th></tr>";
    for (std::size_t i = 0; i < ranked.size() && i < 10; ++i)
        html << "<tr><td>" << i + 1 << "</td><td class='l'>" << Escape(ranked[i].settings)
             << "</td><td>" << Fixed(ranked[i].worst * 1e3, 2) << "</td><td>"
             << Fixed(ranked[i].mean * 1e3, 2) << "</td><td>" << ranked[i].channels << "</td></tr>";
    html << "</table><h2>Best settings per channel</h2><table><tr><th class='l'>channel</th>"
            "<th class='l'>settings</th><th>height (mV)</th><th>width (UI)</th></tr>";
    std::vector<const ResultRun*> bests;
    for (const std::string& channel : ChannelOrder(perChannel)) {
        const auto& runs = perChannel.at(channel);
        bests.push_back(runs.front());
        html << "<tr><td class='l'>" << Escape(channel) << "</td><td class='l'>"
             << Escape(SettingsName(*runs.front())) << "</td><td>"
             << Fixed(runs.front()->Height() * 1e3, 2) << "</td><td>"
             << Fixed(runs.front()->Width(), 3) << "</td></tr>";
    }
    html << "</table><h2>Worst channels, at their best settings</h2><div class='eyes'>";
    std::sort(bests.begin(), bests.end(),
              [](const ResultRun* a, const ResultRun* b) { return a->Height() < b->Height(); });
    double scale = 0.0;
    for (const ResultRun& run : merged.runs) scale = std::max(scale, run.Height());
    for (std::size_t i = 0; i < bests.size() && i < 6; ++i)
        html << "<figure>" << EyeSvg(*bests[i], scale) << "<figcaption>"
             << Escape(bests[i]->channel) << "<br>" << Escape(SettingsName(*bests[i])) << "<br>"
             << Fixed(bests[i]->Height() * 1e3, 2) << " mV x " << Fixed(bests[i]->Width(), 3)
             << " UI</figcaption></figure>";
    html << "</div><p>Each opening is drawn to scale: one unit interval wide, and as high as the "
            "largest eye of the batch at full height.</p>";
}

}  // namespace

const char* ReportScript() {
    return "document.querySelectorAll('#runs th').forEach(function(th,col){"
           "th.addEventListener('click',function(){var body=document.querySelector('#runs "
           "tbody');var rows=Array.from(body.rows);var up=th.dataset.up!=='1';"
           "th.dataset.up=up?'1':'0';rows.sort(function(a,b){var x=a.cells[col].textContent,"
           "y=b.cells[col].textContent,p=parseFloat(x),q=parseFloat(y);var c=(!isNaN(p)&&"
           "!isNaN(q))?p-q:x.localeCompare(y);return up?c:-c;});rows.forEach(function(r){"
           "body.appendChild(r);});});});";
}

// The page's Content-Security-Policy: nothing from outside, inline styles, and no script but
// ReportScript(), named by its SHA-256 (so a script in the data never runs).
constexpr char kContentSecurityPolicy[] =
    "default-src 'none'; style-src 'unsafe-inline'; script-src "
    "'sha256-E9aKjM8r1q0Bhx5zBbTbYkiEaGl/ECzyXnySJlIFyU0='";

namespace {

// Every run, in a table whose headings sort it.
void AllRuns(std::ostream& html, const MergedResults& merged) {
    html << "<h2>All runs</h2><p>Click a heading to sort.</p><table id='runs'><thead><tr>"
            "<th class='l'>id</th><th class='l'>channel</th><th class='l'>tx</th>"
            "<th class='l'>rx</th><th>stat height (mV)</th><th>stat width (UI)</th>"
            "<th>bit-by-bit height (mV)</th><th>bit-by-bit width (UI)</th></tr></thead><tbody>";
    for (const ResultRun& run : merged.runs) {
        html << "<tr class='run'><td class='l'>" << Escape(run.id) << "</td><td class='l'>"
             << Escape(run.channel) << "</td><td class='l'>" << Escape(run.Side("tx."))
             << "</td><td class='l'>" << Escape(run.Side("rx.")) << "</td><td>"
             << (run.hasStat ? Fixed(run.statHeight * 1e3, 3) : "") << "</td><td>"
             << (run.hasStat ? Fixed(run.statWidth, 4) : "") << "</td><td>"
             << (run.hasBits ? Fixed(run.bitsHeight * 1e3, 3) : "") << "</td><td>"
             << (run.hasBits ? Fixed(run.bitsWidth, 4) : "") << "</td></tr>";
    }
    html << "</tbody></table><script>" << ReportScript() << "</script>";
}

}  // namespace

std::string ResultsHtml(const MergedResults& merged) {
    const auto ranked = RankSettings(merged);
    std::ostringstream html;
    html.imbue(std::locale::classic());
    html << "<!DOCTYPE html><html lang='en'><head><meta charset='utf-8'>"
         << "<meta http-equiv='Content-Security-Policy' content=\"" << kContentSecurityPolicy
         << "\"><title>amirun batch "
            "report</title><style>body{font-family:sans-serif;margin:20px;color:#222}"
            "table{border-collapse:collapse;margin:8px 0 20px}td,th{border:1px solid #ccc;"
            "padding:3px 8px;font-size:13px;text-align:right}th{background:#eee;cursor:pointer}"
            "td.l,th.l{text-align:left}.map td{width:56px;color:#000}.eyes{display:flex;"
            "flex-wrap:wrap;gap:16px}.eyes figure{margin:0}</style></head><body>";
    html << "<h1>Batch report</h1><p>Plan " << Escape(merged.plan) << ": " << merged.runs.size()
         << " runs of " << merged.expected << " (" << merged.Missing() << " missing, "
         << merged.duplicates.size() << " found twice, " << merged.broken
         << " broken lines). Heights are the statistical eye's at the plan's BER where that flow "
            "ran and applies, else the bit-by-bit eye's (a transmitter that is not linear at the "
            "bits' swing gets a short bit-by-bit run), in volts.</p>";
    HeatMaps(html, ranked);
    BestSettings(html, merged, ranked);
    AllRuns(html, merged);
    html << "</body></html>\n";
    return html.str();
}

}  // namespace amirun
