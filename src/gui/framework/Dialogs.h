#pragma once
// The few places where the program waits for the user: message boxes with a
// fixed text and an OK button, modal dialogs, and file choosers. Each goes
// through a small function that tests can intercept, so that no test ever
// hangs on a dialog.

#include <QString>
#include <functional>

class QDialog;
class QMessageBox;
class QWidget;

// A modal message box with the text and an OK button, titled with the
// application's name.
void GWMessageBox(const QString& text, QWidget* parent = nullptr);
// The same box; while it is up `*shown` points to it, so that news that
// belongs to it can change its text rather than stack a second box. It is
// null again once the box has closed, and all along when a hook or
// VGL_NO_MODAL answers for the box.
void GWMessageBox(const QString& text, QWidget* parent, QMessageBox** shown);
using MessageBoxHook = std::function<void(const QString& text)>;
void SetMessageBoxHook(MessageBoxHook hook);  // empty: show real boxes again

// Runs a dialog modally and returns its result (QDialog::Accepted or
// Rejected). A hook sees the dialog, already built and shown-to-be, and
// answers for the user: it may fill in fields, click buttons and return the
// result.
int GWExecDialog(QDialog& dialog);
using DialogHook = std::function<int(QDialog& dialog)>;
void SetDialogHook(DialogHook hook);
// Shows a window-modal dialog without waiting for it: `done` gets the result
// once the user has answered (never after `context` is gone). No event loop
// is nested, so one session's question holds up no other session. The hook
// and VGL_NO_MODAL answer as for GWExecDialog, before this returns.
void GWOpenDialog(QDialog& dialog, QObject* context, std::function<void(int result)> done);

// File choosers; an empty result means the user cancelled.
QString GWGetOpenFileName(QWidget* parent, const QString& caption, const QString& filter);
QString GWGetSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                          const QString& suggested);
using FileNameHook = std::function<QString(bool save, const QString& suggested)>;
void SetFileNameHook(FileNameHook hook);

// Shows Qt's wait cursor for the core's GWWaitCursor objects.
void InstallQtWaitCursor();
