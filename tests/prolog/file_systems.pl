% File systems: existence, properties, directory listings, renaming,
% deleting and creating, temporary files, absolute names, with the ISO
% errors; names with non-ASCII letters throughout.
%
% Every item works in a directory of its own run (fs_test_N, the first N
% free: the file may run twice at once in one build directory) and
% removes what it made.

:- use_module(library(file_systems)).
:- use_module('os_services/own_directory').
:- use_module(library(system)).

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

own_directory(Dir) :- own_directory('fs_test_', Dir).

in(Dir, Name, Path) :- atom_concat(Dir, '/', D1), atom_concat(D1, Name, Path).

write_file(Path, Text) :-
        open(Path, write, S, [encoding('UTF-8')]),
        write(S, Text),
        close(S).

write_term_file(Path, Term) :-
        open(Path, write, S, [encoding('UTF-8')]),
        writeq(S, Term), write(S, '.'), nl(S),
        close(S).

% Removes a directory and everything in it.
remove_tree(Dir) :-
        directory_files(Dir, Names),
        remove_entries(Names, Dir),
        delete_directory(Dir).

remove_entries([], _).
remove_entries([N|Ns], Dir) :-
        in(Dir, N, P),
        (   directory_exists(P) -> remove_tree(P) ; delete_file(P) ),
        remove_entries(Ns, Dir).

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

% Names of every kind of character the file system can hold.
name_text(plain, 'a.txt').
name_text(latin, 'caf\xe9\.txt').
name_text(others, '\x3b1\\x20ac\\x1f600\ x.txt').

test(existence) :-
        own_directory(D),
        in(D, 'f.txt', F),
        \+ file_exists(F),
        write_file(F, hello),
        file_exists(F), file_exists(F, read), file_exists(F, [read, write]), file_exists(F, exist),
        \+ file_exists(D), directory_exists(D), directory_exists(D, search),
        \+ directory_exists(F),
        remove_tree(D).

test(non_ascii_names) :-
        own_directory(D),
        forall(name_text(_, N), ( in(D, N, P), write_term_file(P, N) )),
        directory_files(D, Names),
        msort(['a.txt', 'caf\xe9\.txt', '\x3b1\\x20ac\\x1f600\ x.txt'], Names),
        forall(name_text(_, N), ( in(D, N, P), file_exists(P), file_property(P, size(S)), S > 0 )),
        in(D, '\x3b1\\x20ac\\x1f600\ x.txt', From),
        in(D, '\xfc\ber.txt', To),
        rename_file(From, To),
        \+ file_exists(From), file_exists(To),
        open(To, read, In, [encoding('UTF-8')]), read_term(In, T, []), close(In),
        T == '\x3b1\\x20ac\\x1f600\ x.txt',
        remove_tree(D).

test(properties) :-
        own_directory(D),
        in(D, 'p.txt', F),
        write_file(F, '12345'),
        file_property(F, type(regular)),
        file_property(F, size(5)),
        file_property(F, size, 5),
        file_property(D, type(directory)),
        file_property(F, readable(true)), file_property(F, writable(true)),
        file_property(F, modify_timestamp(M)),
        file_property(F, access_timestamp(A)),
        file_property(F, change_timestamp(C)),
        now(Now), abs(Now - M) < 3600, integer(A), integer(C),
        file_property(F, permissions(P)), P /\ 256 =:= 256,
        file_property(D, searchable(true)),
        file_property(F, owner_user_id(U)), integer(U),
        file_property(F, owner_user_name(UN)), atom(UN),
        findall(Name, file_property(F, Name, _), Names),
        length(Names, 14),
        remove_tree(D).

test(directory_listing) :-
        own_directory(D),
        directory_files(D, []),
        in(D, b, B), in(D, a, A), in(D, sub, Sub),
        write_file(B, x), write_file(A, y), make_directory(Sub),
        directory_files(D, L),
        L == [a, b, sub],
        remove_tree(D).

test(rename_and_delete) :-
        own_directory(D),
        in(D, old, Old), in(D, new, New), in(D, dir1, D1), in(D, dir2, D2),
        write_file(Old, x), write_file(New, y),
        rename_file(Old, New),
        \+ file_exists(Old), file_property(New, size(1)),
        make_directory(D1),
        rename_directory(D1, D2),
        directory_exists(D2), \+ directory_exists(D1),
        in(D2, f, F), write_file(F, z),
        error_of(delete_directory(D2), E1), E1 == permission_error(delete, directory, D2),
        delete_directory(D2, [if_nonempty(ignore)]), directory_exists(D2),
        delete_file(F), delete_directory(D2), \+ directory_exists(D2),
        delete_file(New), \+ file_exists(New),
        remove_tree(D).

% Temporary files: the temporary directory is a system property, and a
% file opened with if_exists(generate_unique_name) never replaces one
% that exists.
test(temporary_files) :-
        environ('VR_TEMP_DIR', T), directory_exists(T),
        own_directory(D),
        in(D, 'tmp.txt', Base),
        open(Base, write, S1, [if_exists(generate_unique_name)]),
        open(Base, write, S2, [if_exists(generate_unique_name)]),
        stream_property(S1, file_name(N1)), stream_property(S2, file_name(N2)),
        N1 \== N2, atom_concat(_, '.txt', N2),
        write(S1, one), close(S1), write(S2, two), close(S2),
        file_property(N1, size(3)), file_property(N2, size(3)),
        directory_files(D, L), length(L, 2),
        remove_tree(D).

test(absolute_file_name) :-
        absolute_file_name('x/../y', A),
        absolute_file_name(y, B),
        A == B,
        atom_concat('/', _, A),
        absolute_file_name([x, y], C), absolute_file_name('x/y', C).

% The errors, each naming the culprit as the caller wrote it (a path of
% the item's directory shown as path).
test(errors) :-
        own_directory(D),
        in(D, missing, M), in(D, file, Fi), write_file(Fi, x),
        findall(F,
                ( member_(G, [file_exists(_), file_exists(1), file_exists(Fi, fly),
                              file_property(M, size(_)), file_property(Fi, colour(_)),
                              delete_file(M), delete_file(D), delete_directory(M),
                              rename_file(M, Fi), make_directory(D), directory_files(M, _),
                              directory_files(Fi, _), delete_directory(D, [if_nonempty(x)])]),
                  error_of(G, F0),
                  (   F0 = existence_error(K, C), ( C == M ; C == D ; C == Fi ) ->
                      F = existence_error(K, path)
                  ;   F0 = permission_error(Ac, K, C), ( C == D ; C == Fi ) ->
                      F = permission_error(Ac, K, path)
                  ;   F = F0
                  ) ),
                Fs),
        remove_tree(D),
        Fs = [instantiation_error, type_error(atom, 1), domain_error(access_mode, fly),
              existence_error(file, path), domain_error(file_property, colour(_)),
              existence_error(file, path), existence_error(file, path),
              existence_error(directory, path), existence_error(file, path),
              permission_error(create, directory, path), existence_error(directory, path),
              existence_error(directory, path),
              domain_error(delete_directory_option, if_nonempty(x))].

% The natives' result codes, where the library never shows them.
test(native_codes) :-
        own_directory(D), in(D, f, F), write_file(F, x), in(D, e, E), make_directory(E),
        in(D, missing, M),
        prolog:'$file_property'(F, 0x11, _, R1),
        prolog:'$file_property'(E, 0x102, _, R2),
        prolog:'$file_property'(F, 0, _, R3),
        prolog:'$file_property'(F, 0x3, _, R4),
        prolog:'$list_directory'(E, 0, L, R5),
        prolog:'$delete_file'(M, 2, R6),
        prolog:'$delete_file'(M, 0, R7),
        prolog:'$test_file_access'(M, 0, R8, C8),
        prolog:'$rename_file'(F, 1, 0, R9),
        prolog:'$create_directory'(E, -1, R10),
        remove_tree(D),
        [R1, R2, R3, R4, L, R5, R6, R7, R8, C8, R9, R10] ==
            [-10504, -10503, -10004, -10004, [], 0, 1, -10501, -10501, -2, -10004, -10004].
