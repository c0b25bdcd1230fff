#pragma once

// Keeps every file dialog of the program to choosing a name. Qt's and the desktop's file
// dialogs can also rename, delete and make folders; with those a locked user could rename a
// saved page into a favorite, or another folder into the favorites folder, past every check
// on what the program itself writes. That holds for the dialogs the program opens and for
// those Qt and the engine open for it (the print dialog's file button, a page's upload field).
namespace FileDialogGuard {

// Idempotent; needs the application object.
void Install();

} // namespace FileDialogGuard
