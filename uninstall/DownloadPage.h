#pragma once

// Opens the vendor's download page in the browser of the person at the desktop, and logs which
// way it went. This process runs elevated, as whoever typed an administrator's password: a browser
// it started would run with those rights, and anything opened from it too. So an elevated process
// asks the desktop's own shell, which runs as the person at the desktop, to open the page, and opens
// none when there is no such shell. A process that is not elevated opens the page itself.
void OpenDownloadPage();
