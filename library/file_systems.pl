% File systems: existence and properties of files and directories,
% directory listing, creating, renaming and deleting.  Names are atoms
% taken relative to the current directory (as open/3 takes them); any
% text the file system can hold, non-ASCII letters included.
%
% Errors are ISO error terms naming the caller's goal and argument:
% existence_error(file, F) or existence_error(directory, D) for a missing
% one, permission_error(Action, file, F) / (Action, directory, D) when
% the system refuses, system_error(Name) for other failures of the
% operating system (Name the I/O library's name of the failure).
%
% Over the natives $test_file_access/4, $file_property/4, $rename_file/4,
% $delete_file/3, $list_directory/4 and $create_directory/3 of module
% prolog, which return the I/O library's result code instead of raising.

:- module(file_systems, [file_exists/1, file_exists/2, directory_exists/1, directory_exists/2,
                         file_property/2, file_property/3, directory_files/2,
                         make_directory/1, delete_file/1, delete_directory/1,
                         delete_directory/2, rename_file/2, rename_directory/2]).

% Access modes of $test_file_access/4.
access_bits(read, 0x4).
access_bits(write, 0x2).
access_bits(execute, 0x1).
access_bits(exist, 0).
access_bits(search, 0x10).

% file_exists(+File): File is a regular file.
% file_exists(+File, +Mode): ... which this process may use in Mode (read,
% write, execute, exist, or a list of them).
file_exists(File) :- file_exists(File, exist).

file_exists(File, Mode) :- exists(File, Mode, file_exists(File, Mode), 0x40).

% directory_exists(+Dir), directory_exists(+Dir, +Mode): the same for a
% directory (mode search for entering it).
directory_exists(Dir) :- directory_exists(Dir, exist).

directory_exists(Dir, Mode) :- exists(Dir, Mode, directory_exists(Dir, Mode), 0x20).

exists(Name, Mode, G, KindBits) :-
        path(Name, G, 1, Path),
        access_mode(Mode, G, 2, Bits),
        B is Bits \/ KindBits,
        prolog:'$test_file_access'(Path, B, 0, _).

access_mode(M, G, N, _) :- var(M), !, illarg(var, G, N).
access_mode([], _, _, 0) :- !.
access_mode([M|Ms], G, N, B) :- !,
        access_mode(M, G, N, B0),
        access_mode(Ms, G, N, B1),
        B is B0 \/ B1.
access_mode(M, _, _, B) :- atom(M), access_bits(M, B), !.
access_mode(M, G, N, _) :- illarg(domain(_, access_mode), G, N, M).

% file_property(+File, ?Property): a property of a file or directory:
% type(regular|directory), size(Bytes), modify_timestamp(T),
% change_timestamp(T), access_timestamp(T) (seconds since the epoch),
% readable(B), writable(B), executable(B), searchable(B) (B true or false,
% for this process), permissions(Bits) (read 4, write 2, execute or search
% 1, for owner, group and others: 8#755 say), owner_user_id(U),
% owner_user_name(N), owner_group_id(U), owner_group_name(N).
file_property(File, Property) :-
        G = file_property(File, Property),
        path(File, G, 1, Path),
        (   var(Property) -> true
        ;   property_spec(Property) -> true
        ;   illarg(domain(_, file_property), G, 2)
        ),
        file_type(Path, File, G, Type),
        file_properties(Path, File, Type, G, Ps),
        member_(Property, Ps).

% file_property(+File, ?Name, ?Value): Property is Name(Value).
file_property(File, Name, Value) :-
        (   atom(Name) -> P =.. [Name, Value] ; true ),
        file_property(File, P),
        P =.. [Name, Value].

property_spec(type(_)).
property_spec(size(_)).
property_spec(modify_timestamp(_)).
property_spec(change_timestamp(_)).
property_spec(access_timestamp(_)).
property_spec(readable(_)).
property_spec(writable(_)).
property_spec(executable(_)).
property_spec(searchable(_)).
property_spec(permissions(_)).
property_spec(owner_user_id(_)).
property_spec(owner_user_name(_)).
property_spec(owner_group_id(_)).
property_spec(owner_group_name(_)).

file_type(Path, File, G, Type) :-
        prolog:'$test_file_access'(Path, 0x20, C, _),
        (   C =:= 0 -> Type = directory
        ;   prolog:'$test_file_access'(Path, 0, C1, _),
            check(C1, G, 1, access, file, File),
            Type = regular
        ).

file_properties(Path, File, Type, G, [type(Type), size(Size), modify_timestamp(M),
                                change_timestamp(C), access_timestamp(A), readable(R),
                                writable(W), executable(X), searchable(S),
                                permissions(Perm), owner_user_id(U), owner_user_name(UN),
                                owner_group_id(Gid), owner_group_name(GN)]) :-
        stat(Path, File, 0x100, G, Size),
        stat(Path, File, 0x40, G, times(M, C, A)),
        stat(Path, File, 0x10, G, Access),
        flag_bit(Access, 1, R),
        flag_bit(Access, 2, W),
        flag_bit(Access, 4, X),
        flag_bit(Access, 8, S),
        stat(Path, File, 0x20, G, Bits),
        permission_bits(Bits, Perm),
        stat(Path, File, 0x200, G, U),
        (   prolog:'$file_property'(Path, 0x400, UN0, 0) -> UN = UN0 ; UN = '' ),
        stat(Path, File, 0x800, G, Gid),
        (   prolog:'$file_property'(Path, 0x1000, GN0, 0) -> GN = GN0 ; GN = '' ).

stat(Path, File, Mask, G, Value) :-
        prolog:'$file_property'(Path, Mask, Value, Code),
        check(Code, G, 1, access, file, File).

flag_bit(Bits, Bit, B) :- ( Bits /\ Bit =\= 0 -> B = true ; B = false ).

% The native's classes (4 bits each, 1 read, 2 write, 4 execute, 8 search,
% from bit 4 on) as the usual octal digits.
permission_bits(Bits, Perm) :-
        class_digit(Bits >> 4, O),
        class_digit(Bits >> 8, Gr),
        class_digit(Bits >> 12, Ot),
        Perm is O * 64 + Gr * 8 + Ot.

class_digit(Bits0, D) :-
        Bits is Bits0 /\ 15,
        D is (Bits /\ 1) * 4 + ((Bits >> 1) /\ 1) * 2 + (((Bits >> 2) \/ (Bits >> 3)) /\ 1).

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

% directory_files(+Dir, -Names): the names in Dir (not . and ..), sorted.
directory_files(Dir, Names) :-
        G = directory_files(Dir, Names),
        path(Dir, G, 1, Path),
        prolog:'$test_file_access'(Path, 0x20, C0, _),
        check(C0, G, 1, open, directory, Dir),
        prolog:'$list_directory'(Path, 0, Ns, Code),
        check(Code, G, 1, open, directory, Dir),
        msort(Ns, Sorted),
        Names = Sorted.

% make_directory(+Dir): a new, empty directory.
make_directory(Dir) :-
        G = make_directory(Dir),
        path(Dir, G, 1, Path),
        prolog:'$create_directory'(Path, 0, Code),
        check(Code, G, 1, create, directory, Dir).

% delete_file(+File): removes a file (not a directory).
delete_file(File) :-
        G = delete_file(File),
        path(File, G, 1, Path),
        prolog:'$delete_file'(Path, 0, Code),
        check(Code, G, 1, delete, file, File).

% delete_directory(+Dir), delete_directory(+Dir, +Options): removes an
% empty directory; option if_nonempty(error) (the default) or
% if_nonempty(ignore) (a directory that is not empty is left alone).
delete_directory(Dir) :- delete_directory(Dir, []).

delete_directory(Dir, Options) :-
        G = delete_directory(Dir, Options),
        path(Dir, G, 1, Path),
        must_be(Options, list, G, 2),
        delete_options(Options, G, error, IfNonEmpty),
        prolog:'$delete_file'(Path, 1, Code),
        (   IfNonEmpty == ignore, prolog:'$vrio_error_name'(Code, 'VRIO_E_DIR_NOT_EMPTY') -> true
        ;   check(Code, G, 1, delete, directory, Dir)
        ).

delete_options([], _, V, V).
delete_options([X|Xs], G, V0, V) :-
        (   var(X) -> illarg(var, G, 2)
        ;   X = if_nonempty(V1), atom(V1), (V1 == error ; V1 == ignore) ->
            delete_options(Xs, G, V1, V)
        ;   illarg(domain(_, delete_directory_option), G, 2, X), V = V0
        ).

% rename_file(+Old, +New), rename_directory(+Old, +New): New replaces
% any file of that name; both must be in the same file system.
rename_file(Old, New) :-
        rename(Old, New, rename_file(Old, New), file, 0x40).

rename_directory(Old, New) :-
        rename(Old, New, rename_directory(Old, New), directory, 0x20).

rename(Old, New, G, Kind, KindBits) :-
        path(Old, G, 1, From),
        path(New, G, 2, To),
        prolog:'$test_file_access'(From, KindBits, C0, _),
        check(C0, G, 1, rename, Kind, Old),
        prolog:'$rename_file'(From, To, 0, Code),
        check(Code, G, 2, rename, Kind, New).

% A name made absolute, as open/3 does it.
path(F, G, N, _) :- var(F), !, illarg(var, G, N).
path(F, G, N, Path) :-
        must_be(F, atom, G, N),
        prolog:'$absolute_path'(F, '', 0, Path0),
        (   Path0 == '' -> illarg(domain(_, file_name), G, N) ; Path = Path0 ).

% check(Code, Goal, ArgNo, Action, Kind, Culprit): a result code of the
% natives as an ISO error.
check(0, _, _, _, _, _) :- !.
check(Code, G, N, Action, Kind, Culprit) :-
        prolog:'$vrio_error_name'(Code, Name),
        code_error(Name, Action, Kind, Formal), !,
        illarg(Formal, G, N, Culprit).
check(Code, G, N, _, _, _) :-
        (   prolog:'$vrio_error_name'(Code, Name) -> true ; Name = Code ),
        illarg(system(Name), G, N).

code_error('VRIO_E_FILE_NOT_FOUND', _, Kind, existence(Kind, _)).
code_error('VRIO_E_FILE_ACCESS', Action, Kind, permission(Action, Kind, _)).
code_error('VRIO_E_PERMISSION_ERROR', Action, Kind, permission(Action, Kind, _)).
code_error('VRIO_E_FILE_EXISTS', Action, Kind, permission(Action, Kind, _)).
code_error('VRIO_E_DIR_NOT_EMPTY', Action, Kind, permission(Action, Kind, _)).
% A directory where a file is wanted is no such file, and the other way.
code_error('VRIO_E_FILE_IS_DIRECTORY', _, _, existence(file, _)).
code_error('VRIO_E_FILE_NOT_DIRECTORY', _, _, existence(directory, _)).
code_error('VRIO_E_INVALID_NAME', _, _, domain(_, file_name)).
