#!/usr/bin/env python3
"""Reads a bookmark file with Python's own HTML parser, independently of the writer.

Prints one line per link: its folders joined by "/", its title, its address and its
ADD_DATE ("-" when it has none), separated by tabs. Usage: read_bookmarks.py FILE
"""
import html.parser
import sys


class Bookmarks(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.folders = []      # the open folders
        self.pending = None    # a folder name read from <H3>, opened by the next <DL>
        self.depth = 0         # <DL> nesting
        self.opened_at = []    # the <DL> depth each open folder began at
        self.text = None
        self.link = None
        self.links = []

    def handle_starttag(self, tag, attrs):
        if tag == "dl":
            self.depth += 1
            if self.pending is not None:
                self.folders.append(self.pending)
                self.opened_at.append(self.depth)
                self.pending = None
        elif tag == "h3":
            self.text = ""
        elif tag == "a":
            self.link = dict(attrs)
            self.text = ""

    def handle_endtag(self, tag):
        if tag == "dl":
            if self.opened_at and self.opened_at[-1] == self.depth:
                self.opened_at.pop()
                self.folders.pop()
            self.depth -= 1
        elif tag == "h3":
            self.pending, self.text = self.text, None
        elif tag == "a":
            self.links.append(("/".join(self.folders), self.text, self.link.get("href", ""),
                               self.link.get("add_date", "-")))
            self.text, self.link = None, None

    def handle_data(self, data):
        if self.text is not None:
            self.text += data


def main():
    parser = Bookmarks()
    with open(sys.argv[1], encoding="utf-8") as f:
        parser.feed(f.read())
    parser.close()
    if parser.depth != 0:
        sys.exit("unbalanced <DL> lists")
    for link in parser.links:
        print("\t".join(link))


if __name__ == "__main__":
    main()
