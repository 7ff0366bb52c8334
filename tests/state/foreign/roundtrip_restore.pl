% Restores the foreign-resource program's state in a fresh process; its
% goal prints the answers again (tests/state/foreign/roundtrip_save.pl).
main :- restore('roundtrip.sav').
