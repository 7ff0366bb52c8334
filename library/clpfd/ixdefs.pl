% The library's own constraints defined by indexicals (compiled by
% ixcompiler.pl while the application state is built).  Part of module
% clpfd; the arithmetic front end (arith.pl) posts them.  Each set-valued
% indexical here is the exact projection of its constraint onto its
% target, which lets its tells spare the constraint's other indexicals.

% T =< U + C (C an integer): bounds.
't=<u+c'(T, U, C) +:
        T in inf..max(U) + C,
        U in min(T) - C..sup.

% T = U + C: the domains, holes included.
't=u+c'(T, U, C) +:
        T in dom(U) + C,
        U in dom(T) - C.

% T \= U + C: once one side is fixed, its partner loses one value.
't\\=u+c'(T, U, C) +:
        T in \{U + C},
        U in \{T - C}.

% |X| = Y: the domains.
'|x|=y'(X, Y) +:
        X in dom(Y) \/ (0 - dom(Y)),
        Y in (dom(X) \/ (0 - dom(X))) /\ (0..sup).
