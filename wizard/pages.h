// The operations behind the wizard's own pages that other code and the
// tests reach directly: the RTF display of the licence and information
// pages, and the maker's web-site addresses of the finish page.
#pragma once

#include <windows.h>

#include "setup/setup.h"

// Writes the resource's bytes into a new temporary file whose path goes to
// outPath (kPathBytes bytes). 0 when the resource is missing, the temporary
// folder or file name does not fit its buffer, or the file cannot be
// written; outPath is then empty and no file is left behind.
int ExtractResourceToTempFile(const char* type, const char* name, char* outPath);

// Fills a rich-edit control from a file in the given stream format.
int StreamRtfFile(HWND control, int format, const char* path);

// The whole RTF display: the localised resource into a temporary file,
// into the control, and the file deleted again.
void ShowRtfResource(HWND page, const char* baseName);

// The maker's web site in the user's language, as the description gives
// it; empty when the product has none.
Text WebsiteAddress();
// How the finish page opens the web site: ShellExecuteA until the
// program's start puts the desktop shell's way here (or a test a
// recorder).
typedef ShellOpenFunction WebsiteOpenFunction;
extern WebsiteOpenFunction OpenWebsite;
