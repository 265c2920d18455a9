"use strict";
// Draws the page's charts with Chart.js from the data the page carries.
// Node names and labels reach the canvas only, never the document's markup.
(function () {
  const page = JSON.parse(document.getElementById("page-data").textContent);
  const SHARE = 0.7;  // of a node's width, taken by its points; the rest keeps nodes apart

  // A group's points as scatter points: x is the node's index, moved to the
  // group's slot within the node and spread across the slot in the order
  // given (ranks, or runs), so that many ranks of one node stay apart and
  // a few stay close to their node.
  function placed(group, slots) {
    const width = SHARE / slots;
    const centre = (group.slot - (slots - 1) / 2) * width;
    const counts = new Map(), seen = new Map();
    group.points.forEach(function (p) { counts.set(p[0], (counts.get(p[0]) || 0) + 1); });
    return group.points.map(function (p) {
      const count = counts.get(p[0]), index = seen.get(p[0]) || 0;
      seen.set(p[0], index + 1);
      const spread = Math.min(width * 0.85, (count - 1) * 0.05);
      const offset = count > 1 ? (index / (count - 1) - 0.5) * spread : 0;
      return {x: p[0] + centre + offset, y: p[1], node: p[0], tag: p[2]};
    });
  }

  function points(group, slots) {
    const mark = group.marker === "line";
    return {label: group.label, hollow: group.hollow, data: placed(group, slots), borderColor: group.colour,
            backgroundColor: group.hollow ? "rgba(0, 0, 0, 0)" : group.colour, pointStyle: group.marker,
            pointRadius: mark ? 14 : 3.5, pointHoverRadius: mark ? 16 : 5, borderWidth: mark ? 3 : 1.5};
  }

  // The single node's rate: a line across every node.
  function baseline(line, nodes) {
    return {type: "line", label: line.label, data: [{x: -0.5, y: line.y}, {x: nodes - 0.5, y: line.y}],
            borderColor: line.colour, borderDash: line.valid ? [8, 4] : [2, 3], borderWidth: 2,
            pointRadius: 0, pointHoverRadius: 0, fill: false};
  }

  function tooltip(chart) {
    return function (context) {
      const raw = context.raw;
      if (raw.tag === undefined) {
        return context.dataset.label;
      }
      return chart.categories[raw.node] + ", " + raw.tag + ": " + raw.y + " " + chart.unit +
        (context.dataset.hollow ? ", " + context.dataset.label : "");
    };
  }

  function draw(chart) {
    const nodes = chart.categories.length;
    const datasets = chart.groups.filter(function (g) { return g.points.length; })
      .map(function (g) { return points(g, chart.slots); })
      .concat(chart.baselines.map(function (line) { return baseline(line, nodes); }));
    return new Chart(document.getElementById(chart.id), {
      type: "scatter",
      data: {datasets: datasets},
      options: {
        animation: false,
        maintainAspectRatio: false,
        plugins: {
          legend: {position: "bottom"},
          tooltip: {callbacks: {label: tooltip(chart)}},
        },
        scales: {
          x: {type: "linear", min: -0.5, max: nodes - 0.5, grid: {display: false},
              title: {display: true, text: chart.axis},
              // A tick at every node, labelled with its name; Chart.js skips
              // labels that would overlap.
              afterBuildTicks: function (axis) {
                axis.ticks = chart.categories.map(function (_, index) { return {value: index}; });
              },
              ticks: {autoSkip: true, maxRotation: 60,
                      callback: function (value) { return chart.categories[value]; }}},
          y: {beginAtZero: true, title: {display: true, text: chart.unit}},
        },
      },
    });
  }

  page.charts.forEach(draw);
})();
