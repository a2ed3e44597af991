#!/usr/bin/env python3
"""Writes requests made from the lists' own rules: for a sample of network
rules, a URL the rule's pattern should match, with a type and a page the
rule's options allow (and, for some, one they don't). Where the hand-made
corpus of filtercorpus.py follows real page loads, this one reaches the far
corners of the lists, so engine differences in option and pattern handling
show up. Deterministic.

Usage: rulecorpus.py OUT LIST... [--count N]   (default 4000)
"""
import random
import re
import sys

TYPES = {
    'script': 'script', 'image': 'image', 'stylesheet': 'stylesheet', 'css': 'stylesheet',
    'xmlhttprequest': 'xmlhttprequest', 'xhr': 'xmlhttprequest', 'subdocument': 'sub_frame', 'frame': 'sub_frame',
    'media': 'media', 'font': 'font', 'object': 'object', 'ping': 'ping', 'websocket': 'websocket', 'other': 'other',
}
ALL_TYPES = ['script', 'image', 'stylesheet', 'xmlhttprequest', 'sub_frame', 'media', 'font', 'ping', 'other']
PAGES = ['https://www.news-site.example/article', 'https://shop.example.co.uk/item/1', 'https://blog.example.org/']


def url_for(pattern, rng):
    host_anchor = pattern.startswith('||')
    start_anchor = not host_anchor and pattern.startswith('|')
    p = pattern[2:] if host_anchor else pattern[1:] if start_anchor else pattern
    if p.endswith('|'):
        p = p[:-1]
    p = p.replace('*', rng.choice(['x', 'abc/def', ''])).replace('^', '/')
    if host_anchor:
        if '/' not in p and '?' not in p:
            p += '/'
        return 'https://' + rng.choice(['', 'www.', 'cdn.']) + p
    if start_anchor:
        return p if '://' in p else None
    host = rng.choice(['cdn.example.net', 'www.news-site.example', 'static.example.com'])
    if p.startswith('/'):
        return 'https://%s%s' % (host, p)
    if p.startswith('.') or p.startswith('-') or p.startswith('_'):
        return 'https://%s/path/file%s' % (host, p)
    return 'https://%s/path/%s' % (host, p)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith('--')]
    count = int(sys.argv[sys.argv.index('--count') + 1]) if '--count' in sys.argv else 4000
    if '--count' in sys.argv:
        args.remove(str(count))
    out, lists = args[0], args[1:]
    rules = []
    for name in lists:
        for line in open(name, encoding='utf-8', errors='replace'):
            line = line.strip()
            if not line or line.startswith('!') or line.startswith('[') or '#' in line.split('$')[0]:
                continue
            if re.match(r'^(@@)?/.*/(\$.*)?$', line):
                continue  # regex rules: no URL can be made from them mechanically
            rules.append(line)
    rng = random.Random(7)
    sample = rng.sample(rules, min(count, len(rules)))
    lines = []
    for rule in sample:
        body = rule[2:] if rule.startswith('@@') else rule
        pattern, _, options = body.partition('$')
        opts = [o.strip() for o in options.split(',') if o.strip()] if options else []
        url = url_for(pattern, rng)
        if not url or ' ' in url or '\t' in url:
            continue
        types = [TYPES[o] for o in opts if o in TYPES]
        negated = [TYPES[o[1:]] for o in opts if o.startswith('~') and o[1:] in TYPES]
        candidates = types or [t for t in ALL_TYPES if t not in negated] or ALL_TYPES
        page = rng.choice(PAGES)
        for o in opts:
            if o.startswith('domain='):
                included = [d for d in o[7:].split('|') if d and not d.startswith('~') and not d.endswith('.*')]
                if included:
                    page = 'https://' + rng.choice(['', 'www.']) + rng.choice(included) + '/'
        if '~third-party' in opts or 'first-party' in opts or '1p' in opts:
            host = re.sub(r'^https?://([^/:]+).*', r'\1', url)
            page = 'https://' + host + '/'
        lines.append((url, page, rng.choice(candidates)))
        # The same request where the options should not let the rule apply.
        lines.append((url, rng.choice(PAGES), rng.choice(ALL_TYPES)))
    with open(out, 'w') as f:
        for url, page, t in lines:
            f.write('%s\t%s\t%s\n' % (url, page, t))
    print('%s: %d requests from %d rules' % (out, len(lines), len(sample)))


if __name__ == '__main__':
    main()
