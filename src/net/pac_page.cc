#include "net/pac_page.h"

#include <nlohmann/json.hpp>

namespace vm {
namespace {

std::string jsonString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The names are those PAC files call. DNS look-ups go to a DNS-over-HTTPS
// resolver with a JSON interface by synchronous requests, because PAC
// functions answer synchronously.
constexpr const char* kLibrary = R"JS(var weekdayMap = {SUN: 0, MON: 1, TUE: 2, WED: 3, THU: 4, FRI: 5, SAT: 6};
var dnsCache = Object.create(null);
var ipCache = new Map();
var timezoneOffset = new Date().getTimezoneOffset();

function isPlainHostName(host) {
  return String(host).indexOf('.') < 0;
}

function dnsDomainIs(host, domain) {
  domain = String(domain);
  if (domain.charAt(0) !== '.') domain = '.' + domain;
  host = String(host).toLowerCase();
  domain = domain.toLowerCase();
  return host.length >= domain.length && host.substring(host.length - domain.length) === domain;
}

function localHostOrDomainIs(host, hostDom) {
  host = String(host);
  hostDom = String(hostDom);
  if (host === hostDom) return true;
  return host.indexOf('.') < 0 && host === hostDom.split('.')[0];
}

function helper_resolveDNS(host) {
  try {
    var request = new XMLHttpRequest();
    request.open('GET', 'https://' + pacDohHost + '/resolve?name=' + encodeURIComponent(host), false);
    request.send(null);
    if (request.status !== 200) {
      console.log('Error ' + request.status + ': ' + request.statusText);
      return '';
    }
    console.log(request.responseText);
    var data = JSON.parse(request.responseText).Answer[0].data;
    return typeof data === 'string' ? data : '';
  } catch (e) {
    return '';
  }
}

function dnsResolve(host) {
  var cached = dnsCache[host];
  if (cached) return cached;
  var address = helper_resolveDNS(host);
  dnsCache[host] = address;
  return address;
}

function isResolvable(host) {
  try {
    return dnsResolve(host) !== '';
  } catch (e) {
    return false;
  }
}

function myIpAddress() {
  return pacLocalAddress;
}

function helper_getLocalIP() {
  if (typeof RTCPeerConnection === 'undefined') return Promise.resolve('127.0.0.1');
  return new Promise(function (resolve) {
    var connection = new RTCPeerConnection({iceServers: []});
    connection.createDataChannel('');
    connection.onicecandidate = function (event) {
      if (!event || !event.candidate) return;
      resolve(event.candidate.candidate.split(':')[3]);
      connection.close();
    };
    connection.createOffer().then(function (offer) { return connection.setLocalDescription(offer); });
  });
}

function helper_isValidIP(ip) {
  var parts = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(String(ip));
  if (!parts) return false;
  for (var i = 1; i <= 4; i++) if (parseInt(parts[i], 10) > 255) return false;
  return true;
}

function helper_ipToInteger(ip) {
  var octets = String(ip).split('.');
  return ((parseInt(octets[0], 10) * 16777216) + (parseInt(octets[1], 10) * 65536) +
          (parseInt(octets[2], 10) * 256) + parseInt(octets[3], 10)) >>> 0;
}

function isInNet(host, pattern, mask) {
  var key = host + ':' + pattern + ':' + mask;
  if (ipCache.has(key)) return ipCache.get(key);
  var address = String(host);
  if (!helper_isValidIP(address)) {
    address = dnsResolve(address);
    if (!helper_isValidIP(address)) return false;
  }
  var bits = helper_ipToInteger(mask);
  var inNet = ((helper_ipToInteger(address) & bits) >>> 0) === ((helper_ipToInteger(pattern) & bits) >>> 0);
  ipCache.set(key, inNet);
  return inNet;
}

function dnsDomainLevels(host) {
  return String(host).split('.').length - 1;
}

function shExpMatch(str, pattern) {
  var source = String(pattern).replace(/[.+^${}()|[\]\\\/]/g, '\\$&').replace(/\*/g, '[\\s\\S]*').replace(/\?/g, '[\\s\\S]');
  return new RegExp('^' + source + '$').test(String(str));
}

function helper_weekday(name) {
  var key = String(name).toUpperCase();
  return Object.prototype.hasOwnProperty.call(weekdayMap, key) ? weekdayMap[key] : undefined;
}

function weekdayRange(wd1, wd2, gmt) {
  var first = helper_weekday(wd1);
  if (first === undefined) return false;
  var last = wd2 === undefined ? undefined : helper_weekday(wd2);
  var today = new Date().getDay();
  if (last === undefined) return today === first;
  return first <= last ? today >= first && today <= last : today >= first || today <= last;
}

function helper_minuteOfDay(text) {
  var parts = String(text).split(':');
  return parseInt(parts[0], 10) * 60 + (parts.length > 1 ? parseInt(parts[1], 10) : 0);
}

function timeRange(start, end, gmt) {
  var now = new Date();
  var minute = now.getHours() * 60 + now.getMinutes();
  if (gmt) minute = (((minute + timezoneOffset) % 1440) + 1440) % 1440;
  var from = helper_minuteOfDay(start), to = helper_minuteOfDay(end);
  return from <= to ? minute >= from && minute <= to : minute >= from || minute <= to;
}

function dateRange(date1, date2, gmt) {
  var now = new Date();
  if (gmt) now = new Date(now.getTime() + timezoneOffset * 60000);
  return now >= new Date(date1) && now <= new Date(date2);
}

function alert(message) {
  console.log(message);
}
)JS";

constexpr const char* kGlue = R"JS(

// ----------- glue: the answer goes to the native side ------------
function runPAC(url, host) {
  var result = FindProxyForURL(url, host);
  pacCallback(result);
}
document.addEventListener('DOMContentLoaded', function () { pacTrigger(); });
)JS";

}  // namespace

std::string pacLibrary(const PacPageFacts& facts) {
  return "var pacDohHost = " + jsonString(facts.dohHost) + ";\nvar pacLocalAddress = " +
         jsonString(facts.localAddress) + ";\n" + kLibrary;
}

std::string pacPage(const std::string& pacText, const PacPageFacts& facts) {
  return "<!DOCTYPE html>\n<html><body><script>\n" + pacLibrary(facts) +
         "\n\n// ----------- user PAC function ------------\n" + pacText + kGlue +
         "</script></body></html>";
}

std::string pacTriggerScript(const std::string& url, const std::string& host) {
  return "runPAC(" + jsonString(url) + ", " + jsonString(host) + ");";
}

}  // namespace vm
