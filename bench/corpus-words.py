#!/usr/bin/python3
"""Ranks the words of the corpus's message bodies by how well they tell ham from spam.

Usage: corpus-words.py CORPUS_DIR CORPUS_LIST OUT.tsv

Writes one line per word, best first: word, chi-squared score, ham messages holding it,
spam messages holding it. Words are runs of three or more ASCII letters, lower-cased, taken
from the decoded text parts (HTML tags and entities dropped); a word counts once per message. Only words
in at least 1 % of the messages are ranked, so each one matches often enough to matter.
The result is the same for the same corpus (ties broken by the word).
"""
import email
import email.policy
import re
import sys

WORD = re.compile(r"[a-z]{3,}")
TAG = re.compile(r"<[^>]*>")
ENTITY = re.compile(r"&#?[a-z0-9]+;")


def body_words(raw):
    message = email.message_from_bytes(raw, policy=email.policy.compat32)
    words = set()
    for part in message.walk():
        if part.get_content_maintype() != "text":
            continue
        payload = part.get_payload(decode=True) or b""
        text = payload.decode("latin-1").lower()
        if part.get_content_subtype() == "html":
            text = ENTITY.sub(" ", TAG.sub(" ", text))
        words.update(WORD.findall(text))
    return words


def main():
    corpus, listing, out = sys.argv[1:4]
    with open(listing) as f:
        names = [line.strip() for line in f if line.strip()]
    ham, spam = {}, {}
    hams = spams = 0
    for name in names:
        with open(corpus + "/" + name, "rb") as f:
            words = body_words(f.read())
        if name.startswith("spam"):
            counts, spams = spam, spams + 1
        else:
            counts, hams = ham, hams + 1
        for word in words:
            counts[word] = counts.get(word, 0) + 1
    total = hams + spams
    ranked = []
    for word in set(ham) | set(spam):
        a, b = ham.get(word, 0), spam.get(word, 0)  # holding it: ham, spam
        c, d = hams - a, spams - b  # not holding it
        if a + b < total // 100:
            continue
        denominator = (a + b) * (c + d) * (a + c) * (b + d)
        score = total * (a * d - b * c) ** 2 / denominator if denominator else 0.0
        ranked.append((-score, word, a, b))
    ranked.sort()
    with open(out, "w") as f:
        for score, word, a, b in ranked:
            f.write("%s\t%.1f\t%d\t%d\n" % (word, -score, a, b))


if __name__ == "__main__":
    main()
