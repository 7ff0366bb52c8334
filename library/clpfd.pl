% The finite-domain solver: module clpfd.
%
% A domain variable is a variable with the solver's attribute (made and
% read by the native half, the foreign resource clpfd):
%     v(1, 0, DomMutable, ListsMutable)
% DomMutable holds dom(Set, Min, Max, Size), or another attribute of the
% same form when the variable was unified with another domain variable
% (the domain and the suspensions are then that attribute's); ListsMutable
% holds $fdlists(Count, Mask, DomL, MinL, MaxL, MinMaxL, ValL).  Sets are
% FD sets: ascending lists of disjoint, non-adjacent intervals [Min|Max],
% with inf and sup for open ends.
%
% The module's sources: clpfd/fdsets.pl (the set library), clpfd/lib.pl
% (domains, queries, argument checks and options), clpfd/ixq.pl (running
% propagation to its fixpoint and the unification of domain variables),
% clpfd/foreign.pl (the foreign predicates of the resource), clpfd/globals.pl
% (posting global constraints), clpfd/element.pl (element/3, minimum/2,
% maximum/2), clpfd/bool.pl (bool/4), clpfd/case.pl (case/3,4,
% table/2,3), clpfd/relation.pl (relation/3), clpfd/nonlinear.pl
% (posting of the nonlinear arithmetic constraints), clpfd/linear.pl
% (scalar_product/4,5, sum/3), clpfd/ac_linear.pl (ac_linear/3,6),
% clpfd/ixcompiler.pl (the compiler of constraints defined by indexicals,
% and their posting), clpfd/ixdefs.pl (the library's constraints defined
% by indexicals), clpfd/arith.pl (the arithmetic constraints #= ...
% #>=), clpfd/reif.pl (posting of the reified comparisons, oneof and
% abs), clpfd/reify.pl (the reification front end: #<=> ... #\).

:- module(clpfd, [
        domain/2, domain/3, (in)/2, (in_set)/2,
        fd_var/1, fd_min/2, fd_max/2, fd_size/2, fd_set/2, fd_dom/2, fd_degree/2,
        fd_statistics/0, fd_statistics/2,
        fd_global/3,
        range_to_fdset/2, fdset_to_range/2, fdset_to_list/2, list_to_fdset/2,
        empty_fdset/1, empty_interval/2, fdset_singleton/2, fdset_interval/3,
        fdset_parts/4, fdset_min/2, fdset_max/2, fdset_size/2, fdset_member/2,
        fdset_eq/2, fdset_subset/2, fdset_disjoint/2, fdset_intersect/2,
        fdset_union/2, fdset_union/3, fdset_intersection/2, fdset_intersection/3,
        fdset_subtract/3, fdset_complement/2, fdset_add_element/3, fdset_del_element/3,
        labeling/2, indomain/1,
        element/3, minimum/2, maximum/2,
        bool/4,
        case/3, case/4, table/2, table/3,
        relation/3,
        scalar_product/4, scalar_product/5, sum/3,
        ac_linear/3,
        (#=)/2, (#\=)/2, (#<)/2, (#=<)/2, (#>)/2, (#>=)/2,
        (#<=>)/2, (#=>)/2, (#<=)/2, (#\/)/2, (#\)/2, (#/\)/2, (#\)/1
   ]).

:- op(760, yfx, #<=>).
:- op(750, xfy, #=>).
:- op(750, yfx, #<=).
:- op(740, yfx, #\/).
:- op(730, yfx, #\).
:- op(720, yfx, #/\).
:- op(710, fy, #\).
:- op(700, xfx, [in, in_set]).
:- op(700, xfx, [#=, #\=, #<, #=<, #>, #>=]).
:- op(550, xfx, ..).

:- prolog:'$save_attribute_info'(clpfd).

:- include('clpfd/foreign').
:- include('clpfd/fdsets').
:- include('clpfd/lib').
:- include('clpfd/ixq').
:- include('clpfd/enum').
:- include('clpfd/globals').
:- include('clpfd/element').
:- include('clpfd/bool').
:- include('clpfd/case').
:- include('clpfd/relation').
:- include('clpfd/nonlinear').
:- include('clpfd/linear').
:- include('clpfd/ac_linear').
:- include('clpfd/ixcompiler').
:- include('clpfd/ixdefs').
:- include('clpfd/arith').
:- include('clpfd/reif').
:- include('clpfd/reify').
