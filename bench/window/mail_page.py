"""The second benchmark page, of the size of a hosted mail application: a
2.5 MB script bundle (modules, a string table, a message store) that builds
a list of 2000 messages in the DOM, and an HTML mail of 200 KB shown in a
sandboxed frame. The page's measuring script (the same as on the small
page) runs once the list is built and the mail's frame has loaded.

Everything is generated from a fixed seed, so every run serves the same
bytes."""

import json
import random

SCRIPT_BYTES = 2_500_000
MAIL_BYTES = 200_000
MESSAGES = 2000

WORDS = ("account invoice meeting project schedule report update review draft budget "
         "holiday weekend team office travel booking order delivery payment reminder "
         "newsletter offer conference agenda minutes contract proposal feedback request "
         "welcome security password login notice summary quarter release version").split()
NAMES = ("Anna Berger", "Jonas Keller", "Marie Dubois", "Luca Rossi", "Sofia Lindqvist",
         "Noah Schmid", "Emma Laurent", "Paul Wagner", "Clara Huber", "Louis Martin")


def _module(rng, n):
    """One module of the bundle: a few functions over its own constants, as
    a minifier leaves them."""
    strings = [" ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 9))) for _ in range(8)]
    body = [f"var s{n}={json.dumps(strings)};",
            f"function f{n}a(a,b){{var r=0;for(var i=0;i<a.length;i++){{r=(r*31+a.charCodeAt(i))|0}}"
            f"return b?r^{rng.randint(1, 1 << 30)}:r}}",
            f"function f{n}b(o){{var k=Object.keys(o),out=[];for(var i=0;i<k.length;i++)"
            f"{{if(typeof o[k[i]]==='string')out.push(k[i]+'='+encodeURIComponent(o[k[i]]))}}"
            f"return out.join('&')}}",
            f"function f{n}c(x){{switch(x%{rng.randint(3, 9)}){{case 0:return s{n}[0];case 1:return s{n}[1]"
            f".toUpperCase();case 2:return s{n}.slice(2).join(' ');default:return f{n}a(s{n}[x%8],x&1)}}}}",
            f"exports.init=function(){{return f{n}a(s{n}.join(''),true)+f{n}b({{a:s{n}[3],b:s{n}[4]}}).length}};",
            f"exports.render=f{n}c;exports.query=f{n}b;"]
    return f"modules[{n}]=function(exports){{{''.join(body)}}};\n"


def _app_script():
    rng = random.Random(16)
    parts = ["'use strict';var modules=[];\n"]
    size, n = len(parts[0]), 0
    table = {f"msg.{i}": " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 12))) for i in range(6000)}
    text = f"var strings={json.dumps(table)};\n"
    parts.append(text)
    size += len(text)
    tail = _app_main()
    while size + len(tail) < SCRIPT_BYTES:
        text = _module(rng, n)
        parts.append(text)
        size += len(text)
        n += 1
    parts.append(tail)
    return "".join(parts).encode()


def _app_main():
    """Starts every third module, as an application starts the parts its
    first view needs, then builds the message list and opens the first mail."""
    return f"""
window.mailAppReady = (function () {{
  var exports = [], checksum = 0;
  for (var i = 0; i < modules.length; i += 3) {{
    var e = {{}}; modules[i](e); exports.push(e); checksum ^= e.init();
  }}
  var names = {json.dumps(NAMES)}, words = {json.dumps(WORDS)};
  var seed = 16;
  function next(n) {{ seed = (seed * 1103515245 + 12345) & 0x7fffffff; return seed % n; }}
  var store = [];
  for (var m = 0; m < {MESSAGES}; m++) {{
    var subject = [];
    for (var w = 0; w < 3 + next(6); w++) subject.push(words[next(words.length)]);
    store.push({{id: m, from: names[next(names.length)], subject: subject.join(' '),
                 date: new Date(1765000000000 - m * 3600000), size: 2000 + next(200000),
                 unread: next(4) === 0, flagged: next(20) === 0,
                 preview: strings['msg.' + next(6000)]}});
  }}
  var list = document.getElementById('list'), rows = document.createDocumentFragment();
  store.forEach(function (msg) {{
    var row = document.createElement('div');
    row.className = 'row' + (msg.unread ? ' unread' : '') + (msg.flagged ? ' flagged' : '');
    row.dataset.id = msg.id;
    var check = document.createElement('input'); check.type = 'checkbox'; row.appendChild(check);
    [['from', msg.from], ['subject', msg.subject], ['preview', msg.preview],
     ['date', msg.date.toLocaleDateString('en-GB')], ['size', Math.round(msg.size / 1024) + ' KB']]
      .forEach(function (cell) {{
        var span = document.createElement('span'); span.className = cell[0];
        span.textContent = cell[1]; row.appendChild(span);
      }});
    rows.appendChild(row);
  }});
  list.appendChild(rows);
  document.title = 'Inbox (' + store.length + ') ' + checksum;
  return new Promise(function (resolve) {{
    var reader = document.getElementById('reader');
    reader.addEventListener('load', resolve, {{once: true}});
    reader.src = 'mail.html';
  }});
}})();
"""


def _mail_html():
    rng = random.Random(200)
    head = ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>Newsletter</title>"
            "<style>body{font-family:sans-serif;margin:0}td{padding:8px}.btn{background:#0a6;"
            "color:#fff;padding:6px 12px;text-decoration:none}</style></head><body>"
            "<table width='100%' cellpadding='0' cellspacing='0' style='background:#f4f4f4'>")
    parts, size, n = [head], len(head), 0
    while size < MAIL_BYTES - 100:
        words = " ".join(rng.choice(WORDS) for _ in range(rng.randint(40, 90)))
        block = (f"<tr><td align='center'><table width='600' style='background:#fff;border:1px solid #ddd'>"
                 f"<tr><td style='font-size:18px;font-weight:bold;color:#234'>{rng.choice(WORDS).title()} "
                 f"{rng.choice(WORDS)} {n}</td></tr><tr><td style='font-size:14px;line-height:1.5;color:#333'>"
                 f"<p>{words}</p><ul><li>{rng.choice(WORDS)} &amp; {rng.choice(WORDS)}</li>"
                 f"<li>{rng.choice(WORDS)} &ndash; {rng.choice(WORDS)}</li></ul>"
                 f"<a class='btn' href='https://example.org/{n}?utm_source=mail'>Read more</a>"
                 f"</td></tr></table></td></tr>\n")
        parts.append(block)
        size += len(block)
        n += 1
    parts.append("</table></body></html>")
    return "".join(parts).encode()


STYLE = """<style>
body{margin:0;font:13px sans-serif;display:flex;height:100vh}
#list{width:55%;overflow-y:auto;border-right:1px solid #ccc}
.row{display:flex;gap:8px;padding:4px 8px;border-bottom:1px solid #eee;white-space:nowrap}
.row span{overflow:hidden;text-overflow:ellipsis}.from{width:140px}.subject{width:260px}
.preview{flex:1;color:#777}.date,.size{width:80px;text-align:right}
.unread .subject{font-weight:bold}.flagged{background:#fff4e0}
#reader{flex:1;border:0;height:100%}
</style>"""


def mail_page(helpers, body_script):
    """The page's HTML: helpers (the report() script), the list and the
    reader frame, the bundle, then body_script once the application is up."""
    return (f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>Mail</title>{STYLE}{helpers}</head>"
            "<body><div id='list'></div><iframe id='reader' sandbox></iframe>"
            "<script src='app.js'></script>"
            f"<script>(async () => {{ try {{ await window.mailAppReady; {body_script} }} "
            "catch (e) { report('page-error', String(e)); } })();</script></body></html>")


def mail_routes(helpers, body_script, prefix="/pc/"):
    """The page (at prefix + velomark.html) and what it loads."""
    return {prefix + "velomark.html": mail_page(helpers, body_script),
            prefix + "app.js": ("text/javascript", _app_script()),
            prefix + "mail.html": ("text/html; charset=utf-8", _mail_html())}
