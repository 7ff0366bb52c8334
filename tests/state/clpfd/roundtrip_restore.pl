% Restores the finite-domain round-trip program's state; its goal prints
% the answers.
main :- restore('roundtrip.sav').
