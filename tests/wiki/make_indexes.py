#!/usr/bin/env python3
"""Writes the artist index files of the search tests' wiki content folder.

The Q index is large (about 470 entries) so that a page listed "from" a name
in its middle has a "previous 200" page before it; the other letters are
small, so that their pages have no "previous 200" link. Entries are sorted as
the wiki sorts them: by link text, ASCII case-insensitively.

Run from anywhere: python3 tests/wiki/make_indexes.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
CATEGORIES = os.path.join(HERE, "categories")

FIRST = ["Quaint", "Quake", "Quarrel", "Quarry", "Quartz", "Quasar", "Quay", "Queen", "Quell", "Quest",
         "Quick", "Quiet", "Quill", "Quince", "Quinn", "Quirk", "Quiver", "Quoin", "Quorum", "Quota"]
SECOND = ["Anchors", "Bells", "Brothers", "Choir", "Collective", "Drifters", "Engine", "Foxes", "Harbour",
          "Hours", "Lanterns", "Mariners", "Orchard", "Parade", "Quartet", "Ramblers", "Sisters", "Society",
          "Trio", "Union", "Weavers", "Wrens", "Yard"]


def entry(link, title, text=None):
    return (link, title, title if text is None else text)


def q_entries():
    entries = []
    for a in FIRST:
        for b in SECOND:
            name = a + " " + b
            entries.append(entry("/wiki/" + name.replace(" ", "_"), name))
    entries += [
        entry("/wiki/Quillfeather", "Quillfeather"),
        entry("/wiki/Quillfeather_Revival", "Quillfeather Revival"),
        # The same title twice: the later address is the one the cache keeps.
        entry("/wiki/Quiet_Harbour_(Band)", "Quiet Harbour"),
        # Character references in title and link text.
        entry("/wiki/Quarry_%26_Kiln", "Quarry &amp; Kiln"),
        entry("/wiki/Quinn%27s_Reel_Band", "Quinn&#39;s Reel Band"),
    ]
    return entries


def z_entries():
    names = ["Zephyr Bells", "Zephyr Choir", "Zephyr Lanterns", "Zinc Harbour", "Zinc Parade", "Zither Anchors",
             "Zither Foxes", "Zodiac Hours", "Zodiac Wrens", "Zone Ramblers", "Zulu Quartet"]
    return [entry("/wiki/" + n.replace(" ", "_"), n) for n in names]


def zero_entries():
    names = ["101 Fathoms", "12 Bar Ramblers", "2 Lamps", "4 Winds Ceilidh Band", "7 Seas Shanty Crew",
             "9 Pound Hammer Choir"]
    return [entry("/wiki/" + n.replace(" ", "_"), n) for n in names]


def p_entries():
    names = ["Pale Lanterns", "Pelican Choir", "Pewter Bells", "Pilot Gig Crew"]
    entries = [entry("/wiki/" + n.replace(" ", "_"), n) for n in names]
    # A listed page whose link text is "previous 200": the only link of that
    # name on the page (the letter has fewer than 200 entries), so a reader
    # of the index follows it, and it leads to a page that does not exist.
    entries.append(entry("/wiki/Index_That_Went_Missing", "Category:Artists P", "previous 200"))
    return entries


def write(letter, entries):
    entries = sorted(entries, key=lambda e: e[2].lower())  # stable: equal texts keep their order
    path = os.path.join(CATEGORIES, "Artists_%s.tsv" % letter)
    with open(path, "w", encoding="ascii", newline="\n") as f:
        for link, title, text in entries:
            f.write("%s\t%s\t%s\n" % (link, title, text))


def main():
    os.makedirs(CATEGORIES, exist_ok=True)
    write("Q", q_entries())
    write("Z", z_entries())
    write("0", zero_entries())
    write("P", p_entries())


if __name__ == "__main__":
    main()
