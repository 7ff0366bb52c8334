#!/usr/bin/env python3
"""check_outputs.py: checks one run of trelix against its model, without
the generator or the solver.

    check_outputs.py MODEL TEST1 STDOUT [--runs K] [--expect-pairs N]

It reads the model term itself (a small reader of the terms models use),
gives every constraint of the vocabulary its meaning as a plain test on a
complete assignment, and finds valid configurations by a backtracking
search of its own.  It checks, for the last run appended to TEST1:
  - the run wrote 30 rows and an empty line, K runs in all;
  - rows 1..Max (Max, the printed number of configurations) are complete
    and each is a valid configuration (some values of the auxiliary
    features complete it);
  - every pair of values of two model variables that some valid
    configuration holds appears in one of rows 1..Max, and the printed
    number of valid pairs is the number of such pairs (and N when given).
Exit status 0 when all holds, 1 with the reasons otherwise.
"""
import re
import sys

ROWS = 30


# ---- A reader of model terms ----

class Var:
    def __init__(self, name):
        self.name = name

    def __repr__(self):
        return self.name


TOKEN = re.compile(r"""\s+|%[^\n]*|/\*.*?\*/|(?P<int>-?\d+)|(?P<var>[A-Z_][A-Za-z0-9_]*)
                       |(?P<atom>[a-z][A-Za-z0-9_]*|'[^']*')|(?P<sym>\.\.|[][(),|.])""", re.X | re.S)


def tokens(text):
    pos = 0
    out = []
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            raise ValueError("cannot read the model at: " + text[pos:pos + 30])
        pos = m.end()
        for kind in ("int", "var", "atom", "sym"):
            if m.group(kind) is not None:
                out.append((kind, m.group(kind)))
    return out


def read_term(text):
    toks = tokens(text)
    names = {}
    at = [0]

    def peek():
        return toks[at[0]] if at[0] < len(toks) else (None, None)

    def take(value=None):
        t = toks[at[0]]
        if value is not None and t[1] != value:
            raise ValueError("expected %s, found %s" % (value, t[1]))
        at[0] += 1
        return t

    def primary():
        kind, v = take()
        if kind == "int":
            return int(v)
        if kind == "var":
            if v == "_":
                return Var("_")
            return names.setdefault(v, Var(v))
        if v == "[":
            items = []
            if peek()[1] == "]":
                take("]")
                return items
            items.append(term())
            while peek()[1] == ",":
                take(",")
                items.append(term())
            take("]")
            return items
        if kind == "atom":
            name = v.strip("'")
            if peek()[1] == "(":
                take("(")
                args = [term()]
                while peek()[1] == ",":
                    take(",")
                    args.append(term())
                take(")")
                return (name, args)
            return name
        raise ValueError("unexpected " + v)

    def term():
        t = primary()
        if peek()[1] == "..":
            take("..")
            t = ("..", [t, primary()])
        return t

    t = term()
    take(".")
    return t


# ---- Meaning of the vocabulary on complete assignments ----

def present(v):
    return v >= 0


def holds(goal, val):
    name, args = goal if isinstance(goal, tuple) else (goal, [])

    def v(x):
        return x if isinstance(x, int) else val[x]

    if name == "domain" and len(args) == 3:
        return all(args[1] <= v(x) <= args[2] for x in args[0])
    if name == "in":
        lo, hi = args[1][1]
        return lo <= v(args[0]) <= hi
    if name in ("mand", "and"):
        p = present(v(args[0]))
        return all(present(v(c)) == p for c in args[1])
    if name == "opt":
        return present(v(args[0])) or not any(present(v(c)) for c in args[1])
    if name == "or":
        return present(v(args[0])) == any(present(v(c)) for c in args[1])
    if name == "xor":
        n = sum(present(v(c)) for c in args[1])
        return n == 1 if present(v(args[0])) else n == 0
    if name == "cardinal":
        lo, hi, p, cs = args
        n = sum(present(v(c)) for c in cs)
        return lo <= n <= hi if present(v(p)) else n == 0
    if name == "require" and len(args) == 2:
        return not present(v(args[0])) or present(v(args[1]))
    if name == "require":
        a, va, b, vb = args
        return v(a) != va or v(b) == vb
    if name == "mutex" and len(args) == 2:
        return not (present(v(args[0])) and present(v(args[1])))
    if name == "mutex":
        a, va, b, vb = args
        return not (v(a) == va and present(v(b))) and not (v(b) == vb and present(v(a)))
    if name == "mutex2":
        a, va, b, vb = args
        return not (v(a) == va and v(b) == vb)
    raise ValueError("the checker does not know the constraint %r" % (goal,))


def goal_vars(goal, out):
    if isinstance(goal, Var):
        out.append(goal)
    elif isinstance(goal, list):
        for g in goal:
            goal_vars(g, out)
    elif isinstance(goal, tuple):
        goal_vars(goal[1], out)
    return out


class Model:
    def __init__(self, term):
        self.vars, self.aux, self.goals = term
        self.all = list(self.vars) + [a for a in self.aux if a not in self.vars]
        for g in self.goals:
            for x in goal_vars(g, []):
                if x not in self.all:
                    self.all.append(x)
        self.dom = {x: None for x in self.all}
        for a in self.aux:
            self.dom[a] = (-1, 0)
        for g in self.goals:
            if isinstance(g, tuple) and g[0] == "domain" and len(g[1]) == 3:
                for x in g[1][0]:
                    self.narrow(x, g[1][1], g[1][2])
            if isinstance(g, tuple) and g[0] == "in":
                self.narrow(g[1][0], *g[1][1][1])
        # A goal is tested whenever one of its variables is set: it must
        # still have a completion of its own open variables.
        self.watch = {x: [] for x in self.all}
        for g in self.goals:
            if isinstance(g, tuple) and g[0] in ("domain", "in"):
                continue
            vs = list(dict.fromkeys(goal_vars(g, [])))
            for x in vs:
                self.watch[x].append((g, vs))

    def narrow(self, x, lo, hi):
        old = self.dom[x] or (lo, hi)
        self.dom[x] = (max(old[0], lo), min(old[1], hi))

    def satisfiable(self, goal, vs, val):
        open_vars = [x for x in vs if x not in val]
        if len(open_vars) > 12:
            return True
        trial = dict(val)

        def go(k):
            if k == len(open_vars):
                return holds(goal, trial)
            x = open_vars[k]
            for value in range(self.dom[x][0], self.dom[x][1] + 1):
                trial[x] = value
                if go(k + 1):
                    return True
            return False

        return go(0)

    def solve(self, fixed):
        """A valid complete assignment extending fixed, or None."""
        val = {}
        for x, value in fixed.items():
            lo, hi = self.dom[x]
            if not lo <= value <= hi:
                return None
            val[x] = value
        for x in fixed:
            if not all(self.satisfiable(g, vs, val) for g, vs in self.watch[x]):
                return None
        todo = [x for x in self.all if x not in fixed]

        def go(i):
            if i == len(todo):
                return True
            x = todo[i]
            lo, hi = self.dom[x]
            for value in range(lo, hi + 1):
                val[x] = value
                if all(self.satisfiable(g, vs, val) for g, vs in self.watch[x]) and go(i + 1):
                    return True
            del val[x]
            return False

        return dict(val) if go(0) else None

    def valid_pairs(self):
        known = set()
        pairs = set()
        vs = self.vars
        for i in range(len(vs)):
            for j in range(i + 1, len(vs)):
                for a in range(self.dom[vs[i]][0], self.dom[vs[i]][1] + 1):
                    for b in range(self.dom[vs[j]][0], self.dom[vs[j]][1] + 1):
                        key = (i, a, j, b)
                        if key not in known:
                            w = self.solve({vs[i]: a, vs[j]: b})
                            if w is None:
                                continue
                            row = [w[x] for x in vs]
                            known.update(row_pairs(row))
                        pairs.add(key)
        return pairs


def row_pairs(row):
    return {(i, row[i], j, row[j]) for i in range(len(row)) for j in range(i + 1, len(row))}


# ---- The run's outputs ----

def main(argv):
    model_file, test1, stdout_file = argv[1:4]
    runs = 1
    expect_pairs = None
    rest = argv[4:]
    while rest:
        if rest[0] == "--runs":
            runs = int(rest[1])
        elif rest[0] == "--expect-pairs":
            expect_pairs = int(rest[1])
        rest = rest[2:]
    problems = []
    model = Model(read_term(open(model_file).read()))
    out = open(stdout_file).read()
    m_pairs = re.search(r"^(\d+) valid pairs has been generated$", out, re.M)
    m_max = re.search(r"^Number of configurations (\d+)$", out, re.M)
    if not m_pairs or not m_max:
        print("standard output lacks the pair count or the number of configurations:\n" + out)
        return 1
    np_, max_ = int(m_pairs.group(1)), int(m_max.group(1))

    lines = open(test1).read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if len(lines) != runs * (ROWS + 1):
        problems.append("test1 has %d lines, expected %d runs of %d rows and an empty line"
                        % (len(lines), runs, ROWS))
    for k in range(runs):
        if len(lines) >= (k + 1) * (ROWS + 1) and lines[(k + 1) * (ROWS + 1) - 1] != "":
            problems.append("run %d of test1 does not end with an empty line" % (k + 1))
    rows = lines[-(ROWS + 1):-1]
    n = len(model.vars)
    parsed = []
    for r, line in enumerate(rows, 1):
        if not line.endswith(","):
            problems.append("row %d does not end with a comma: %r" % (r, line))
        cells = line[:-1].split(",")
        if len(cells) != n:
            problems.append("row %d has %d cells, the model %d variables" % (r, len(cells), n))
            continue
        if r <= max_:
            try:
                values = [int(c) for c in cells]
            except ValueError:
                problems.append("row %d (a configuration) is not complete: %r" % (r, line))
                continue
            fixed = dict(zip(model.vars, values))
            if model.solve(fixed) is None:
                problems.append("row %d is not a valid configuration: %r" % (r, line))
            parsed.append(values)

    valid = model.valid_pairs()
    covered = set()
    for values in parsed:
        covered |= row_pairs(values)
    missing = sorted(valid - covered)
    if missing:
        problems.append("%d valid pairs are in no configuration, e.g. %s"
                        % (len(missing), ["V%d=%d,V%d=%d" % (i + 1, a, j + 1, b) for i, a, j, b in missing[:5]]))
    if np_ != len(valid):
        problems.append("printed %d valid pairs, the model has %d" % (np_, len(valid)))
    if expect_pairs is not None and np_ != expect_pairs:
        problems.append("printed %d valid pairs, expected %d" % (np_, expect_pairs))
    for p in problems:
        print(p)
    if not problems:
        print("checked: %d valid pairs covered by %d valid configurations" % (len(valid), max_))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
