/* system_builtins.h: clock, calendar, program arguments, system
 * properties and exit built-ins (system_builtins.cpp).
 */
#ifndef VOSTREL_SYSTEM_BUILTINS_H
#define VOSTREL_SYSTEM_BUILTINS_H

struct worker;

int prolog_time(worker *w);
int prolog_datime6(worker *w);
int prolog_datime7(worker *w);
int prolog_mktime(worker *w);
int prolog_argv(worker *w);
int prolog_set_argv(worker *w);
int prolog_get_system_property(worker *w);
int prolog_get_system_properties(worker *w);
int prolog_set_system_property(worker *w);
int prolog_unix_exit(worker *w);

#endif
