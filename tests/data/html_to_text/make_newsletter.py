#!/usr/bin/env python3
"""Writes newsletter.html: a newsletter-style mail of a few hundred kilobytes
(head with styles, layout tables, articles with links, lists, entities and
comments, a footer). Deterministic; rerun only to change the fixture, then
review newsletter.txt by eye."""

HEAD = """<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Transitional//EN" "http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd">
<HTML xmlns="http://www.w3.org/1999/xhtml">
<HEAD>
<meta http-equiv="Content-Type" content="text/html; charset=utf-8">
<TITLE>Velo Weekly &ndash; Issue 42</TITLE>
<style type="text/css">
  body { margin: 0; padding: 0; font-family: Arial, sans-serif; }
  td.cell > p { margin: 0 0 12px 0; }
  a { color: #0645ad; }
</style>
</HEAD>
<body bgcolor="#f4f4f4">
<!-- preheader: hidden in most clients -->
<div style="display:none">This week: spring rides, a new trail map &amp; more</div>
<table width="600" cellpadding="0" cellspacing="0" border="0" align="center">
  <tr>
    <td class="cell"><a href="https://news.velo.example/view?id=42">View in browser</a></td>
    <td class="cell" align="right">Issue&nbsp;42 &bull; 12&nbsp;March</td>
  </tr>
  <tr>
    <td colspan="2"><h1>Velo Weekly</h1></td>
  </tr>
</table>
"""

ARTICLE = """<table width="600" cellpadding="0" cellspacing="0" border="0" align="center">
  <tr>
    <td class="cell">
      <h2>Ride {n}: Caf&eacute; stop at the &quot;Col du Mont&quot;</h2>
      <p>Our {n}th ride of the season starts at 08:00 sharp. Distance&nbsp;&nbsp;{km}&nbsp;km,
      climbing {climb}&nbsp;m &mdash; bring two bottles &amp; a spare tube.</p>
      <p>Price: 12&nbsp;&euro; / &pound;10 &middot; members ride free&trade;.
      Temperatures around {temp}&deg;C, so pack a jacket.</p>
      <ul>
        <li>Meet at the <b>old station</b></li>
        <li>Coffee at km&nbsp;{half}</li>
        <li>Back by 13:00 &ndash; promise!</li>
      </ul>
      <p>Route and GPX: <a href="https://routes.velo.example/r/{n}?utm_source=newsletter&amp;utm_medium=email" target="_blank" style="color:#0645ad">route {n}</a></p>
      <!-- tracking pixel for ride {n} --><img src="https://t.velo.example/o/{n}.gif" width="1" height="1" alt="">
    </td>
  </tr>
  <tr>
    <td class="cell">Results &lt;provisional&gt;:<br>
      1. A.&nbsp;M&uuml;ller<br>
      2. J.&nbsp;Garc&iacute;a<br>
      3. &Oslash;.&nbsp;Hansen
    </td>
  </tr>
</table>
<hr>
"""

FOOTER = """<table width="600" cellpadding="0" cellspacing="0" border="0" align="center">
  <tr>
    <td class="cell"><p>Velo Club &copy; 2026 &middot; Rue du Lac&nbsp;5 &middot; 1000 Lausanne</p>
    <p>You get this mail because you joined the club. <a href='https://news.velo.example/unsubscribe?u=abc&amp;l=42'>Unsubscribe</a> or <a href="mailto:board@velo.example">write to the board</a>.</p></td>
  </tr>
</table>
</body>
</HTML>
"""


def main():
    parts = [HEAD]
    n = 1
    while sum(len(p) for p in parts) < 300_000:
        parts.append(ARTICLE.format(n=n, km=40 + n % 60, climb=300 + 7 * n, temp=n % 15,
                                    half=20 + n % 30))
        n += 1
    parts.append(FOOTER)
    with open("newsletter.html", "w", encoding="utf-8", newline="\n") as f:
        f.write("".join(parts))


if __name__ == "__main__":
    main()
