/* Unattended runs, for tests and tools: the login is answered from the command
 * line, message boxes go to standard error as "caption: text", every other
 * dialog is cancelled; optionally a PNG of every window (and of the rate
 * import's preview) is saved after the login (a line with calls waiting is
 * checked out for the checkout's, with a receipt printed for the reprint's
 * preview, and then cancelled) and the program then ends. */
#ifndef CONSOLE_UNATTENDED_H
#define CONSOLE_UNATTENDED_H

#include <QString>

/* Installs the answers. A second login dialog (the first login failed) is
 * cancelled, which ends the program with status 0. With screenshotDir not
 * empty the windows are saved there as <object name>.png, waitSeconds after
 * the login. */
void RunUnattended(const QString &name, const QString &password, const QString &screenshotDir, double waitSeconds = 0);

#endif
