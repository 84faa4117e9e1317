#!/usr/bin/env bash
# Generates a deterministic test site for the crawl benchmarks:
#   make_site.sh DIR DIRS PAGES_PER_DIR [TEXT_BYTES]
# Every page links to its neighbours, to pages of other directories, to a
# picture, to a broken link and to a query link; directory pages are linked
# both as "dN/" and as "dN/index.html". Pages also link out with schemes a
# crawler of this site must not request from it (javascript:, mailto:, tel:,
# data:) and to https pages of another site. (The query link has no ":" in
# it: Wget2 does not follow such links, and would then crawl half the site.)
# TEXT_BYTES (default 0) adds that much prose to every page, words drawn
# from a small vocabulary so that gzip shrinks it about threefold, as it
# does a real page's text.
set -euo pipefail
out=$1 dirs=${2:-40} pages=${3:-50} text=${4:-0}
rm -rf "$out"
mkdir -p "$out/img"
printf 'GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x00\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;' > "$out/img/dot.gif"
head -c 20000 /dev/zero | tr '\0' 'x' > "$out/img/filler.bin"
awk -v out="$out" -v dirs="$dirs" -v pages="$pages" -v text="$text" 'BEGIN {
  srand(1)
  nwords = split("the of and a to in is you that it he was for on are as with his they I at be this " \
    "have from or one had by word but not what all were we when your can said there use an each which " \
    "she do how their if will up other about out many then them these so some her would make like him " \
    "into time has look two more write go see number no way could people my than first water been call " \
    "who oil its now find long down day did get come made may part crawler mirror page site link " \
    "picture server request answer connection", words, " ")
  top = out "/index.html"
  print "<html><head><title>Bench site</title></head><body background=\"img/dot.gif\">" > top
  for (d = 0; d < dirs; d++) {
    printf "<a href=\"d%d/\">dir %d</a> <a href=\"d%d/index.html\">again</a>\n", d, d, d > top
  }
  print "</body></html>" > top
  close(top)
  for (d = 0; d < dirs; d++) {
    system("mkdir -p " out "/d" d)
    idx = out "/d" d "/index.html"
    printf "<html><head><title>Directory %d</title></head><body>\n<a href=\"../index.html\">up</a>\n", d > idx
    for (p = 0; p < pages; p++)
      printf "<a href=\"p%d.html\">page %d</a>\n", p, p > idx
    print "</body></html>" > idx
    close(idx)
    for (p = 0; p < pages; p++) {
      f = out "/d" d "/p" p ".html"
      printf "<html><head><title>Page %d of %d</title></head>\n<body bgcolor=white>\n", p, d > f
      printf "<!-- a comment with <a href=\"nowhere.html\">a link</a> inside -->\n" > f
      printf "<p>Text of page %d in directory %d. Lorem ipsum dolor sit amet, consectetur adipiscing elit.</p>\n", p, d > f
      for (written = 0; written < text; written += length(line) + 1) {
        line = "<p>"
        for (k = 8 + int(rand() * 12); k > 0; k--)
          line = line words[1 + int(rand() * nwords)] " "
        line = line "</p>"
        print line > f
      }
      printf "<a href=\"p%d.html\">next</a> <a href='\''p%d.html'\''>previous</a>\n", (p + 1) % pages, (p + pages - 1) % pages > f
      printf "<a href=../d%d/p%d.html>elsewhere</a>\n", (d + 7) % dirs, (p * 3) % pages > f
      printf "<a href=\"/d%d/\">a directory</a> <a href=\"p%d.html?view=%d\">query</a>\n", (d + 1) % dirs, p, p % 3 > f
      printf "<img src=\"/img/dot.gif\" alt=\"dot\"> <a href=\"missing-%d.html\">broken</a>\n", p % 5 > f
      printf "<a href=\"https://example.org/d%d/p%d\">secure</a> <a href=\"javascript:void(0)\">script</a>\n", d, p > f
      printf "<a href=\"mailto:author%d@example.org\">mail</a> <a href=\"tel:+1555%04d\">call</a>\n", d, p > f
      printf "<img src=\"data:image/gif;base64,R0lGODlhAQABAAAAACw=\" alt=\"inline\">\n" > f
      printf "<script>var s = \"<a href=x>\";</script>\n</body></html>\n" > f
      close(f)
    }
  }
}'
