#!/usr/bin/env python3
"""Compares two decision files for the same request corpus (ours from
orvex-filtercheck --no-builtin, the reference engine's) and prints the
agreement figures and every disagreement.
Usage: compare-filters.py REQUESTS OURS REFERENCE [--show N]"""
import sys

requests = [l.rstrip('\n').split('\t') for l in open(sys.argv[1])]
ours = [l.rstrip('\n') for l in open(sys.argv[2])]
ref = [l.rstrip('\n') for l in open(sys.argv[3])]
show = int(sys.argv[sys.argv.index('--show') + 1]) if '--show' in sys.argv else 40
assert len(requests) == len(ours) == len(ref), (len(requests), len(ours), len(ref))

ref_blocks = sum(1 for r in ref if r.startswith('block'))
our_blocks = sum(1 for o in ours if o.startswith('block'))
both = sum(1 for o, r in zip(ours, ref) if o.startswith('block') and r.startswith('block'))
missed = [(q, o, r) for q, o, r in zip(requests, ours, ref) if r.startswith('block') and not o.startswith('block')]
extra = [(q, o, r) for q, o, r in zip(requests, ours, ref) if o.startswith('block') and not r.startswith('block')]
allowed_by_ref = len(ref) - ref_blocks

print('requests: %d, reference blocks %d, ours %d' % (len(ref), ref_blocks, our_blocks))
print('agreement on blocks: %d/%d = %.2f%% of the reference\'s blocks' % (both, ref_blocks, 100.0 * both / max(ref_blocks, 1)))
print('false blocks (ours only): %d = %.3f%% of all requests, %.3f%% of what the reference allows'
      % (len(extra), 100.0 * len(extra) / len(ref), 100.0 * len(extra) / max(allowed_by_ref, 1)))
print('missed blocks (reference only): %d' % len(missed))
for title, rows in (('missed', missed), ('extra', extra)):
    seen = {}
    for q, o, r in rows:
        key = (q[0], q[2])
        seen.setdefault(key, (q, o, r))
    for (url, t), (q, o, r) in list(seen.items())[:show]:
        print('%s\t%s\t%s\t%s\n\tours: %s\n\tref:  %s' % (title, t, url, q[1], o, r))
