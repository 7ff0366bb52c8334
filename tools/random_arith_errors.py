#!/usr/bin/env python3
"""Writes tests/prolog/random_arith_errors.pl: clauses whose bodies are
random arithmetic goals (is/2 and the six comparisons) over every kind of
operand: small, 32-bit and big integers, floats at the ends of the double
range, atoms, unbound variables, lists, strings and compound terms, with
targets of is/2 that are variables, numbers or terms that can never match.
Each body is a clause of its own, so its goals are compiled in line;
some run through call/1 and some on operands bound only at run time, so
that the inline sequences, their escape to the evaluator and the
evaluator itself all meet them.

The generator knows which operands are not evaluable, so each test states
what may happen (checked by fuzz/2 in the file):
  - may(Succeeds, Errors): the body may fail or raise an arithmetic error
    (evaluation, zero divisor, integer-only or float-only operand,
    representation); it may succeed only when Succeeds is yes, and every
    other error must be one of Errors, the errors of its ill-typed operands
    (instantiation_error, type_error(evaluable, Name/Arity), the domain
    error of inf and nan).  A body with an ill-typed operand never
    succeeds.
  - holds or fails: a comparison of integers with floats whose truth is
    computed here exactly (Python compares int with float exactly).
Every error must be error(Formal, context(_, _)).  Deterministic: the seed
is fixed.

    tools/random_arith_errors.py > tests/prolog/random_arith_errors.pl
    tools/random_arith_errors.py --seed 7 --count 5000 > /tmp/many.pl
"""
import argparse
import random

SEED = 20261214
COUNT = 400

INTS = [0, 1, -1, 2, 7, -7, 255, 2**28 - 1, 2**28, -2**28 - 1, 2**31 - 1, 2**31, -2**31,
        -2**31 - 1, 2**32, 2**53, 2**53 + 1, 10**20, -10**30, 2**1023, 2**1024, -2**1024,
        2**1100]
FLOATS = [0.0, -0.0, 0.5, 1.5, -2.5, 3.14, 1.0e-300, 1.5e30, 9007199254740992.0, 1.0e308,
          1.7976931348623157e308, -1.7976931348623157e308]
SHIFTS = [0, 1, 3, 31, 32, 100, -2]

INST = "instantiation_error"
# Ill-typed operands: text and the error it gives.
BAD = [
    ("a", "type_error(evaluable, a/0)"),
    ("foo", "type_error(evaluable, foo/0)"),
    ("pi", "type_error(evaluable, pi/0)"),
    ("[]", "type_error(evaluable, []/0)"),
    ('""', "type_error(evaluable, []/0)"),
    ("inf", "domain_error(expression, inf)"),
    ("nan", "domain_error(expression, nan)"),
    ("_", INST),
    ("f(a)", "type_error(evaluable, f/1)"),
    ("foo(1, 2)", "type_error(evaluable, foo/2)"),
    ("g(_)", "type_error(evaluable, g/1)"),
    ("sin(1, 2)", "type_error(evaluable, sin/2)"),
    ("type_error(a, b)", "type_error(evaluable, type_error/2)"),
    ("[1, 2]", "type_error(evaluable, '.'/2)"),
    ('"ab"', "type_error(evaluable, '.'/2)"),
    ("[a|b]", "type_error(evaluable, '.'/2)"),
]

UNARY = ["-", "+", "abs", "sign", "float", "integer", "truncate", "round", "floor",
         "ceiling", "msb", "\\", "sqrt", "sin", "exp", "log", "atan",
         "float_integer_part", "float_fractional_part"]
INFIX = ["+", "-", "*", "/", "//", "mod", "rem", "**", "/\\", "\\/", "<<", ">>"]
BINARY = ["min", "max", "gcd", "atan2", "log", "exp", "\\"]
COMPARE = ["=:=", "=\\=", "<", ">", "=<", ">="]


def fmt_float(x):
    text = repr(x)
    if "e" in text:
        mantissa, exponent = text.split("e")
        if "." not in mantissa:
            mantissa += ".0"
        text = f"{mantissa}e{exponent}"
    return f"({text})" if x < 0 or text.startswith("-") else text


def fmt_int(v):
    return f"({v})" if v < 0 else str(v)


class Body:
    """The state of one body under construction: its variables and what
    each holds once the goals before it have run: None (unbound), NUM (a
    number, from is/2) or a pair (errors, is_number) for a term bound by =/2,
    errors being what evaluating it gives (empty for an evaluable term)."""

    NUM = (frozenset(), True)

    def __init__(self, rng):
        self.rng = rng
        self.vars = {}

    def fresh(self):
        name = f"V{len(self.vars)}"
        self.vars[name] = None
        return name

    def var_leaf(self, name):
        held = self.vars[name]
        if held is None:
            return name, {INST}, False
        return name, set(held[0]), held[1]

    def leaf(self):
        """An operand: text, its errors, whether it is a number."""
        rng = self.rng
        r = rng.random()
        if r < 0.25:
            return fmt_int(rng.choice(INTS)), set(), True
        if r < 0.4:
            return fmt_float(rng.choice(FLOATS)), set(), True
        if r < 0.5 and self.vars:
            return self.var_leaf(rng.choice(sorted(self.vars)))
        if r < 0.58:
            text, errs, _ = self.leaf()
            return f"[{text}]", errs, False
        if r < 0.62:
            return '"\u00e9"', set(), False
        text, err = rng.choice(BAD)
        return text, {err}, False

    def expr(self, depth):
        rng = self.rng
        if depth <= 0 or rng.random() < 0.3:
            return self.leaf()
        k = rng.random()
        if k < 0.3:
            op = rng.choice(UNARY)
            a, ea, _ = self.expr(depth - 1)
            return f"{op}({a})", ea, False
        a, ea, _ = self.expr(depth - 1)
        if k < 0.8:
            op = rng.choice(INFIX)
            if op in ("<<", ">>"):
                return f"({a} {op} {fmt_int(rng.choice(SHIFTS))})", ea, False
            b, eb, _ = self.expr(depth - 1)
            return f"({a} {op} {b})", ea | eb, False
        op = rng.choice(BINARY)
        b, eb, _ = self.expr(depth - 1)
        return f"{op}({a}, {b})", ea | eb, False

    def target(self):
        """The left side of is/2: text, whether it can match a number."""
        rng = self.rng
        r = rng.random()
        if r < 0.35:
            return self.fresh(), True
        if r < 0.45 and self.vars:
            name = rng.choice(sorted(self.vars))
            held = self.vars[name]
            return name, held is None or held[1]
        if r < 0.6:
            return (fmt_int(rng.choice(INTS)) if rng.random() < 0.6 else fmt_float(rng.choice(FLOATS))), True
        v = self.fresh()
        return rng.choice(["a", "[]", "f(a)", "[1]", '"ab"', f"{v}-1", f"f({v})"]), False

    def goal(self, depth):
        """One goal: text, its errors, whether it can succeed."""
        rng = self.rng
        r = rng.random()
        if r < 0.4:
            e, errs, _ = self.expr(depth)
            t, matchable = self.target()
            text = f"{t} is {e}"
            ok = matchable and not errs
            if t in self.vars and self.vars[t] is None:
                self.vars[t] = self.NUM
        elif r < 0.75:
            a, ea, _ = self.expr(depth)
            b, eb, _ = self.expr(depth)
            text = f"{a} {rng.choice(COMPARE)} {b}"
            errs, ok = ea | eb, not (ea | eb)
        elif r < 0.9:
            # An operand known only at run time: the evaluator's path.
            e, errs, number = self.expr(depth)
            v = self.fresh()
            self.vars[v] = (frozenset(errs), number)
            return f"{v} = ({e})", set(), True
        else:
            v = self.fresh() if not self.vars or rng.random() < 0.5 else rng.choice(sorted(self.vars))
            return f"nop({v})", set(), True
        if rng.random() < 0.2:
            text = f"call(({text}))"
        return text, errs, ok


def general_case(rng):
    body = Body(rng)
    goals, errors, can_succeed = [], set(), True
    for _ in range(rng.randint(1, 3)):
        text, errs, ok = body.goal(rng.randint(0, 3))
        goals.append(text)
        errors |= errs
        can_succeed = can_succeed and ok
    errs = ", ".join(sorted(errors))
    return ", ".join(goals), f"may({'yes' if can_succeed else 'no'}, [{errs}])"


def int_expr(rng, depth):
    """An integer expression of + - * and its exact value."""
    if depth <= 0 or rng.random() < 0.4:
        v = rng.choice(INTS)
        return fmt_int(v), v
    a, va = int_expr(rng, depth - 1)
    b, vb = int_expr(rng, depth - 1)
    op = rng.choice("+-*")
    return f"({a} {op} {b})", {"+": va + vb, "-": va - vb, "*": va * vb}[op]


def exact_case(rng):
    """An integer against a float, compared exactly."""
    a, va = int_expr(rng, rng.randint(0, 2))
    x = rng.choice(FLOATS)
    if rng.random() < 0.3:
        try:
            x = float(rng.choice(INTS)) if rng.random() < 0.5 else float(va)
        except OverflowError:
            pass
    op = rng.choice(COMPARE)
    holds = {"=:=": va == x, "=\\=": va != x, "<": va < x, ">": va > x,
             "=<": va <= x, ">=": va >= x}[op]
    left, right = a, fmt_float(x)
    if rng.random() < 0.5:
        flipped = {"<": ">", ">": "<", "=<": ">=", ">=": "=<"}.get(op, op)
        left, right, op = right, a, flipped
    goal = f"{left} {op} {right}"
    r = rng.random()
    if r < 0.3:
        goal = f"call(({goal}))"
    elif r < 0.5:
        goal = f"E = ({left}), E {op} {right}"
    return goal, "holds" if holds else "fails"


PRELUDE = r"""% Generated by tools/random_arith_errors.py: do not edit by hand.
% Random arithmetic bodies over every kind of operand; each must give an
% answer or an ISO error term, never a crash.  See the generator for what
% fuzz/2 checks.

nop(_).

fuzz(Goal, Expect) :-
        (   catch(Goal, Ball, true)
        ->  (   var(Ball) -> may_succeed(Expect)
            ;   allowed(Ball, Expect)
            )
        ;   may_fail(Expect)
        ).

may_succeed(holds).
may_succeed(may(yes, _)).

may_fail(fails).
may_fail(may(_, _)).

allowed(error(Formal, context(_, _)), may(_, Errors)) :-
        (   arith_error(Formal) -> true
        ;   one_of(Formal, Errors)
        ).

one_of(X, [Y|Ys]) :- ( X == Y -> true ; one_of(X, Ys) ).

arith_error(evaluation_error(E)) :- one_of(E, [float_overflow, undefined, float_not_a_number]).
arith_error(type_error(T, C)) :- one_of(T, [integer, float]), number(C).
arith_error(domain_error(D, C)) :- number(C),
        one_of(D, [=\=(0), >(0), between(-1.0, 1.0), abs_ge(1.0), ge(1.0), gt(0.0), ge(0.0)]).
arith_error(representation_error(R)) :- one_of(R, [max_integer, nan_or_inf_to_integer]).
"""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seed", type=int, default=SEED)
    ap.add_argument("--count", type=int, default=COUNT)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    print(PRELUDE)
    for k in range(args.count):
        goal, expect = exact_case(rng) if rng.random() < 0.2 else general_case(rng)
        print(f"body_{k} :- {goal}.")
        print(f"test(fuzz_{k}) :- fuzz(body_{k}, {expect}).")


main()
