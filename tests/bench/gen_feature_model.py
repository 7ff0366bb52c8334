#!/usr/bin/env python3
"""gen_feature_model.py N [SEED]: writes a random feature model of N Boolean
features to standard output, as trelix reads it (modelTest.txt): a tree
with mandatory, optional, or- and alternative groups, a group cardinality,
and cross-tree requires and excludes.  A benchmark input, not a test: run
trelix on it in a scratch folder and read its figures (the models always
have valid configurations: cross-tree constraints only link optional
features outside each other's groups, and are kept only when a
configuration still exists, checked by tests/app/check_outputs.py's
search)."""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "app"))
import check_outputs  # noqa: E402


def generate(n, seed):
    rnd = random.Random(seed)
    names = ["F%d" % i for i in range(1, n + 1)]
    goals = ["domain([%s], -1, 0)" % ", ".join(names), "domain([F1], 0, 0)"]
    parent = {}
    frontier = [0]
    i = 1
    optional = []
    while i < n:
        p = frontier.pop(0) if frontier else rnd.randrange(i)
        k = min(n - i, rnd.choice([2, 2, 3, 3, 4]))
        kids = list(range(i, i + k))
        i += k
        for c in kids:
            parent[c] = p
        frontier.extend(kids)
        kind = rnd.choice(["mand", "opt", "opt", "or", "xor", "cardinal"])
        ks = ", ".join(names[c] for c in kids)
        if kind == "cardinal" and k >= 3:
            goals.append("cardinal(1, %d, %s, [%s])" % (k - 1, names[p], ks))
        elif kind == "cardinal":
            goals.append("or(%s, [%s])" % (names[p], ks))
        else:
            goals.append("%s(%s, [%s])" % (kind, names[p], ks))
        if kind in ("opt", "or", "cardinal"):
            optional.extend(kids)
    text = lambda gs: "[[%s],\n [],\n [%s]].\n" % (", ".join(names), ",\n  ".join(gs))
    cross = 0
    tries = 0
    while cross < n // 8 and tries < 200 and len(optional) > 2:
        tries += 1
        a, b = rnd.sample(optional, 2)
        if parent.get(a) == parent.get(b):
            continue
        goal = "%s(%s, %s)" % (rnd.choice(["require", "mutex"]), names[a], names[b])
        model = check_outputs.Model(check_outputs.read_term(text(goals + [goal])))
        if model.solve({}) is not None:
            goals.append(goal)
            cross += 1
    return text(goals)


if __name__ == "__main__":
    sys.stdout.write(generate(int(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else 1))
