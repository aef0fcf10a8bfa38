// The campaign page's inline style and script. The script reads the rows
// from #campaign-data (text packed by a dictionary, see page.cpp's Packer),
// and draws one page of the sorted, filtered rows at a time: a campaign of
// 10,000 rows sorts and filters without laying out 10,000 table rows.
#pragma once

namespace audiomeas::host {

inline constexpr const char* kPageStyle = R"css(
body{font:14px/1.4 system-ui,sans-serif;margin:0 2em 4em;color:#222}
h1{margin:.6em 0 .2em}h2{border-bottom:1px solid #ccc;margin-top:1.6em}
nav a{margin-right:1em}.note{background:#fff3cd;border:1px solid #e0c36c;padding:.4em .8em}
table{border-collapse:collapse}th,td{padding:2px 8px;text-align:left;vertical-align:top}
.counts,.list{margin:0 2em 1em 0}.counts td.n{text-align:right}.side{display:flex;flex-wrap:wrap}
.list th{background:#f0f0f0}.list td,.list th{border:1px solid #ddd}
.figure{display:flex;flex-wrap:wrap;align-items:flex-start;gap:1em;margin-bottom:1em}
.plot{width:640px;max-width:100%;height:auto;background:#fff}
.plot .frame{fill:none;stroke:#999}.plot .tick{stroke:#999}.plot text{font-size:11px;fill:#333}
.plot .t{font-size:13px}.plot .xt,.plot .xl{text-anchor:middle}.plot .yt{text-anchor:end}
.plot .bar{fill:#1f77b4}.plot .dot{fill:#1f77b4;opacity:.7}.plot .legend text{font-size:10px}
.stats th{font-weight:normal;color:#555}
.controls{display:flex;flex-wrap:wrap;gap:1em;align-items:center;margin-bottom:.5em}
fieldset{border:1px solid #ccc;padding:2px 8px}
#row-table th{cursor:pointer;user-select:none;white-space:nowrap}
#row-table th[aria-sort=ascending]::after{content:" \25B2"}#row-table th[aria-sort=descending]::after{content:" \25BC"}
#row-table tr.s-doubtful td:nth-child(4){background:#fff3cd}#row-table tr.s-flagged td:nth-child(4){background:#f8d7da}
#row-table tr.s-error td:nth-child(4){background:#f5c2c7;font-weight:bold}#row-table tr.sel{outline:2px solid #1f77b4}
button.open{font:inherit;background:none;border:none;color:#0645ad;text-decoration:underline;cursor:pointer;padding:0;text-align:left}
#detail{border:2px solid #1f77b4;padding:0 1em 1em;margin-top:1em}
#detail pre{background:#f7f7f7;padding:.6em;overflow:auto;max-height:40em}
.hint{color:#666}
)css";

inline constexpr const char* kPageScript = R"js(
(function () {
  "use strict";
  var data = JSON.parse(document.getElementById("campaign-data").textContent);
  var dict = data.strings;
  // Undoes the dictionary: "~" and a base-36 index, "~~" a literal "~".
  function un(v) {
    if (typeof v === "string") {
      if (v.charCodeAt(0) !== 126) return v;
      return v.charCodeAt(1) === 126 ? v.slice(1) : dict[parseInt(v.slice(1), 36)];
    }
    if (Array.isArray(v)) return v.map(un);
    if (v !== null && typeof v === "object") {
      var o = {};
      for (var k in v) o[un(k)] = un(v[k]);
      return o;
    }
    return v;
  }
  function esc(s) {
    return String(s).replace(/[&<>"']/g, function (c) {
      return {"&": "&amp;", "<": "&lt;", ">": "&gt;", "\"": "&quot;", "'": "&#39;"}[c];
    });
  }
  // Each row: [row, measurement, files, status, verdict, key figure, figures, reasons, plots, line].
  var rows = data.rows.map(function (r) {
    var files = un(r[2]);
    return {row: r[0], m: un(r[1]), files: Array.isArray(files) ? files.join(", ") : String(files), status: un(r[3]), verdict: un(r[4]),
            key: r[5], figures: un(r[6]), why: un(r[7]), plots: r[8], line: r[9]};
  });
  var n = rows.length;
  var tbody = document.querySelector("#row-table tbody");
  var hay = rows.map(function (r) {
    return (r.row + " " + r.m + " " + r.files + " " + r.status + " " + r.verdict + " " + r.figures + " " +
            r.why).toLowerCase();
  });
  // The table holds one page of the matching rows: a browser lays out a
  // few hundred rows at once, not 10,000.
  var PAGE = 500;
  var order = rows.map(function (_, i) { return i; });
  var matches = order, first = 0, selected = -1;
  var shown = document.getElementById("shown");
  var previous = document.getElementById("previous-page"), next = document.getElementById("next-page");
  function render() {
    var end = Math.min(matches.length, first + PAGE), parts = [];
    for (var k = first; k < end; k++) {
      var i = matches[k], r = rows[i];
      parts.push("<tr class=\"s-" + esc(r.status) + (i === selected ? " sel" : "") + "\"><td>" + r.row +
        "</td><td>" + esc(r.m) + "</td><td><button type=\"button\" class=\"open\" data-i=\"" + i + "\">" +
        esc(r.files) + "</button></td><td>" + esc(r.status) + "</td><td>" + esc(r.verdict) + "</td><td>" +
        esc(r.figures) + "</td><td>" + esc(r.why) + "</td></tr>");
    }
    tbody.innerHTML = parts.join("");
    shown.textContent = matches.length === 0 ? "no row matches (" + n + " in all)"
      : "showing " + (first + 1) + "\u2013" + end + " of " + matches.length + " matching rows (" + n + " in all)";
    previous.disabled = first === 0;
    next.disabled = end >= matches.length;
  }

  // Sort keys per column: numbers for the row and the key figure, text otherwise.
  var keyOf = [
    function (r) { return r.row; }, function (r) { return r.m; }, function (r) { return r.files; },
    function (r) { return r.status; }, function (r) { return r.verdict; },
    function (r) { return r.key; }, function (r) { return r.why; }
  ];
  var heads = Array.prototype.slice.call(document.querySelectorAll("#row-table thead th"));
  function sortBy(col) {
    var th = heads[col];
    var dir = th.getAttribute("aria-sort") === "ascending" ? -1 : 1;
    var keys = rows.map(keyOf[col]);
    if (col !== 0 && col !== 5) keys = keys.map(function (k) { return k === null ? null : String(k).toLowerCase(); });
    order.sort(function (a, b) {
      var x = keys[a], y = keys[b];
      if (col === 5 && rows[a].m !== rows[b].m) return rows[a].m < rows[b].m ? -dir : dir;
      if (x === y) return rows[a].row - rows[b].row;
      if (x === null) return 1;  // rows without a value last, either way
      if (y === null) return -1;
      return (x < y ? -1 : 1) * dir;
    });
    heads.forEach(function (h) { h.setAttribute("aria-sort", "none"); });
    th.setAttribute("aria-sort", dir === 1 ? "ascending" : "descending");
    filter();
  }
  heads.forEach(function (th, col) {
    th.addEventListener("click", function () { sortBy(col); });
    th.addEventListener("keydown", function (e) {
      if (e.key === "Enter" || e.key === " ") { e.preventDefault(); sortBy(col); }
    });
  });

  var boxes = Array.prototype.slice.call(document.querySelectorAll(".status-filter"));
  var text = document.getElementById("text-filter");
  function filter() {
    var on = {};
    boxes.forEach(function (b) { on[b.value] = b.checked; });
    var q = text.value.trim().toLowerCase();
    matches = order.filter(function (i) {
      return on[rows[i].status] === true && (q === "" || hay[i].indexOf(q) >= 0);
    });
    first = 0;
    render();
  }
  var timer = 0;
  boxes.forEach(function (b) { b.addEventListener("change", filter); });
  text.addEventListener("input", function () { clearTimeout(timer); timer = setTimeout(filter, 120); });
  previous.addEventListener("click", function () { first = Math.max(0, first - PAGE); render(); });
  next.addEventListener("click", function () { first += PAGE; render(); });
  filter();

  var detail = document.getElementById("detail");
  var body = document.getElementById("detail-body");
  function open(i) {
    var r = rows[i];
    selected = i;
    Array.prototype.forEach.call(tbody.querySelectorAll("tr.sel"), function (tr) { tr.classList.remove("sel"); });
    var button = tbody.querySelector("button[data-i=\"" + i + "\"]");
    if (button) button.closest("tr").classList.add("sel");
    detail.querySelector("h2").textContent = "Row " + r.row + ": " + r.m + ", " + r.status;
    var html = "<p>files: " + esc(r.files) + "</p><p>verdict: " + esc(r.verdict) + "</p>";
    if (r.why) html += "<p>" + (r.status === "error" ? "error: " : "reasons: ") + esc(r.why) + "</p>";
    if (r.figures) html += "<p>" + esc(r.figures) + "</p>";
    if (r.plots === 2) html += "<p class=\"note\">Its detail plots are left out: the page holds " +
      "the plots of the first rows only (make a report of fewer rows to see them).</p>";
    html += "<div class=\"plots\"></div><h3>Its line in the results file</h3><pre></pre>";
    body.innerHTML = html;
    var tpl = document.getElementById("plots-" + r.row);
    if (tpl) body.querySelector(".plots").appendChild(tpl.content.cloneNode(true));
    body.querySelector("pre").textContent = JSON.stringify(un(r.line), null, 2);
    detail.hidden = false;
    detail.querySelector("h2").focus();
  }
  tbody.addEventListener("click", function (e) {
    var b = e.target.closest("button.open");
    if (b) open(Number(b.getAttribute("data-i")));
  });
  document.getElementById("close-detail").addEventListener("click", function () {
    detail.hidden = true;
    var button = tbody.querySelector("button[data-i=\"" + selected + "\"]");
    selected = -1;
    Array.prototype.forEach.call(tbody.querySelectorAll("tr.sel"), function (tr) { tr.classList.remove("sel"); });
    if (button) button.focus();
  });
})();
)js";

}  // namespace audiomeas::host
