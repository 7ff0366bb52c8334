% Consulted into a runtime state before it is saved: the state then lacks
% the launcher's entry predicate prolog:main/0 (abolish/2 protects
% module prolog, so the native step is called directly).
:- prolog:'$abolish'(main, prolog).
