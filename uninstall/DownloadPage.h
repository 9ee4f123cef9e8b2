#pragma once
#include <windows.h>

// Opens the vendor's download page in the browser of the person at the desktop, and logs which
// way it went. This process runs elevated, as whoever typed an administrator's password: a browser
// it started would run with those rights, and anything opened from it too. So an elevated process
// asks the desktop's own shell, which runs as the person at the desktop, to open the page, and opens
// none when there is no such shell. A process that is not elevated opens the page itself. The
// calling thread is initialised for COM, apartment-threaded, for the while.
void OpenDownloadPage();

// Asks for the page on a thread of its own and returns at once: a desktop shell that hangs, or
// restarts, never holds up the removal.
void StartDownloadPage();
// At exit: waits for that thread for up to DOWNLOAD_PAGE_WAIT_MS, so that a quick removal does not
// cut a slow shell's answer short, and logs when the shell gave no answer in that time.
const DWORD DOWNLOAD_PAGE_WAIT_MS = 3000;
void WaitForDownloadPage();
