#pragma once
// Which listed files are missing or differ, and getting a good copy of each into "incoming".

void VerifyInstalledFiles();
void DownloadPendingFiles();
