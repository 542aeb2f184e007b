// decimal-diff's report page: filtering and sorting the table, and drawing
// each failed directory's chart from the data beside it with dygraphs.
"use strict";
(function () {
  // This script runs before the table is read, so that a long page can be
  // filtered and sorted while the rest of it comes in: the filter is the
  // table's data-filter, which the style sheet reads once scripts run, and
  // the headings are found when they are clicked.
  document.documentElement.classList.add("scripted");
  const filter = document.getElementById("filter");
  document.getElementById("controls").hidden = false;
  filter.addEventListener("change", function () {
    document.getElementById("directories").dataset.filter = filter.value;
  });

  // A cell's key: its data-value as a number when it has one, else its text.
  function key(row, column) {
    const cell = row.cells[column];
    if (cell.dataset.value === undefined) return cell.textContent;
    return cell.dataset.value === "" ? NaN : Number(cell.dataset.value);
  }
  // The page opens sorted by verdict, worst first, then by name.
  let sorted = { column: 1, ascending: true };
  function sortBy(heading) {
    const table = document.getElementById("directories");
    const headings = Array.from(table.tHead.rows[0].cells);
    const column = headings.indexOf(heading);
    const ascending = sorted.column === column ? !sorted.ascending : true;
    sorted = { column: column, ascending: ascending };
    for (const other of headings) other.removeAttribute("aria-sort");
    heading.setAttribute("aria-sort", ascending ? "ascending" : "descending");
    const order = Array.from(table.tBodies[0].rows).sort(function (a, b) {
      const x = key(a, column);
      const y = key(b, column);
      let c;
      if (typeof x === "number") {
        // Rows without the figure go last either way.
        if (Number.isNaN(x) || Number.isNaN(y)) return Number.isNaN(x) - Number.isNaN(y);
        c = x - y;
      } else {
        c = x.localeCompare(y);
      }
      return ascending ? c : -c;
    });
    for (const row of order) table.tBodies[0].appendChild(row);
  }
  const headingOf = function (event) {
    return event.target.closest ? event.target.closest("#directories thead th") : null;
  };
  document.addEventListener("click", function (event) {
    const heading = headingOf(event);
    if (heading) sortBy(heading);
  });
  document.addEventListener("keydown", function (event) {
    const heading = headingOf(event);
    if (heading && event.key === "Enter") sortBy(heading);
  });
  performance.mark("decimal-diff: table ready");

  // Engineering notation for the ticks: 800k, 1M, 3G.
  function engineering(n) {
    const magnitude = Math.abs(n);
    for (const [size, suffix] of [[1e9, "G"], [1e6, "M"], [1e3, "k"]]) {
      if (magnitude >= size) return String(Number((n / size).toPrecision(4))) + suffix;
    }
    return String(Number(n.toPrecision(6)));
  }

  // Draws one chart from the data beside it.
  function draw(chart) {
    const data = JSON.parse(document.getElementById(chart.dataset.source).textContent);
    chart.textContent = "";  // the picture drawn for pages without scripts
    // Columns come as [gap after the last, width, least and greatest of each
    // series (or null), unknown entries]; entries kept whole around the first
    // faults as [index, model, implementation, difference, unknown].
    let end = data.first;
    const columns = data.columns.map(function (c) {
      const first = end + c[0];
      end = first + c[1] + 1;
      return [first, first + c[1]].concat(c.slice(2, 8), [c[8] || 0]);
    });
    const details = (data.details || []).map(function (e) {
      return [e[0], e[0], e[1], e[1], e[2], e[2], e[3], e[3], e[4] || 0];
    });
    const bits = data.fraction_bits;
    const scale = Math.pow(2, -bits);
    const tolerance = data.tolerance;
    // The difference's scale keeps the band and most columns in sight: a
    // single outlier far past the rest is drawn at the edge, off the scale,
    // its value on hover, so that smaller faults do not shrink to nothing.
    const outers = [];
    for (const c of columns) if (c[2] !== null) outers.push(Math.max(Math.abs(c[6]), Math.abs(c[7])));
    outers.sort(function (a, b) { return a - b; });
    const most = outers.length ? outers[Math.floor(outers.length * 0.99)] : 0;
    const largest = outers.length ? outers[outers.length - 1] : 0;
    let reach = Math.max(tolerance + 1, largest);
    if (largest > 4 * Math.max(most, tolerance + 1)) reach = 2 * Math.max(most, tolerance + 1);
    const edge = reach * 1.05;
    const clip = function (d) { return Math.max(-edge, Math.min(edge, d)); };
    const rowsOf = (view) => view.map(function (c) {
      const [first, last, mMin, mMax, iMin, iMax, dMin, dMax, unknown] = c;
      const x = (first + last) / 2;
      const mark = unknown > 0 ? [0, 0, 0] : null;
      if (mMin === null) return [x, null, null, null, null, null, mark];
      const outer = Math.abs(dMin) >= Math.abs(dMax) ? dMin : dMax;
      const off = Math.abs(outer) > edge ? clip(outer) : null;
      return [
        x,
        [mMin * scale, ((mMin + mMax) / 2) * scale, mMax * scale],
        [iMin * scale, ((iMin + iMax) / 2) * scale, iMax * scale],
        [clip(dMin), clip((dMin + dMax) / 2), clip(dMax)],
        Math.abs(outer) > tolerance && off === null ? [outer, outer, outer] : null,
        off === null ? null : [off, off, off],
        mark,
      ];
    });
    // Hover tells a column's entries as the text does: one entry's values
    // with its raw integer and whole LSB, or a merged column's range of
    // indices and the least and greatest of each series, never a midpoint.
    const value = function (lsb) {
      return (lsb * scale).toFixed(6) + " (" + (Number.isInteger(lsb) ? lsb : lsb.toFixed(3)) + ")";
    };
    const lsb = function (d) { return Number.isInteger(d) ? String(d) : d.toFixed(3); };
    const hover = function (shown) {
      if (shown.i === undefined || shown.i === null) return "model, implementation, difference (LSB)";
      const [first, last, mMin, mMax, iMin, iMax, dMin, dMax, unknown] = view[shown.i];
      const unknownText = unknown > 0 ? ", " + unknown + " unknown" : "";
      if (mMin === null) {
        return (first === last ? "index " + first : "indices " + first + " to " + last) +
          ": unknown" + (first === last ? "" : " (" + unknown + ")");
      }
      if (first === last) {
        return "index " + first + ": model " + value(mMin) + ", implementation " + value(iMin) +
          ", difference " + lsb(dMin) + " LSB";
      }
      return "indices " + first + " to " + last + ": model " + value(mMin) + " to " + value(mMax) +
        ", implementation " + value(iMin) + " to " + value(iMax) + ", difference " + lsb(dMin) +
        " to " + lsb(dMax) + " LSB" + unknownText;
    };
    // The legend below the chart, off the data.
    const legend = document.createElement("div");
    legend.className = "legend";
    chart.after(legend);
    // Zoomed in near a fault, its entries kept whole take the place of the
    // columns that hold them; zoomed out, the columns come back.
    let view = columns;
    const zoomed = function (low, high, graph) {
      const near = details.filter(function (d) { return d[0] >= low && d[0] <= high; });
      const wanted =
        near.length !== 0 && high - low <= 64 * data.span
          ? columns.filter(function (c) {
              return !details.some(function (d) { return d[0] >= c[0] && d[0] <= c[1]; });
            }).concat(details).sort(function (a, b) { return a[0] - b[0]; })
          : columns;
      if (wanted === view || (wanted === columns && view === columns)) return;
      view = wanted;
      graph.updateOptions({ file: rowsOf(view) });
    };
    const graph = new Dygraph(chart, rowsOf(view), {
      zoomCallback: function (low, high) { zoomed(low, high, graph); },
      labelsDiv: legend,
      labels: ["index", "model", "implementation", "difference (LSB)", "beyond the tolerance",
        "off the scale", "unknown"],
      legendFormatter: hover,
      customBars: true,
      colors: ["#6baed6", "#08306b", "#7f7f7f", "#d62728", "#d62728", "#6a1b9a"],
      fillAlpha: 0.35,
      series: {
        model: { strokeWidth: 3 },
        implementation: { strokeWidth: 1 },
        "difference (LSB)": { axis: "y2" },
        "beyond the tolerance": { axis: "y2", strokeWidth: 0, drawPoints: true, pointSize: 3 },
        "off the scale": { axis: "y2", strokeWidth: 0, drawPoints: true, pointSize: 5 },
        unknown: { axis: "y2", strokeWidth: 0, drawPoints: true, pointSize: 5 },
      },
      axes: {
        x: { axisLabelFormatter: engineering, valueFormatter: engineering },
        y2: {
          valueRange: [-edge * 1.05, edge * 1.05],
          axisLabelFormatter: engineering,
          independentTicks: true,
        },
      },
      ylabel: "value",
      y2label: "difference (LSB)",
      legend: "always",
      labelsSeparateLines: false,
      underlayCallback: function (canvas, area, graph) {
        // The tolerance band on the difference's scale.
        const top = graph.toDomYCoord(tolerance, 1);
        const bottom = graph.toDomYCoord(-tolerance, 1);
        canvas.fillStyle = "rgba(44, 160, 44, 0.15)";
        canvas.fillRect(area.x, top, area.w, Math.max(1, bottom - top));
        // Debugging starts at the first entry beyond the tolerance.
        if (data.first_beyond !== undefined) {
          const x = graph.toDomXCoord(data.first_beyond);
          canvas.strokeStyle = "#d62728";
          canvas.setLineDash([3, 3]);
          canvas.beginPath();
          canvas.moveTo(x, area.y);
          canvas.lineTo(x, area.y + area.h);
          canvas.stroke();
          canvas.setLineDash([]);
        }
      },
    });
  }

  // Each chart is drawn when it comes near the screen, never all at load,
  // so that a page of a hundred failures opens as fast as one of a few;
  // the chart library comes at the page's end.
  document.addEventListener("DOMContentLoaded", function () {
    const charts = document.querySelectorAll("div.chart");
    if (!("IntersectionObserver" in window)) {
      for (const chart of charts) draw(chart);
      return;
    }
    const observer = new IntersectionObserver(
      function (entries) {
        for (const entry of entries) {
          if (!entry.isIntersecting) continue;
          observer.unobserve(entry.target);
          draw(entry.target);
        }
      },
      { rootMargin: "200px 0px" },
    );
    for (const chart of charts) observer.observe(chart);
  });
})();
