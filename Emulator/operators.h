/* operators.h: the operator table that the term reader parses with and the
 * term writer prints with.
 *
 * One global table maps an atom to at most three definitions, one per
 * class (prefix, infix, postfix), each a priority 1..1200 and a type.  A
 * priority of 0 means "not an operator of that class"; op/3 with priority 0
 * removes a definition.  The table starts with the standard operators and
 * the system's declaration operators (init_operators).  Invariants kept by
 * every change: ',' is always the infix 1000 xfy operator; '|' is either
 * not an operator or an infix operator of priority 1001 or more; '[]' and
 * '{}' are never operators; no atom is both infix and postfix (the reader
 * could not tell them apart after a complete left operand).
 *
 * The table's atoms are kept alive through an atom-collection root marker.
 * Callers: the term reader, the canonical writer (term_text.cpp), the
 * op/3 and current_op/3 built-ins.  Engine thread only.
 */
#ifndef VOSTREL_OPERATORS_H
#define VOSTREL_OPERATORS_H

#include "termdefs.h"

struct worker;

enum op_type { OP_XFX = 0, OP_XFY, OP_YFX, OP_FY, OP_FX, OP_XF, OP_YF, OP_TYPES };
enum op_class { OP_PREFIX = 0, OP_INFIX = 1, OP_POSTFIX = 2 };

constexpr int OP_MAX_PRIORITY = 1200;

/* One definition: the operator's priority and the highest priority each
   argument may have (left is unused for prefix operators, right for
   postfix ones). */
struct op_def {
  int priority; /* 0: no definition */
  int type;     /* op_type */
  int left;
  int right;
};

/* Builds the table with the default operators (the atom table must exist)
   and installs its atom-collection root marker; calling it again restores
   the defaults.  deinit_operators empties the table and removes the
   marker. */
void init_operators(void);
void deinit_operators(void);

/* The definition of `name` in class `cls`; 1 and *def filled when there is
   one, else 0. */
int op_lookup(TAGGED name, op_class cls, op_def *def);
/* 1 when `name` has a definition of any class. */
int is_operator(TAGGED name);

/* The class of a type: prefix for fy/fx, infix for xfx/xfy/yfx, postfix
   for xf/yf. */
op_class op_type_class(int type);
/* The type named by an atom (xfx, ..., yf), or -1. */
int op_type_from_atom(TAGGED type_atom);
/* The atom naming a type. */
TAGGED op_type_atom(int type);

/* Error types that op/3 records (subtype * 256 + class, the subtype 0
   and the message naming the expected type or domain, as the stream layer
   does). */
constexpr int OP_ERR_INSTANTIATION = 0;  /* INSTANTIATION_ERROR */
constexpr int OP_ERR_TYPE_INTEGER = 1025; /* type error integer */
constexpr int OP_ERR_TYPE = 1;            /* type error, message "atom" or "list" */
constexpr int OP_ERR_DOMAIN = 2;          /* message "operator_priority" or "operator_specifier" */
constexpr int OP_ERR_PERMISSION = 6;      /* message "modify operator" or "create operator" */

/* op(Priority, Type, Names) on dereferenced or undereferenced terms, with
   the standard's checks: Names is an atom or a proper list of atoms, and
   either every name is changed or none is.  1 when done; 0 after recording
   the error with save_error, *argno then the argument (1..3) at fault. */
int vr_op(TAGGED priority, TAGGED type, TAGGED names, int *argno);

/* One definition, already validated in its parts; the same result as
   vr_op, without the argument number.  For start-up and the tests. */
int add_operator(int priority, int type, TAGGED name);

/* $op(Priority, Type, Names): op/3's native half; on an error it records
   it and raises it for op/3's argument. */
int prolog_op(worker *w);
/* $current_ops(List): List is unified with every definition as
   op(Priority, Type, Name), in no particular order; current_op/3 is
   member/2 over it. */
int prolog_current_ops(worker *w);

#endif
