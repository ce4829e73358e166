#!/usr/bin/python3
"""Makes the musicians' manual: one HTML page per module and an index, from
docs/manual.md, docs/ulvo.md and docs/tessarn.md, with the pictures and
sounds those pages show rendered by sep-host.

    manual.py --host SEP_HOST --plugins DIR --out DIR [--version X.Y.Z]
    manual.py --host SEP_HOST --plugins DIR --pictures-only DIR

Each picture `![title](images/NAME.ext)` of the Markdown is drawn from the
patch docs/patches/NAME.json (or the demo, for demo-chords) with the title
as its heading; a spectrogram (PNG) also leaves its sound, compressed to
FLAC in sounds/NAME.flac, which the page plays beside the picture. The
pages need nothing but their folder: no network, no fonts or scripts from
elsewhere. --pictures-only draws the pictures alone into DIR (docs/images).

Markdown is converted by python3-markdown (Debian's); the rest is this
script: picture and sound rendering, figures, links between the pages.
"""
import argparse
import html
import os
import re
import subprocess
import sys
import tempfile

import markdown

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAGES = [  # source, page, title in the navigation
    ("docs/manual.md", "index.html", "Manual"),
    ("docs/ulvo.md", "ulvo.html", "ulvo"),
    ("docs/tessarn.md", "tessarn.html", "tessarn"),
]
# Pictures drawn from something else than docs/patches/NAME.json.
SPECIAL = {
    "demo-chords": ["examples/demo-patch.json", "--score", "examples/demo-score.json", "--seconds", "8"],
}
IMAGE = re.compile(r'!\[([^\]]+)\]\(images/([A-Za-z0-9_-]+)\.(png|svg)\)')

STYLE = """
body { font-family: sans-serif; max-width: 60em; margin: 0 auto; padding: 0 1em 3em; line-height: 1.45; color: #222; }
nav { border-bottom: 1px solid #ccc; padding: 0.8em 0; }
nav a { margin-right: 1.2em; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #ccc; padding: 0.3em 0.5em; vertical-align: top; text-align: left; }
code, pre { font-family: monospace; background: #f4f4f4; }
pre { padding: 0.6em; overflow-x: auto; }
figure { margin: 1em 0; }
figure img { max-width: 100%; height: auto; border: 1px solid #ddd; }
figcaption { font-style: italic; margin: 0.3em 0; }
audio { display: block; margin-top: 0.3em; }
footer { margin-top: 3em; border-top: 1px solid #ccc; padding-top: 0.5em; font-size: 0.9em; }
"""


def run(words):
    result = subprocess.run(words, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("manual: %s failed:\n%s%s" % (" ".join(words), result.stdout, result.stderr))


def pictures_of(sources):
    """(name, extension, title) of every picture, in page order, once each."""
    seen, found = set(), []
    for source in sources:
        with open(os.path.join(ROOT, source), encoding="utf-8") as f:
            for title, name, extension in IMAGE.findall(f.read()):
                if name not in seen:
                    seen.add(name)
                    found.append((name, extension, title))
    return found


def render_picture(host, plugins, name, extension, title, images, sounds, work):
    """Draws images/NAME.ext; a spectrogram also gives sounds/NAME.flac."""
    if name in SPECIAL:
        patch = [os.path.join(ROOT, SPECIAL[name][0])] + [
            os.path.join(ROOT, w) if w.endswith(".json") else w for w in SPECIAL[name][1:]]
    else:
        patch = [os.path.join(ROOT, "docs/patches", name + ".json")]
        if not os.path.exists(patch[0]):
            sys.exit("manual: no patch draws images/%s.%s (docs/patches/%s.json)" % (name, extension, name))
    wav = os.path.join(work, name + ".wav")
    picture = os.path.join(images, name + "." + extension)
    kind = "--spectrogram" if extension == "png" else "--waveform"
    # the pictures' fonts have ASCII only: a minus sign is drawn as a hyphen
    heading = title.replace("\u2212", "-")
    run([host, "render"] + patch + ["--plugins", plugins, "--quiet", "-o", wav, kind, picture, "--title", heading])
    if extension == "png" and sounds is not None:
        # 16-bit FLAC, no dither (-D): the same bytes from the same render
        run(["sox", "-V1", "-D", wav, "-b", "16", os.path.join(sounds, name + ".flac")])


def figure(match, sounds):
    """An <img> of the converted Markdown as a figure: the picture, its title
    as the caption and, where the picture has one, its sound."""
    alt, source = html.unescape(match.group(1)), match.group(2)
    name = os.path.splitext(os.path.basename(source))[0]
    parts = ['<figure><img src="%s" alt="%s" title="%s">' % (source, html.escape(alt), html.escape(alt)),
             "<figcaption>%s</figcaption>" % html.escape(alt)]
    if os.path.exists(os.path.join(sounds, name + ".flac")):
        parts.append('<audio controls preload="metadata" src="sounds/%s.flac" title="%s"></audio>'
                     % (name, html.escape("Sound: " + alt)))
    return "".join(parts) + "</figure>"


def page(source, target, out, version):
    with open(os.path.join(ROOT, source), encoding="utf-8") as f:
        text = f.read()
    converter = markdown.Markdown(extensions=["tables", "toc", "fenced_code"])
    body = converter.convert(text)
    # links between the pages
    for other_source, other_page, _ in PAGES:
        body = body.replace('href="%s' % os.path.basename(other_source), 'href="%s' % other_page)
    body = re.sub(r'<img alt="([^"]*)" src="(images/[^"]+)"\s*/?>', lambda m: figure(m, os.path.join(out, "sounds")), body)
    title = re.search(r"<h1[^>]*>(.*?)</h1>", body)
    nav = " ".join('<a href="%s">%s</a>' % (p, t) for _, p, t in PAGES)
    document = ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                "<title>%s</title>\n<style>%s</style>\n</head>\n<body>\n<nav>%s</nav>\n<main>\n%s\n</main>\n"
                "<footer>ulvo and tessarn %s. MIT licence: see <a href=\"index.html#version-and-licence\">"
                "Version and licence</a>.</footer>\n</body>\n</html>\n"
                % (re.sub("<[^>]+>", "", title.group(1)) if title else target, STYLE, nav, body, version))
    with open(os.path.join(out, target), "w", encoding="utf-8") as f:
        f.write(document)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", required=True)
    parser.add_argument("--plugins", required=True)
    parser.add_argument("--out")
    parser.add_argument("--pictures-only")
    parser.add_argument("--version", default="")
    args = parser.parse_args()
    if not (args.out or args.pictures_only):
        parser.error("--out or --pictures-only")
    pictures = pictures_of([source for source, _, _ in PAGES])
    with tempfile.TemporaryDirectory() as work:
        if args.pictures_only:
            for name, extension, title in pictures:
                render_picture(args.host, args.plugins, name, extension, title, args.pictures_only, None, work)
            return
        images, sounds = os.path.join(args.out, "images"), os.path.join(args.out, "sounds")
        os.makedirs(images, exist_ok=True)
        os.makedirs(sounds, exist_ok=True)
        for name, extension, title in pictures:
            render_picture(args.host, args.plugins, name, extension, title, images, sounds, work)
    for source, target, _ in PAGES:
        page(source, target, args.out, args.version)


if __name__ == "__main__":
    main()
