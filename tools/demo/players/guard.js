// Loaded first by the demo's player pages. It is no part of the players' usage and does nothing
// for the program that drives them: it only keeps the pages offline. Every resource they need is
// served by the demo server, and any request a player library would make to another host
// (telemetry, plugins, skins) is turned away, so nothing leaves the machine even where the page's
// security policy is not applied.
(function () {
  'use strict';
  function local(url) {
    try {
      var u = new URL(url, document.baseURI);
      if (u.protocol === 'blob:' || u.protocol === 'data:') return true;
      return u.hostname === '127.0.0.1' || u.hostname === 'localhost' || u.host === location.host;
    } catch (e) {
      return false;
    }
  }
  var blackhole = location.origin + '/blocked';
  var open = XMLHttpRequest.prototype.open;
  XMLHttpRequest.prototype.open = function (method, url) {
    var args = Array.prototype.slice.call(arguments);
    if (!local(url)) args[1] = blackhole;
    return open.apply(this, args);
  };
  if (window.fetch) {
    var realFetch = window.fetch;
    window.fetch = function (input, init) {
      var url = typeof input === 'string' ? input : input && input.url;
      if (!local(url)) return Promise.reject(new TypeError('blocked: ' + url));
      return realFetch.call(this, input, init);
    };
  }
  if (navigator.sendBeacon) navigator.sendBeacon = function () { return true; };
  // Script elements: Aliplayer loads its HLS plugin from its CDN; the demo server serves a
  // stand-in under /vendor/aliplayer-hls/. Any other outside script is not loaded at all.
  var append = Node.prototype.appendChild;
  Node.prototype.appendChild = function (child) {
    if (child && child.tagName === 'SCRIPT' && child.src && !local(child.src)) {
      var m = /\/hls\/(aliplayer-hls2?-min\.js)(\?.*)?$/.exec(child.src);
      child.src = m ? '/vendor/aliplayer-hls/' + m[1] : blackhole;
    }
    return append.call(this, child);
  };
})();
