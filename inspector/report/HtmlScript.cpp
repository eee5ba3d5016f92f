// The fixed style sheet and script of the quick-look page. The page shows
// everything without its script; the script adds the map's read-out under
// the pointer and the linear colour scale.
#include "report/HtmlParts.h"

namespace morven::html {

const char* const STYLE = R"CSS(
body { font: 14px/1.35 sans-serif; margin: 16px 24px; color: #222; background: #fff; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 17px; margin: 22px 0 6px; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; margin: 4px 0 10px; }
td, th { border: 1px solid #ccc; padding: 2px 7px; text-align: left; vertical-align: top; }
td.n, th.n { text-align: right; font-variant-numeric: tabular-nums; }
.note { color: #555; max-width: 900px; }
.row { display: flex; flex-wrap: wrap; gap: 12px; align-items: flex-start; }
.chart text, #map text { font: 11px sans-serif; fill: #222; }
.chart .ct, #map .ct { font-weight: bold; font-size: 13px; text-anchor: middle; }
.chart .xt, #map .xt, .chart .xl, #map .xl { text-anchor: middle; }
.chart .yt, #map .yt { text-anchor: end; }
.chart .yl, #map .yl { text-anchor: middle; }
.chart .g { stroke: #e4e4e4; }
.chart .tk, #map .tk { stroke: #444; }
.chart .bars { stroke: #31688e; stroke-width: 1; fill: none; }
.chart .mk { stroke: #c33; stroke-dasharray: 4 3; }
.chart .ml { fill: #c33; }
.frame { fill: none; stroke: #444; }
#map .half { stroke: #fff; stroke-width: 1.5; stroke-dasharray: 6 4; }
#map .hl { fill: #fff; stroke: #000; stroke-width: 3px; paint-order: stroke; font-weight: bold; }
#map .hot { fill: none; stroke: #e8175d; stroke-width: 1.5; }
#map .dead { fill: none; stroke: #e8175d; stroke-dasharray: 3 2; }
#map image { image-rendering: pixelated; }
#readout { font-family: monospace; min-height: 1.4em; }
#script-errors { color: #b00; font-weight: bold; white-space: pre-wrap; }
.bar { display: inline-block; height: 10px; background: #31688e; }
)CSS";

const char* const SCRIPT = R"JS(
(function () {
  var data = document.getElementById('hit-data');
  var map = document.getElementById('map');
  if (data && map) {
    var W = 448, H = 512;
    var most = Number(data.getAttribute('data-most'));
    var bytes = atob(data.textContent.replace(/\s/g, ''));
    var counts = new Uint32Array(W * H);
    for (var i = 0; i < W * H; ++i) {
      counts[i] = (bytes.charCodeAt(4 * i) | bytes.charCodeAt(4 * i + 1) << 8 |
                   bytes.charCodeAt(4 * i + 2) << 16 | bytes.charCodeAt(4 * i + 3) << 24) >>> 0;
    }
    var palette = JSON.parse(document.getElementById('palette').textContent);
    var image = document.getElementById('map-image');
    var area = document.getElementById('map-area');
    var X0 = Number(area.getAttribute('x')), Y0 = Number(area.getAttribute('y'));
    var S = Number(area.getAttribute('width')) / W;
    var logSource = image.getAttribute('href'), linearSource = null;
    var colourIndex = function (c, linear) {
      if (c === 0) return 0;
      if (most <= 1) return 255;
      var f = linear ? c / most : Math.log(c) / Math.log(most);
      return 1 + Math.round(254 * Math.min(1, Math.max(0, f)));
    };
    var render = function () {
      var canvas = document.createElement('canvas');
      canvas.width = W;
      canvas.height = H;
      var context = canvas.getContext('2d');
      var pixels = context.createImageData(W, H);
      for (var k = 0; k < W * H; ++k) {
        var colour = palette[colourIndex(counts[k], true)];
        pixels.data[4 * k] = colour[0];
        pixels.data[4 * k + 1] = colour[1];
        pixels.data[4 * k + 2] = colour[2];
        pixels.data[4 * k + 3] = 255;
      }
      context.putImageData(pixels, 0, 0);
      return canvas.toDataURL('image/png');
    };
    var toggle = document.getElementById('linear');
    document.getElementById('scale-choice').hidden = false;
    toggle.addEventListener('change', function () {
      if (toggle.checked && linearSource === null) linearSource = render();
      image.setAttribute('href', toggle.checked ? linearSource : logSource);
      document.getElementById('cbar-log').style.display = toggle.checked ? 'none' : '';
      document.getElementById('cbar-lin').style.display = toggle.checked ? '' : 'none';
      var title = document.getElementById('map-title');
      title.textContent = title.textContent.replace(toggle.checked ? 'log' : 'linear',
                                                    toggle.checked ? 'linear' : 'log');
    });
    var readout = document.getElementById('readout');
    var indexAt = function (x, y) {
      var top = y >= 256;
      if (top) { x = 447 - x; y = 511 - y; }
      var pixnr = (y >> 2) << 3 | (x & 1) << 2 | (y & 3);
      return (top ? 1 << 17 : 0) | (x >> 1) << 9 | pixnr;
    };
    map.addEventListener('mousemove', function (e) {
      var p = map.createSVGPoint();
      p.x = e.clientX;
      p.y = e.clientY;
      p = p.matrixTransform(map.getScreenCTM().inverse());
      var x = Math.floor((p.x - X0) / S), row = Math.floor((p.y - Y0) / S);
      if (x < 0 || x >= W || row < 0 || row >= H) { readout.textContent = ''; return; }
      var y = H - 1 - row, index = indexAt(x, y);
      readout.textContent = 'x ' + x + ', y ' + y + ', pixel index ' + index + ' (0x' +
          index.toString(16) + '), EoC block ' + ((index >> 9) & 255) + ' of the ' +
          (y >= 256 ? 'top' : 'bottom') + ' half, ' + counts[row * W + x] + ' hits';
    });
  }
  document.body.setAttribute('data-scripts', 'ok');
})();
)JS";

}  // namespace morven::html
