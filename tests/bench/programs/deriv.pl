% Symbolic differentiation of four expressions.
d(U+V, X, DU+DV) :- !, d(U, X, DU), d(V, X, DV).
d(U-V, X, DU-DV) :- !, d(U, X, DU), d(V, X, DV).
d(U*V, X, DU*V+U*DV) :- !, d(U, X, DU), d(V, X, DV).
d(U/V, X, (DU*V-U*DV)/(^(V, 2))) :- !, d(U, X, DU), d(V, X, DV).
d(^(U, N), X, DU*N*(^(U, N1))) :- !, integer(N), N1 is N - 1, d(U, X, DU).
d(-U, X, -DU) :- !, d(U, X, DU).
d(exp(U), X, exp(U)*DU) :- !, d(U, X, DU).
d(log(U), X, DU/U) :- !, d(U, X, DU).
d(X, X, 1) :- !.
d(_, _, 0).
ops8 :- d((x+1)*((^(x, 2)+2)*(^(x, 3)+3)), x, _).
divide10 :- d(((((((((x/x)/x)/x)/x)/x)/x)/x)/x)/x, x, _).
log10 :- d(log(log(log(log(log(log(log(log(log(log(x)))))))))), x, _).
times10 :- d(((((((((x*x)*x)*x)*x)*x)*x)*x)*x)*x, x, _).
bench :- ops8, divide10, log10, times10.
inferences(0).
