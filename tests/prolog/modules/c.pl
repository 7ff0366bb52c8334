% Module c for modules.pl: a leaf module; user never imports it.

:- module(c, [c_leaf/1]).

c_leaf(leaf1).
c_leaf(leaf2).

c_hidden(secret).

same(from_c).
