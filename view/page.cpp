// The JSON summary and the HTML page. The page carries everything it needs:
// the plotting library and its stylesheet are compiled into the program, the
// figures and plot data are embedded as JSON, and a content security policy
// keeps the page from reaching anything outside itself.
#include "page.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "plot_assets.h"

namespace {

using Json = nlohmann::ordered_json;

Json channelJson(const ChannelSummary& channel) {
    Json entry;
    entry["input"] = channel.input;
    entry["peak"] = channel.peak;
    entry["position"] = channel.position;
    entry["polarity"] = channel.polarity;
    if (channel.silent) {
        entry["latencySamples"] = nullptr;
        entry["latencyMs"] = nullptr;
        entry["onset"] = nullptr;
        entry["subsample"] = nullptr;
    } else {
        entry["latencySamples"] = channel.position;
        entry["latencyMs"] = channel.latencyMs;
        entry["onset"] = channel.onset;
        entry["subsample"] = channel.subsample;
    }
    entry["noiseRms"] = channel.noiseRms;
    entry["peakToNoiseDb"] = channel.hasRatio ? Json(channel.peakToNoiseDb) : Json(nullptr);
    entry["verdict"] = channel.verdict;
    return entry;
}

Json summaryObject(const std::string& reportPath, uint32_t rate, const ReportSummary& summary) {
    Json root;
    root["version"] = kSummaryVersion;
    root["report"] = reportPath;
    root["rate"] = rate;
    root["rows"] = summary.rows;
    root["channels"] = Json::array();
    for (const ChannelSummary& channel : summary.channels) root["channels"].push_back(channelJson(channel));
    return root;
}

// A path need not be valid UTF-8; dumping replaces what is not rather than
// throwing.
std::string dump(const Json& json, int indent) {
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

std::string escapeHtml(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&#39;"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string latencyText(const ChannelSummary& channel) {
    if (channel.silent) return "silent";
    return std::to_string(channel.position) + " samples (" + fixed(channel.latencyMs, 3) + " ms)";
}

const char kPageStyle[] = R"css(
body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em; color: #222; background: #fff; }
h1 { font-size: 1.3em; margin: 0 0 .3em; }
h2 { font-size: 1.1em; margin: 1.5em 0 .3em; }
.source { color: #555; margin: 0 0 1em; }
table { border-collapse: collapse; }
th, td { border: 1px solid #ccc; padding: .25em .6em; text-align: right; }
th { background: #f3f3f3; }
td.verdict { font-weight: bold; text-align: left; }
.verdict-ok { color: #17692a; }
.verdict-silent, .verdict-weak { color: #8a6100; }
.verdict-clipped, .verdict-inverted { color: #b00020; }
.key { color: #555; font-size: .9em; margin: .2em 0; }
.plot { min-height: 40px; }
)css";

// Draws the plots from the embedded data once the page has loaded.
const char kPageScript[] = R"js(
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('view-data').textContent);
  var colours = ['#1f77b4', '#2ca02c', '#9467bd', '#8c564b', '#e377c2', '#17becf', '#7f7f7f', '#bcbd22'];
  var peakColour = '#d62728', onsetColour = '#ff7f0e';

  function plotWidth(element) {
    return Math.max(360, Math.min(1200, element.clientWidth || document.body.clientWidth - 40));
  }

  // Vertical lines at given sample positions, drawn over the series.
  function markers(lines) {
    return {
      hooks: {
        draw: [function (u) {
          var ctx = u.ctx;
          ctx.save();
          lines.forEach(function (line) {
            var x = Math.round(u.valToPos(line.at, 'x', true));
            if (x < u.bbox.left || x > u.bbox.left + u.bbox.width) return;
            ctx.strokeStyle = line.colour;
            ctx.lineWidth = 2 * devicePixelRatio;
            ctx.setLineDash(line.dashed ? [6 * devicePixelRatio, 4 * devicePixelRatio] : []);
            ctx.beginPath();
            ctx.moveTo(x, u.bbox.top);
            ctx.lineTo(x, u.bbox.top + u.bbox.height);
            ctx.stroke();
          });
          ctx.restore();
        }]
      }
    };
  }

  var plots = [];
  data.channels.forEach(function (channel, k) {
    var element = document.getElementById('plot-' + k);
    if (channel.position < 0) {
      element.textContent = 'Every value is zero: nothing to plot.';
      return;
    }
    var xs = new Array(channel.window.length);
    for (var i = 0; i < xs.length; ++i) xs[i] = channel.windowStart + i;
    var marks = [{at: channel.onset, colour: onsetColour, dashed: true}, {at: channel.position, colour: peakColour}];
    var plot = new uPlot({
      width: plotWidth(element), height: 280,
      scales: {x: {time: false}},
      cursor: {drag: {x: true, y: false}},
      series: [{label: 'sample'}, {label: 'input ' + channel.input, stroke: colours[k % colours.length], width: 1.5}],
      axes: [{label: 'sample'}, {label: 'value', size: 60}],
      plugins: [markers(marks)]
    }, [xs, channel.window], element);
    element.setAttribute('data-drawn', 'true');
    plots.push([plot, element]);
  });

  var overview = document.getElementById('overview');
  var xs = [], series = [{label: 'sample'}], columns = [], bands = [];
  var buckets = data.channels.length ? data.channels[0].overviewMin.length : 0;
  for (var b = 0; b < buckets; ++b) xs.push(b * data.bucketSize);
  columns.push(xs);
  data.channels.forEach(function (channel, k) {
    var colour = colours[k % colours.length];
    series.push({label: 'input ' + channel.input + ' max', stroke: colour, width: 1});
    series.push({label: 'input ' + channel.input + ' min', stroke: colour, width: 1});
    columns.push(channel.overviewMax, channel.overviewMin);
    bands.push({series: [2 * k + 1, 2 * k + 2], fill: colour + '40'});
  });
  if (buckets > 0) {
    var overviewPlot = new uPlot({
      width: plotWidth(overview), height: 220,
      scales: {x: {time: false}},
      series: series, bands: bands,
      axes: [{label: 'sample'}, {label: 'value', size: 60}]
    }, columns, overview);
    overview.setAttribute('data-drawn', 'true');
    plots.push([overviewPlot, overview]);
  }

  window.addEventListener('resize', function () {
    plots.forEach(function (entry) { entry[0].setSize({width: plotWidth(entry[1]), height: entry[0].height}); });
  });
})();
)js";

std::string asText(const unsigned char* bytes, size_t size) {
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

}  // namespace

std::string summaryJson(const std::string& reportPath, uint32_t rate, const ReportSummary& summary) {
    return dump(summaryObject(reportPath, rate, summary), 2) + "\n";
}

std::string pageHtml(const std::string& reportPath, uint32_t rate, const ReportSummary& summary) {
    // The plot data rides along with the summary's figures.
    Json data = summaryObject(reportPath, rate, summary);
    data["bucketSize"] = summary.bucketSize;
    for (size_t k = 0; k < summary.channels.size(); ++k) {
        const ChannelSummary& channel = summary.channels[k];
        Json& entry = data["channels"][k];
        entry["windowStart"] = channel.windowStart;
        entry["window"] = channel.window;
        entry["overviewMin"] = channel.overviewMin;
        entry["overviewMax"] = channel.overviewMax;
    }
    // '<' occurs only inside JSON strings, where \u003c means the same and
    // cannot close the script element.
    std::string dataText;
    for (char c : dump(data, -1)) {
        if (c == '<')
            dataText += "\\u003c";
        else
            dataText += c;
    }

    std::string title;
    for (const ChannelSummary& channel : summary.channels) {
        if (!title.empty()) title += ", ";
        title += "input " + std::to_string(channel.input) + ": " + latencyText(channel);
    }

    std::string page;
    page += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
            "script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:\">\n";
    page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    page += "<title>asioloop latency: " + escapeHtml(title) + "</title>\n";
    page += "<!-- The plots are drawn by uPlot, included below under its licence:\n\n";
    page += asText(plot_assets::kPlotLicence, plot_assets::kPlotLicenceSize);
    page += "\n-->\n<style>\n";
    page += asText(plot_assets::kPlotStyle, plot_assets::kPlotStyleSize);
    page += "\n</style>\n<style>";
    page += kPageStyle;
    page += "</style>\n<script>\n";
    page += asText(plot_assets::kPlotScript, plot_assets::kPlotScriptSize);
    page += "\n</script>\n</head>\n<body>\n";

    page += "<h1 id=\"title\">Latency: " + escapeHtml(title) + "</h1>\n";
    page += "<p class=\"source\">Report " + escapeHtml(reportPath) + ", " + std::to_string(summary.rows) +
            " samples at " + std::to_string(rate) + " Hz</p>\n";

    page += "<table id=\"summary\">\n<tr><th>Input</th><th>Peak</th><th>Position</th><th>Polarity</th>"
            "<th>Latency (samples)</th><th>Latency (ms)</th><th>Onset</th><th>Sub-sample peak</th>"
            "<th>Noise RMS</th><th>Peak to noise (dB)</th><th>Verdict</th></tr>\n";
    for (const ChannelSummary& channel : summary.channels) {
        const bool silent = channel.silent;
        page += "<tr id=\"row-" + std::to_string(channel.input) + "\"><td>" + std::to_string(channel.input) + "</td>";
        page += "<td>" + std::to_string(channel.peak) + "</td>";
        page += "<td>" + std::to_string(channel.position) + "</td>";
        page += "<td>" + std::string(channel.polarity > 0 ? "+" : channel.polarity < 0 ? "&minus;" : "&ndash;") + "</td>";
        page += "<td class=\"latency-samples\">" + (silent ? "&ndash;" : std::to_string(channel.position)) + "</td>";
        page += "<td class=\"latency-ms\">" + (silent ? "&ndash;" : fixed(channel.latencyMs, 3)) + "</td>";
        page += "<td>" + (silent ? "&ndash;" : std::to_string(channel.onset)) + "</td>";
        page += "<td>" + (silent ? "&ndash;" : fixed(channel.subsample, 3)) + "</td>";
        page += "<td>" + fixed(channel.noiseRms, 2) + "</td>";
        page += "<td>" + (channel.hasRatio ? fixed(channel.peakToNoiseDb, 1) : "&ndash;") + "</td>";
        page += "<td class=\"verdict verdict-" + channel.verdict + "\">" + channel.verdict + "</td></tr>\n";
    }
    page += "</table>\n";

    for (const ChannelSummary& channel : summary.channels) {
        const std::string k = std::to_string(channel.input);
        page += "<section class=\"channel\" id=\"channel-" + k + "\">\n";
        page += "<h2>Input " + k + ": " + latencyText(channel) + ", " + channel.verdict + "</h2>\n";
        if (!channel.silent)
            page += "<p class=\"key\">Samples " + std::to_string(channel.windowStart) + " to " +
                    std::to_string(channel.windowStart + static_cast<int64_t>(channel.window.size()) - 1) +
                    "; solid red line: the peak at " + std::to_string(channel.position) +
                    ", dashed orange line: the onset at " + std::to_string(channel.onset) +
                    ". Drag to zoom, double-click to zoom out.</p>\n";
        page += "<div class=\"plot\" id=\"plot-" + k + "\"></div>\n</section>\n";
    }
    page += "<section>\n<h2>The whole run</h2>\n<p class=\"key\">Each input's smallest and largest value over every " +
            std::to_string(summary.bucketSize) + (summary.bucketSize == 1 ? " sample" : " samples") +
            ".</p>\n<div class=\"plot\" id=\"overview\"></div>\n</section>\n";

    page += "<script type=\"application/json\" id=\"view-data\">" + dataText + "</script>\n";
    page += "<script>";
    page += kPageScript;
    page += "</script>\n</body>\n</html>\n";
    return page;
}
