#include "gui/framework/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>
#include <utility>

#include "core/base/WaitCursor.h"

namespace {

MessageBoxHook& TheMessageBoxHook() {
    static MessageBoxHook hook;
    return hook;
}

DialogHook& TheDialogHook() {
    static DialogHook hook;
    return hook;
}

FileNameHook& TheFileNameHook() {
    static FileNameHook hook;
    return hook;
}

// VGL_NO_MODAL=1 (unattended runs: tests, the offscreen demo): a message box
// prints its text to standard error and a dialog is cancelled, so that no
// process ever waits for a user who is not there.
bool NoModal() {
    return qEnvironmentVariableIntValue("VGL_NO_MODAL") != 0;
}

// A modal box must show the arrow even while a blocking operation has the
// wait cursor up.
class NormalCursor {
public:
    NormalCursor() : m_bOverridden(QApplication::overrideCursor() != nullptr) {
        if (m_bOverridden) QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~NormalCursor() {
        if (m_bOverridden) QApplication::restoreOverrideCursor();
    }
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;

private:
    bool m_bOverridden;
};

}  // namespace

void GWMessageBox(const QString& text, QWidget* parent) {
    GWMessageBox(text, parent, nullptr);
}

void GWMessageBox(const QString& text, QWidget* parent, QMessageBox** shown) {
    if (TheMessageBoxHook()) {
        MessageBoxHook hook = TheMessageBoxHook();
        hook(text);
        return;
    }
    if (NoModal()) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return;
    }
    NormalCursor arrow;
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    parent ? parent : QApplication::activeWindow());
    if (shown) *shown = &box;
    box.exec();
    if (shown) *shown = nullptr;
}

void SetMessageBoxHook(MessageBoxHook hook) {
    TheMessageBoxHook() = std::move(hook);
}

int GWExecDialog(QDialog& dialog) {
    if (TheDialogHook()) {
        DialogHook hook = TheDialogHook();
        return hook(dialog);
    }
    if (NoModal()) {
        std::fprintf(stderr, "%s: cancelled\n", dialog.windowTitle().toLocal8Bit().constData());
        return QDialog::Rejected;
    }
    NormalCursor arrow;
    return dialog.exec();
}

void SetDialogHook(DialogHook hook) {
    TheDialogHook() = std::move(hook);
}

void GWOpenDialog(QDialog& dialog, QObject* context, std::function<void(int result)> done) {
    if (TheDialogHook() || NoModal()) {
        done(GWExecDialog(dialog));
        return;
    }
    QObject::connect(&dialog, &QDialog::finished, context, std::move(done),
                     Qt::SingleShotConnection);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.open();
}

QString GWGetOpenFileName(QWidget* parent, const QString& caption, const QString& filter) {
    if (TheFileNameHook()) return TheFileNameHook()(false, QString());
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString GWGetSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                          const QString& suggested) {
    if (TheFileNameHook()) return TheFileNameHook()(true, suggested);
    return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
}

void SetFileNameHook(FileNameHook hook) {
    TheFileNameHook() = std::move(hook);
}

void InstallQtWaitCursor() {
    SetWaitCursorHandler([](bool waiting) {
        if (waiting) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    });
}
