#!/usr/bin/env python3
"""Builds the seeded text corpora that bench/run.sh times orlenta-extract on.

  typical.txt   mixed web pages and plain text (mail, notes, logs): most bytes are prose and
                markup, addresses are sparse, with the usual near-misses around them
  dense-3m.txt  address lists and mail headers: most tokens are addresses, 3 million of them,
                about 97 % distinct, the repeats in other upper/lower case
  distinct-5m.txt  5 million distinct addresses, one per line: the memory check of the set
  big-1g.txt    typical.txt repeated to just over 1 GB, for the memory check
  token.txt     one token of 200000 bytes full of "@" and "." (hostile input)
  random.bin    64 MB of random bytes (hostile input)
  typical.txt.gz, typical.tar.gz, typical.zip   typical.txt packed, for --unpack
  zeros-10g.zip 10 GiB of zeros deflated to 10 MB, then a member with an address (--unpack)
  bomb.zip      zips of zips of 1 GiB of zeros, 16 at each of 4 levels: 4 TiB (--unpack)
  small-files/  200,000 files of 16 bytes in one folder (a mail dump at its worst)
  pages/        200,000 web pages of 4 KB in one folder
  mail.mbox     an mbox spool of generated messages (quoted-printable with soft breaks inside
                addresses and "=3D" before them, base64 text and HTML parts, encoded-word
                headers, binary attachments, ">From " lines, CR LF and LF), and beside it
                mail.mbox.expected: the distinct addresses a mail client shows, in order, as
                orlenta-extract --mail writes them

The same seed gives the same bytes. Usage: make-corpus.py [--out DIR] [--seed N]
"""

import argparse
import base64
import binascii
import io
import os
import random
import shutil
import subprocess
import sys
import zipfile

WORDS = """
the of and to in a is that for it as was with be by on not he i this are or his from at
which but have an they you were her she there been one all we their has would when if so
no will can more other its who into what some them about time only new these two may then
do first any my now such like our over man me even most made after also did many before
must through back years where much your way well down should because each just those
people how too little state good very make world still own see men work long get here
between both life being under never day same another know while last might us great old
year off come since against go came right used take three states himself few house use
during without again place around however home small found thought went say part once
general high upon school every does got united left number course war until always away
something fact though water less public put think almost hand enough far took head yet
government system better set told nothing night end why called didn find going look asked
later knew point next program city business give group toward young days let room
president side social given present several order national possible rather second face per
among form important often things looking early white case john become large big need four
within felt along children saw best church ever least power development thing light seemed
family interest want members mind country area others done turned although open god service
certain kind problem began different door thus help sense means whole matter perhaps itself
york times law human line above name example action company hands local show whether five
history gave today either act feet across taken past quite anything seen having death
experience body word half really week field car words already themselves information tell
together college shall money period held keep sure free real probably seems political
market meeting report contact newsletter invoice shipping order account support billing
""".split()

FIRST = """anna ben carla david emma felix gina hugo ines jonas karin lars maria nils olga
paul quinn rosa sven tina ulla viktor wanda xaver yara zoe ahmed bea chen dana eric fatima
george hana ivan julia kenji lena mateo nora oskar priya rafael sara tomas uma""".split()
LAST = """smith mueller garcia rossi novak kowalski jensen silva dubois tanaka kim nguyen
ivanova costa berg lindqvist okafor haddad petrov schmidt weber fischer meyer wagner becker
hoffmann schulz koch richter klein wolf neumann schwarz zimmermann braun kruger""".split()
DOMAIN_WORDS = """mail post web net data shop store tech info media news cloud home green
blue north south river lake hill stone star sun moon city bay fox owl bear oak pine""".split()
TLDS = ["com", "org", "net", "de", "co.uk", "info", "io", "fr", "nl", "example"]


class Maker:
    def __init__(self, seed):
        self.r = random.Random(seed)

    # --- pieces ---------------------------------------------------------------------------

    def domain(self):
        r = self.r
        labels = [r.choice(DOMAIN_WORDS) + r.choice(DOMAIN_WORDS)]
        if r.random() < 0.3:
            labels.insert(0, r.choice(["mail", "lists", "www2", "eu", "corp", "dept-7"]))
        return ".".join(labels) + "." + r.choice(TLDS)

    def local(self):
        r = self.r
        first, last = r.choice(FIRST), r.choice(LAST)
        form = r.random()
        if form < 0.4:
            return first + "." + last
        if form < 0.6:
            return first[0] + last
        if form < 0.75:
            return first + "_" + last + str(r.randrange(100))
        if form < 0.9:
            return r.choice(["info", "sales", "support", "office", "hello", "billing", "jobs"])
        return first + "-" + last

    def address(self):
        return self.local() + "@" + self.domain()

    def numbered_address(self, number):
        """An address no other number gives: the number sits in the local part."""
        r = self.r
        return "%s.%s%d@%s" % (r.choice(FIRST), r.choice(LAST), number, self.domain())

    def near_miss(self):
        r = self.r
        kind = r.randrange(9)
        if kind == 0:
            return self.address() + "."  # end of a sentence
        if kind == 1:
            return self.local() + "+news@" + self.domain()
        if kind == 2:
            return "@" + r.choice(FIRST) + r.choice(LAST)  # a handle
        if kind == 3:
            return self.local() + "@localhost"
        if kind == 4:
            return self.local() + "@" + self.domain().replace(".", "..", 1)
        if kind == 5:
            return "user@[10.%d.%d.%d]" % (r.randrange(256), r.randrange(256), r.randrange(256))
        if kind == 6:
            return "image@2x.png"
        if kind == 7:
            return "%s at %s dot com" % (self.local(), r.choice(DOMAIN_WORDS))
        return "v%d.%d.%d" % (r.randrange(5), r.randrange(20), r.randrange(100))

    def sentence(self):
        r = self.r
        words = [r.choice(WORDS) for _ in range(r.randrange(6, 22))]
        if r.random() < 0.3:
            words.insert(r.randrange(len(words)), r.choice(WORDS) + ",")
        if r.random() < 0.08:
            words.insert(r.randrange(len(words)), str(r.randrange(1, 3000)))
        if r.random() < 0.04:
            words.insert(r.randrange(len(words)), "https://www.%s/%s" % (self.domain(), r.choice(WORDS)))
        words[0] = words[0].capitalize()
        return " ".join(words) + r.choice([".", ".", ".", "?", "!", ":"])

    def paragraph(self):
        return " ".join(self.sentence() for _ in range(self.r.randrange(2, 9)))

    # --- documents ------------------------------------------------------------------------

    def sprinkle(self, text):
        """Puts the odd address or near-miss into a paragraph, the way pages mention them."""
        r = self.r
        roll = r.random()
        if roll < 0.12:
            return text + " Contact " + self.address() + " for details."
        if roll < 0.20:
            return text + " " + self.near_miss()
        if roll < 0.23:
            return text + " (" + self.address() + ")"
        return text

    def html_page(self, pool):
        r = self.r
        out = ['<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n',
               "<title>%s</title>\n" % r.choice(pool)[:60],
               "<style>\n@media (max-width: 600px) { .nav { display: none; } }\n"
               "body { font: 14px/1.4 sans-serif; margin: 0 auto; max-width: 960px; }\n"
               ".card { border: 1px solid #ddd; padding: 8px; }\n</style>\n"
               '<script>window.dataLayer=window.dataLayer||[];function gtag(){dataLayer.push(arguments)}'
               "gtag('js',new Date());</script>\n</head>\n<body>\n"
               '<nav class="nav"><a href="/">Home</a> | <a href="/about">About</a> | '
               '<a href="/contact">Contact</a></nav>\n']
        for _ in range(r.randrange(4, 16)):
            kind = r.random()
            if kind < 0.7:
                out.append("<p>%s</p>\n" % self.sprinkle(r.choice(pool)))
            elif kind < 0.85:
                rows = "".join("<tr><td>%s</td><td>%s</td><td>%d</td></tr>\n"
                               % (r.choice(WORDS), r.choice(WORDS), r.randrange(1000))
                               for _ in range(r.randrange(3, 10)))
                out.append('<table class="data">\n%s</table>\n' % rows)
            else:
                person = self.address()
                out.append('<div class="card"><b>%s %s</b><br><a href="mailto:%s">%s</a></div>\n'
                           % (r.choice(FIRST).title(), r.choice(LAST).title(), person, person))
        out.append('<footer>&copy; 2024 %s &middot; <a href="mailto:%s">%s</a> &middot; '
                   '<img src="logo@2x.png" alt=""></footer>\n</body>\n</html>\n'
                   % (self.domain(), self.address(), "Write to us"))
        return "".join(out)

    def mail_message(self, pool):
        r = self.r
        sender = self.address()
        out = ["From: %s %s <%s>\r\n" % (r.choice(FIRST).title(), r.choice(LAST).title(), sender),
               "To: %s\r\n" % self.address(),
               "Subject: %s\r\n" % " ".join(r.choice(WORDS) for _ in range(5)),
               "Date: Mon, %d Jun 2024 10:%02d:00 +0200\r\n" % (r.randrange(1, 29), r.randrange(60)),
               "Message-ID: <%d.%d@%s>\r\n\r\n" % (r.randrange(10**9), r.randrange(10**6), self.domain())]
        for _ in range(r.randrange(2, 8)):
            out.append(self.sprinkle(r.choice(pool)) + "\r\n\r\n")
        if r.random() < 0.5:
            out.append("On %s, %s wrote:\r\n" % ("Friday", sender))
            for line in r.choice(pool).split(". ")[:6]:
                out.append("> " + line + "\r\n")
        out.append("-- \r\n%s %s\r\n%s\r\n\r\n" % (r.choice(FIRST).title(), r.choice(LAST).title(),
                                                    "Phone +49 30 %07d" % r.randrange(10**7)))
        return "".join(out)

    def notes(self, pool):
        r = self.r
        out = []
        for _ in range(r.randrange(3, 12)):
            if r.random() < 0.25:
                out.append("2024-06-%02d 12:%02d:%02d INFO [worker-%d] %s\n"
                           % (r.randrange(1, 29), r.randrange(60), r.randrange(60), r.randrange(8),
                              r.choice(pool)[:120]))
            else:
                out.append(self.sprinkle(r.choice(pool)) + "\n\n")
        return "".join(out)

    # --- corpora --------------------------------------------------------------------------

    def typical(self, path, size):
        pool = [self.paragraph() for _ in range(6000)]
        written = 0
        with open(path, "w", encoding="ascii", newline="") as out:
            while written < size:
                kind = self.r.random()
                if kind < 0.5:
                    document = self.html_page(pool)
                elif kind < 0.8:
                    document = self.mail_message(pool)
                else:
                    document = self.notes(pool)
                out.write(document)
                written += len(document)

    def dense(self, path, count):
        r = self.r
        met = []
        def variant(text):
            roll = r.random()
            if roll < 0.4:
                return text
            if roll < 0.7:
                return text.upper()
            return "".join(c.upper() if r.random() < 0.5 else c for c in text)
        written = 0
        with open(path, "w", encoding="ascii", newline="") as out:
            lines = []
            while written < count:
                per_line = r.randrange(1, 9)
                items = []
                for _ in range(per_line):
                    # 3 % repeats of an address met before, spelt otherwise.
                    if met and r.random() < 0.03:
                        address = variant(r.choice(met))
                    else:
                        address = self.numbered_address(len(met))
                        met.append(address)
                    form = r.random()
                    if form < 0.6:
                        items.append(address)
                    elif form < 0.8:
                        items.append("<%s>" % address)
                    elif form < 0.9:
                        items.append('"%s" <%s>' % (r.choice(FIRST).title(), address))
                    else:
                        items.append(self.near_miss())
                        continue
                    written += 1
                lines.append(r.choice([", ", "; ", " ", "\t"]).join(items))
                if len(lines) >= 10000:
                    out.write("\r\n".join(lines) + "\r\n")
                    lines = []
            out.write("\r\n".join(lines) + "\r\n")

    def distinct(self, path, count):
        with open(path, "w", encoding="ascii", newline="") as out:
            for start in range(0, count, 10000):
                out.write("".join(self.numbered_address(n) + "\r\n"
                                  for n in range(start, min(count, start + 10000))))

    def small_files(self, folder, count):
        """Files of exactly 16 bytes, each an address or a near-miss with its line end."""
        os.makedirs(folder)
        for n in range(count):
            text = ("u%d@m%d.org" % (n, n % 97)).ljust(14)[:14] + "\r\n"
            with open(os.path.join(folder, "m%06d.txt" % n), "w", encoding="ascii", newline="") as out:
                out.write(text)

    def pages(self, folder, count):
        """Web pages cut or padded to 4096 bytes, drawn from a few hundred different ones."""
        os.makedirs(folder)
        pool = [self.paragraph() for _ in range(600)]
        variants = []
        for _ in range(500):
            page = self.html_page(pool)
            variants.append((page[:4096] if len(page) >= 4096 else page.ljust(4096)).encode("ascii"))
        for n in range(count):
            with open(os.path.join(folder, "page%06d.html" % n), "wb") as out:
                out.write(variants[n % len(variants)])


class MailSpool:
    """Messages whose shown text the maker knows: every address it puts where a mail client
    shows it is remembered, in the order the decoded spool has them."""

    def __init__(self, maker):
        self.m = maker
        self.r = maker.r
        self.pool = [maker.paragraph() for _ in range(3000)]
        self.met = []
        self.shown = []

    def address(self):
        r = self.r
        if self.met and r.random() < 0.2:
            return r.choice(self.met)
        address = self.m.numbered_address(len(self.met)).lower()
        self.met.append(address)
        return address

    def prose(self, addresses):
        """Paragraphs, one per line, with `addresses` put between sentences as mails do."""
        r = self.r
        paragraphs = [r.choice(self.pool) for _ in range(r.randrange(2, 7))]
        placed = []
        for _ in range(addresses):
            address = self.address()
            placed.append((r.randrange(len(paragraphs)), len(placed), address))
            form = r.choice(["write to =%s today.", "(%s)", "<%s>", "mail %s now"]) % address
            k = placed[-1][0]
            paragraphs[k] = paragraphs[k] + " " + form + " " + r.choice(WORDS)
        self.shown += [address for _, _, address in sorted(placed)]  # in text order
        return "\n".join(paragraphs) + "\n"

    def quoted_printable(self, text, eol):
        encoded = binascii.b2a_qp(text.encode("ascii"), istext=True).decode("ascii")
        return encoded.replace("\n", eol)

    def base64_lines(self, data, eol):
        return base64.encodebytes(data).decode("ascii").replace("\n", eol)

    def html(self, addresses):
        r = self.r
        out = ["<html><body>"]
        for address in addresses:
            out.append('<p>%s <a href="mailto:%s">%s</a></p>' % (r.choice(self.pool), address, address))
        return "\n".join(out) + "\n</body></html>\n"

    def message(self):
        r = self.r
        eol = "\r\n" if r.random() < 0.7 else "\n"
        sender, to = self.address(), self.address()
        self.shown += [sender, to]
        name = "%s %s" % (r.choice(FIRST).title(), r.choice(LAST).title())
        if r.random() < 0.4:
            name = "=?UTF-8?Q?%s_J=C3=B6rg?=" % name.replace(" ", "_")
        subject = " ".join(r.choice(WORDS) for _ in range(5))
        headers = ["From: %s <%s>" % (name, sender), "To: %s" % to]
        if r.random() < 0.2:
            cc = self.address()
            self.shown.append(cc)
            subject = "=?UTF-8?B?%s?=" % base64.b64encode(
                ("re: write to %s" % cc).encode("ascii")).decode("ascii")
        headers += ["Subject: " + subject,
                    "Date: Mon, %d Jun 2024 10:%02d:00 +0200" % (r.randrange(1, 29), r.randrange(60)),
                    "MIME-Version: 1.0"]
        kind = r.random()
        body = []
        if kind < 0.35:
            headers += ["Content-Type: text/plain; charset=utf-8",
                        "Content-Transfer-Encoding: quoted-printable"]
            body.append(self.quoted_printable(self.prose(r.randrange(1, 5)), eol))
        elif kind < 0.6:
            boundary = "=_alt%d" % r.randrange(10**9)
            headers.append('Content-Type: multipart/alternative; boundary="%s"' % boundary)
            start = len(self.shown)
            text = self.prose(r.randrange(1, 4))
            html = self.html(self.shown[start:])
            body += ["This is a multi-part message in MIME format." + eol,
                     "--%s%sContent-Type: text/plain; charset=utf-8%s"
                     "Content-Transfer-Encoding: base64%s%s" % (boundary, eol, eol, eol, eol),
                     self.base64_lines(text.encode("ascii"), eol),
                     "--%s%sContent-Type: text/html; charset=utf-8%s"
                     "Content-Transfer-Encoding: base64%s%s" % (boundary, eol, eol, eol, eol),
                     self.base64_lines(html.encode("ascii"), eol),
                     "--%s--%s" % (boundary, eol)]
        elif kind < 0.8:
            boundary = "mixed-%d" % r.randrange(10**9)
            headers.append("Content-Type: multipart/mixed; boundary=%s" % boundary)
            blob = bytearray(r.randbytes(r.randrange(2000, 20000)))
            hidden = b" hidden%d@attachment.example.com " % r.randrange(10**6)
            blob[100:100 + len(hidden)] = hidden
            body += ["--%s%sContent-Type: text/plain%sContent-Transfer-Encoding: quoted-printable%s%s"
                     % (boundary, eol, eol, eol, eol),
                     self.quoted_printable(self.prose(r.randrange(1, 4)), eol),
                     "--%s%sContent-Type: application/octet-stream; name=\"data.bin\"%s"
                     "Content-Disposition: attachment; filename=\"data.bin\"%s"
                     "Content-Transfer-Encoding: base64%s%s" % (boundary, eol, eol, eol, eol, eol),
                     self.base64_lines(bytes(blob), eol),
                     "--%s--%s" % (boundary, eol)]
        else:
            headers.append("Content-Type: text/plain")
            text = self.prose(r.randrange(0, 3))
            if r.random() < 0.5:
                quoted = self.address()
                self.shown.append(quoted)
                text += "From %s wrote:\n" % quoted
            body.append(text.replace("\n", eol))
        lines = eol.join(headers) + eol + eol + "".join(body)
        # An mbox escapes body lines that would pass for its separator.
        lines = lines.replace(eol + "From ", eol + ">From ")
        return "From %s Mon Jun  3 10:00:00 2024%s%s%s" % (sender, eol, lines, eol)

    def write(self, path, size):
        written = 0
        with open(path, "w", encoding="ascii", newline="") as out:
            while written < size:
                message = self.message()
                out.write(message)
                written += len(message)
        distinct, seen = [], set()
        for address in self.shown:
            if address.lower() not in seen:
                seen.add(address.lower())
                distinct.append(address)
        with open(path[:-len(".part")] + ".expected", "w", encoding="ascii", newline="") as out:
            out.write("".join(address + "\r\n" for address in distinct))


def build_big(typical, path, size):
    with open(typical, "rb") as source:
        data = source.read()
    written = 0
    with open(path, "wb") as out:
        while written < size:
            out.write(data)
            written += len(data)


def build_token(path):
    r = random.Random(7)
    pieces = ["a", "b", ".", "@", "-", "_", "Z", "9"]
    with open(path, "w", encoding="ascii", newline="") as out:
        out.write("".join(r.choice(pieces) for _ in range(200000)))


def build_random(path, seed):
    with open(path, "wb") as out:
        out.write(random.Random(seed).randbytes(64 << 20))


def build_packed(typical, path, kind):
    folder = os.path.dirname(typical)
    if kind == "gz":
        with open(path, "wb") as out:
            subprocess.run(["gzip", "-6", "-c", typical], stdout=out, check=True)
    elif kind == "tar.gz":
        subprocess.run(["bsdtar", "-L", "-czf", path, "-C", folder, "typical.txt"], check=True)
    else:
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
            archive.write(typical, "typical.txt")


def build_zeros_zip(path, size=10 << 30):
    block = bytes(1 << 20)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        with archive.open("zeros.bin", "w", force_zip64=True) as member:
            for _ in range(size // len(block)):
                member.write(block)
        archive.writestr("after.txt", "after@example.org\r\n")


def build_bomb(path, levels=4, fanout=16):
    inner = io.BytesIO()
    with zipfile.ZipFile(inner, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        with archive.open("zeros.bin", "w", force_zip64=True) as member:
            block = bytes(1 << 20)
            for _ in range(1024):
                member.write(block)
    data = inner.getvalue()
    for level in range(1, levels):
        outer = io.BytesIO()
        with zipfile.ZipFile(outer, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
            for n in range(fanout):
                archive.writestr("level%d-%02d.zip" % (level, n), data)
        data = outer.getvalue()
    with open(path, "wb") as out:
        out.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus"))
    parser.add_argument("--seed", type=int, default=20240607)
    parser.add_argument("--typical-bytes", type=int, default=272_000_000)
    parser.add_argument("--dense-addresses", type=int, default=3_000_000)
    parser.add_argument("--big-bytes", type=int, default=1_050_000_000)
    parser.add_argument("--files", type=int, default=200_000)
    parser.add_argument("--mail-bytes", type=int, default=300_000_000)
    args = parser.parse_args()

    os.makedirs(args.out, exist_ok=True)
    jobs = [
        ("typical.txt", lambda p: Maker(args.seed).typical(p, args.typical_bytes)),
        ("dense-3m.txt", lambda p: Maker(args.seed + 1).dense(p, args.dense_addresses)),
        ("big-1g.txt", lambda p: build_big(os.path.join(args.out, "typical.txt"), p, args.big_bytes)),
        ("typical.txt.gz", lambda p: build_packed(os.path.join(args.out, "typical.txt"), p, "gz")),
        ("typical.tar.gz", lambda p: build_packed(os.path.join(args.out, "typical.txt"), p, "tar.gz")),
        ("typical.zip", lambda p: build_packed(os.path.join(args.out, "typical.txt"), p, "zip")),
        ("zeros-10g.zip", build_zeros_zip),
        ("bomb.zip", build_bomb),
        ("token.txt", build_token),
        ("random.bin", lambda p: build_random(p, args.seed)),
        ("distinct-5m.txt", lambda p: Maker(args.seed + 2).distinct(p, 5_000_000)),
        ("small-files", lambda p: Maker(args.seed + 3).small_files(p, args.files)),
        ("pages", lambda p: Maker(args.seed + 4).pages(p, args.files)),
        ("mail.mbox", lambda p: MailSpool(Maker(args.seed + 5)).write(p, args.mail_bytes)),
    ]
    for name, build in jobs:
        path = os.path.join(args.out, name)
        if os.path.exists(path + ".complete"):
            continue
        print("building", path, file=sys.stderr)
        if os.path.isdir(path + ".part"):
            shutil.rmtree(path + ".part")
        build(path + ".part")
        if os.path.isdir(path):
            shutil.rmtree(path)
        os.replace(path + ".part", path)
        open(path + ".complete", "w").close()


if __name__ == "__main__":
    main()
