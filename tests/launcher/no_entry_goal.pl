% An application without runtime_entry/1: main/0 reports the missing
% procedure and the exit status is 1.
unrelated.
