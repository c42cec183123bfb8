/* Calls the engine keeps only in memory: the database could not take them and
 * neither could its pending file (a full disk). The console polls their number
 * and warns the operator, in the status bar and before the program ends, since
 * ending it then loses those calls. Plain functions, no window. */
#ifndef CONSOLE_UNSAVEDCALLS_H
#define CONSOLE_UNSAVEDCALLS_H

#include <QString>

/* The engine's count now (quenta_getUnsavedCalls): for the one-second timer. */
unsigned UnsavedCalls();

/* The status bar's note: "有 2 个通话未能存盘，退出将丢失"; empty for none. */
QString UnsavedCallsText(unsigned calls);

/* The warning of the quit confirmation, which says what quitting now loses;
 * empty for none. */
QString QuitLosesCallsText(unsigned calls);

#endif
