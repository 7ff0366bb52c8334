% A stand-in for maximum/2 of module clpfd until it lands: Max is known
% once every variable of the list is bound (the driver reads it only
% after the search).
% Callers: app/driver.pl.

maximum(Max, L) :- when(ground(L), standin_max(L, Max)).
standin_max([X|Xs], M) :- standin_max(Xs, X, M).
standin_max([], M, M).
standin_max([X|Xs], M0, M) :- M1 is max(X, M0), standin_max(Xs, M1, M).
