#!/usr/bin/env python3
"""Writes the bundled sample wiki (wiki/sample/) from the data below.

The sample wiki is what versewell-wiki serves for the demo and the CLI tests:
artist index pages per leading character, artist pages with song lists, and
song pages with lyrics boxes, in the folder format of wiki/CONTENT-FORMAT.md.

Every lyric here is either a traditional song or poem long in the public
domain, or a text written for this sample. The letter S is padded with
generated filler artists so that its index runs over several pages and a
lookup has to read the "previous 200" page.

Usage: scripts/make-sample-wiki.py [OUTPUT_DIR]   (default: wiki/sample)
The output is deterministic; run it again after changing the data.
"""
import os
import shutil
import sys
import unicodedata
import urllib.parse

# ---------------------------------------------------------------------------
# Lyrics. Stanzas are separated by a blank line.
# ---------------------------------------------------------------------------
LYRICS = {
    "Scarborough Fair": """\
Are you going to Scarborough Fair?
Parsley, sage, rosemary and thyme;
Remember me to one who lives there,
For once she was a true love of mine.

Tell her to make me a cambric shirt,
Parsley, sage, rosemary and thyme;
Without any seam or needlework,
And then she'll be a true love of mine.

Tell her to wash it in yonder dry well,
Parsley, sage, rosemary and thyme;
Where ne'er sprung water, nor rain ever fell,
And then she'll be a true love of mine.""",
    "Greensleeves": """\
Alas, my love, you do me wrong
To cast me off discourteously,
For I have loved you well and long,
Delighting in your company.

Greensleeves was all my joy,
Greensleeves was my delight,
Greensleeves was my heart of gold,
And who but my lady Greensleeves?""",
    "The Water Is Wide": """\
The water is wide, I can't cross o'er,
And neither have I wings to fly;
Give me a boat that can carry two,
And both shall row, my love and I.

A ship there is and she sails the sea,
She's loaded deep as deep can be;
But not so deep as the love I'm in,
I know not if I sink or swim.""",
    "The Parting Glass": """\
Of all the money that e'er I had,
I spent it in good company,
And all the harm that e'er I've done,
Alas, it was to none but me.

And all I've done for want of wit
To memory now I can't recall;
So fill to me the parting glass,
Good night, and joy be with you all.""",
    "Shenandoah": """\
Oh Shenandoah, I long to see you,
Away, you rolling river.
Oh Shenandoah, I long to see you,
Away, I'm bound away
'Cross the wide Missouri.

Oh Shenandoah, I love your daughter,
Away, you rolling river.
For her I'd cross your roaming waters,
Away, I'm bound away
'Cross the wide Missouri.""",
    "Auld Lang Syne": """\
Should auld acquaintance be forgot,
And never brought to mind?
Should auld acquaintance be forgot,
And auld lang syne?

For auld lang syne, my dear,
For auld lang syne,
We'll tak a cup o' kindness yet,
For auld lang syne.""",
    "Drunken Sailor": """\
What shall we do with a drunken sailor,
What shall we do with a drunken sailor,
What shall we do with a drunken sailor,
Early in the morning?

Way hay and up she rises,
Way hay and up she rises,
Way hay and up she rises,
Early in the morning.

Put him in the longboat till he's sober,
Put him in the longboat till he's sober,
Put him in the longboat till he's sober,
Early in the morning.""",
    "Barbara Allen": """\
In Scarlet Town, where I was born,
There was a fair maid dwellin',
Made every youth cry "Well-a-day!"
Her name was Barbara Allen.

All in the merry month of May,
When green buds they were swellin',
Young Jemmy Grove on his death-bed lay,
For love of Barbara Allen.""",
    "Amazing Grace": """\
Amazing grace! How sweet the sound
That saved a wretch like me!
I once was lost, but now am found;
Was blind, but now I see.

'Twas grace that taught my heart to fear,
And grace my fears relieved;
How precious did that grace appear
The hour I first believed!""",
    "Beautiful Dreamer": """\
Beautiful dreamer, wake unto me,
Starlight and dewdrops are waiting for thee;
Sounds of the rude world heard in the day,
Lull'd by the moonlight have all pass'd away!

Beautiful dreamer, queen of my song,
List while I woo thee with soft melody;
Gone are the cares of life's busy throng,
Beautiful dreamer, awake unto me!""",
    "Loch Lomond": """\
By yon bonnie banks and by yon bonnie braes,
Where the sun shines bright on Loch Lomond,
Where me and my true love were ever wont to gae,
On the bonnie, bonnie banks o' Loch Lomond.

O ye'll tak' the high road, and I'll tak' the low road,
And I'll be in Scotland afore ye,
But me and my true love will never meet again
On the bonnie, bonnie banks o' Loch Lomond.""",
    "À la claire fontaine": """\
À la claire fontaine
M'en allant promener,
J'ai trouvé l'eau si belle
Que je m'y suis baigné.

Il y a longtemps que je t'aime,
Jamais je ne t'oublierai.""",
    "Twinkle, Twinkle, Little Star": """\
Twinkle, twinkle, little star,
How I wonder what you are!
Up above the world so high,
Like a diamond in the sky.

When the blazing sun is gone,
When he nothing shines upon,
Then you show your little light,
Twinkle, twinkle, all the night.""",
    "Drink to Me Only with Thine Eyes": """\
Drink to me only with thine eyes,
And I will pledge with mine;
Or leave a kiss but in the cup,
And I'll not look for wine.
The thirst that from the soul doth rise
Doth ask a drink divine;
But might I of Jove's nectar sup,
I would not change for thine.""",
    "Early One Morning": """\
Early one morning, just as the sun was rising,
I heard a maid sing in the valley below:
"Oh, don't deceive me; oh, never leave me!
How could you use a poor maiden so?"

Remember the vows that you made to your Mary,
Remember the bower where you vowed to be true;
"Oh, don't deceive me; oh, never leave me!
How could you use a poor maiden so?\"""",
    "Spanish Ladies": """\
Farewell and adieu to you, fair Spanish ladies,
Farewell and adieu to you, ladies of Spain;
For we've received orders for to sail for old England,
And we may never see you fair ladies again.

We'll rant and we'll roar like true British sailors,
We'll rant and we'll roar all on the salt sea,
Until we strike soundings in the Channel of old England;
From Ushant to Scilly is thirty-five leagues.""",
    "Who Will Shoe Your Pretty Little Foot?": """\
Oh, who will shoe your pretty little foot,
And who will glove your hand,
And who will kiss your red rosy cheeks
When I'm in a far-off land?

My father will shoe my pretty little foot,
My mother will glove my hand,
And you may kiss my red rosy cheeks
When you come from the far-off land.""",
    # Texts written for this sample.
    "Salt Road": """\
We walked the salt road down to the sea,
The gulls ahead and the wind at our knee;
The carts went by with their barrels of brine,
And every mile was yours and mine.

Lantern low and the tide coming in,
Count the boats and the nets they spin;
When the morning comes we'll be on our way,
Down the salt road at the break of day.""",
    "Quill and Ink": """\
I wrote your name with a heron's quill
In ink as dark as the winter hill;
The candle burned and the page grew long,
And every line became a song.

Blot it out and write it new,
Every word still comes to you.""",
    "Lanterns on the Weir": """\
Lanterns on the weir tonight,
Swinging slow in the river light;
Who will row and who will steer
When the lanterns leave the weir?

One for the miller, one for the mill,
One for the girl on Hawthorn Hill.""",
    "Harbour Bells": """\
Ring the bells in the harbour town,
The fleet comes in and the sails come down;
Ring them loud and ring them clear,
The boats are home for another year.""",
    "Number Nine Reel Song": """\
One for the fiddle and two for the bow,
Three for the dancers all in a row;
Four, five, six for the tune going round,
Seven, eight, nine and we all sit down.""",
}

NOT_LICENSED = ("Unfortunately, we are not licensed to display the full lyrics "
                "for this song at the moment")

# ---------------------------------------------------------------------------
# Artists. Each song is (title, lyrics key, options); options may hold
# "style": "lf" (LF line ends and <br> tags instead of CR LF and <br />),
# "suffix": True (link text carries " lyrics", which the plug-in strips),
# "page": "nolyrics" | "notlicensed" | "missing", "link": a page name.
# ---------------------------------------------------------------------------
ARTISTS = [
    ("Ashgrove Singers", [("The Water Is Wide", "The Water Is Wide", {}),
                          ("Early One Morning", "Early One Morning", {"suffix": True})]),
    ("Amberlight", [("Greensleeves", "Greensleeves", {}), ("Beautiful Dreamer", "Beautiful Dreamer", {})]),
    ("Bramble & Briar", [("Barbara Allen", "Barbara Allen", {}), ("Scarborough Fair", "Scarborough Fair", {})]),
    ("Barrowlight Choir", [("Amazing Grace", "Amazing Grace", {}), ("Auld Lang Syne", "Auld Lang Syne", {})]),
    ("Corrie Fen", [("Loch Lomond", "Loch Lomond", {}), ("The Parting Glass", "The Parting Glass", {"style": "lf"})]),
    ("Claire Fontaine Ensemble", [("À la claire fontaine", "À la claire fontaine", {}),
                                  ("Twinkle, Twinkle, Little Star", "Twinkle, Twinkle, Little Star", {})]),
    ("Driftwood Company", [("Drunken Sailor", "Drunken Sailor", {"suffix": True}),
                           ("Spanish Ladies", "Spanish Ladies", {"suffix": True}),
                           ("Shenandoah", "Shenandoah", {"suffix": True})]),
    ("Dunmore Lasses", [("Early One Morning", "Early One Morning", {}),
                        ("Who Will Shoe Your Pretty Little Foot?", "Who Will Shoe Your Pretty Little Foot?", {})]),
    # An accented artist: listed under the letter its name has without
    # accents, as the host looks it up. One title carries a suffix the tags
    # of a music file seldom have.
    ("Émile Fortier", [("Harbour Bells (Radio Edit)", "Harbour Bells", {}), ("Loch Lomond", "Loch Lomond", {})]),
    ("Elderberry Wine", [("Drink to Me Only with Thine Eyes", "Drink to Me Only with Thine Eyes", {}),
                         ("Beautiful Dreamer", "Beautiful Dreamer", {})]),
    ("Fenwick Downs (Trio)", [("The Water Is Wide", "The Water Is Wide", {}), ("Greensleeves", "Greensleeves", {})]),
    ("Gallowglass Rovers", [("The Parting Glass", "The Parting Glass", {}), ("Spanish Ladies", "Spanish Ladies", {})]),
    ("Harrow Lane Singers", [("Scarborough Fair", "Scarborough Fair", {}), ("Barbara Allen", "Barbara Allen", {})]),
    ("Hollin Reed", [("Shenandoah", "Shenandoah", {}), ("Loch Lomond", "Loch Lomond", {})]),
    ("Juniper Row", [("Auld Lang Syne", "Auld Lang Syne", {}), ("Amazing Grace", "Amazing Grace", {})]),
    ("Kettle & Wren", [("Twinkle, Twinkle, Little Star", "Twinkle, Twinkle, Little Star", {}),
                       ("Early One Morning", "Early One Morning", {})]),
    ("Lanternmen", [("Lanterns on the Weir", "Lanterns on the Weir", {}), ("Drunken Sailor", "Drunken Sailor", {})]),
    ("Marrow Bells ( UK)", [("Harbour Bells", "Harbour Bells", {}), ("Greensleeves", "Greensleeves", {})]),
    ("Moss Hollow", [("Barbara Allen", "Barbara Allen", {"style": "lf"}),
                     ("The Water Is Wide", "The Water Is Wide", {})]),
    ("Nettlebed", [("Barbara Allen", "Barbara Allen", {}),
                   ("Nettlebed Reel (instrumental)", None, {"page": "nolyrics"}),
                   ("The Withheld Song", None, {"page": "notlicensed"}),
                   ("Lost Verse", None, {"page": "missing"})]),
    ("Oakum Pickers", [("Drunken Sailor", "Drunken Sailor", {}), ("Spanish Ladies", "Spanish Ladies", {}),
                       ("Shenandoah", "Shenandoah", {})]),
    ("Pennyroyal", [("Scarborough Fair", "Scarborough Fair", {}), ("Loch Lomond", "Loch Lomond", {})]),
    ("Quillfeather", [("Salt Road", "Salt Road", {}),
                      ("Quill and Ink", "Quill and Ink", {"suffix": True}),
                      ("Lanterns on the Weir", "Lanterns on the Weir", {}),
                      ("Greensleeves", "Greensleeves", {}),
                      # A second recording under the same title: two songs,
                      # one title, two pages.
                      ("Salt Road", "Salt Road", {"link": "Salt Road (1998)"}),
                      ("Who Will Shoe Your Pretty Little Foot?", "Who Will Shoe Your Pretty Little Foot?", {})]),
    ("Rook and Rowan", [("The Parting Glass", "The Parting Glass", {}), ("Amazing Grace", "Amazing Grace", {})]),
    ("Saltwick Harbour", [("Harbour Bells", "Harbour Bells", {}), ("Spanish Ladies", "Spanish Ladies", {})]),
    ("Sorrel Lane ( UK)", [("Greensleeves", "Greensleeves", {}), ("Early One Morning", "Early One Morning", {})]),
    ("Skerry Voices", [("Loch Lomond", "Loch Lomond", {}), ("Auld Lang Syne", "Auld Lang Syne", {})]),
    ("The Tidewrack Band", [("Drunken Sailor", "Drunken Sailor", {}), ("Shenandoah", "Shenandoah", {})]),
    ("Thistledown", [("Loch Lomond", "Loch Lomond", {}), ("Scarborough Fair", "Scarborough Fair", {})]),
    ("Wren Hollow", [("The Water Is Wide", "The Water Is Wide", {}), ("Barbara Allen", "Barbara Allen", {})]),
    ("Yarrow Green", [("Greensleeves", "Greensleeves", {}), ("The Parting Glass", "The Parting Glass", {})]),
    ("1849 Shanty Crew", [("Drunken Sailor", "Drunken Sailor", {}), ("Spanish Ladies", "Spanish Ladies", {})]),
    ("3 Rivers Choir", [("Amazing Grace", "Amazing Grace", {}), ("Shenandoah", "Shenandoah", {})]),
    ("7 Bells Watch", [("Number Nine Reel Song", "Number Nine Reel Song", {}),
                       ("Harbour Bells", "Harbour Bells", {})]),
]

FILLER_FIRST = ["Saffron", "Sable", "Sailcloth", "Sandy", "Scarlet", "Seaward", "Shady", "Silver", "Slate",
                "Sloe", "Snowdrop", "Solway", "Sparrow", "Spindle", "Springwell", "Stonecrop", "Stormy",
                "Summer", "Swallow", "Sweetbriar", "Sycamore"]
FILLER_SECOND = ["Bells", "Boys", "Choir", "Company", "Crew", "Fiddlers", "Hands", "Lasses", "Minstrels", "Pipers",
                 "Quartet", "Ramblers", "Rovers", "Singers", "Strings", "Trio", "Waits", "Wanderers", "Weavers",
                 "Whistlers"]


def html_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def page_name(title):
    return title.replace(" ", "_")


def page_link(title):
    return "/wiki/" + urllib.parse.quote(page_name(title), safe=":()_,!'-.~")


def index_char(name):
    c = unicodedata.normalize("NFKD", name[0])[0]
    return "0" if c.isdigit() else c.upper()


def lyrics_markup(text, style):
    stanzas = [s.split("\n") for s in text.split("\n\n")]
    if style == "lf":
        # LF line ends and plain <br>: the plug-in keeps every line, but two
        # LF in a row collapse, so stanzas run together.
        return "<br>\n<br>\n".join("<br>\n".join(html_text(l) for l in s) for s in stanzas)
    # CR LF line ends (written out by write()) and XHTML breaks: a break tag
    # next to a line break vanishes, and CR LF CR LF keeps a blank line.
    return "<br />\n<br />\n".join("<br />\n".join(html_text(l) for l in s) for s in stanzas)


def notice_markup():
    return "".join("&#%d;" % ord(c) for c in NOT_LICENSED)


def write(path, text, newline="\n"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text if newline == "\n" else text.replace("\n", newline))


def song_page(artist, title, body, style):
    nl = "\n"  # write() turns it into CR LF for the CR LF style
    head = ("<!DOCTYPE html>" + nl + "<html><head><meta charset=\"utf-8\"><title>" + html_text(artist) + ":" +
            html_text(title) + " - Lyrics Wiki</title></head>" + nl + "<body>" + nl + "<h1>" +
            html_text(artist) + ":" + html_text(title) + "</h1>" + nl)
    tail = nl + "<p>Back to <a href=\"" + page_link(artist) + "\">" + html_text(artist) + "</a></p>" + nl + \
        "</body></html>" + nl
    return head + body + tail


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), "..", "wiki", "sample"))
    for sub in ("wiki", "categories"):
        shutil.rmtree(os.path.join(root, sub), ignore_errors=True)
    index = {}

    for artist, songs in ARTISTS:
        entries = []
        for title, key, opts in songs:
            link_name = artist + ":" + opts.get("link", title)
            link_text = html_text(title) + (" lyrics" if opts.get("suffix") else "")
            entries.append('<li> <b><a href="%s" title="%s">%s</a></b></li>' %
                           (page_link(link_name), html_text(link_name), link_text))
            kind = opts.get("page")
            if kind == "missing":
                continue  # a link to a page nobody wrote: the wiki answers 404
            style = opts.get("style", "crlf")
            if kind == "nolyrics":
                body = "<p>An instrumental tune: there are no words to this one.</p>"
            elif kind == "notlicensed":
                body = ("<div class='lyricbox'><div class='rtMatcher'></div>" + notice_markup() +
                        "<!-- lyrics withheld --></div>")
            else:
                body = ("<div class='lyricbox'><div class='rtMatcher'><a href=\"/static/about.html\">"
                        "About this sample</a></div>" + lyrics_markup(LYRICS[key], style) +
                        "<!-- end of lyrics -->\n</div>")
            write(os.path.join(root, "wiki", page_name(link_name) + ".html"),
                  song_page(artist, title, body, style), "\n" if style == "lf" else "\r\n")
        page = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + html_text(artist) +
                " - Lyrics Wiki</title></head>\n<body>\n<h1>" + html_text(artist) + "</h1>\n"
                "<p>A sample artist of the Versewell sample wiki.</p>\n<h2>Songs</h2>\n<ol>\n" +
                "\n".join(entries) + "\n</ol>\n</body></html>\n")
        write(os.path.join(root, "wiki", page_name(artist) + ".html"), page)
        index.setdefault(index_char(artist), []).append(artist)

    for first in FILLER_FIRST:
        for second in FILLER_SECOND:
            artist = first + " " + second
            page = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + artist +
                    " - Lyrics Wiki</title></head>\n<body>\n<h1>" + artist + "</h1>\n"
                    "<p>A filler artist that keeps the S index long. No songs yet.</p>\n</body></html>\n")
            write(os.path.join(root, "wiki", page_name(artist) + ".html"), page)
            index["S"].append(artist)

    for letter, names in index.items():
        names.sort(key=lambda n: html_text(n).lower())
        lines = ["%s\t%s\t%s\n" % (page_link(n), html_text(n), html_text(n)) for n in names]
        write(os.path.join(root, "categories", "Artists_%s.tsv" % letter), "".join(lines))

    write(os.path.join(root, "static", "about.html"),
          "<!DOCTYPE html>\n<html><body><p>The Versewell sample wiki: traditional songs in the public domain "
          "and texts written for the sample.</p></body></html>\n")
    write(os.path.join(root, ".gitattributes"), "# Pages are served byte for byte; keep their line ends.\n"
          "* -text\n")
    count = sum(len(v) for v in index.values())
    print("sample wiki: %d artists (%d with songs) in %s" % (count, len(ARTISTS), root))


if __name__ == "__main__":
    main()
