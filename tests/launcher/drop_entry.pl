% Consulted into a runtime state before it is saved: the state then lacks
% the launcher's entry predicate prolog:main/0.
:- abolish(prolog:main/0, [force(true)]).
