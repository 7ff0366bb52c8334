/* meta_decls.h: meta-predicate and block declarations on predicates, and
 * whether a goal may be called directly.
 *
 * A predicate's meta-argument mask (definition.metainfo, arity + 1 bytes)
 * and its block conditions (definition.blockinfo, newest first) are byte
 * strings of 1-based argument positions, ascending, ended by 0.  Both are
 * allocated here and freed by the predicate database (predicates.cpp) with
 * the sizes it uses: arity + 1 bytes for a mask, 8 + arity bytes for a
 * condition, both in misc. space.  Every change goes through update_exports,
 * so importers and the entry kind (BLOCKPOINT) follow.
 *
 * Callers: the loader and module system of the runtime library (through
 * the built-ins), the emulator's meta-calls and $fast_goal (fast_callable).
 * Engine thread only.
 */
#ifndef VOSTREL_META_DECLS_H
#define VOSTREL_META_DECLS_H

struct worker;
struct definition;

/* True when every position of mask a occurs in mask b. */
int block_subsumes(const unsigned char *a, const unsigned char *b);

/* True when a call of def may go straight to its code: defined, not :/2,
   without a meta-argument mask, and no goal_expansion/5 of its module can
   apply to it. */
int fast_callable(const definition *def);

int prolog_meta_predicate(worker *w);   /* $meta_predicate/1 */
int prolog_meta_declaration(worker *w); /* $meta_declaration/3 */
int prolog_block(worker *w);            /* $block/1 */
int prolog_block_declaration(worker *w); /* $block_declaration/3 */
int prolog_fast_goal(worker *w);        /* $fast_goal/2 */

#endif
