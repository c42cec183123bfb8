/* Unattended runs, for tests and tools: the login is answered from the command
 * line, message boxes go to standard error as "caption: text", every other
 * dialog is cancelled; optionally a PNG of every window (and of the rate
 * import's preview) is saved after the login and the program then ends. */
#ifndef CONSOLE_UNATTENDED_H
#define CONSOLE_UNATTENDED_H

#include <QString>

/* Installs the answers. A second login dialog (the first login failed) is
 * cancelled, which ends the program with status 0. With screenshotDir not
 * empty the windows are saved there as <object name>.png. */
void RunUnattended(const QString &name, const QString &password, const QString &screenshotDir);

#endif
