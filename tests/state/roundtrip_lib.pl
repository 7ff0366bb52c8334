% A module of the round-trip program: exports, an import of its own, a
% multifile contribution to user and an attribute declaration.
:- module(roundtrip_lib, [double/2, nth_double/3, dom_put/2, dom_get/2]).
:- use_module(library(lists)).
:- use_module(library(atts)).
:- attribute dom/1.

:- multifile user:mf/1.
user:mf(from_lib).

double(X, Y) :- Y is 2 * X.
nth_double(N, L, Y) :- nth1(N, L, X), double(X, Y).

dom_put(V, D) :- put_atts(V, dom(D)).
dom_get(V, D) :- get_atts(V, dom(D)).

verify_attributes(_, _, []).
