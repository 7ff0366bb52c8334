/* arith.h: the nonlinear arithmetic constraints X*Y = Z, X*X = Y, X//Y = Z
 * (truncating), X mod Y = Z (sign of Y) and X rem Y = Z (sign of X), and
 * the record and helpers they share.
 *
 * Each is a global constraint (globals.h) posted by clpfd/nonlinear.pl.
 * State terms: product(X, XA, Y, YA, Z, ZA, Handle, Stamp),
 * square(X, XA, Y, YA, Handle, Stamp), divmod(X-XA, Y-YA, Z-ZA, Handle,
 * Stamp); the state is never changed.  An instance's data block
 * (arith_data) is allocated at its first run and holds two global
 * references per variable (attribute, then variable) and the variables'
 * caches, refilled from the references at every run.  Every run is one
 * pass that keeps the bounds consistent with the relation; the propagation
 * loop runs it again when a bound moves.  A bound that cannot be
 * represented (it left the small-integer range) is an overflow: the run
 * fails with the state's fd_overflow set, and the overflow mode decides
 * between failure and an error.
 *
 * Callers: the propagation loop through clpfd::pred_table, and the
 * foreign predicates $fd_product/3, $fd_square/3, $fd_quotient/3,
 * $fd_modulo/3 and $fd_remainder/3.
 */
#ifndef TRELIX_CLPFD_ARITH_H
#define TRELIX_CLPFD_ARITH_H

#include <cstdint>

#include "dvar.h"
#include "fd_state.h"

/* Its first two words are those of every data block (daemon_frame in
   globals.h): constraints of this family that attach daemons (eq_iff,
   reif.h) set daemon; the others leave it null. */
struct arith_data {
  void (*destructor)(void *block); /* always arith_destructor */
  void (*daemon)(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global);
  VREnv *vrenv;
  VR_globref refbase;
  Dvar dvar; /* the caches, after the header */
  int nrefs;
};

void arith_destructor(void *block);

/* Restricts the divisor (the second variable) away from 0 after filling
   the three caches; false when that empties it. */
bool plan_divmodrem(VREnv *env, arith_data *pdata, worker *w);

/* ---- Shared by the propagators ---- */

/* Integers with the two infinities: values of bounds and of the
   quantities derived from them.  Anything at or beyond ±ARITH_INFINITY is
   infinite; finite results of the helpers below stay below it, so
   products of two finite values never overflow 64 bits. */
using ext = std::int64_t;
constexpr ext ARITH_INFINITY = ext(1) << 31;
ext arith_ext(TAGGED bound);
/* The bound word of a value: beyond the small-integer range it saturates
   to inf or sup. */
TAGGED arith_bound(ext v);
/* Magnitudes (non-negative, ARITH_INFINITY for infinite). */
ext mag_mul(ext a, ext b);
ext mag_add(ext a, ext b);
/* floor(a / b), b >= 1; an infinite b gives 0 for a finite a. */
ext mag_div(ext a, ext b);

/* The part of a variable's bounds on one side of 0, as magnitudes:
   present when the bounds reach that side. */
struct arith_side {
  bool has;
  ext mn, mx;
};
arith_side arith_positive(Dvar dv);
arith_side arith_negative(Dvar dv);
bool arith_has_zero(Dvar dv);

/* A union of at most sixteen intervals of values (lo > hi: empty). */
struct arith_pieces {
  ext lo[16], hi[16];
  int n = 0;
  void add(ext l, ext h)
  {
    lo[n] = l;
    hi[n] = h;
    n++;
  }
  /* The magnitudes l..h on the side of 0 given by sign (1 or -1). */
  void add_signed(int sign, ext l, ext h)
  {
    if (sign > 0)
      add(l, h);
    else
      add(-h, -l);
  }
};
/* Restricts dv to the union: its hull, then the gaps between the pieces.
   -1 when that empties dv (with fd_overflow set when the bound tried was
   a saturated one), else the or of the results. */
int arith_restrict(VREnv *env, worker *w, Dvar dv, arith_pieces &p);
/* dvar_fix_interval_t with the overflow test: a lower bound sup or an
   upper bound inf sets fd_overflow and gives -1. */
int arith_fix(VREnv *env, Dvar dv, TAGGED lo, TAGGED hi);

/* Where a state term keeps its variables: flat states hold Var, Attr at
   positions var_pos[i] and var_pos[i] + 1, the others a pair Var-Attr at
   var_pos[i]; extra_pos, when not 0, the position of a constant term kept
   in one more reference, after the variables' (in_set_iff's set). */
struct arith_shape {
  int nvars;
  bool flat;
  int var_pos[3];
  int extra_pos;
};

/* The frame of a run (see arith.cpp); made: this run made the block. */
struct arith_run {
  worker *w;
  arith_data *d;
  bool made;
};
/* Starts a run on the state in register 0: makes the block at the first
   run (the references read from the state as shape says), fills the
   caches. */
arith_run arith_begin(VREnv *env, VR_term_ref new_state, const arith_shape &shape);
/* Ends a run with code (1 entailed, 0 not yet, -1 failed): writes back the
   changed caches, releases the block at entailment. */
void arith_end(VREnv *env, arith_run &r, int nvars, int code, VR_term_ref actions);

void prolog_fd_product_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);
void prolog_fd_square_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);
void prolog_fd_quotient_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);
void prolog_fd_modulo_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);
void prolog_fd_remainder_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);

#endif
