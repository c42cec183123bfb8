/* The station's files are the shop's own: calls, bills, passwords, the log.
 * Everything the station creates in its working directory is readable by its
 * user alone (files 0600, folders 0700) whatever umask it was started with,
 * and files an earlier installation left readable by others are closed at the
 * start. A working directory that other users may enter is only reported (it
 * may be a home folder the owner shares on purpose); the report names it. */
#ifndef QUENTA_PRIVATE_FILES_H
#define QUENTA_PRIVATE_FILES_H

#define PRIVATE_FILE_MODE 0600
#define PRIVATE_DIR_MODE 0700

/* Sets the process's umask to 077 and takes group and other permissions off
 * the station's files and folders of the working directory (those of the
 * engine and of the console, and the files inside "backups" and
 * "receipts"). Logs each file it closed, and a line when the working
 * directory itself is open to others. 1 when the working directory is open
 * to others (group or other may read or enter it), 0 when it is not, -1 when
 * it cannot be examined. */
int station_files_private(void);

#endif
