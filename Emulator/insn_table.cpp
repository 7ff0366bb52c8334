/* insn_table.cpp: the instruction tables expanded from insns.def,
 * insn_formats.def and entry_kinds.def, and the instruction length rule
 * that every code walker uses. */
#include "insn_table.h"

const char *const insnname[INSN_COUNT + 1] = {
#define INSN(n, name, fmt, cls) #name,
#include "insns.def"
#undef INSN
    nullptr};

const int insn_fmt[INSN_COUNT + 1] = {
#define INSN(n, name, fmt, cls) fmt,
#include "insns.def"
#undef INSN
    0};

const int insn_class[INSN_COUNT + 1] = {
#define INSN(n, name, fmt, cls) cls,
#include "insns.def"
#undef INSN
    0};

void *inst_tab[2 * INSN_COUNT + 1];
void *pred_tab[ENTRY_KIND_COUNT + 1];

const char *const pred_type_name[ENTRY_KIND_COUNT] = {
#define ENTRY_KIND(n, name) #name,
#include "entry_kinds.def"
#undef ENTRY_KIND
};

const char *const fmt_letters[FMT_COUNT] = {
#define FORMAT(n, name) #name + 4,
#include "insn_formats.def"
#undef FORMAT
};

int insn_by_name(const char *name)
{
  for (int i = 0; i < INSN_COUNT; i++)
    if (std::strcmp(insnname[i], name) == 0)
      return i;
  return -1;
}

namespace {
/* A Q form is NAMEQ immediately before its twin NAME. */
bool is_q_pair(int q, int plain)
{
  const std::size_t n = std::strlen(insnname[plain]);
  return std::strlen(insnname[q]) == n + 1 && insnname[q][n] == 'Q' &&
         std::strncmp(insnname[q], insnname[plain], n) == 0;
}
} // namespace

int insn_plain_of(int insn)
{
  return insn + 1 < INSN_COUNT && is_q_pair(insn, insn + 1) ? insn + 1 : -1;
}

int insn_q_of(int insn)
{
  return insn > 0 && is_q_pair(insn - 1, insn) ? insn - 1 : -1;
}

unsigned insn_length(const INSN *p)
{
  unsigned len = 1;
  for (const char *f = fmt_letters[insn_fmt[INSN_OF(*p)]]; *f != '\0'; f++)
    len += operand_halfwords(*f, p + len);
  return len;
}
